#include "load/load_session.h"
#include "ports/port_constants.h"

#include <QFileInfo>
#include <QThread>

#include <algorithm>

namespace Kv402 {

namespace {

// Only the first wrong checksums are told one by one; the question that follows gives the count
// and their lines.
constexpr qint64 ChecksumMessagesTold = qint64(ListedWrongChecksums);

// The events with which the link of a run ends; a flash write error's come after its first.
bool endsRun(LinkEvent::Kind kind)
{
    switch (kind) {
    case LinkEvent::Kind::CableNotConnected:
    case LinkEvent::Kind::PortFailure:
    case LinkEvent::Kind::FlashWriteError:
    case LinkEvent::Kind::AllBlocksDone:
    case LinkEvent::Kind::TerminalNotAnswering:
    case LinkEvent::Kind::Stopped:
    case LinkEvent::Kind::PortNotOpened:
    case LinkEvent::Kind::PortError:
        return true;
    default:
        return false;
    }
}

LoadMessage message(LoadMessage::Kind kind)
{
    LoadMessage m;
    m.kind = kind;
    return m;
}

LoadMessage question(LoadMessage::Kind kind, MessageButtons buttons, MessageAnswer defaultAnswer)
{
    LoadMessage m = message(kind);
    m.buttons = buttons;
    m.defaultAnswer = defaultAnswer;
    return m;
}

} // namespace

// The link's events, on the session's thread.
class LoadSession::Observer : public LinkObserver
{
public:
    explicit Observer(LoadSession *session)
        : m_session(session)
    {}
    void linkEvent(const LinkEvent &event) override { m_session->onLinkEvent(event); }

private:
    LoadSession *m_session;
};

LoadSession::LoadSession(LoadRequest request,
                         SerialPortFactory &ports,
                         LoadPrompts &prompts,
                         LinkLimits limits,
                         QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_ports(ports)
    , m_prompts(prompts)
    , m_limits(limits)
    , m_observer(std::make_unique<Observer>(this))
    , m_link(std::make_unique<TerminalLink>(m_ports, *m_observer, m_limits))
{
    qRegisterMetaType<LoadOutcome>();
    qRegisterMetaType<LinkEvent>();
    qRegisterMetaType<LoadRun>();
    qRegisterMetaType<TerminalWait>();
}

LoadSession::~LoadSession()
{
    if (!m_thread)
        return;
    stop();
    // The thread ends within a stop-check interval; wait() only reaps it once it has.
    m_thread->wait();
    delete m_thread;
}

void LoadSession::start()
{
    Q_ASSERT(!m_thread);
    // A QThread rather than a plain thread: the platform's serial port needs Qt's event
    // dispatcher in the thread that uses it.
    m_thread = QThread::create([this] { m_outcome = work(); });
    m_thread->setObjectName(QStringLiteral("load session"));
    connect(m_thread, &QThread::finished, this, [this] {
        // A message still open has nobody left to answer to.
        if (m_delivered) {
            m_delivered = false;
            m_prompts.withdraw(this);
        }
        Q_EMIT finished(m_stopRequested.load() ? LoadOutcome::Stopped : m_outcome);
    });
    m_thread->start();
}

void LoadSession::wait()
{
    if (m_thread)
        m_thread->wait();
}

void LoadSession::stop()
{
    m_stopRequested.store(true);
    m_link->requestStop();
    {
        const std::lock_guard lock(m_mutex);
        m_waiting = false;
    }
    m_answered.notify_all();
    if (m_delivered) {
        m_delivered = false;
        m_prompts.withdraw(this);
    }
}

void LoadSession::answer(MessageAnswer answer)
{
    if (!m_delivered)
        return;
    m_delivered = false;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_waiting)
            return;
        m_waiting = false;
        m_answer = answer;
    }
    m_answered.notify_all();
}

std::optional<MessageAnswer> LoadSession::ask(const LoadMessage &message)
{
    if (m_stopRequested.load())
        return std::nullopt;
    std::unique_lock lock(m_mutex);
    m_waiting = true;
    m_answer.reset();
    lock.unlock();
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            // Stopped meanwhile: nobody is to be asked any more.
            if (m_stopRequested.load())
                return;
            m_delivered = true;
            m_prompts.ask(this, message);
        },
        Qt::QueuedConnection);
    lock.lock();
    m_answered.wait(lock, [this] { return m_answer.has_value() || m_stopRequested.load(); });
    m_waiting = false;
    return m_answer;
}

LoadOutcome LoadSession::work()
{
    if (!ask(message(LoadMessage::Kind::CheckCable)))
        return LoadOutcome::Stopped;

    m_dataFile = QFileInfo(m_request.dataFile).absoluteFilePath();
    // A port that cannot be held open for the wait goes on to the run: its link tells why.
    if (m_request.firstWait != TerminalWait::None
        && waitForTerminal(m_request.firstWait) == TerminalWaitEnd::Stopped) {
        return LoadOutcome::Stopped;
    }
    for (bool again = true; again;) {
        again = false;
        const LoadOutcome outcome = oneRun(&again);
        if (m_stopRequested.load())
            return LoadOutcome::Stopped;
        if (!again)
            return outcome;
        if (m_request.waitForNextTerminal && outcome != LoadOutcome::CableCancelled
            && waitForTerminal(TerminalWait::Next) == TerminalWaitEnd::Stopped) {
            return LoadOutcome::Stopped;
        }
    }
    return LoadOutcome::Stopped;
}

LoadOutcome LoadSession::oneRun(bool *again)
{
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT runStarting(); }, Qt::QueuedConnection);

    // Read again on every run but a first that was handed its reading: the file may have been
    // corrected meanwhile.
    const bool given = m_firstRun && m_request.firstReading;
    m_firstRun = false;
    const DataFileReading &reading = given ? *m_request.firstReading
                                           : m_reading.emplace(readDataFile(m_request.dataFile,
                                                                       &m_stopRequested));
    if (reading.stopped)
        return LoadOutcome::Stopped;
    const bool released = m_request.releasedSha256.isEmpty() || !reading.ok()
                          || reading.sha256 == m_request.releasedSha256;
    if (!reading.ok() || !released) {
        LoadMessage unusable = message(LoadMessage::Kind::DataFileUnusable);
        unusable.file = m_dataFile;
        unusable.problem = released ? reading.problem : DataFileProblem::NotAsReleased;
        unusable.line = reading.failureLine;
        unusable.column = reading.failureColumn;
        unusable.reason = reading.fileError;
        tell(unusable);
        return LoadOutcome::Refused;
    }

    const qint64 wrong = reading.wrongChecksumCount;
    for (qint64 i = 0; i < std::min(wrong, ChecksumMessagesTold); ++i)
        tell(message(LoadMessage::Kind::WrongChecksum));
    // Known-corrupt data go into the terminal's flash only if the user says so.
    if (wrong > 0) {
        LoadMessage anyway = question(LoadMessage::Kind::WrongChecksumQuestion,
                                      MessageButtons::YesNo,
                                      MessageAnswer::No);
        anyway.count = wrong;
        anyway.lines = reading.wrongChecksumLines;
        if (ask(anyway) != MessageAnswer::Yes)
            return LoadOutcome::Refused;
    }
    if (reading.image.blockCount() < 1) {
        LoadMessage empty = message(LoadMessage::Kind::NoDataToLoad);
        empty.file = m_dataFile;
        tell(empty);
        return LoadOutcome::Refused;
    }
    // The run never goes to a port other than the one chosen.
    if (!m_request.port) {
        tell(message(LoadMessage::Kind::NoPortSelected));
        return LoadOutcome::Refused;
    }

    m_cableAnswer = MessageAnswer::Cancel;
    m_repeatAnswer = MessageAnswer::No;
    // N is known from the image, also for a run that never reaches the header.
    m_counters = {.blockCount = reading.image.blockCount()};
    m_linkEnded = {};
    LoadRun run;
    run.started = m_retriedSince.isValid() ? m_retriedSince : QDateTime::currentDateTime();
    run.dataFile = m_dataFile;
    run.sha256 = reading.sha256;
    m_retriedSince = {};
    const LinkOutcome outcome = m_link->run(reading.image, *m_request.port);
    run.ended = m_linkEnded.isValid() ? m_linkEnded : QDateTime::currentDateTime();
    run.outcome = outcome;
    run.counters = m_counters;
    // A missing cable that the user tries again is one load with the run that follows.
    const bool retried = outcome == LinkOutcome::CableNotConnected
                         && m_cableAnswer == MessageAnswer::Ok && !m_stopRequested.load();
    if (retried)
        m_retriedSince = run.started;
    if (outcome != LinkOutcome::ImageNotSendable && !retried) {
        QMetaObject::invokeMethod(
            this, [this, run] { Q_EMIT runFinished(run); }, Qt::QueuedConnection);
    }
    switch (outcome) {
    case LinkOutcome::CableNotConnected:
        // OK reads the file again and tries once more.
        *again = retried;
        return LoadOutcome::CableCancelled;
    case LinkOutcome::Completed:
    case LinkOutcome::FlashWriteError:
        *again = m_repeatAnswer == MessageAnswer::Yes;
        return LoadOutcome::Ended;
    case LinkOutcome::Stopped:
        return LoadOutcome::Stopped;
    case LinkOutcome::PortNotOpened:
        // Told by the link's event.
        return LoadOutcome::Ended;
    case LinkOutcome::ImageNotSendable: {
        LoadMessage unsendable = message(LoadMessage::Kind::NoDataToLoad);
        unsendable.file = m_dataFile;
        tell(unsendable);
        return LoadOutcome::Refused;
    }
    case LinkOutcome::PortFailure:
    case LinkOutcome::TerminalNotAnswering:
    case LinkOutcome::PortError:
        // Told while the link waited.
        return LoadOutcome::Ended;
    }
    return LoadOutcome::Ended;
}

void LoadSession::onLinkEvent(const LinkEvent &event)
{
    QMetaObject::invokeMethod(
        this, [this, event] { Q_EMIT linkEvent(event); }, Qt::QueuedConnection);

    // The run's end is when its link ended, not when the user has read the messages about it.
    if (!m_linkEnded.isValid() && endsRun(event.kind))
        m_linkEnded = QDateTime::currentDateTime();

    if (event.counters.blockCount > 0)
        m_counters = event.counters;
    switch (event.kind) {
    case LinkEvent::Kind::CableNotConnected:
        if (const auto answer = ask(question(LoadMessage::Kind::CableNotConnected,
                                             MessageButtons::OkCancel,
                                             MessageAnswer::Ok))) {
            m_cableAnswer = *answer;
        }
        break;
    case LinkEvent::Kind::PortFailure:
        tell(message(LoadMessage::Kind::PortOutOfOrder));
        break;
    case LinkEvent::Kind::FlashWriteError:
        tell(message(LoadMessage::Kind::FlashWriteError));
        break;
    case LinkEvent::Kind::AllBlocksDone:
        if (!event.counters.flashWriteFailed)
            tell(message(LoadMessage::Kind::LoadCompleted));
        if (const auto answer = ask(question(LoadMessage::Kind::RepeatLoad,
                                             MessageButtons::YesNo,
                                             MessageAnswer::Yes))) {
            m_repeatAnswer = *answer;
        }
        break;
    case LinkEvent::Kind::TerminalNotAnswering:
        tell(message(LoadMessage::Kind::TerminalNotAnswering));
        break;
    case LinkEvent::Kind::PortError: {
        LoadMessage broken = message(LoadMessage::Kind::PortStoppedWorking);
        broken.port = m_request.port->name;
        broken.reason = event.reason;
        tell(broken);
        break;
    }
    case LinkEvent::Kind::PortNotOpened: {
        LoadMessage notOpened = message(LoadMessage::Kind::PortNotOpened);
        notOpened.port = m_request.port->name;
        notOpened.openFailure = event.openFailure;
        tell(notOpened);
        break;
    }
    default:
        break;
    }
}

LoadSession::TerminalWaitEnd LoadSession::waitForTerminal(TerminalWait wait)
{
    // Without a port the run says so; a port that does not open, the link says why.
    if (!m_request.port)
        return TerminalWaitEnd::PortUnusable;
    const std::unique_ptr<SerialPort> port = m_ports.makePort(*m_request.port);
    if (!port->open(Link::Line, nullptr))
        return TerminalWaitEnd::PortUnusable;
    Clock &clock = m_limits.clockInUse();
    const int slice = int(m_limits.stopCheck.count());
    // No limit of the link applies between two terminals: only Stop ends the wait. CTS is read
    // slowly while the loaded terminal stays: it is taken away by hand, and a station waits so
    // on every port.
    const auto awayPoll = std::min<Clock::Duration>(m_limits.stopCheck, Port::CtsSlowPollInterval);
    for (const bool present : {false, true}) {
        if (!present && wait != TerminalWait::Next)
            continue;
        const TerminalWait stage = present ? TerminalWait::Present : TerminalWait::Next;
        QMetaObject::invokeMethod(
            this, [this, stage] { Q_EMIT waiting(stage); }, Qt::QueuedConnection);
        while (port->cts() != present) {
            if (m_stopRequested.load())
                return TerminalWaitEnd::Stopped;
            if (!port->failure().isEmpty())
                return TerminalWaitEnd::PortUnusable;
            if (present)
                port->waitForCts(slice);
            else
                clock.sleepFor(awayPoll);
        }
    }
    port->close();
    return m_stopRequested.load() ? TerminalWaitEnd::Stopped : TerminalWaitEnd::Arrived;
}

} // namespace Kv402
