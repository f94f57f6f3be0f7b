#include "station/station_loads.h"

#include "load/load_texts.h"
#include "station/station_texts.h"

#include <QCoreApplication>
#include <QSignalBlocker>

namespace Kv402 {

// One port of the station: its tile, its session, and the answers to its session's questions,
// which nobody is asked: the station answered them when the choice was made.
struct StationLoads::Port final : public LoadPrompts
{
    Port(const PortAddress &portAddress, const QString &adapter)
        : address(portAddress)
        , tile(portAddress.name, adapter)
    {}

    void ask(LoadSession *asking, const LoadMessage &message) override
    {
        using Kind = LoadMessage::Kind;
        switch (message.kind) {
        case Kind::WrongChecksumQuestion:
            // Accepted once for all when the choice was made.
            asking->answer(MessageAnswer::Yes);
            return;
        case Kind::CableNotConnected:
            // CTS dropped between the wait and the run: no load; the port waits again.
            asking->answer(MessageAnswer::Cancel);
            return;
        case Kind::RepeatLoad:
            // The next terminal gets a session of its own.
            asking->answer(MessageAnswer::No);
            return;
        case Kind::DataFileUnusable:
        case Kind::NoDataToLoad:
        case Kind::NoPortSelected:
            refusal = message;
            break;
        case Kind::CheckCable:
        case Kind::WrongChecksum:
        case Kind::PortNotOpened:
        case Kind::PortOutOfOrder:
        case Kind::FlashWriteError:
        case Kind::LoadCompleted:
        case Kind::TerminalNotAnswering:
        case Kind::PortStoppedWorking:
            // The tile shows these from the link's events.
            break;
        }
        asking->answer(MessageAnswer::Ok);
    }
    void withdraw(LoadSession *) override {}

    const PortAddress address;
    TileModel tile;
    bool armed = false;
    std::unique_ptr<LoadSession> session;
    // What the session loads, as it was when the session started.
    StationChoice choice;
    // Between the session's runStarting and runFinished.
    bool inRun = false;
    // How the session's last run ended; nothing before its first.
    std::optional<LinkOutcome> lastOutcome;
    // The wait the session is in, or was started with.
    TerminalWait stage = TerminalWait::Present;
    // Start a session anew once this one has ended: the port was armed again (rearmed), or the
    // choice changed, while it was still running.
    bool restart = false;
    bool rearmed = false;
    TerminalWait restartWait = TerminalWait::Present;
    // Why the session sent nothing, as it told it.
    std::optional<LoadMessage> refusal;
    Notice notice = Notice::None;
    std::function<QString(Language)> noticeWords;
};

StationLoads::StationLoads(SerialPortFactory &ports,
                           LoadRecord record,
                           QString program,
                           LinkLimits limits,
                           QObject *parent)
    : QObject(parent)
    , m_ports(ports)
    , m_record(std::move(record))
    , m_program(std::move(program))
    , m_recordPusher(m_record.fileName(), m_program)
    , m_limits(limits)
{
    qRegisterMetaType<TerminalWait>();
}

StationLoads::~StationLoads()
{
    // Whoever listened may be going too: the loads are recorded, nobody is told.
    const QSignalBlocker blocker(this);
    m_closing = true;
    for (const std::unique_ptr<Port> &port : m_portList) {
        port->armed = false;
        port->restart = false;
        if (port->session)
            port->session->stop();
    }
    for (const std::unique_ptr<Port> &port : m_portList) {
        if (!port->session)
            continue;
        LoadSession *session = port->session.get();
        session->wait();
        // The session's last signals wait in the event queue: its stopped run is recorded from
        // them before the session goes.
        QCoreApplication::sendPostedEvents(session);
        port->session.reset();
    }
    m_retired.clear();
}

StationLoads::Port *StationLoads::find(const QString &port) const
{
    for (const std::unique_ptr<Port> &candidate : m_portList) {
        if (candidate->address.name == port)
            return candidate.get();
    }
    return nullptr;
}

bool StationLoads::setChoice(StationChoice choice)
{
    if (loading())
        return false;
    // Every load sends this reading, and the record names its file: both must be there.
    if (!choice.reading || !choice.reading->ok() || choice.reading->image.blockCount() < 1
        || choice.dataFile.isEmpty()) {
        return false;
    }
    m_choice = std::move(choice);
    // Waiting sessions hold the old reading: they end, and wait anew with the new one.
    for (const std::unique_ptr<Port> &port : m_portList) {
        if (port->session && port->armed) {
            port->restart = true;
            port->restartWait = port->stage;
            port->session->stop();
        }
    }
    return true;
}

void StationLoads::addPort(const PortAddress &port, const QString &adapter)
{
    if (find(port.name))
        return;
    m_portList.push_back(std::make_unique<Port>(port, adapter));
}

QList<PortAddress> StationLoads::ports() const
{
    QList<PortAddress> addresses;
    for (const std::unique_ptr<Port> &port : m_portList)
        addresses.append(port->address);
    return addresses;
}

const TileView &StationLoads::tile(const QString &port) const
{
    static const TileView none;
    const Port *found = find(port);
    return found ? found->tile.view() : none;
}

bool StationLoads::arm(const QString &port)
{
    Port *found = find(port);
    if (!found || !m_choice || m_closing)
        return false;
    if (found->armed)
        return true;
    found->armed = true;
    found->tile.armed();
    m_stopping = false;
    if (found->session) {
        // The session disarmed a moment ago has not ended yet: the next one follows it, however
        // that one ends.
        found->restart = true;
        found->rearmed = true;
        found->restartWait = TerminalWait::Present;
    } else {
        start(*found, TerminalWait::Present);
    }
    Q_EMIT tileChanged(port);
    return true;
}

void StationLoads::disarm(const QString &port)
{
    Port *found = find(port);
    if (!found)
        return;
    if (found->session)
        m_stopping = true;
    disarmPort(*found);
    if (found->session)
        found->session->stop();
    Q_EMIT tileChanged(port);
}

void StationLoads::disarmPort(Port &port)
{
    port.armed = false;
    port.restart = false;
    port.rearmed = false;
    port.tile.disarmed();
}

bool StationLoads::armed(const QString &port) const
{
    const Port *found = find(port);
    return found && found->armed;
}

void StationLoads::stopAll()
{
    m_stopping = true;
    for (const std::unique_ptr<Port> &port : m_portList) {
        if (!port->armed && !port->session)
            continue;
        disarmPort(*port);
        if (port->session)
            port->session->stop();
        Q_EMIT tileChanged(port->address.name);
    }
    endWhenAllFinished();
}

bool StationLoads::loading() const
{
    for (const std::unique_ptr<Port> &port : m_portList) {
        if (port->inRun)
            return true;
    }
    return false;
}

bool StationLoads::setUnitSerial(const QString &port, const QString &serial)
{
    Port *found = find(port);
    if (!found)
        return false;
    // A scanner types the number as a keyboard does, blanks and line end included.
    const QString unit = serial.trimmed();
    if (!unit.isEmpty()) {
        for (const std::unique_ptr<Port> &other : m_portList) {
            if (other.get() != found && other->tile.view().unitSerial == unit) {
                setNotice(*found,
                          Notice::Serial,
                          [unit, on = other->address.name](Language language) {
                              return StationTexts::SerialOnOtherPort.in(language).arg(unit, on);
                          });
                return false;
            }
        }
        if (m_loadedSerials.contains(unit)) {
            setNotice(*found, Notice::Serial, [unit](Language language) {
                return StationTexts::SerialAlreadyLoaded.in(language).arg(unit);
            });
            return false;
        }
    }
    found->tile.setUnitSerial(unit);
    if (found->notice == Notice::Serial)
        setNotice(*found, Notice::None, nullptr);
    Q_EMIT tileChanged(port);
    return true;
}

StationTotals StationLoads::totals() const
{
    return totals(QDateTime::currentDateTimeUtc());
}

StationTotals StationLoads::totals(const QDateTime &now) const
{
    StationTotals totals;
    totals.passed = m_passed;
    totals.failed = m_failed;
    totals.stopped = m_stopped;
    if (m_firstStarted.isValid()) {
        // At least a second: the first moments of a session divide by next to nothing.
        const qint64 msecs = std::max<qint64>(m_firstStarted.msecsTo(now), 1000);
        totals.terminalsPerHour = double(m_passed) * 3'600'000.0 / double(msecs);
    }
    return totals;
}

void StationLoads::setLanguage(Language language)
{
    m_language = language;
    for (const std::unique_ptr<Port> &port : m_portList) {
        if (port->noticeWords) {
            port->tile.setNotice(port->noticeWords(language));
            Q_EMIT tileChanged(port->address.name);
        }
    }
}

void StationLoads::setNotice(Port &port, Notice kind, std::function<QString(Language)> words)
{
    port.notice = kind;
    port.noticeWords = std::move(words);
    port.tile.setNotice(port.noticeWords ? port.noticeWords(m_language) : QString());
    Q_EMIT tileChanged(port.address.name);
}

void StationLoads::start(Port &port, TerminalWait wait)
{
    Q_ASSERT(m_choice && !port.session);
    port.choice = *m_choice;
    port.inRun = false;
    port.lastOutcome.reset();
    port.stage = wait;
    port.refusal.reset();

    LoadRequest request;
    request.dataFile = port.choice.dataFile;
    request.port = port.address;
    request.firstWait = wait;
    // Every load sends the bytes read and hashed when the choice was made.
    request.firstReading = port.choice.reading;
    request.releasedSha256 = port.choice.releasedSha256;
    port.session = std::make_unique<LoadSession>(request, m_ports, port, m_limits);
    LoadSession *session = port.session.get();
    Port *tile = &port;
    connect(session, &LoadSession::waiting, this, [this, tile](TerminalWait stage) {
        tile->stage = stage;
        tile->tile.waiting(stage);
        Q_EMIT tileChanged(tile->address.name);
    });
    connect(session, &LoadSession::runStarting, this, [this, tile] {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        tile->inRun = true;
        tile->tile.runStarting(now, tile->choice.reading->image.blockCount());
        if (!m_firstStarted.isValid())
            m_firstStarted = now;
        Q_EMIT tileChanged(tile->address.name);
    });
    connect(session, &LoadSession::linkEvent, this, [this, tile](const LinkEvent &event) {
        tile->tile.linkEvent(event, QDateTime::currentDateTimeUtc());
        Q_EMIT tileChanged(tile->address.name);
    });
    connect(session, &LoadSession::runFinished, this, [this, tile](const LoadRun &run) {
        runFinished(*tile, run);
    });
    connect(session, &LoadSession::finished, this, [this, tile](LoadOutcome outcome) {
        sessionFinished(*tile, outcome);
    });
    session->start();
}

void StationLoads::runFinished(Port &port, const LoadRun &run)
{
    port.inRun = false;
    port.lastOutcome = run.outcome;
    port.tile.runFinished(run);
    // CTS dropped before anything was sent: not a load, nothing to record.
    if (run.outcome == LinkOutcome::CableNotConnected) {
        Q_EMIT tileChanged(port.address.name);
        return;
    }

    LoadRecordEntry entry = recordEntry(run,
                                        port.choice.choice,
                                        port.address,
                                        m_ports.describe(port.address));
    entry.program = m_program;
    entry.unitSerial = port.tile.view().unitSerial;
    entry.bundle = port.choice.bundle;
    // A record that cannot be written never stops a load: the tile says so.
    if (QString why; !m_record.append(entry, &why)) {
        setNotice(port, Notice::Record, [file = m_record.fileName(), why](Language language) {
            return StationTexts::RecordNotWritten.in(language).arg(file, why);
        });
    }
    m_recordPusher.recordAppended();
    // The serial was this unit's: the next terminal needs its own.
    if (!entry.unitSerial.isEmpty()) {
        if (run.outcome == LinkOutcome::Completed)
            m_loadedSerials.insert(entry.unitSerial);
        port.tile.setUnitSerial({});
    }
    switch (run.outcome) {
    case LinkOutcome::Completed:
        ++m_passed;
        break;
    case LinkOutcome::Stopped:
        ++m_stopped;
        break;
    default:
        ++m_failed;
        break;
    }
    Q_EMIT tileChanged(port.address.name);
    Q_EMIT totalsChanged();
}

void StationLoads::sessionFinished(Port &port, LoadOutcome outcome)
{
    // The session is still emitting this signal: it goes once it has returned.
    m_retired.push_back(std::move(port.session));
    QMetaObject::invokeMethod(
        this, [this] { m_retired.clear(); }, Qt::QueuedConnection);
    port.inRun = false;

    if (outcome == LoadOutcome::Refused && port.refusal) {
        setNotice(port, Notice::Refusal, [message = *port.refusal](Language language) {
            return loadMessageText(message, language);
        });
    }
    port.tile.sessionFinished(outcome);

    if (port.armed && !m_closing) {
        const bool restart = port.restart && (port.rearmed || !port.lastOutcome);
        port.restart = false;
        port.rearmed = false;
        if (restart) {
            // Armed again, or nothing loaded before the choice changed: the wait starts anew.
            start(port, port.restartWait);
        } else {
            switch (port.lastOutcome.value_or(LinkOutcome::Stopped)) {
            case LinkOutcome::CableNotConnected:
                start(port, TerminalWait::Present);
                break;
            case LinkOutcome::Completed:
            case LinkOutcome::FlashWriteError:
            case LinkOutcome::TerminalNotAnswering:
            case LinkOutcome::PortFailure:
                // The result stays until this terminal goes; then the next one is loaded.
                start(port, TerminalWait::Next);
                break;
            case LinkOutcome::PortNotOpened:
            case LinkOutcome::PortError:
            case LinkOutcome::Stopped:
            case LinkOutcome::ImageNotSendable:
                // The port itself failed, or nothing was sent: it waits to be armed again.
                disarmPort(port);
                break;
            }
        }
    }
    Q_EMIT tileChanged(port.address.name);
    endWhenAllFinished();
}

void StationLoads::endWhenAllFinished()
{
    if (!m_stopping)
        return;
    for (const std::unique_ptr<Port> &port : m_portList) {
        if (port->session)
            return;
    }
    m_stopping = false;
    // Queued: a listener may delete the station, never from inside a session's signal.
    QMetaObject::invokeMethod(this, &StationLoads::allFinished, Qt::QueuedConnection);
}

} // namespace Kv402
