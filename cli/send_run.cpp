#include "cli/send_run.h"

#include "cli/commands.h"
#include "cli/output.h"

#include "link/link_constants.h"
#include "load/load_texts.h"
#include "ports/qt_serial_port.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <cerrno>
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace Kv402::Tool {

namespace {

using namespace std::chrono_literals;

// How often a port without cable is tried again while --cable-wait lasts.
constexpr auto CableRetry = 250ms;
// Simulated terminals without wire time answer at once: a silent one is given up in a second.
constexpr LinkLimits FastLimits{1000ms, 1000ms, Link::StopCheckInterval};

// SIGHUP comes with a closed terminal or a dropped remote session: the loads are stopped and
// recorded as for SIGINT and SIGTERM, never cut off unrecorded.
constexpr std::array StoppingSignals{SIGINT, SIGTERM, SIGHUP};

// A signal handler may only write to a descriptor; the event loop reads the other end.
int signalSockets[2] = {-1, -1};
extern "C" void writeSignal(int signal)
{
    const int savedErrno = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = savedErrno;
}

// The messages that say why a load did not complete: their words are its result's reason.
bool explainsAnEnd(LoadMessage::Kind kind)
{
    using Kind = LoadMessage::Kind;
    switch (kind) {
    case Kind::WrongChecksumQuestion:
    case Kind::DataFileUnusable:
    case Kind::NoDataToLoad:
    case Kind::NoPortSelected:
    case Kind::PortNotOpened:
    case Kind::CableNotConnected:
    case Kind::PortOutOfOrder:
    case Kind::FlashWriteError:
    case Kind::TerminalNotAnswering:
    case Kind::PortStoppedWorking:
        return true;
    case Kind::CheckCable:
    case Kind::WrongChecksum:
    case Kind::LoadCompleted:
    case Kind::RepeatLoad:
        break;
    }
    return false;
}

// The ports of a send: simulated terminals by their names, every other address the platform's.
SimulatedPorts targetPorts(const std::vector<SendTarget> &targets, bool fast)
{
    SimulatedPorts ports(std::make_shared<QtSerialPortFactory>());
    for (const SendTarget &target : targets) {
        if (target.simulated) {
            SimulatedTerminal::Options options = *target.simulated;
            options.paced = !fast;
            ports.attach(target.name(), std::make_shared<SimulatedTerminal>(options));
        }
    }
    return ports;
}

QString signalName(int signal)
{
    switch (signal) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

} // namespace

// The questions of one port's load, answered by the options instead of a person.
class PortLoad : public QObject, public LoadPrompts
{
public:
    PortLoad(const SendOptions &options, std::function<void()> waitingForCable)
        : m_options(options)
        , m_waitingForCable(std::move(waitingForCable))
    {}

    void ask(LoadSession *session, const LoadMessage &message) override
    {
        using Kind = LoadMessage::Kind;
        if (explainsAnEnd(message.kind))
            lastReason = loadMessageText(message, Language::English);
        switch (message.kind) {
        case Kind::WrongChecksumQuestion:
            session->answer(m_options.acceptBadChecksums ? MessageAnswer::Yes : MessageAnswer::No);
            return;
        case Kind::CableNotConnected: {
            // CTS is looked at again, the port opened anew, until the wait is over.
            if (!m_cableWait.isValid())
                m_cableWait.start();
            if (m_cableWait.elapsed() >= m_options.cableWait.count()) {
                session->answer(MessageAnswer::Cancel);
                return;
            }
            if (!m_waiting) {
                m_waiting = true;
                m_waitingForCable();
            }
            const QPointer<LoadSession> waiting(session);
            QTimer::singleShot(CableRetry, this, [waiting] {
                if (waiting)
                    waiting->answer(MessageAnswer::Ok);
            });
            return;
        }
        case Kind::RepeatLoad:
            session->answer(m_options.again ? MessageAnswer::Yes : MessageAnswer::No);
            return;
        default:
            session->answer(message.defaultAnswer);
            return;
        }
    }
    void withdraw(LoadSession *) override {}

    // A load has ended: the next one waits for its cable afresh.
    void loadEnded()
    {
        m_cableWait.invalidate();
        m_waiting = false;
        lastReason.clear();
    }

    // Why the load did not complete, as its last message said.
    QString lastReason;
    std::unique_ptr<LoadSession> session;
    bool finished = false;

private:
    const SendOptions &m_options;
    const std::function<void()> m_waitingForCable;
    QElapsedTimer m_cableWait;
    bool m_waiting = false;
};

SendRun::SendRun(const SendOptions &options,
                 std::shared_ptr<const DataFileReading> reading,
                 SendOutput &output)
    : m_options(options)
    , m_reading(std::move(reading))
    , m_output(output)
    , m_record(options.recordFile)
    , m_pusher(m_record.fileName(), QLatin1StringView(SendCommandName))
    , m_ports(targetPorts(options.targets, options.fast))
    , m_results(options.targets.size())
{
    for (size_t port = 0; port < m_options.targets.size(); ++port) {
        m_loads.push_back(std::make_unique<PortLoad>(m_options, [this, port] {
            m_output.waitingForCable(int(port));
        }));
    }
}

SendRun::~SendRun() = default;

int SendRun::exec()
{
    watchSignals();
    for (size_t port = 0; port < m_loads.size(); ++port)
        start(int(port));
    return QCoreApplication::exec();
}

void SendRun::start(int port)
{
    const SendTarget &target = m_options.targets.at(port);
    PortLoad &load = *m_loads.at(port);
    LoadRequest request;
    request.dataFile = m_options.dataFile;
    request.port = target.address;
    request.waitForNextTerminal = m_options.again;
    // The first load of every port sends what the check read: the file is read once.
    request.firstReading = m_reading;
    // Every load, --again's too, sends the bytes the bundle released or nothing.
    if (m_options.bundle)
        request.releasedSha256 = releasedSha256(*m_options.bundle, m_options.dataFile);
    const bool fast = m_options.fast && target.simulated;
    load.session = std::make_unique<LoadSession>(request,
                                                 m_ports,
                                                 load,
                                                 fast ? FastLimits : LinkLimits{});
    LoadSession *session = load.session.get();
    connect(session, &LoadSession::linkEvent, this, [this, port](const LinkEvent &event) {
        m_output.linkEvent(port, event);
    });
    connect(session, &LoadSession::runFinished, this, [this, port](const LoadRun &run) {
        runFinished(port, run);
    });
    connect(session, &LoadSession::finished, this, [this, port](LoadOutcome outcome) {
        sessionFinished(port, outcome);
    });
    session->start();
}

void SendRun::runFinished(int port, const LoadRun &run)
{
    LoadResult result;
    result.outcome = run.outcome;
    if (run.outcome != LinkOutcome::Completed)
        result.reason = m_loads.at(port)->lastReason;
    if (run.outcome == LinkOutcome::Stopped && m_signal)
        result.reason = stoppedBy();
    result.blocks = run.counters.blocksWritten();
    result.of = run.counters.blockCount;
    result.errors = run.counters.errors;
    result.seconds = double(run.started.msecsTo(run.ended)) / 1000.0;
    finishLoad(port, result, run);
}

void SendRun::sessionFinished(int port, LoadOutcome outcome)
{
    PortLoad &load = *m_loads.at(port);
    load.finished = true;
    // A load that ended before its run reached the port still has its result.
    LoadRun none;
    none.started = none.ended = QDateTime::currentDateTime();
    none.dataFile = QFileInfo(m_options.dataFile).absoluteFilePath();
    if (outcome == LoadOutcome::Refused) {
        LoadResult refused;
        refused.reason = load.lastReason;
        finishLoad(port, refused, none);
    } else if (m_results.at(port).isEmpty()) {
        none.outcome = outcome == LoadOutcome::Stopped ? LinkOutcome::Stopped
                                                       : LinkOutcome::PortNotOpened;
        none.counters.blockCount = m_reading->image.blockCount();
        LoadResult result;
        result.outcome = none.outcome;
        result.reason = outcome == LoadOutcome::Stopped && m_signal ? stoppedBy() : load.lastReason;
        result.of = none.counters.blockCount;
        finishLoad(port, result, none);
    }
    endWhenAllFinished();
}

void SendRun::finishLoad(int port, const LoadResult &result, const LoadRun &run)
{
    const SendTarget &target = m_options.targets.at(port);
    m_results.at(port).append(result);
    m_loads.at(port)->loadEnded();

    LoadRecordEntry entry = recordEntry(run,
                                        m_options.choice,
                                        target.address,
                                        m_ports.describe(target.address));
    entry.outcome = result.outcomeName();
    entry.program = QLatin1StringView(SendCommandName);
    if (m_options.bundle)
        entry.bundle = m_options.bundle->origin();
    QString why;
    if (!m_record.append(entry, &why)) {
        printError(
            QStringLiteral("%1: cannot write the load record \"%2\": %3\n")
                .arg(QLatin1StringView(SendCommandName), printable(m_record.fileName()), why));
    }
    m_pusher.recordAppended();
    m_output.result(port, result);
}

QString SendRun::stoppedBy() const
{
    return QStringLiteral("stopped by %1").arg(signalName(m_signal));
}

void SendRun::watchSignals()
{
    // A closed standard output must not end the loads, nor a record at the file-size limit:
    // their writes fail instead, and are dealt with.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSockets) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char signal = 0;
        while (::read(signalSockets[1], &signal, 1) > 0) {
            if (!m_signal)
                m_signal = signal;
        }
        // Every run stops and closes its port; the summary follows once all have.
        for (const std::unique_ptr<PortLoad> &load : m_loads)
            load->session->stop();
    });
    struct sigaction action = {};
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : StoppingSignals)
        ::sigaction(signal, &action, nullptr);
}

void SendRun::endWhenAllFinished()
{
    for (const std::unique_ptr<PortLoad> &load : m_loads) {
        if (!load->finished)
            return;
    }
    const int status = exitStatus();
    m_output.summary(m_results, status);
    QCoreApplication::exit(status);
}

int SendRun::exitStatus() const
{
    if (m_signal)
        return SignalBase + m_signal;
    bool allCompleted = true;
    bool nothingSent = true;
    for (const QList<LoadResult> &results : m_results) {
        if (results.isEmpty() || !results.last().completed())
            allCompleted = false;
        for (const LoadResult &result : results) {
            if (result.outcome)
                nothingSent = false;
        }
    }
    if (nothingSent)
        return NothingSent;
    return allCompleted ? Success : Failure;
}

} // namespace Kv402::Tool
