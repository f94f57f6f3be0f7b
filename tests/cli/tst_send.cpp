// kv402 send and kv402 record, end to end through the real program with simulated terminals:
// outcomes, exit statuses, JSON events, the record, wrong usage, and Ctrl+C during a load.

#include "srecord_text.h"
#include "workspace.h"

#include "catalogue/exclusive_hold.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

using Kv402::Test::Workspace;

namespace {

constexpr int Block = 256;
constexpr int LongWait = 60000;

QByteArray dataFile(int blocks)
{
    QByteArray data(blocks * Block, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 7 + i / Block) & 0xFF);
    return Kv402::Test::s2Records(0x300000, data);
}

struct Run
{
    int exitCode = -1;
    QList<QJsonObject> events;
    QString out;
    QString err;

    QList<QJsonObject> eventsOf(const QString &kind) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject &event : events) {
            if (event.value("event").toString() == kind)
                found.append(event);
        }
        return found;
    }
    QJsonObject resultOf(const QString &port) const
    {
        for (const QJsonObject &result : eventsOf("result")) {
            if (result.value("port").toString() == port)
                return result;
        }
        return {};
    }
};

Run parse(QProcess &process)
{
    Run run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
        if (document.isObject())
            run.events.append(document.object());
    }
    return run;
}

Run kv402(const QStringList &arguments)
{
    QProcess process;
    process.start(KV402_TOOL, arguments);
    if (!process.waitForFinished(LongWait))
        process.kill();
    process.waitForFinished();
    return parse(process);
}

QList<QJsonObject> recordLines(const QString &file)
{
    QFile record(file);
    QList<QJsonObject> lines;
    if (!record.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &line : record.readAll().split('\n')) {
        if (!line.isEmpty())
            lines.append(QJsonDocument::fromJson(line).object());
    }
    return lines;
}

// A kv402 send that runs while the test watches its JSON events and acts on them.
class Watched
{
public:
    explicit Watched(const QStringList &arguments) { m_process.start(KV402_TOOL, arguments); }
    ~Watched()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Waits until count events of this kind (and port, when given) have come.
    bool waitFor(const QString &kind, int count = 1, const QString &port = {})
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < LongWait) {
            read();
            int seen = 0;
            for (const QJsonObject &event : std::as_const(m_run.events)) {
                if (event.value("event").toString() == kind
                    && (port.isEmpty() || event.value("port").toString() == port)) {
                    ++seen;
                }
            }
            if (seen >= count)
                return true;
            if (m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(100);
        }
        return false;
    }

    Run finish()
    {
        if (!m_process.waitForFinished(LongWait))
            m_process.kill();
        m_process.waitForFinished();
        read();
        m_run.exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        m_run.err = QString::fromUtf8(m_process.readAllStandardError());
        return m_run;
    }

    QProcess &process() { return m_process; }

private:
    void read()
    {
        if (m_process.readChannel() != QProcess::StandardOutput || !m_process.isReadable())
            return;
        m_pending += m_process.readAllStandardOutput();
        qsizetype end = 0;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            m_run.out += QString::fromUtf8(line) + '\n';
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (document.isObject())
                m_run.events.append(document.object());
        }
    }

    QProcess m_process;
    QByteArray m_pending;
    Run m_run;
};

QString hexHash(const QString &file)
{
    return QString::fromLatin1(Kv402::Test::fileHash(file).toHex());
}

} // namespace

class SendTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mixedRunOnFourPorts();
    void everyPortCompleted();
    void deviceByStablePath();
    void catalogueChoice_data();
    void catalogueChoice();
    void nothingSent_data();
    void nothingSent();
    void wrongUsage_data();
    void wrongUsage();
    void noHomeForTheRecord();
    void signalStopsEveryRun_data();
    void signalStopsEveryRun();
    void recordCommand();
    void hashNamesTheBytesEachLoadSent();
    void closedOutputLetsTheLoadsEnd();
    void recordAtTheFileSizeLimit();
    void dataFileChangedAfterTheCheck_data();
    void dataFileChangedAfterTheCheck();
    void eventsInTheirOrder_data();
    void eventsInTheirOrder();
    void oneResultWhateverTheCableRetries();
    void catalogueSharedBySends();
    void namesAreShownSafely();
    void redrawFitsTheTerminal();
};

void SendTest::mixedRunOnFourPorts()
{
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(12));
    const QString record = workspace.filePath("loads.jsonl");
    const Run run = kv402({"send",
                           "--file",
                           "DATA.S28",
                           "--simulate",
                           "COM1=healthy",
                           "--simulate",
                           "COM2=no-cable",
                           "--simulate",
                           "COM3=noisy",
                           "--simulate",
                           "COM4=flash-error",
                           "--fast",
                           "--json",
                           "--record",
                           record});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));

    const QStringList ports{"COM1", "COM2", "COM3", "COM4"};
    const QStringList outcomes{"completed", "cable-not-connected", "completed", "flash-write-error"};
    for (int i = 0; i < ports.size(); ++i) {
        const QJsonObject result = run.resultOf(ports.at(i));
        QCOMPARE(result.value("outcome").toString(), outcomes.at(i));
        QCOMPARE(result.value("device").toString(), "simulated terminal");
        QVERIFY(result.contains("seconds"));
    }
    QCOMPARE(run.resultOf("COM1").value("blocks").toInt(), 12);
    QCOMPARE(run.resultOf("COM1").value("of").toInt(), 12);
    QCOMPARE(run.resultOf("COM1").value("errors").toInt(), 0);
    // The noisy line's rejected echoes, told one by one and counted in the result.
    const int rejected = int(
        std::count_if(run.events.begin(), run.events.end(), [](const QJsonObject &e) {
            return e.value("event") == "rejected" && e.value("port") == "COM3";
        }));
    QVERIFY(rejected > 0);
    QCOMPARE(run.resultOf("COM3").value("errors").toInt(), rejected);
    // The fourth block could not be written: three were.
    QCOMPARE(run.resultOf("COM4").value("blocks").toInt(), 3);

    // Every block event of COM1, in order.
    QList<int> blocks;
    for (const QJsonObject &event : run.eventsOf("block")) {
        if (event.value("port") == "COM1")
            blocks.append(event.value("block").toInt());
    }
    QCOMPARE(blocks, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    QCOMPARE(run.eventsOf("header").size(), 3);

    // The summary comes last.
    const QJsonObject summary = run.events.last();
    QCOMPARE(summary.value("event").toString(), "summary");
    QCOMPARE(summary.value("ports").toInt(), 4);
    QCOMPARE(summary.value("completed").toInt(), 2);
    QCOMPARE(summary.value("exit").toInt(), 1);

    // One record line a load, with what was loaded where.
    const QList<QJsonObject> lines = recordLines(record);
    QCOMPARE(lines.size(), 4);
    QStringList recorded;
    for (const QJsonObject &line : lines) {
        recorded.append(line.value("port").toString() + " " + line.value("outcome").toString());
        QCOMPARE(line.value("file").toString(), workspace.filePath("DATA.S28"));
        QCOMPARE(line.value("sha256").toString(),
                 QString::fromLatin1(Kv402::Test::fileHash(workspace.filePath("DATA.S28")).toHex()));
        QVERIFY(QDateTime::fromString(line.value("start").toString(), Qt::ISODate).isValid());
        QVERIFY(QDateTime::fromString(line.value("end").toString(), Qt::ISODate).isValid());
        QVERIFY(!line.value("user").toString().isEmpty());
        QVERIFY(!line.value("host").toString().isEmpty());
    }
    recorded.sort();
    QCOMPARE(recorded,
             (QStringList{"COM1 completed",
                          "COM2 cable-not-connected",
                          "COM3 completed",
                          "COM4 flash-write-error"}));
}

void SendTest::everyPortCompleted()
{
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(3));
    const Run run = kv402({"send",
                           "--file",
                           "DATA.S28",
                           "--simulate",
                           "COM1=healthy",
                           "--simulate",
                           "COM7=healthy",
                           "--fast",
                           "--record",
                           workspace.filePath("loads.jsonl")});
    QCOMPARE(run.exitCode, 0);
    // Plain lines: one at each outcome, and a summary table.
    QVERIFY2(run.out.contains("COM1 simulated terminal completed: 3 of 3 blocks, 0 errors"),
             qPrintable(run.out));
    QVERIFY(run.out.contains("PORT"));
    QVERIFY(run.out.contains("OUTCOME"));
}

// A link such as /dev/serial/by-id/... names the device it leads to; a device that is no serial
// port fails that port alone.
void SendTest::deviceByStablePath()
{
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(1));
    const QString link = workspace.filePath("usb-FTDI_FT232R_A50285BI-if00-port0");
    QVERIFY(QFile::link("/dev/null", link));
    const Run run = kv402({"send",
                           "--file",
                           "DATA.S28",
                           "--device",
                           link,
                           "--simulate",
                           "COM1=healthy",
                           "--fast",
                           "--json",
                           "--record",
                           workspace.filePath("loads.jsonl")});
    QCOMPARE(run.exitCode, 1);
    const QJsonObject result = run.resultOf(link);
    QCOMPARE(result.value("device").toString(), "/dev/null");
    QCOMPARE(result.value("outcome").toString(), "port-not-opened");
    // Said for what it is, not as the system's "Inappropriate ioctl for device".
    QCOMPARE(result.value("reason").toString(),
             "Cannot open the serial port " + link
                 + ": system error on /dev/null (it is not a serial device)");
    QCOMPARE(run.resultOf("COM1").value("outcome").toString(), "completed");
}

void SendTest::catalogueChoice_data()
{
    QTest::addColumn<QStringList>("choice");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");

    QTest::newRow("a version and language with a row")
        << QStringList{"1", "1.0", "English"} << 0 << "";
    // The English file of the version must not be loaded for Italian.
    QTest::newRow("no row in this language") << QStringList{"1", "1.0", "Italiano"} << 3
                                             << "This version is not available in this language";
    QTest::newRow("a revision without software")
        << QStringList{"2", "1.0", "English"} << 3 << "Version not available";
    QTest::newRow("no revision") << QStringList{"Version", "1.0", "English"} << 3
                                 << "is no firmware revision";
}

void SendTest::catalogueChoice()
{
    QFETCH(QStringList, choice);
    QFETCH(int, exitCode);
    QFETCH(QString, said);

    Workspace workspace;
    workspace.buildCatalogue(
        Kv402::Test::revisionTableSql({"1", "2", "Version"})
        + Kv402::Test::versionTableSql("Versioni1", {{"1.0", "English", "E.S28", "KV"}})
        + Kv402::Test::versionTableSql("Versioni2", {{"0", "0", "", ""}}));
    workspace.writeFile("E.S28", dataFile(2));
    const Run run = kv402({"send",
                           "--revision",
                           choice.at(0),
                           "--version",
                           choice.at(1),
                           "--language",
                           choice.at(2),
                           "--simulate",
                           "COM1=healthy",
                           "--fast",
                           "--json",
                           "--record",
                           workspace.filePath("loads.jsonl")});
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    if (exitCode == 0) {
        const QJsonObject line = recordLines(workspace.filePath("loads.jsonl")).value(0);
        QCOMPARE(line.value("revision").toString(), "1");
        QCOMPARE(line.value("version").toString(), "1.0");
        QCOMPARE(line.value("language").toString(), "English");
        QCOMPARE(line.value("file").toString(), workspace.filePath("E.S28"));
    } else {
        QVERIFY(run.eventsOf("header").isEmpty());
    }
}

void SendTest::nothingSent_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");

    QTest::newRow("missing file") << QByteArray() << QStringList() << 3 << "does not exist";
    QTest::newRow("malformed") << QByteArray("S2083000000102030G00\n") << QStringList() << 3
                               << "line 1";
    QTest::newRow("no data") << QByteArray("S00600004844521B\n") << QStringList() << 3 << "no data";
    const QByteArray bad = Kv402::Test::s2Record(0x300000, QByteArray(16, 'x'), 1) + "\n";
    QTest::newRow("wrong checksum refused") << bad << QStringList() << 3 << "lines 1";
    QTest::newRow("wrong checksum accepted")
        << bad << QStringList{"--accept-bad-checksums"} << 0 << "";
}

void SendTest::nothingSent()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    QFETCH(QString, said);

    Workspace workspace;
    if (!data.isNull())
        workspace.writeFile("DATA.S28", data);
    const Run run = kv402(QStringList{"send",
                                      "--file",
                                      "DATA.S28",
                                      "--simulate",
                                      "COM1=healthy",
                                      "--fast",
                                      "--json",
                                      "--record",
                                      workspace.filePath("loads.jsonl")}
                          + extra);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    if (exitCode == 3)
        QVERIFY(run.events.isEmpty());
}

void SendTest::wrongUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    // What the first line of the message names: the option, or the device named twice.
    QTest::addColumn<QString>("named");
    QTest::newRow("no port") << QStringList{"--file", "D.S28"} << "";
    QTest::newRow("no data file") << QStringList{"--port", "COM1"} << "";
    QTest::newRow("file and catalogue") << QStringList{"--file",
                                                       "D.S28",
                                                       "--revision",
                                                       "1",
                                                       "--version",
                                                       "1.0",
                                                       "--language",
                                                       "English",
                                                       "--port",
                                                       "COM1"}
                                        << "";
    QTest::newRow("catalogue half named") << QStringList{"--revision", "1", "--port", "COM1"} << "";
    QTest::newRow("no such port") << QStringList{"--file", "D.S28", "--port", "COM17"} << "COM17";
    QTest::newRow("no such profile")
        << QStringList{"--file", "D.S28", "--simulate", "COM1=grumpy"} << "--simulate";
    QTest::newRow("profile without port")
        << QStringList{"--file", "D.S28", "--simulate", "healthy"} << "--simulate";
    QTest::newRow("a port twice") << QStringList{"--file",
                                                 "D.S28",
                                                 "--port",
                                                 "COM1",
                                                 "--port",
                                                 "COM1"}
                                  << "COM1";
    QTest::newRow("cable wait not a number")
        << QStringList{"--file", "D.S28", "--port", "COM1", "--cable-wait", "soon"}
        << "--cable-wait";
    QTest::newRow("unknown option")
        << QStringList{"--file", "D.S28", "--port", "COM1", "--slow"} << "slow";
    // Values that cannot mean anything.
    for (const char *seconds : {"inf", "nan", "1e308", "-1", "86400.5"}) {
        QTest::addRow("cable wait %s", seconds)
            << QStringList{"--file", "D.S28", "--simulate", "COM1=healthy", "--cable-wait", seconds}
            << "--cable-wait";
    }
    QTest::newRow("one device as a port and a path")
        << QStringList{"--file", "D.S28", "--port", "COM1", "--device", "/dev/ttyS0"}
        << "/dev/ttyS0";
    QTest::newRow("empty device") << QStringList{"--file", "D.S28", "--device", ""} << "--device";
    QTest::newRow("empty record") << QStringList{"--file",
                                                 "D.S28",
                                                 "--simulate",
                                                 "COM1=healthy",
                                                 "--record",
                                                 ""}
                                  << "--record";
    QTest::newRow("empty file") << QStringList{"--file", "", "--simulate", "COM1=healthy"}
                                << "--file";
    QTest::newRow("simulated beyond the range")
        << QStringList{"--file", "D.S28", "--simulate", "COM65=healthy"} << "1 to 64";
    QTest::newRow("simulated with a leading zero")
        << QStringList{"--file", "D.S28", "--simulate", "COM07=healthy"} << "--simulate";
    QTest::newRow("record is the data file")
        << QStringList{"--file", "D.S28", "--simulate", "COM1=healthy", "--record", "D.S28"}
        << "--record";
    QTest::newRow("record is a folder")
        << QStringList{"--file", "D.S28", "--simulate", "COM1=healthy", "--record", "."}
        << "--record";
    QTest::newRow("record is a device")
        << QStringList{"--file", "D.S28", "--simulate", "COM1=healthy", "--record", "/dev/null"}
        << "--record";
}

void SendTest::wrongUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    Workspace workspace;
    workspace.writeFile("D.S28", dataFile(1));
    const Run run = kv402(QStringList{"send"} + arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("Usage: kv402 send"), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.section('\n', 0, 0).contains(named), qPrintable(run.err));
}

// Without a home folder the default record would be written at the root of the file system.
void SendTest::noHomeForTheRecord()
{
    Workspace workspace;
    workspace.writeFile("D.S28", dataFile(1));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("HOME");
    environment.remove("XDG_DATA_HOME");
    process.setProcessEnvironment(environment);
    process.start(KV402_TOOL, {"send", "--file", "D.S28", "--simulate", "COM1=healthy", "--fast"});
    QVERIFY(process.waitForFinished(LongWait));
    const Run run = parse(process);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("--record"), qPrintable(run.err));
    QVERIFY(!QFileInfo::exists("/.local/share/KV402Master/loads.jsonl"));
}

void SendTest::signalStopsEveryRun_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl+C") << SIGINT;
    QTest::newRow("terminate") << SIGTERM;
    // A closed terminal or a dropped remote session.
    QTest::newRow("hang-up") << SIGHUP;
}

// At the true wire time a load of 64 blocks takes 20 s: the signal comes during it.
void SendTest::signalStopsEveryRun()
{
    QFETCH(int, signal);
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(64));
    QProcess process;
    process.start(KV402_TOOL,
                  {"send",
                   "--file",
                   "DATA.S28",
                   "--simulate",
                   "COM1=healthy",
                   "--simulate",
                   "COM2=noisy",
                   "--json",
                   "--record",
                   workspace.filePath("loads.jsonl")});
    QVERIFY(process.waitForStarted());
    QByteArray seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += process.readAllStandardOutput()).contains("\"block\""), 20000);
    ::kill(process.processId(), signal);
    QVERIFY(process.waitForFinished(10000));
    const QByteArray rest = process.readAllStandardOutput();
    QProcess copy;
    Run run;
    run.exitCode = process.exitCode();
    for (const QByteArray &line : (seen + rest).split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            run.events.append(document.object());
    }
    QCOMPARE(run.exitCode, 128 + signal);
    QCOMPARE(run.resultOf("COM1").value("outcome").toString(), "stopped");
    QCOMPARE(run.resultOf("COM2").value("outcome").toString(), "stopped");
    QCOMPARE(run.events.last().value("event").toString(), "summary");
    QCOMPARE(run.events.last().value("exit").toInt(), 128 + signal);
    QCOMPARE(recordLines(workspace.filePath("loads.jsonl")).size(), 2);
}

void SendTest::recordCommand()
{
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(1));
    const QString record = workspace.filePath("loads.jsonl");
    QCOMPARE(kv402({"send",
                    "--file",
                    "DATA.S28",
                    "--simulate",
                    "COM3=healthy",
                    "--fast",
                    "--record",
                    record})
                 .exitCode,
             0);
    const Run table = kv402({"record", "--record", record});
    QCOMPARE(table.exitCode, 0);
    QVERIFY(table.out.startsWith("START"));
    QVERIFY2(table.out.contains("COM3") && table.out.contains("completed"), qPrintable(table.out));

    QVERIFY2(table.out.contains("  kv402 send  -\n"), qPrintable(table.out));

    const Run json = kv402({"record", "--json", "--record", record});
    QCOMPARE(json.events.size(), 1);
    QCOMPARE(json.events.first().value("outcome").toString(), "completed");
    // The command names itself; it takes no unit serial.
    QCOMPARE(json.events.first().value("program").toString(), "kv402 send");
    QCOMPARE(json.events.first().value("unitSerial").toString(), "");

    const Run later = kv402({"record", "--json", "--since", "2999-01-01", "--record", record});
    QCOMPARE(later.exitCode, 0);
    QVERIFY(later.events.isEmpty());
    QCOMPARE(kv402({"record", "--since", "someday", "--record", record}).exitCode, 2);
}

// Two loads on one port with the data file replaced between them: each line of the record names
// the bytes its load sent.
void SendTest::hashNamesTheBytesEachLoadSent()
{
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(3));
    const QString first = hexHash(workspace.filePath("DATA.S28"));
    const QString record = workspace.filePath("loads.jsonl");
    Watched send({"send",
                  "--file",
                  "DATA.S28",
                  "--simulate",
                  "COM1=returning",
                  "--again",
                  "--fast",
                  "--json",
                  "--record",
                  record});
    QVERIFY(send.waitFor("result"));
    // The loaded terminal goes for a second; the next one gets the new file.
    workspace.writeFile("DATA.S28", dataFile(5));
    const QString second = hexHash(workspace.filePath("DATA.S28"));
    QVERIFY(send.waitFor("result", 2));
    ::kill(send.process().processId(), SIGTERM);
    const Run run = send.finish();
    QCOMPARE(run.exitCode, 128 + SIGTERM);

    const QList<QJsonObject> lines = recordLines(record);
    QVERIFY(lines.size() >= 2);
    QCOMPARE(lines.at(0).value("outcome").toString(), "completed");
    QCOMPARE(lines.at(0).value("of").toInt(), 3);
    QCOMPARE(lines.at(0).value("sha256").toString(), first);
    QCOMPARE(lines.at(1).value("outcome").toString(), "completed");
    QCOMPARE(lines.at(1).value("of").toInt(), 5);
    QCOMPARE(lines.at(1).value("sha256").toString(), second);
}

// A reader that goes away (kv402 send ... | head -1) leaves the loads to their end, recorded.
void SendTest::closedOutputLetsTheLoadsEnd()
{
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(8));
    const QString record = workspace.filePath("loads.jsonl");
    QProcess shell;
    // As from a terminal: QProcess ignores SIGPIPE, and an ignored signal stays ignored in the
    // programs it starts.
    shell.setChildProcessModifier([] { ::signal(SIGPIPE, SIG_DFL); });
    shell.start("sh",
                {"-c",
                 "{ \"$0\" \"$@\"; echo $? > status; } | head -n 1",
                 KV402_TOOL,
                 "send",
                 "--file",
                 "DATA.S28",
                 "--simulate",
                 "COM1=healthy",
                 "--simulate",
                 "COM2=healthy",
                 "--json",
                 "--record",
                 record});
    QVERIFY(shell.waitForFinished(LongWait));
    QCOMPARE(shell.readAllStandardOutput().count('\n'), 1);
    QFile status(workspace.filePath("status"));
    QVERIFY(status.open(QIODevice::ReadOnly));
    QCOMPARE(status.readAll().trimmed(), "0");
    QVERIFY2(shell.readAllStandardError().isEmpty(), "nothing is said of the closed output");
    const QList<QJsonObject> lines = recordLines(record);
    QCOMPARE(lines.size(), 2);
    for (const QJsonObject &line : lines)
        QCOMPARE(line.value("outcome").toString(), "completed");
}

// A record at the file-size limit (ulimit -f) is a reported failure; the loads go on.
void SendTest::recordAtTheFileSizeLimit()
{
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(2));
    const QString record = workspace.filePath("loads.jsonl");
    workspace.writeFile("loads.jsonl", QByteArray(100, 'x') + '\n');
    QProcess process;
    process.setChildProcessModifier([] {
        const rlimit limit{110, 110};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    process.start(KV402_TOOL,
                  {"send",
                   "--file",
                   "DATA.S28",
                   "--simulate",
                   "COM1=healthy",
                   "--fast",
                   "--json",
                   "--record",
                   record});
    QVERIFY(process.waitForFinished(LongWait));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const Run run = parse(process);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.resultOf("COM1").value("outcome").toString(), "completed");
    QVERIFY2(run.err.contains("cannot write the load record"), qPrintable(run.err));
}

void SendTest::dataFileChangedAfterTheCheck_data()
{
    QTest::addColumn<QStringList>("profiles");
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("deleted, nothing sent")
        << QStringList{"COM1=no-cable", "COM2=no-cable"} << QByteArray() << "does not exist" << 3;
    QTest::newRow("malformed, nothing sent")
        << QStringList{"COM1=no-cable", "COM2=no-cable"} << QByteArray("S2083000000102030G00\n")
        << "line 1" << 3;
    QTest::newRow("deleted after another port loaded")
        << QStringList{"COM1=no-cable", "COM2=healthy"} << QByteArray() << "does not exist" << 1;
}

// The data file is read again by every run: one that finds it gone or malformed says so.
void SendTest::dataFileChangedAfterTheCheck()
{
    QFETCH(QStringList, profiles);
    QFETCH(QByteArray, replacement);
    QFETCH(QString, reason);
    QFETCH(int, exitCode);

    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(2));
    const QString record = workspace.filePath("loads.jsonl");
    QStringList arguments{"send",
                          "--file",
                          "DATA.S28",
                          "--cable-wait",
                          "60",
                          "--fast",
                          "--json",
                          "--record",
                          record};
    for (const QString &profile : profiles)
        arguments << "--simulate" << profile;
    Watched send(arguments);
    // Every port has read the file once: those without cable wait for it, the others loaded.
    for (const QString &profile : profiles) {
        const QString port = profile.section('=', 0, 0);
        QVERIFY(send.waitFor(profile.endsWith("no-cable") ? "waiting" : "result", 1, port));
    }
    if (replacement.isNull())
        QVERIFY(QFile::remove(workspace.filePath("DATA.S28")));
    else
        workspace.writeFile("DATA.S28", replacement);
    const Run run = send.finish();
    QCOMPARE(run.exitCode, exitCode);
    const QJsonObject result = run.resultOf("COM1");
    QCOMPARE(result.value("outcome").toString(), "data-file-unusable");
    QVERIFY2(result.value("reason").toString().contains(reason),
             qPrintable(result.value("reason").toString()));
    QVERIFY(result.value("reason").toString().contains("DATA.S28"));
    const QList<QJsonObject> lines = recordLines(record);
    QCOMPARE(lines.size(), profiles.size());
}

void SendTest::eventsInTheirOrder_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("blocks");
    // The window's message in English.
    QTest::addColumn<QString>("reason");

    QTest::newRow("completed") << "healthy"
                               << "completed" << 12 << "";
    QTest::newRow("noisy line") << "noisy"
                                << "completed" << 12 << "";
    QTest::newRow("flash write error") << "flash-error"
                                       << "flash-write-error" << 3 << "Errore su scrittura flash";
    QTest::newRow("silent terminal")
        << "silent"
        << "terminal-not-answering" << 5 << "The terminal does not answer";
    QTest::newRow("no cable") << "no-cable"
                              << "cable-not-connected" << 0
                              << "Cable not connected! Reconnect and click OK!";
}

// What a script may rely on: a header; for each block any rejected events, then its block event
// (echo accepted) and its written event (stored); a result last. After a flash write error the
// failing block has no written event.
void SendTest::eventsInTheirOrder()
{
    QFETCH(QString, profile);
    QFETCH(QString, outcome);
    QFETCH(int, blocks);
    QFETCH(QString, reason);

    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(12));
    const Run run = kv402({"send",
                           "--file",
                           "DATA.S28",
                           "--simulate",
                           "COM1=" + profile,
                           "--fast",
                           "--json",
                           "--record",
                           workspace.filePath("loads.jsonl")});
    QString order;
    int block = 0;
    bool accepted = false;
    for (const QJsonObject &event : run.events) {
        const QString kind = event.value("event").toString();
        const int number = event.value("block").toInt();
        if (kind == "header") {
            QVERIFY(order.isEmpty());
            QCOMPARE(event.value("of").toInt(), 12);
        } else if (kind == "rejected") {
            QVERIFY(!accepted);
            QCOMPARE(number, block + 1);
        } else if (kind == "block") {
            QVERIFY(!accepted);
            QCOMPARE(number, block + 1);
            accepted = true;
        } else if (kind == "written") {
            QVERIFY(accepted);
            QCOMPARE(number, block + 1);
            accepted = false;
            ++block;
        } else if (kind == "result") {
            QVERIFY(order.isEmpty() || !order.endsWith('X'));
        }
        order += kind.left(1).toUpper();
        if (kind == "result")
            order += 'X';
    }
    const QJsonObject result = run.resultOf("COM1");
    QCOMPARE(result.value("outcome").toString(), outcome);
    // Every written block is counted in the result, and no other.
    QCOMPARE(block, blocks);
    QCOMPARE(result.value("blocks").toInt(), blocks);
    QCOMPARE(result.value("of").toInt(), 12);
    QCOMPARE(result.contains("reason"), outcome != "completed");
    QCOMPARE(result.value("reason").toString(), reason);
    // The result, then the summary.
    QCOMPARE(run.events.last().value("event").toString(), "summary");
    QCOMPARE(run.events.at(run.events.size() - 2).value("event").toString(), "result");
}

// A port without cable tried again and again for a second is one load.
void SendTest::oneResultWhateverTheCableRetries()
{
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(4));
    const QString record = workspace.filePath("loads.jsonl");
    const Run run = kv402({"send",
                           "--file",
                           "DATA.S28",
                           "--simulate",
                           "COM2=no-cable",
                           "--cable-wait",
                           "1",
                           "--fast",
                           "--json",
                           "--record",
                           record});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.eventsOf("result").size(), 1);
    QCOMPARE(run.eventsOf("waiting").size(), 1);
    const QJsonObject result = run.resultOf("COM2");
    QCOMPARE(result.value("outcome").toString(), "cable-not-connected");
    QCOMPARE(result.value("of").toInt(), 4);
    QVERIFY(result.value("seconds").toDouble() >= 1.0);
    QCOMPARE(recordLines(record).size(), 1);
}

// Loads by catalogue choice run side by side; a window holding the catalogue keeps it.
void SendTest::catalogueSharedBySends()
{
    Workspace workspace;
    workspace.buildCatalogue(
        Kv402::Test::revisionTableSql({"1"})
        + Kv402::Test::versionTableSql("Versioni1", {{"1.0", "English", "E.S28", "KV"}}));
    workspace.writeFile("E.S28", dataFile(2));
    const QStringList arguments{"send",
                                "--revision",
                                "1",
                                "--version",
                                "1.0",
                                "--language",
                                "English",
                                "--simulate",
                                "COM1=healthy",
                                "--fast",
                                "--record",
                                workspace.filePath("loads.jsonl")};
    std::vector<std::unique_ptr<QProcess>> sends;
    for (int i = 0; i < 10; ++i) {
        sends.push_back(std::make_unique<QProcess>());
        sends.back()->start(KV402_TOOL, arguments);
    }
    for (const std::unique_ptr<QProcess> &send : sends) {
        QVERIFY(send->waitForFinished(LongWait));
        QVERIFY2(send->exitCode() == 0, send->readAllStandardError().constData());
    }
    QCOMPARE(recordLines(workspace.filePath("loads.jsonl")).size(), 10);

    Kv402::holdFile(workspace.filePath("Versioni.mdb"), Kv402::CatalogueHold::Exclusive);
    const Run held = kv402(arguments);
    Kv402::releaseHold(workspace.filePath("Versioni.mdb"));
    QCOMPARE(held.exitCode, 3);
    QVERIFY2(held.err.contains("in use"), qPrintable(held.err));
}

// Names with control characters cannot move the cursor or split a line of the output.
void SendTest::namesAreShownSafely()
{
    Workspace workspace;
    const QString name = QString("DA\x1b[2JTA\nX.S28");
    workspace.writeFile(name, "S2083000000102030G00\n");
    const Run run = kv402({"send",
                           "--file",
                           name,
                           "--simulate",
                           "COM1=healthy",
                           "--fast",
                           "--record",
                           workspace.filePath("loads.jsonl")});
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(!run.err.contains('\x1b'), qPrintable(run.err));
    QVERIFY2(run.err.contains("DA\\x1b[2JTA\\x0aX.S28"), qPrintable(run.err));
    QCOMPARE(run.err.count('\n'), 1);
}

// On a terminal of 40 columns every redrawn line fits in 39: a line that wraps would leave the
// cursor short of the lines it goes back over.
void SendTest::redrawFitsTheTerminal()
{
    Workspace workspace;
    workspace.writeFile("DATA.S28", dataFile(4));
    int master = -1;
    int slave = -1;
    winsize size = {};
    size.ws_col = 40;
    size.ws_row = 24;
    QVERIFY(::openpty(&master, &slave, nullptr, nullptr, &size) == 0);
    QProcess process;
    process.setChildProcessModifier([slave] { ::dup2(slave, STDOUT_FILENO); });
    process.start(KV402_TOOL,
                  {"send",
                   "--file",
                   "DATA.S28",
                   "--simulate",
                   "COM1=healthy",
                   "--simulate",
                   "COM12=noisy",
                   "--fast",
                   "--record",
                   workspace.filePath("loads.jsonl")});
    QVERIFY(process.waitForFinished(LongWait));
    ::close(slave);
    QByteArray screen;
    char buffer[4096];
    for (ssize_t got = 0; (got = ::read(master, buffer, sizeof buffer)) > 0;)
        screen.append(buffer, got);
    ::close(master);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(screen.contains("COM12"));
    int redrawn = 0;
    for (QByteArray line : screen.split('\n')) {
        line.replace("\r", "");
        // The summary table that follows is printed once, not drawn over.
        if (!line.contains("\x1b[2K"))
            continue;
        ++redrawn;
        // The cursor movements and line clearing are no characters on the screen.
        static const QRegularExpression escape("\x1b\\[[0-9]*[A-Z]");
        const QString shown = QString::fromUtf8(line).remove(escape);
        QVERIFY2(shown.size() < 40, qPrintable(shown));
    }
    QVERIFY(redrawn >= 2);
}

QTEST_GUILESS_MAIN(SendTest)
#include "tst_send.moc"
