#include "tools/kv402/send_command.h"

#include "catalogue/catalogue_choices.h"
#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_error.h"
#include "loader/link_constants.h"
#include "loader/load_record.h"
#include "loader/load_session.h"
#include "loader/port_identity.h"
#include "loader/qt_serial_port.h"
#include "simulator/simulated_terminal.h"
#include "simulator/terminal_profiles.h"
#include "tools/kv402/catalogue_command.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace Kv402::Tool {

namespace {

using namespace std::chrono_literals;

constexpr int ExitSignalBase = 128;
// Simulated terminals and devices named by path get port numbers of their own, above COM16.
constexpr int FirstDeviceNumber = 100;
// How often a port without cable is tried again while --cable-wait lasts.
constexpr auto CableRetry = 250ms;
// The progress line on a terminal is redrawn at most this often.
constexpr auto RedrawInterval = 100ms;
// Simulated terminals without wire time answer at once: a silent one is given up in a second.
constexpr LinkLimits FastLimits{1000ms, 1000ms, Link::StopCheckInterval};
// Without a terminal, progress is told every tenth of the blocks.
constexpr int ProgressSteps = 10;

const char SendUsage[]
    = "usage: kv402 send (--file DATA | --revision R --version V --language L [--catalogue FILE])\n"
      "                  (--port COMn | --device PATH | --simulate COMn=PROFILE)...\n"
      "                  [--accept-bad-checksums] [--cable-wait SECONDS] [--again]\n"
      "                  [--json] [--record FILE] [--fast]\n";

void printLine(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printJson(const QJsonObject &object)
{
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int usageError(const QString &why)
{
    printError(QStringLiteral("kv402 send: %1\n").arg(why) + QString::fromLatin1(SendUsage));
    return Usage;
}

// A signal handler may only write to a descriptor; the event loop reads the other end.
int signalSockets[2] = {-1, -1};
extern "C" void writeSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
}

// The English words of a load's message, for the output.
QString messageText(const LoadMessage &message)
{
    using Kind = LoadMessage::Kind;
    switch (message.kind) {
    case Kind::PortNotOpened:
        if (message.openFailure.kind == PortOpenFailure::Kind::NoModemLines)
            return QStringLiteral("the device has no RTS/CTS lines");
        return message.openFailure.reason;
    case Kind::PortStoppedWorking:
        return message.reason.isEmpty() ? QStringLiteral("the port takes no more bytes")
                                        : message.reason;
    case Kind::CableNotConnected:
        return QStringLiteral("cable not connected");
    case Kind::PortOutOfOrder:
        return QStringLiteral("10 rejected echoes of one block");
    case Kind::FlashWriteError:
        return QStringLiteral("the terminal could not write its flash");
    case Kind::TerminalNotAnswering:
        return QStringLiteral("the terminal does not answer");
    default:
        return {};
    }
}

// What one port is: its name in the output, the port number its session uses, the device.
struct Target
{
    QString name;
    int number = 0;
    QString device;
    std::optional<SimulatedTerminal::Options> simulated;
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
    QString recordFile;
};

// The ports of a send: simulated terminals, named devices and COM ports in one factory.
class TargetPorts : public SerialPortFactory
{
public:
    explicit TargetPorts(const std::vector<Target> &targets, bool fast)
        : m_simulated(std::make_shared<QtSerialPortFactory>([this](int number) {
            const auto found = m_devices.find(number);
            return found == m_devices.end() ? portDevice(number) : found->second;
        }))
    {
        for (const Target &target : targets) {
            if (target.simulated) {
                SimulatedTerminal::Options options = *target.simulated;
                options.paced = !fast;
                m_simulated.attach(target.number, std::make_shared<SimulatedTerminal>(options));
            } else {
                m_devices[target.number] = target.device;
            }
        }
    }

    std::unique_ptr<SerialPort> makePort(int number) override
    {
        return m_simulated.makePort(number);
    }
    QString describe(int number) const override { return m_simulated.describe(number); }
    std::shared_ptr<SimulatedTerminal> terminal(int number) const
    {
        return m_simulated.terminal(number);
    }

private:
    std::map<int, QString> m_devices;
    SimulatedPorts m_simulated;
};

// The questions of one port's load, answered by the options instead of a person.
class PortLoad : public QObject, public LoadPrompts
{
public:
    PortLoad(const Target &target, const Options &options)
        : m_target(target)
        , m_options(options)
    {}

    void ask(LoadSession *session, const LoadMessage &message) override
    {
        using Kind = LoadMessage::Kind;
        if (const QString text = messageText(message); !text.isEmpty())
            lastReason = text;
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

    const Target &m_target;
    const Options &m_options;
    QElapsedTimer m_cableWait;
    QString lastReason;
    std::unique_ptr<LoadSession> session;
    LinkCounters counters;
    QElapsedTimer runTime;
    QList<QJsonObject> results;
    int toldStep = -1;
    bool finished = false;
};

QJsonObject resultObject(const PortLoad &load, const LoadRun &run)
{
    return {{QStringLiteral("port"), load.m_target.name},
            {QStringLiteral("device"), load.m_target.device},
            {QStringLiteral("event"), QStringLiteral("result")},
            {QStringLiteral("outcome"), outcomeName(run.outcome)},
            {QStringLiteral("blocks"), std::min(run.counters.blocksDone, run.counters.blockCount)},
            {QStringLiteral("of"), run.counters.blockCount},
            {QStringLiteral("errors"), run.counters.errors},
            {QStringLiteral("seconds"), double(run.started.msecsTo(run.ended)) / 1000.0}};
}

// The data file named by the catalogue for a revision, version and language, by the window's
// rules. Throws CatalogueError; returns an empty name with *why set when there is none.
QString catalogueDataFile(const QString &catalogue, const Options &options, QString *why)
{
    CatalogueChoices choices(catalogue);
    const RevisionChoice revision = choices.chooseRevision(options.revision);
    if (revision.failureAfterMessage)
        throw *revision.failureAfterMessage;
    if (!revision.tabled) {
        *why = QStringLiteral("\"%1\" is no firmware revision of the catalogue")
                   .arg(options.revision);
        return {};
    }
    if (revision.message == RevisionChoice::Message::VersionNotAvailable) {
        *why = QStringLiteral("Version not available");
        return {};
    }
    const VersionRows rows = choices.versionRows(options.version, options.language);
    if (!rows.found) {
        *why = QStringLiteral("This version is not available in this language");
        return {};
    }
    return rows.dataFile;
}

class Send : public QObject
{
public:
    Send(std::vector<Target> targets, Options options, LoadRecord record)
        : m_targets(std::move(targets))
        , m_options(std::move(options))
        , m_record(std::move(record))
        , m_ports(m_targets, m_options.fast)
        , m_terminal(!m_options.json && ::isatty(STDOUT_FILENO))
    {
        m_sha256 = fileSha256(m_options.dataFile);
        for (const Target &target : m_targets)
            m_loads.push_back(std::make_unique<PortLoad>(target, m_options));
    }

    int run()
    {
        for (const std::unique_ptr<PortLoad> &load : m_loads)
            start(*load);
        if (m_terminal) {
            connect(&m_redraw, &QTimer::timeout, this, [this] { redraw(); });
            m_redraw.start(RedrawInterval);
            redraw();
        }
        watchSignals();
        const int status = QCoreApplication::exec();
        return status;
    }

private:
    void start(PortLoad &load)
    {
        LoadRequest request;
        request.revision = m_options.revision.isEmpty() ? QStringLiteral("1") : m_options.revision;
        request.versionChosen = true;
        request.versionFound = true;
        request.dataFile = m_options.dataFile;
        request.portNumber = load.m_target.number;
        request.waitForNextTerminal = m_options.again;
        const bool fast = m_options.fast && load.m_target.simulated;
        load.session = std::make_unique<LoadSession>(request,
                                                     m_ports,
                                                     load,
                                                     fast ? FastLimits : LinkLimits{});
        LoadSession *session = load.session.get();
        connect(session, &LoadSession::linkEvent, this, [this, &load](const LinkEvent &event) {
            linkEvent(load, event);
        });
        connect(session, &LoadSession::runFinished, this, [this, &load](const LoadRun &run) {
            runFinished(load, run);
        });
        connect(session, &LoadSession::finished, this, [this, &load](LoadOutcome outcome) {
            load.finished = true;
            // A load that ended before any run (nothing to load, no port) still has a result.
            if (load.results.isEmpty()) {
                LoadRun none;
                none.outcome = outcome == LoadOutcome::Stopped ? LinkOutcome::Stopped
                                                               : LinkOutcome::PortNotOpened;
                none.started = none.ended = QDateTime::currentDateTime();
                runFinished(load, none);
            }
            maybeEnd();
        });
        load.runTime.start();
        session->start();
    }

    void linkEvent(PortLoad &load, const LinkEvent &event)
    {
        if (event.counters.blockCount > 0)
            load.counters = event.counters;
        if (event.kind == LinkEvent::Kind::HeaderAccepted) {
            load.runTime.start();
            load.toldStep = 0;
        }
        if (m_options.json) {
            const LinkCounters &c = event.counters;
            QJsonObject object{{QStringLiteral("port"), load.m_target.name}};
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
                object.insert(QStringLiteral("event"), QStringLiteral("written"));
                object.insert(QStringLiteral("block"), std::min(c.blocksDone, c.blockCount));
                object.insert(QStringLiteral("of"), c.blockCount);
                break;
            default:
                return;
            }
            printJson(object);
            return;
        }
        // After a flash write error the counters run past N: the result tells the rest.
        if (!m_terminal && event.kind == LinkEvent::Kind::BlockWritten
            && event.counters.blockCount > 0
            && event.counters.blocksDone <= event.counters.blockCount) {
            const int step = std::min(event.counters.blocksDone, event.counters.blockCount)
                             * ProgressSteps / event.counters.blockCount;
            if (step > load.toldStep) {
                load.toldStep = step;
                printLine(QStringLiteral("%1 %2 %3 of %4 blocks (%5 %), %6 errors")
                              .arg(load.m_target.name, load.m_target.device)
                              .arg(std::min(event.counters.blocksDone, event.counters.blockCount))
                              .arg(event.counters.blockCount)
                              .arg(step * 100 / ProgressSteps)
                              .arg(event.counters.errors));
            }
        }
    }

    void runFinished(PortLoad &load, const LoadRun &run)
    {
        const QJsonObject result = resultObject(load, run);
        load.results.append(result);
        LoadRecordEntry entry;
        entry.started = run.started;
        entry.ended = run.ended;
        entry.user = currentUser();
        entry.host = currentHost();
        entry.port = load.m_target.name;
        entry.device = deviceWithSerial(load.m_target);
        entry.revision = m_options.revision;
        entry.version = m_options.version;
        entry.language = m_options.language;
        entry.dataFile = QFileInfo(m_options.dataFile).absoluteFilePath();
        entry.sha256 = m_sha256;
        entry.blocks = result.value(QStringLiteral("blocks")).toInt();
        entry.of = run.counters.blockCount;
        entry.errors = run.counters.errors;
        entry.outcome = outcomeName(run.outcome);
        QString why;
        if (!m_record.append(entry, &why)) {
            printError(QStringLiteral("kv402: cannot write the load record \"%1\": %2\n")
                           .arg(m_record.fileName(), why));
        }
        if (m_options.json) {
            printJson(result);
        } else if (!m_terminal) {
            printLine(QStringLiteral("%1 %2 %3: %4 of %5 blocks, %6 errors, %7 s%8")
                          .arg(load.m_target.name, load.m_target.device, entry.outcome)
                          .arg(entry.blocks)
                          .arg(entry.of)
                          .arg(entry.errors)
                          .arg(result.value(QStringLiteral("seconds")).toDouble(), 0, 'f', 1)
                          .arg(run.outcome == LinkOutcome::Completed || load.lastReason.isEmpty()
                                   ? QString()
                                   : QStringLiteral(" (%1)").arg(load.lastReason)));
        }
    }

    static QString deviceWithSerial(const Target &target)
    {
        if (target.simulated)
            return target.device;
        const PortIdentity identity = identifyDevice(target.device);
        return identity.serialNumber.isEmpty()
                   ? target.device
                   : QStringLiteral("%1 (serial %2)").arg(target.device, identity.serialNumber);
    }

    void redraw()
    {
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
            QString state = load->results.isEmpty()
                                ? left
                                : load->results.last().value(QStringLiteral("outcome")).toString();
            text += QStringLiteral("\x1b[2K%1 %2 %3 of %4 (%5 %) errors %6, %7 blocks/s %8\n")
                        .arg(load->m_target.name, -6)
                        .arg(load->m_target.device, -24)
                        .arg(done, 4)
                        .arg(c.blockCount, 4)
                        .arg(c.blockCount ? done * 100 / c.blockCount : 0, 3)
                        .arg(c.errors)
                        .arg(rate, 0, 'f', 1)
                        .arg(state);
        }
        m_drawnLines = int(m_loads.size());
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    }

    void watchSignals()
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSockets) != 0)
            return;
        auto *notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char signal = 0;
            while (::read(signalSockets[1], &signal, 1) > 0)
                m_signal = signal;
            // Every run stops and closes its port; the summary follows once all have.
            for (const std::unique_ptr<PortLoad> &load : m_loads)
                load->session->stop();
        });
        struct sigaction action = {};
        action.sa_handler = writeSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
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

    int summary()
    {
        bool allCompleted = true;
        QJsonArray results;
        for (const std::unique_ptr<PortLoad> &load : m_loads) {
            const QJsonObject last = load->results.isEmpty() ? QJsonObject() : load->results.last();
            if (last.value(QStringLiteral("outcome")).toString() != QLatin1String("completed"))
                allCompleted = false;
            for (const QJsonObject &result : load->results)
                results.append(result);
        }
        const int status = m_signal ? ExitSignalBase + m_signal : allCompleted ? Success : Failure;
        if (m_options.json) {
            int completed = 0;
            for (const QJsonValue &result : std::as_const(results))
                completed += result.toObject().value(QStringLiteral("outcome")).toString()
                             == QLatin1String("completed");
            printJson({{QStringLiteral("event"), QStringLiteral("summary")},
                       {QStringLiteral("ports"), int(m_loads.size())},
                       {QStringLiteral("loads"), results.size()},
                       {QStringLiteral("completed"), completed},
                       {QStringLiteral("exit"), status},
                       {QStringLiteral("results"), results}});
            return status;
        }
        printLine(QStringLiteral("%1 %2 %3 %4 %5 %6")
                      .arg(QStringLiteral("PORT"), -8)
                      .arg(QStringLiteral("DEVICE"), -24)
                      .arg(QStringLiteral("OUTCOME"), -24)
                      .arg(QStringLiteral("BLOCKS"), 11)
                      .arg(QStringLiteral("ERRORS"), 6)
                      .arg(QStringLiteral("SECONDS"), 8));
        for (const QJsonValue &value : std::as_const(results)) {
            const QJsonObject result = value.toObject();
            printLine(QStringLiteral("%1 %2 %3 %4 %5 %6")
                          .arg(result.value(QStringLiteral("port")).toString(), -8)
                          .arg(result.value(QStringLiteral("device")).toString(), -24)
                          .arg(result.value(QStringLiteral("outcome")).toString(), -24)
                          .arg(QStringLiteral("%1/%2")
                                   .arg(result.value(QStringLiteral("blocks")).toInt())
                                   .arg(result.value(QStringLiteral("of")).toInt()),
                               11)
                          .arg(result.value(QStringLiteral("errors")).toInt(), 6)
                          .arg(result.value(QStringLiteral("seconds")).toDouble(), 8, 'f', 1));
        }
        return status;
    }

    std::vector<Target> m_targets;
    const Options m_options;
    const LoadRecord m_record;
    TargetPorts m_ports;
    const bool m_terminal;
    QString m_sha256;
    std::vector<std::unique_ptr<PortLoad>> m_loads;
    QTimer m_redraw;
    int m_drawnLines = 0;
    int m_signal = 0;
};

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
                                      QStringLiteral("A simulated terminal: ")
                                          + terminalProfileNames().join(QStringLiteral(", ")),
                                      QStringLiteral("COMn=PROFILE"));
    const QCommandLineOption acceptBad(QStringLiteral("accept-bad-checksums"),
                                       QStringLiteral("Load records with wrong checksums."));
    const QCommandLineOption cableWait(QStringLiteral("cable-wait"),
                                       QStringLiteral("Wait this long for a cable."),
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
    parser.addHelpOption();

    if (!parser.parse(QStringList{QStringLiteral("kv402 send")} + arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        printOut(QString::fromLatin1(SendUsage) + QLatin1Char('\n') + parser.helpText());
        return Success;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected \"%1\"").arg(parser.positionalArguments().first()));

    Options options;
    options.acceptBadChecksums = parser.isSet(acceptBad);
    options.again = parser.isSet(again);
    options.json = parser.isSet(json);
    options.fast = parser.isSet(fast);
    if (parser.isSet(cableWait)) {
        bool ok = false;
        const double seconds = parser.value(cableWait).toDouble(&ok);
        if (!ok || seconds < 0)
            return usageError(QStringLiteral("--cable-wait takes a number of seconds"));
        options.cableWait = std::chrono::milliseconds(qint64(seconds * 1000));
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
    int nextNumber = FirstDeviceNumber;
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
            target = {value, *number, portDevice(*number), std::nullopt};
        } else if (name == device.names().first()) {
            // A stable path (/dev/serial/by-id/...) names the adapter whatever order it was
            // plugged in: the device it leads to is used, and named in the output.
            const NamedDevice named = resolveDevicePath(value);
            target = {value,
                      nextNumber++,
                      named.device.isEmpty() ? value : named.device,
                      std::nullopt};
        } else {
            const qsizetype equals = value.indexOf(QLatin1Char('='));
            const QString portText = value.left(equals);
            const std::optional<SimulatedTerminal::Options> profile
                = equals < 0 ? std::nullopt : terminalProfile(QStringView(value).mid(equals + 1));
            if (!portNumberOf(portText) || !profile) {
                return usageError(QStringLiteral("--simulate takes COMn=PROFILE, PROFILE one of %1")
                                      .arg(terminalProfileNames().join(QStringLiteral(", "))));
            }
            target = {portText, nextNumber++, QStringLiteral("simulated terminal"), profile};
        }
        for (const Target &other : targets) {
            if (other.name == target.name)
                return usageError(QStringLiteral("%1 is named twice").arg(target.name));
        }
        targets.push_back(target);
    }
    if (targets.empty())
        return usageError(QStringLiteral("name at least one --port, --device or --simulate"));

    if (byCatalogue) {
        options.revision = parser.value(revision);
        options.version = parser.value(version);
        options.language = parser.value(language);
        QString why;
        try {
            options.dataFile = catalogueDataFile(parser.value(catalogue), options, &why);
        } catch (const CatalogueError &error) {
            printError(QStringLiteral("kv402 send: %1\n").arg(error.message()));
            return NothingSent;
        }
        if (options.dataFile.isEmpty()) {
            printError(QStringLiteral("kv402 send: %1\n").arg(why));
            return NothingSent;
        }
    } else {
        options.dataFile = parser.value(file);
    }

    // The data file is checked once before any port is touched.
    const DataFileReading reading = readDataFile(options.dataFile);
    if (!reading.ok()) {
        printError(QStringLiteral("kv402 send: %1\n").arg(reading.failure));
        return NothingSent;
    }
    if (reading.image.blockCount() < 1) {
        printError(QStringLiteral("kv402 send: the data file \"%1\" holds no data to load\n")
                       .arg(options.dataFile));
        return NothingSent;
    }
    if (!reading.wrongChecksumLines.isEmpty() && !options.acceptBadChecksums) {
        QStringList lines;
        for (const qint64 line : reading.wrongChecksumLines.first(
                 std::min<qsizetype>(10, reading.wrongChecksumLines.size())))
            lines.append(QString::number(line));
        printError(QStringLiteral("kv402 send: the data file \"%1\" has %2 records with a wrong "
                                  "checksum (lines %3); --accept-bad-checksums loads it anyway\n")
                       .arg(options.dataFile)
                       .arg(reading.wrongChecksumLines.size())
                       .arg(lines.join(QStringLiteral(", "))));
        return NothingSent;
    }

    const LoadRecord loadRecord(parser.isSet(record) ? parser.value(record)
                                                     : LoadRecord::defaultFileName());
    Send send(std::move(targets), options, loadRecord);
    return send.run();
}

int recordCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("The record as it is."));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Loads from this date on."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("The load record."),
                                    QStringLiteral("FILE"));
    parser.addOptions({json, since, record});
    const QCommandLineOption help = addHelpOption(parser);
    const QString usage = QString::fromLatin1(RecordUsage);
    if (!parser.parse(QStringList{QStringLiteral("kv402 record")} + arguments)
        || !parser.positionalArguments().isEmpty()) {
        const QString why = parser.errorText().isEmpty()
                                ? QStringLiteral("unexpected \"%1\"")
                                      .arg(parser.positionalArguments().value(0))
                                : parser.errorText();
        printError(QStringLiteral("kv402 record: %1\n").arg(why) + usage);
        return Usage;
    }
    if (parser.isSet(help))
        return printHelp(RecordUsage, parser);
    QDateTime from;
    if (parser.isSet(since)) {
        from = QDateTime::fromString(parser.value(since), Qt::ISODate);
        if (!from.isValid())
            from = QDateTime(QDate::fromString(parser.value(since), Qt::ISODate), QTime(0, 0));
        if (!from.isValid()) {
            printError(QStringLiteral("kv402 record: --since takes a date, YYYY-MM-DD\n") + usage);
            return Usage;
        }
    }
    const LoadRecord loadRecord(parser.isSet(record) ? parser.value(record)
                                                     : LoadRecord::defaultFileName());
    QString why;
    QList<int> unreadable;
    const QList<LoadRecordEntry> entries = loadRecord.read(&why, &unreadable);
    if (!why.isEmpty()) {
        printError(QStringLiteral("kv402 record: cannot read \"%1\": %2\n")
                       .arg(loadRecord.fileName(), why));
        return Failure;
    }
    if (!unreadable.isEmpty()) {
        // A line cut short or garbled: the table goes on without it, but not unnoticed.
        QStringList numbers;
        for (const int number : std::as_const(unreadable))
            numbers.append(QString::number(number));
        printError(QStringLiteral("kv402 record: \"%1\": %2 %3 could not be read and %4 left out\n")
                       .arg(loadRecord.fileName(),
                            numbers.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"),
                            numbers.join(QStringLiteral(", ")),
                            numbers.size() == 1 ? QStringLiteral("is") : QStringLiteral("are")));
    }
    if (!parser.isSet(json)) {
        printOut(QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                     .arg(QStringLiteral("START"), -25)
                     .arg(QStringLiteral("PORT"), -8)
                     .arg(QStringLiteral("VERSION"), -10)
                     .arg(QStringLiteral("OUTCOME"), -24)
                     .arg(QStringLiteral("BLOCKS"), 11)
                     .arg(QStringLiteral("FILE")));
    }
    for (const LoadRecordEntry &entry : entries) {
        // Once the output has failed, the rest would be dropped anyway.
        if (outputState() != OutputState::Good)
            break;
        if (from.isValid() && entry.started < from)
            continue;
        if (parser.isSet(json)) {
            printOut(QString::fromUtf8(QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact))
                     + QLatin1Char('\n'));
            continue;
        }
        printOut(QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                     .arg(entry.started.toString(Qt::ISODate), -25)
                     .arg(entry.port, -8)
                     .arg(entry.version.isEmpty() ? QStringLiteral("-") : entry.version, -10)
                     .arg(entry.outcome, -24)
                     .arg(QStringLiteral("%1/%2").arg(entry.blocks).arg(entry.of), 11)
                     .arg(entry.dataFile));
    }
    return Success;
}

} // namespace Kv402::Tool
