// The kv402 program's command line, through the real program: the help of every command, wrong
// usage, output that cannot be written (a full disk, a reader that went away), and the load
// record as kv402 record reads it.

#include "srecord_text.h"
#include "workspace.h"

#include "cli/usage.h"
#include "load/load_record.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <functional>

#include <fcntl.h>
#include <unistd.h>

using namespace Kv402;
using Kv402::Test::Workspace;

namespace {

constexpr int Wait = 60000;

struct Run
{
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs kv402 in the C locale, so that the system's messages are the English ones.
Run kv402(
    const QStringList &arguments, const std::function<void(QProcess &)> &prepare = [](QProcess &) {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");
    process.setProcessEnvironment(environment);
    prepare(process);
    process.start(KV402_TOOL, arguments);
    if (!process.waitForFinished(Wait))
        process.kill();
    process.waitForFinished();
    Run run;
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

LoadRecordEntry entry(const QString &port)
{
    LoadRecordEntry entry;
    entry.started = QDateTime(QDate(2026, 3, 2), QTime(10, 0), Qt::OffsetFromUTC, 3600);
    entry.ended = entry.started.addSecs(40);
    entry.port = port;
    entry.version = QStringLiteral("2.1");
    entry.dataFile = QStringLiteral("/srv/kv402/KV21ITA.S28");
    entry.blocks = 64;
    entry.of = 64;
    entry.outcome = QStringLiteral("completed");
    return entry;
}

QByteArray line(const QString &port)
{
    return QJsonDocument(entry(port).toJson()).toJson(QJsonDocument::Compact);
}

} // namespace

class CommandLineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void help_data();
    void help();
    void wrongUsage_data();
    void wrongUsage();
    void outputToFullDisk_data();
    void outputToFullDisk();
    void readerGoneAway();
    void record_data();
    void record();
    void recordTableAddsProgramAndSerial();
};

void CommandLineTest::help_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("usage");

    // Every command kv402 has, and every option of send.
    const QString all = "Usage: kv402 catalogue build SOURCE.sql CATALOGUE\n"
                        "       kv402 catalogue dump CATALOGUE\n"
                        "       kv402 image DATAFILE -o OUT.bin\n"
                        "       kv402 send (--file DATA | --revision R --version V --language L "
                        "[--catalogue FILE])\n"
                        "                  (--port COMn | --device PATH | --simulate "
                        "COMn=PROFILE)...\n"
                        "                  [--accept-bad-checksums] [--cable-wait SECONDS] "
                        "[--again]\n"
                        "                  [--json] [--record FILE] [--fast]\n"
                        "       kv402 record [--json] [--since DATE] [--record FILE]\n"
                        "       kv402 record push --to URL [--record FILE]\n"
                        "       kv402 ports [--json]\n"
                        "       kv402 bundle make DIR [--name NAME] [--revision N]\n"
                        "       kv402 bundle sign DIR --key SECRETKEY [--password-fd N]\n"
                        "       kv402 bundle verify DIR|FILE.tar [--allow-older-revision]\n"
                        "       kv402 bundle install FILE.tar [DIR] [--allow-older-revision]\n"
                        "       kv402 --version\n";
    QTest::newRow("kv402 --help") << QStringList{"--help"} << all;
    QTest::newRow("kv402 -h") << QStringList{"-h"} << all;
    QTest::newRow("catalogue") << QStringList{"catalogue", "--help"} << QString(CatalogueUsage);
    QTest::newRow("catalogue dump")
        << QStringList{"catalogue", "dump", "-h"} << QString(CatalogueUsage);
    QTest::newRow("image") << QStringList{"image", "--help"} << QString(ImageUsage);
    QTest::newRow("image -o") << QStringList{"image", "-o", "out.bin", "-h"} << QString(ImageUsage);
    QTest::newRow("send") << QStringList{"send", "--help"} << QString(SendUsage);
    QTest::newRow("record") << QStringList{"record", "--help"} << QString(RecordUsage);
    QTest::newRow("record push") << QStringList{"record", "push", "--help"}
                                 << QString(RecordPushUsage);
    QTest::newRow("ports") << QStringList{"ports", "--help"} << QString(PortsUsage);
    QTest::newRow("ports -h") << QStringList{"ports", "-h"} << QString(PortsUsage);
    QTest::newRow("bundle") << QStringList{"bundle", "--help"} << QString(BundleUsage);
    QTest::newRow("bundle verify") << QStringList{"bundle", "verify", "-h"} << QString(BundleUsage);
    QTest::newRow("bundle sign") << QStringList{"bundle", "sign", "x", "--help"}
                                 << QString(BundleUsage);
}

void CommandLineTest::help()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, usage);

    const Run run = kv402(arguments);
    QVERIFY2(run.out.startsWith(usage), qPrintable(run.out));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    // Options of Qt's own have no place in a command's help.
    QVERIFY2(!run.out.contains("--help-all"), qPrintable(run.out));
    for (const QString &line : run.out.split('\n')) {
        if (line.contains("sage:"))
            QVERIFY2(line.startsWith("Usage: kv402 "), qPrintable(line));
    }
}

void CommandLineTest::wrongUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("usage");

    QTest::newRow("no command") << QStringList{} << QString::fromStdString(toolUsage());
    QTest::newRow("unknown command") << QStringList{"load"} << QString::fromStdString(toolUsage());
    QTest::newRow("catalogue") << QStringList{"catalogue", "dump"} << QString(CatalogueUsage);
    QTest::newRow("image") << QStringList{"image", "DATA.S28"} << QString(ImageUsage);
    QTest::newRow("record") << QStringList{"record", "extra"} << QString(RecordUsage);
    QTest::newRow("record push") << QStringList{"record", "push"} << QString(RecordPushUsage);
    QTest::newRow("ports, an option") << QStringList{"ports", "--all"} << QString(PortsUsage);
    QTest::newRow("ports, an argument") << QStringList{"ports", "COM1"} << QString(PortsUsage);
    QTest::newRow("bundle, no verb") << QStringList{"bundle"} << QString(BundleUsage);
    QTest::newRow("bundle, unknown verb")
        << QStringList{"bundle", "unpack"} << QString(BundleUsage);
    QTest::newRow("bundle make, two folders")
        << QStringList{"bundle", "make", "a", "b"} << QString(BundleUsage);
    QTest::newRow("bundle sign, no key")
        << QStringList{"bundle", "sign", "a"} << QString(BundleUsage);
    QTest::newRow("bundle sign, no descriptor")
        << QStringList{"bundle", "sign", "a", "--key", "k", "--password-fd", "x"}
        << QString(BundleUsage);
    QTest::newRow("bundle install, three arguments")
        << QStringList{"bundle", "install", "a.tar", "b", "c"} << QString(BundleUsage);
}

void CommandLineTest::wrongUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, usage);

    const Run run = kv402(arguments);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.endsWith(usage), qPrintable(run.err));
}

void CommandLineTest::outputToFullDisk_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("command");

    const QString catalogue = qEnvironmentVariable("KV402_FIXTURES_DIR") + "/jet/Versioni.mdb";
    QTest::newRow("catalogue dump")
        << QStringList{"catalogue", "dump", catalogue} << "kv402 catalogue";
    QTest::newRow("record") << QStringList{"record", "--record", "loads.jsonl"} << "kv402 record";
    QTest::newRow("record --json")
        << QStringList{"record", "--json", "--record", "loads.jsonl"} << "kv402 record";
    QTest::newRow("ports") << QStringList{"ports"} << "kv402 ports";
    QTest::newRow("ports --json") << QStringList{"ports", "--json"} << "kv402 ports";
    QTest::newRow("image") << QStringList{"image", "DATA.S28", "-o", "out.bin"} << "kv402 image";
    QTest::newRow("kv402 --version") << QStringList{"--version"} << "kv402";
    QTest::newRow("kv402 --help") << QStringList{"--help"} << "kv402";
    QTest::newRow("record --help") << QStringList{"record", "--help"} << "kv402 record";
    // The load itself completes and is recorded; the events that could not be written fail the
    // command all the same.
    QTest::newRow("send --json") << QStringList{"send",
                                                "--file",
                                                "DATA.S28",
                                                "--simulate",
                                                "COM1=healthy",
                                                "--fast",
                                                "--json",
                                                "--record",
                                                "loads.jsonl"}
                                 << "kv402 send";
    QTest::newRow("send") << QStringList{"send",
                                         "--file",
                                         "DATA.S28",
                                         "--simulate",
                                         "COM1=healthy",
                                         "--fast",
                                         "--record",
                                         "loads.jsonl"}
                          << "kv402 send";
}

void CommandLineTest::outputToFullDisk()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, command);

    if (!QFile::exists("/dev/full"))
        QSKIP("the system has no /dev/full to stand for a full disk");
    Workspace workspace;
    workspace.writeFile("loads.jsonl", line("COM1") + '\n' + line("COM2") + '\n');
    workspace.writeFile("DATA.S28", Kv402::Test::s2Records(0x300000, QByteArray(300, 'k')));

    const Run run = kv402(arguments,
                          [](QProcess &process) { process.setStandardOutputFile("/dev/full"); });
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, command + ": cannot write the output: No space left on device\n");
}

void CommandLineTest::readerGoneAway()
{
    // kv402 record | head -1, with head gone before the record is printed: the reading end of
    // the pipe is closed before kv402 starts.
    Workspace workspace;
    workspace.writeFile("loads.jsonl", line("COM1") + '\n' + line("COM2") + '\n');
    int ends[2];
    QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    const int writeEnd = ends[1];
    const Run run = kv402({"record", "--record", "loads.jsonl"}, [writeEnd](QProcess &process) {
        process.setChildProcessModifier([writeEnd] { ::dup2(writeEnd, STDOUT_FILENO); });
    });
    ::close(writeEnd);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QString());
}

void CommandLineTest::record_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QString>("error");

    const QByteArray one = line("COM1");
    const QByteArray two = line("COM2");
    const QByteArray halfLine = one.left(50) + '\n';
    const QString record = "kv402 record: \"loads.jsonl\": ";
    QTest::newRow("whole") << one + '\n' + two + '\n'
                           << QStringList{} << 0 << QStringList{"COM1", "COM2"} << QString();
    QTest::newRow("half a line, then good lines")
        << halfLine + one + '\n' + two + '\n'
        << QStringList{} << 0 << QStringList{"COM1", "COM2"}
        << record + "line 1 could not be read and is left out\n";
    QTest::newRow("damaged lines, as JSON")
        << one + '\n' + halfLine + two + '\n' + halfLine << QStringList{"--json"} << 0
        << QStringList{"COM1", "COM2"}
        << record + "lines 2, 4 could not be read and are left out\n";
    // A name of the record reaches the terminal as text: it neither ends the line nor moves the
    // cursor.
    const QByteArray named = line("CO\nM\x1b[2J7") + '\n';
    QTest::newRow("control characters in a name")
        << named << QStringList{} << 0 << QStringList{"CO\\x0aM\\x1b[2J7"} << QString();
    QTest::newRow("control characters in a name, as JSON")
        << named << QStringList{"--json"} << 0 << QStringList{"CO\nM\x1b[2J7"} << QString();
    QTest::newRow("no record") << QByteArray() << QStringList{} << 1 << QStringList{}
                               << "kv402 record: cannot read \"loads.jsonl\": No such file or "
                                  "directory\n";
}

void CommandLineTest::record()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, ports);
    QFETCH(QString, error);

    Workspace workspace;
    if (!content.isEmpty())
        workspace.writeFile("loads.jsonl", content);
    const Run run = kv402(QStringList{"record", "--record", "loads.jsonl"} + arguments);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.err, error);
    QStringList printed;
    for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith("START"))
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
        printed.append(document.isObject() ? document.object().value("port").toString()
                                           : line.section(' ', 1, 1, QString::SectionSkipEmpty));
    }
    QCOMPARE(printed, ports);
}

// The program and the unit serial follow the columns that were there before them, which keep
// their places; an empty field shows as "-", a name as text.
void CommandLineTest::recordTableAddsProgramAndSerial()
{
    LoadRecordEntry station = entry("COM4");
    station.program = "kv402station";
    station.unitSerial = "SN\x1b[2J42";
    Workspace workspace;
    workspace.writeFile("loads.jsonl",
                        line("COM1") + '\n'
                            + QJsonDocument(station.toJson()).toJson(QJsonDocument::Compact) + '\n');
    const Run run = kv402({"record", "--record", "loads.jsonl"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0).simplified(), "START PORT VERSION OUTCOME BLOCKS FILE PROGRAM SERIAL");
    const QString before = "2026-03-02T10:00:00+01:00 COM1     2.1        completed                "
                           "      64/64 /srv/kv402/KV21ITA.S28";
    QCOMPARE(lines.at(1), before + "  -  -");
    QCOMPARE(lines.at(2), QString(before).replace("COM1", "COM4") + "  kv402station  SN\\x1b[2J42");
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_command_line.moc"
