// kv402 send and kv402 record, end to end through the real program with simulated terminals:
// outcomes, exit statuses, JSON events, the record, wrong usage, and Ctrl+C during a load.

#include "srecord_text.h"
#include "workspace.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>

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
    void signalStopsEveryRun_data();
    void signalStopsEveryRun();
    void recordCommand();
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
    QTest::newRow("no port") << QStringList{"--file", "D.S28"};
    QTest::newRow("no data file") << QStringList{"--port", "COM1"};
    QTest::newRow("file and catalogue") << QStringList{"--file",
                                                       "D.S28",
                                                       "--revision",
                                                       "1",
                                                       "--version",
                                                       "1.0",
                                                       "--language",
                                                       "English",
                                                       "--port",
                                                       "COM1"};
    QTest::newRow("catalogue half named") << QStringList{"--revision", "1", "--port", "COM1"};
    QTest::newRow("no such port") << QStringList{"--file", "D.S28", "--port", "COM17"};
    QTest::newRow("no such profile") << QStringList{"--file", "D.S28", "--simulate", "COM1=grumpy"};
    QTest::newRow("profile without port")
        << QStringList{"--file", "D.S28", "--simulate", "healthy"};
    QTest::newRow("a port twice") << QStringList{"--file",
                                                 "D.S28",
                                                 "--port",
                                                 "COM1",
                                                 "--port",
                                                 "COM1"};
    QTest::newRow("cable wait not a number")
        << QStringList{"--file", "D.S28", "--port", "COM1", "--cable-wait", "soon"};
    QTest::newRow("unknown option") << QStringList{"--file", "D.S28", "--port", "COM1", "--slow"};
}

void SendTest::wrongUsage()
{
    QFETCH(QStringList, arguments);
    const Run run = kv402(QStringList{"send"} + arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("usage: kv402 send"), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

void SendTest::signalStopsEveryRun_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl+C") << SIGINT;
    QTest::newRow("terminate") << SIGTERM;
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

    const Run json = kv402({"record", "--json", "--record", record});
    QCOMPARE(json.events.size(), 1);
    QCOMPARE(json.events.first().value("outcome").toString(), "completed");

    const Run later = kv402({"record", "--json", "--since", "2999-01-01", "--record", record});
    QCOMPARE(later.exitCode, 0);
    QVERIFY(later.events.isEmpty());
    QCOMPARE(kv402({"record", "--since", "someday", "--record", record}).exitCode, 2);
}

QTEST_GUILESS_MAIN(SendTest)
#include "tst_send.moc"
