#include "cli/commands.h"
#include "cli/output.h"

#include "catalogue/catalogue_choices.h"
#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_error.h"
#include "catalogue/exclusive_hold.h"
#include "link/link_constants.h"
#include "load/load_record.h"
#include "load/load_session.h"
#include "load/load_texts.h"
#include "ports/port_identity.h"
#include "ports/qt_serial_port.h"
#include "simulator/simulated_terminal.h"
#include "simulator/terminal_profiles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402::Tool {

namespace {

using namespace std::chrono_literals;

// Simulated terminals go beyond COM16, so that one process can simulate a whole production line.
constexpr int MaxSimulatedPort = 64;
// The longest --cable-wait: a day.
constexpr double MaxCableWaitSeconds = 86400;
// How often a port without cable is tried again while --cable-wait lasts.
constexpr auto CableRetry = 250ms;
// The progress line on a terminal is redrawn at most this often.
constexpr auto RedrawInterval = 100ms;
// Simulated terminals without wire time answer at once: a silent one is given up in a second.
constexpr LinkLimits FastLimits{1000ms, 1000ms, Link::StopCheckInterval};
// Without a terminal, progress is told every tenth of the blocks.
constexpr int ProgressSteps = 10;
// The width of a terminal that does not say its own.
constexpr int DefaultColumns = 80;

// The outcome of a load whose data file could not be used by the time its run read it: nothing
// was sent on that port.
const QLatin1StringView DataFileUnusable{"data-file-unusable"};
const QLatin1StringView Completed{"completed"};
const QLatin1StringView SimulatedDevice{"simulated terminal"};

// Standard output accompanies the loads, which go on whatever becomes of it: once its reader has
// gone (a closed pipe) nothing more is written; any other failure (a full disk) is told at the
// end and fails the command.
void printLine(const QString &line)
{
    printOut(line + QLatin1Char('\n'));
    flushOut();
}

void printJson(const QJsonObject &object)
{
    printOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact))
             + QLatin1Char('\n'));
    flushOut();
}

int usageError(const QString &why)
{
    return Tool::usageError("kv402 send", why, SendUsage);
}

// A signal handler may only write to a descriptor; the event loop reads the other end.
int signalSockets[2] = {-1, -1};
extern "C" void writeSignal(int signal)
{
    const int savedErrno = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = savedErrno;
}

// SIGHUP comes with a closed terminal or a dropped remote session: the loads are stopped and
// recorded as for SIGINT and SIGTERM, never cut off unrecorded.
constexpr std::array StoppingSignals{SIGINT, SIGTERM, SIGHUP};

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

// What one port is: its name in the output and the device behind it, or a simulated terminal.
struct Target
{
    PortAddress address;
    std::optional<SimulatedTerminal::Options> simulated;

    const QString &name() const { return address.name; }
    QString device() const { return simulated ? QString(SimulatedDevice) : address.device; }
};

struct Options
{
    QString dataFile;
    QString revision;
    QString version;
    QString language;
    bool acceptBadChecksums = false;
    std::chrono::milliseconds cableWait{0};
    bool again = false;
    bool json = false;
    bool fast = false;
};

// How one load on one port ended.
struct LoadResult
{
    QString outcome;
    // Why it did not complete, in English; empty when there is nothing to say.
    QString reason;
    int blocks = 0;
    int of = 0;
    int errors = 0;
    double seconds = 0;

    bool completed() const { return outcome == Completed; }
};

// The ports of a send: simulated terminals by their names, every other address the platform's.
SimulatedPorts targetPorts(const std::vector<Target> &targets, bool fast)
{
    SimulatedPorts ports(std::make_shared<QtSerialPortFactory>());
    for (const Target &target : targets) {
        if (target.simulated) {
            SimulatedTerminal::Options options = *target.simulated;
            options.paced = !fast;
            ports.attach(target.name(), std::make_shared<SimulatedTerminal>(options));
        }
    }
    return ports;
}

// The questions of one port's load, answered by the options instead of a person.
class PortLoad : public QObject, public LoadPrompts
{
public:
    PortLoad(const Target &target, const Options &options)
        : target(target)
        , m_options(options)
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
            if (!waitingForCable) {
                waitingForCable = true;
                if (onWaitingForCable)
                    onWaitingForCable();
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
        waitingForCable = false;
        lastReason.clear();
    }

    const Target target;
    std::function<void()> onWaitingForCable;
    QString lastReason;
    std::unique_ptr<LoadSession> session;
    LinkCounters counters;
    QElapsedTimer runTime;
    QList<LoadResult> results;
    int toldStep = -1;
    bool waitingForCable = false;
    bool finished = false;

private:
    const Options &m_options;
    QElapsedTimer m_cableWait;
};

QJsonObject resultObject(const Target &target, const LoadResult &result)
{
    QJsonObject object{{QStringLiteral("port"), target.name()},
                       {QStringLiteral("device"), target.device()},
                       {QStringLiteral("event"), QStringLiteral("result")},
                       {QStringLiteral("outcome"), result.outcome},
                       {QStringLiteral("blocks"), result.blocks},
                       {QStringLiteral("of"), result.of},
                       {QStringLiteral("errors"), result.errors},
                       {QStringLiteral("seconds"), result.seconds}};
    if (!result.reason.isEmpty())
        object.insert(QStringLiteral("reason"), result.reason);
    return object;
}

// The data file named by the catalogue for a revision, version and language, by the window's
// rules. The catalogue is shared with other loads of the command line while it is read, and let
// go once the data file is known. Throws CatalogueError; returns an empty name with *why set when
// there is none.
QString catalogueDataFile(const QString &catalogue, const Options &options, QString *why)
{
    const struct Release
    {
        const QString &file;
        ~Release() { releaseHold(file); }
    } release{catalogue};
    CatalogueChoices choices(catalogue, CatalogueHold::Shared);
    const RevisionChoice revision = choices.chooseRevision(options.revision);
    if (revision.failureAfterMessage)
        throw *revision.failureAfterMessage;
    if (!revision.tabled) {
        *why = QStringLiteral("\"%1\" is no firmware revision of the catalogue")
                   .arg(options.revision);
        return {};
    }
    if (revision.message == RevisionChoice::Message::VersionNotAvailable) {
        *why = ChoiceTexts::VersionNotAvailable.in(Language::English);
        return {};
    }
    const VersionRows rows = choices.versionRows(options.version, options.language);
    if (!rows.found) {
        *why = ChoiceTexts::VersionNotInLanguage.in(Language::English);
        return {};
    }
    if (rows.dataFile.isEmpty()) {
        *why = QStringLiteral("the catalogue names no data file for version \"%1\" in \"%2\" "
                              "(its File field is empty)")
                   .arg(options.version, options.language);
    }
    return rows.dataFile;
}

// The width of the terminal on standard output, read at every redraw: it may be resized.
int terminalColumns()
{
    winsize size = {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return DefaultColumns;
}

class Send : public QObject
{
public:
    Send(std::vector<Target> targets,
         Options options,
         LoadRecord record,
         std::shared_ptr<const DataFileReading> reading)
        : m_targets(std::move(targets))
        , m_options(std::move(options))
        , m_record(std::move(record))
        , m_ports(targetPorts(m_targets, m_options.fast))
        , m_terminal(!m_options.json && ::isatty(STDOUT_FILENO))
        , m_reading(std::move(reading))
    {
        for (const Target &target : m_targets)
            m_loads.push_back(std::make_unique<PortLoad>(target, m_options));
    }

    int run()
    {
        watchSignals();
        for (const std::unique_ptr<PortLoad> &load : m_loads)
            start(*load);
        if (m_terminal) {
            connect(&m_redraw, &QTimer::timeout, this, [this] { redraw(); });
            m_redraw.start(RedrawInterval);
            redraw();
        }
        return QCoreApplication::exec();
    }

private:
    void start(PortLoad &load)
    {
        LoadRequest request;
        request.dataFile = m_options.dataFile;
        request.port = load.target.address;
        request.waitForNextTerminal = m_options.again;
        // The first load of every port sends what the check read: the file is read once.
        request.firstReading = m_reading;
        const bool fast = m_options.fast && load.target.simulated;
        load.session = std::make_unique<LoadSession>(request,
                                                     m_ports,
                                                     load,
                                                     fast ? FastLimits : LinkLimits{});
        LoadSession *session = load.session.get();
        if (m_options.json) {
            load.onWaitingForCable = [&load] {
                printJson({{QStringLiteral("event"), QStringLiteral("waiting")},
                           {QStringLiteral("port"), load.target.name()},
                           {QStringLiteral("for"), QStringLiteral("cable")}});
            };
        }
        connect(session, &LoadSession::linkEvent, this, [this, &load](const LinkEvent &event) {
            linkEvent(load, event);
        });
        connect(session, &LoadSession::runFinished, this, [this, &load](const LoadRun &run) {
            runFinished(load, run);
        });
        connect(session, &LoadSession::finished, this, [this, &load](LoadOutcome outcome) {
            sessionFinished(load, outcome);
        });
        load.runTime.start();
        session->start();
    }

    void linkEvent(PortLoad &load, const LinkEvent &event)
    {
        using Kind = LinkEvent::Kind;
        if (event.counters.blockCount > 0)
            load.counters = event.counters;
        if (event.kind == Kind::HeaderAccepted) {
            load.runTime.start();
            load.toldStep = 0;
        }
        if (m_options.json) {
            printJsonEvent(load, event);
            return;
        }
        if (!m_terminal && event.kind == Kind::BlockWritten && !event.counters.flashWriteFailed
            && event.counters.blockCount > 0) {
            const LinkCounters &c = event.counters;
            const int step = c.blocksDone * ProgressSteps / c.blockCount;
            if (step > load.toldStep) {
                load.toldStep = step;
                printLine(QStringLiteral("%1 %2 %3 of %4 blocks (%5 %), %6 errors")
                              .arg(printable(load.target.name()), printable(load.target.device()))
                              .arg(c.blocksDone)
                              .arg(c.blockCount)
                              .arg(step * 100 / ProgressSteps)
                              .arg(c.errors));
            }
        }
    }

    // The events a script may follow: header; then for each block any number of rejected and
    // one block (its echo accepted) and, once the terminal has stored it, written; last the
    // result. After a flash write error the failing block has its block event and no written.
    void printJsonEvent(const PortLoad &load, const LinkEvent &event)
    {
        const LinkCounters &c = event.counters;
        QJsonObject object{{QStringLiteral("port"), load.target.name()}};
        switch (event.kind) {
        case LinkEvent::Kind::HeaderAccepted:
            object.insert(QStringLiteral("event"), QStringLiteral("header"));
            object.insert(QStringLiteral("of"), c.blockCount);
            break;
        case LinkEvent::Kind::BlockAccepted:
            object.insert(QStringLiteral("event"), QStringLiteral("block"));
            object.insert(QStringLiteral("block"), c.blocksDone);
            object.insert(QStringLiteral("of"), c.blockCount);
            object.insert(QStringLiteral("errors"), c.errors);
            break;
        case LinkEvent::Kind::EchoRejected:
            object.insert(QStringLiteral("event"), QStringLiteral("rejected"));
            object.insert(QStringLiteral("block"), c.blocksDone + 1);
            object.insert(QStringLiteral("of"), c.blockCount);
            object.insert(QStringLiteral("errors"), c.errors);
            break;
        case LinkEvent::Kind::BlockWritten:
            // The block the flash could not take was not written.
            if (c.flashWriteFailed)
                return;
            object.insert(QStringLiteral("event"), QStringLiteral("written"));
            object.insert(QStringLiteral("block"), c.blocksDone);
            object.insert(QStringLiteral("of"), c.blockCount);
            break;
        default:
            return;
        }
        printJson(object);
    }

    void runFinished(PortLoad &load, const LoadRun &run)
    {
        LoadResult result;
        result.outcome = outcomeName(run.outcome);
        if (run.outcome != LinkOutcome::Completed)
            result.reason = load.lastReason;
        if (run.outcome == LinkOutcome::Stopped && m_signal)
            result.reason = QStringLiteral("stopped by %1").arg(signalName(m_signal));
        result.blocks = run.counters.blocksWritten();
        result.of = run.counters.blockCount;
        result.errors = run.counters.errors;
        result.seconds = double(run.started.msecsTo(run.ended)) / 1000.0;
        finishLoad(load, result, run);
    }

    void sessionFinished(PortLoad &load, LoadOutcome outcome)
    {
        load.finished = true;
        // A load that ended before its run reached the port still has its result.
        LoadRun none;
        none.started = none.ended = QDateTime::currentDateTime();
        none.dataFile = QFileInfo(m_options.dataFile).absoluteFilePath();
        if (outcome == LoadOutcome::Refused) {
            LoadResult refused;
            refused.outcome = DataFileUnusable;
            refused.reason = load.lastReason;
            finishLoad(load, refused, none);
        } else if (load.results.isEmpty()) {
            LoadResult result;
            none.outcome = outcome == LoadOutcome::Stopped ? LinkOutcome::Stopped
                                                           : LinkOutcome::PortNotOpened;
            none.counters.blockCount = m_reading->image.blockCount();
            result.outcome = outcomeName(none.outcome);
            result.reason = outcome == LoadOutcome::Stopped && m_signal
                                ? QStringLiteral("stopped by %1").arg(signalName(m_signal))
                                : load.lastReason;
            result.of = none.counters.blockCount;
            finishLoad(load, result, none);
        }
        maybeEnd();
    }

    // One load, one result: in the output and in the record.
    void finishLoad(PortLoad &load, const LoadResult &result, const LoadRun &run)
    {
        load.results.append(result);
        load.loadEnded();

        LoadRecordEntry entry = recordEntry(run,
                                            {m_options.revision,
                                             m_options.version,
                                             m_options.language},
                                            load.target.address,
                                            m_ports.describe(load.target.address));
        entry.outcome = result.outcome;
        QString why;
        if (!m_record.append(entry, &why)) {
            printError(QStringLiteral("kv402 send: cannot write the load record \"%1\": %2\n")
                           .arg(printable(m_record.fileName()), why));
        }
        if (m_options.json) {
            printJson(resultObject(load.target, result));
        } else if (!m_terminal) {
            printLine(QStringLiteral("%1 %2 %3: %4 of %5 blocks, %6 errors, %7 s%8")
                          .arg(printable(load.target.name()),
                               printable(load.target.device()),
                               result.outcome)
                          .arg(result.blocks)
                          .arg(result.of)
                          .arg(result.errors)
                          .arg(result.seconds, 0, 'f', 1)
                          .arg(result.reason.isEmpty()
                                   ? QString()
                                   : QStringLiteral(" (%1)").arg(printable(result.reason))));
        }
    }

    static QString signalName(int signal)
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

    void redraw()
    {
        // One character short of the width: a line that fills it wraps on some terminals, and
        // the cursor would no longer go back up over the lines drawn.
        const int width = std::max(1, terminalColumns() - 1);
        QString text;
        if (m_drawnLines > 0)
            text += QStringLiteral("\x1b[%1A").arg(m_drawnLines);
        for (const std::unique_ptr<PortLoad> &load : m_loads) {
            const LinkCounters &c = load->counters;
            const int done = std::min(c.blocksDone, c.blockCount);
            const double seconds = load->runTime.elapsed() / 1000.0;
            const double rate = seconds > 0 ? done / seconds : 0;
            const QString left = rate > 0 && c.blockCount > done
                                     ? QStringLiteral("%1 s left")
                                           .arg((c.blockCount - done) / rate, 0, 'f', 0)
                                     : QString();
            const QString state = load->results.isEmpty() ? left : load->results.last().outcome;
            const QString line = QStringLiteral("%1 %2 %3 of %4 (%5 %) errors %6, %7 blocks/s %8")
                                     .arg(printable(load->target.name()), -6)
                                     .arg(printable(load->target.device()), -24)
                                     .arg(done, 4)
                                     .arg(c.blockCount, 4)
                                     .arg(c.blockCount ? done * 100 / c.blockCount : 0, 3)
                                     .arg(c.errors)
                                     .arg(rate, 0, 'f', 1)
                                     .arg(state);
            text += QStringLiteral("\x1b[2K") + line.left(width) + QLatin1Char('\n');
        }
        m_drawnLines = int(m_loads.size());
        printOut(text);
        flushOut();
    }

    void watchSignals()
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

    void maybeEnd()
    {
        for (const std::unique_ptr<PortLoad> &load : m_loads) {
            if (!load->finished)
                return;
        }
        m_redraw.stop();
        if (m_terminal)
            redraw();
        QCoreApplication::exit(summary());
    }

    int exitStatus() const
    {
        if (m_signal)
            return SignalBase + m_signal;
        bool allCompleted = true;
        bool nothingSent = true;
        for (const std::unique_ptr<PortLoad> &load : m_loads) {
            if (load->results.isEmpty() || !load->results.last().completed())
                allCompleted = false;
            for (const LoadResult &result : load->results) {
                if (result.outcome != DataFileUnusable)
                    nothingSent = false;
            }
        }
        if (nothingSent)
            return NothingSent;
        return allCompleted ? Success : Failure;
    }

    int summary()
    {
        const int status = exitStatus();
        if (m_options.json) {
            QJsonArray results;
            int loads = 0;
            int completed = 0;
            for (const std::unique_ptr<PortLoad> &load : m_loads) {
                for (const LoadResult &result : load->results) {
                    results.append(resultObject(load->target, result));
                    ++loads;
                    completed += result.completed() ? 1 : 0;
                }
            }
            printJson({{QStringLiteral("event"), QStringLiteral("summary")},
                       {QStringLiteral("ports"), int(m_loads.size())},
                       {QStringLiteral("loads"), loads},
                       {QStringLiteral("completed"), completed},
                       {QStringLiteral("exit"), status},
                       {QStringLiteral("results"), results}});
        } else {
            printLine(QStringLiteral("%1 %2 %3 %4 %5 %6")
                          .arg(QStringLiteral("PORT"), -8)
                          .arg(QStringLiteral("DEVICE"), -24)
                          .arg(QStringLiteral("OUTCOME"), -24)
                          .arg(QStringLiteral("BLOCKS"), 11)
                          .arg(QStringLiteral("ERRORS"), 6)
                          .arg(QStringLiteral("SECONDS"), 8));
            for (const std::unique_ptr<PortLoad> &load : m_loads) {
                for (const LoadResult &result : load->results) {
                    printLine(QStringLiteral("%1 %2 %3 %4 %5 %6")
                                  .arg(printable(load->target.name()), -8)
                                  .arg(printable(load->target.device()), -24)
                                  .arg(result.outcome, -24)
                                  .arg(QStringLiteral("%1/%2").arg(result.blocks).arg(result.of), 11)
                                  .arg(result.errors, 6)
                                  .arg(result.seconds, 8, 'f', 1));
                }
            }
        }
        // Whatever was sent, output that could not be written is a failure of the command.
        return finishOutput(status, "kv402 send");
    }

    std::vector<Target> m_targets;
    const Options m_options;
    const LoadRecord m_record;
    SimulatedPorts m_ports;
    const bool m_terminal;
    // The data file as the check read it, which the first load of every port sends.
    const std::shared_ptr<const DataFileReading> m_reading;
    std::vector<std::unique_ptr<PortLoad>> m_loads;
    QTimer m_redraw;
    int m_drawnLines = 0;
    int m_signal = 0;
};

// COMn for a simulated terminal, n from 1 to MaxSimulatedPort.
std::optional<int> simulatedPortNumber(QStringView name)
{
    if (!name.startsWith(QLatin1StringView("COM")))
        return std::nullopt;
    const QStringView digits = name.mid(3);
    bool ok = false;
    const int number = digits.toInt(&ok);
    // Written as the port list writes them: no sign, no blank, no leading zero.
    if (!ok || number < 1 || number > MaxSimulatedPort || digits != QString::number(number))
        return std::nullopt;
    return number;
}

// The file's identity when it exists, to tell one file under two names.
std::optional<std::pair<dev_t, ino_t>> fileIdentity(const QString &fileName)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(fileName).constData(), &info) != 0)
        return std::nullopt;
    return std::pair{info.st_dev, info.st_ino};
}

// Why a load would refuse the data file, in the words of its message; empty when it is sent.
QString refusal(const QString &dataFile, const DataFileReading &reading, bool acceptBadChecksums)
{
    using Kind = LoadMessage::Kind;
    LoadMessage message{.file = dataFile};
    if (!reading.ok()) {
        message.kind = Kind::DataFileUnusable;
        message.problem = reading.problem;
        message.line = reading.failureLine;
        message.column = reading.failureColumn;
        message.reason = reading.fileError;
    } else if (reading.image.blockCount() < 1) {
        message.kind = Kind::NoDataToLoad;
    } else if (reading.wrongChecksumCount > 0 && !acceptBadChecksums) {
        // The question the load would ask, and how the command line answers it.
        message.kind = Kind::WrongChecksumQuestion;
        message.count = reading.wrongChecksumCount;
        message.lines = reading.wrongChecksumLines;
        return loadMessageText(message, Language::English)
               + QStringLiteral(" --accept-bad-checksums answers yes.");
    } else {
        return {};
    }
    return loadMessageText(message, Language::English);
}

// Whether the default record has a folder to live in: without a home (a service started with an
// empty environment) it would land at the root of the file system.
bool defaultRecordHasAHome()
{
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!dataHome.isEmpty() && QDir::isAbsolutePath(dataHome))
        return true;
    const QString home = qEnvironmentVariable("HOME");
    return !home.isEmpty() && home != QLatin1String("/") && QFileInfo(home).isDir();
}

} // namespace

int sendCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Loads terminals, several at once."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption file(QStringLiteral("file"),
                                  QStringLiteral("The data file."),
                                  QStringLiteral("DATA"));
    const QCommandLineOption revision(QStringLiteral("revision"),
                                      QStringLiteral("Firmware revision."),
                                      QStringLiteral("R"));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Software version."),
                                     QStringLiteral("V"));
    const QCommandLineOption language(QStringLiteral("language"),
                                      QStringLiteral("Language."),
                                      QStringLiteral("L"));
    const QCommandLineOption catalogue(QStringLiteral("catalogue"),
                                       QStringLiteral("The catalogue (Versioni.mdb)."),
                                       QStringLiteral("FILE"),
                                       QString(Catalogue::FileName));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("A port, COM1 to COM16."),
                                  QStringLiteral("COMn"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("A serial device path."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("A simulated terminal on COM1 to COM%1: %2")
                                          .arg(MaxSimulatedPort)
                                          .arg(terminalProfileNames().join(QStringLiteral(", "))),
                                      QStringLiteral("COMn=PROFILE"));
    const QCommandLineOption acceptBad(QStringLiteral("accept-bad-checksums"),
                                       QStringLiteral("Load records with wrong checksums."));
    const QCommandLineOption cableWait(QStringLiteral("cable-wait"),
                                       QStringLiteral("Wait this long for a cable (0 to 86400)."),
                                       QStringLiteral("SECONDS"));
    const QCommandLineOption again(QStringLiteral("again"),
                                   QStringLiteral(
                                       "Load the next terminal on each port, until stopped."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON object a line for every event."));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("The load record."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption fast(QStringLiteral("fast"),
                                  QStringLiteral("Simulated terminals without wire time, given up "
                                                 "after 1 s of silence."));
    parser.addOptions({file,
                       revision,
                       version,
                       language,
                       catalogue,
                       port,
                       device,
                       simulate,
                       acceptBad,
                       cableWait,
                       again,
                       json,
                       record,
                       fast});
    if (const std::optional<int> status = parseOptions(parser, "kv402 send", arguments, SendUsage))
        return *status;
    // An empty name names nothing: no file, no device, no port.
    for (const QCommandLineOption &option :
         {file, revision, version, language, catalogue, port, device, simulate, cableWait, record}) {
        for (const QString &value : parser.values(option)) {
            if (value.isEmpty())
                return usageError(QStringLiteral("--%1 takes a value that is not empty")
                                      .arg(option.names().first()));
        }
    }

    Options options;
    options.acceptBadChecksums = parser.isSet(acceptBad);
    options.again = parser.isSet(again);
    options.json = parser.isSet(json);
    options.fast = parser.isSet(fast);
    if (parser.isSet(cableWait)) {
        bool ok = false;
        const double seconds = parser.value(cableWait).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > MaxCableWaitSeconds) {
            return usageError(QStringLiteral("--cable-wait takes a number of seconds from 0 to %1")
                                  .arg(MaxCableWaitSeconds));
        }
        options.cableWait = std::chrono::milliseconds(std::llround(seconds * 1000));
    }
    const bool byCatalogue = parser.isSet(revision) || parser.isSet(version)
                             || parser.isSet(language);
    if (parser.isSet(file) == byCatalogue)
        return usageError(
            QStringLiteral("give either --file or --revision, --version and --language"));
    if (byCatalogue && !(parser.isSet(revision) && parser.isSet(version) && parser.isSet(language)))
        return usageError(QStringLiteral("--revision, --version and --language go together"));

    // The ports, in the order given.
    std::vector<Target> targets;
    QMap<QString, int> used;
    for (const QString &name : parser.optionNames()) {
        if (name != port.names().first() && name != device.names().first()
            && name != simulate.names().first()) {
            continue;
        }
        const QString value = parser.values(name).at(used[name]++);
        Target target;
        if (name == port.names().first()) {
            const std::optional<int> number = portNumberOf(value);
            if (!number)
                return usageError(QStringLiteral("\"%1\" is no port: COM1 to COM16").arg(value));
            target = {portAddress(*number), std::nullopt};
        } else if (name == device.names().first()) {
            // A stable path (/dev/serial/by-id/...) names the adapter whatever order it was
            // plugged in: the device it leads to is used, and named in the output.
            const NamedDevice named = resolveDevicePath(value);
            target = {{value, named.device.isEmpty() ? value : named.device}, std::nullopt};
        } else {
            const qsizetype equals = value.indexOf(QLatin1Char('='));
            const QString portText = value.left(equals);
            const std::optional<SimulatedTerminal::Options> profile
                = equals < 0 ? std::nullopt : terminalProfile(QStringView(value).mid(equals + 1));
            if (!simulatedPortNumber(portText) || !profile) {
                return usageError(
                    QStringLiteral("--simulate takes COMn=PROFILE, n from 1 to %1 and PROFILE one "
                                   "of %2")
                        .arg(MaxSimulatedPort)
                        .arg(terminalProfileNames().join(QStringLiteral(", "))));
            }
            target = {{portText, QString()}, profile};
        }
        for (const Target &other : targets) {
            if (other.name() == target.name())
                return usageError(QStringLiteral("%1 is named twice").arg(target.name()));
            // COM1 and /dev/ttyS0, or a device and a link to it: two loads on one port.
            if (!target.simulated && !other.simulated) {
                const QString &device = target.address.device;
                const std::optional identity = fileIdentity(device);
                if (device == other.address.device
                    || (identity && identity == fileIdentity(other.address.device))) {
                    return usageError(QStringLiteral("%1 and %2 name the same device, %3")
                                          .arg(other.name(), target.name(), device));
                }
            }
        }
        targets.push_back(target);
    }
    if (targets.empty())
        return usageError(QStringLiteral("name at least one --port, --device or --simulate"));

    if (!parser.isSet(record) && !defaultRecordHasAHome()) {
        return usageError(QStringLiteral("there is no home folder to keep the load record in: "
                                         "give --record FILE"));
    }
    const QString recordFile = parser.isSet(record) ? parser.value(record)
                                                    : LoadRecord::defaultFileName();
    // The record is appended to: it must never be a file the load reads, nor a device or a FIFO.
    const std::optional recordIdentity = fileIdentity(recordFile);
    if (recordIdentity && !QFileInfo(recordFile).isFile()) {
        return usageError(QStringLiteral("--record \"%1\" is not a regular file").arg(recordFile));
    }
    if (recordIdentity && byCatalogue && recordIdentity == fileIdentity(parser.value(catalogue)))
        return usageError(QStringLiteral("--record names the catalogue"));

    if (byCatalogue) {
        options.revision = parser.value(revision);
        options.version = parser.value(version);
        options.language = parser.value(language);
        QString why;
        try {
            options.dataFile = catalogueDataFile(parser.value(catalogue), options, &why);
        } catch (const CatalogueError &error) {
            printError(QStringLiteral("kv402 send: %1\n").arg(printable(error.message())));
            return NothingSent;
        }
        if (options.dataFile.isEmpty()) {
            printError(QStringLiteral("kv402 send: %1\n").arg(printable(why)));
            return NothingSent;
        }
    } else {
        options.dataFile = parser.value(file);
    }
    if (recordIdentity && recordIdentity == fileIdentity(options.dataFile))
        return usageError(QStringLiteral("--record names the data file"));

    // The data file is checked once before any port is touched.
    const auto checked = std::make_shared<const DataFileReading>(readDataFile(options.dataFile));
    if (const QString refused = refusal(options.dataFile, *checked, options.acceptBadChecksums);
        !refused.isEmpty()) {
        printError(QStringLiteral("kv402 send: %1\n").arg(printable(refused)));
        return NothingSent;
    }

    // The loads go on without a reader: their outcomes make the exit status.
    tolerateClosedOutput();
    Send send(std::move(targets), options, LoadRecord(recordFile), checked);
    return send.run();
}

} // namespace Kv402::Tool
