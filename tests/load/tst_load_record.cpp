// The load record on its own: a line cut short by a full disk is taken back, a line always
// starts on a line of its own, and reading names the lines it passes over.

#include "workspace.h"

#include "load/load_record.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QUuid>

#include <csignal>

#include <sys/resource.h>

using namespace Kv402;
using Kv402::Test::Workspace;

namespace {

LoadRecordEntry entry(const QString &port)
{
    LoadRecordEntry entry;
    entry.started = QDateTime(QDate(2026, 3, 2), QTime(10, 0), Qt::OffsetFromUTC, 3600);
    entry.ended = entry.started.addSecs(40);
    entry.user = QStringLiteral("tecnico");
    entry.host = QStringLiteral("banco-3");
    entry.port = port;
    entry.device = QStringLiteral("/dev/ttyUSB0");
    entry.revision = QStringLiteral("2");
    entry.version = QStringLiteral("2.1");
    entry.language = QStringLiteral("ITA");
    entry.dataFile = QStringLiteral("/srv/kv402/KV21ITA.S28");
    entry.sha256 = QString(64, QLatin1Char('a'));
    entry.blocks = 64;
    entry.of = 64;
    entry.outcome = QStringLiteral("completed");
    return entry;
}

QByteArray line(const QString &port)
{
    return QJsonDocument(entry(port).toJson()).toJson(QJsonDocument::Compact);
}

QByteArray fileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QStringList portsOf(const QList<LoadRecordEntry> &entries)
{
    QStringList ports;
    for (const LoadRecordEntry &entry : entries)
        ports.append(entry.port);
    return ports;
}

// Files of this process may grow to a given size while it lives, as on a disk that is full.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_previous); }

    bool isSet() const { return m_set; }

private:
    rlimit m_previous = {};
    bool m_set = false;
};

} // namespace

class LoadRecordTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cutShortLineIsTakenBack_data();
    void cutShortLineIsTakenBack();
    void lineStartsOnItsOwnLine_data();
    void lineStartsOnItsOwnLine();
    void readPassesOverDamagedLines_data();
    void readPassesOverDamagedLines();
    void missingRecordIsAnError();
    void programAndUnitRoundTrip_data();
    void programAndUnitRoundTrip();
    void olderLineNamesNeither();
    void everyLineHasItsOwnIdentity();
    void bundleOnlyWhenSet_data();
    void bundleOnlyWhenSet();
};

void LoadRecordTest::initTestCase()
{
    // A write beyond the file size limit fails with EFBIG instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

void LoadRecordTest::cutShortLineIsTakenBack_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("ports");

    QTest::newRow("empty record") << QByteArray() << QStringList{};
    QTest::newRow("after a whole line") << line("COM1") + '\n' << QStringList{"COM1"};
    QTest::newRow("after a line without its end") << line("COM1") << QStringList{"COM1"};
}

void LoadRecordTest::cutShortLineIsTakenBack()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, ports);

    Workspace workspace;
    workspace.writeFile("loads.jsonl", before);
    const LoadRecord record(workspace.filePath("loads.jsonl"));
    {
        // Room for part of a line only.
        const FileSizeLimit limit(rlim_t(before.size()) + 20);
        QVERIFY(limit.isSet());
        QString why;
        QVERIFY(!record.append(entry("COM2"), &why));
        QVERIFY(!why.isEmpty());
    }
    QCOMPARE(fileBytes(record.fileName()), before);

    // The next load, with room again, is read back whole.
    QVERIFY(record.append(entry("COM3")));
    QList<int> skipped;
    QString why;
    const QList<LoadRecordEntry> entries = record.read(&why, &skipped);
    QCOMPARE(why, QString());
    QCOMPARE(portsOf(entries), ports + QStringList{"COM3"});
    QCOMPARE(skipped, QList<int>());
}

void LoadRecordTest::lineStartsOnItsOwnLine_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QList<int>>("skipped");

    QTest::newRow("whole entry without its line end")
        << line("COM1") << QStringList{"COM1", "COM2"} << QList<int>{};
    QTest::newRow("half a line") << line("COM1").left(60) << QStringList{"COM2"} << QList<int>{1};
    QTest::newRow("whole line, then half a line") << line("COM1") + '\n' + line("COM4").left(60)
                                                  << QStringList{"COM1", "COM2"} << QList<int>{2};
}

void LoadRecordTest::lineStartsOnItsOwnLine()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, ports);
    QFETCH(QList<int>, skipped);

    Workspace workspace;
    workspace.writeFile("loads.jsonl", before);
    const LoadRecord record(workspace.filePath("loads.jsonl"));
    QVERIFY(record.append(entry("COM2")));
    QVERIFY(fileBytes(record.fileName()).startsWith(before));
    QList<int> passedOver;
    QCOMPARE(portsOf(record.read(nullptr, &passedOver)), ports);
    QCOMPARE(passedOver, skipped);
}

void LoadRecordTest::readPassesOverDamagedLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QList<int>>("skipped");

    const QByteArray one = line("COM1");
    const QByteArray two = line("COM2");
    QTest::newRow("half a line, then good lines") << one.left(50) + '\n' + one + '\n' + two + '\n'
                                                  << QStringList{"COM1", "COM2"} << QList<int>{1};
    QTest::newRow("two lines glued together") << one + one.left(30) + '\n' + two + '\n'
                                              << QStringList{"COM2"} << QList<int>{1};
    QTest::newRow("last line cut short")
        << one + '\n' + two.left(70) << QStringList{"COM1"} << QList<int>{2};
    QTest::newRow("not JSON") << one + "\nPORT COM3 completed\n" + two + '\n'
                              << QStringList{"COM1", "COM2"} << QList<int>{2};
    QTest::newRow("blank lines hold nothing") << "\n" + one + "\n\n\n" + two + "\r\n"
                                              << QStringList{"COM1", "COM2"} << QList<int>{};
    QTest::newRow("empty record") << QByteArray() << QStringList{} << QList<int>{};
}

void LoadRecordTest::readPassesOverDamagedLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, ports);
    QFETCH(QList<int>, skipped);

    Workspace workspace;
    workspace.writeFile("loads.jsonl", content);
    QString why;
    QList<int> passedOver;
    const QList<LoadRecordEntry> entries = LoadRecord(workspace.filePath("loads.jsonl"))
                                               .read(&why, &passedOver);
    QCOMPARE(why, QString());
    QCOMPARE(portsOf(entries), ports);
    QCOMPARE(passedOver, skipped);
    if (!entries.isEmpty())
        QCOMPARE(entries.first().toJson(), entry(ports.first()).toJson());
}

void LoadRecordTest::missingRecordIsAnError()
{
    Workspace workspace;
    QString why;
    QVERIFY(LoadRecord(workspace.filePath("loads.jsonl")).read(&why).isEmpty());
    QVERIFY(!why.isEmpty());
}

void LoadRecordTest::programAndUnitRoundTrip_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("unitSerial");

    QTest::newRow("station, with a unit serial") << "kv402station"
                                                 << "KV402-000731";
    QTest::newRow("command line, no serial") << "kv402 send"
                                             << "";
    QTest::newRow("serial with quotes, a line end and accents") << "kv402station"
                                                                << "A\"7\nè\t1";
}

// What the record names of the program and the unit is read back as it was written, and every
// line names both, empty or not.
void LoadRecordTest::programAndUnitRoundTrip()
{
    QFETCH(QString, program);
    QFETCH(QString, unitSerial);

    Workspace workspace;
    const LoadRecord record(workspace.filePath("loads.jsonl"));
    LoadRecordEntry written = entry("COM5");
    written.program = program;
    written.unitSerial = unitSerial;
    QVERIFY(written.toJson().contains("program"));
    QVERIFY(written.toJson().contains("unitSerial"));
    QVERIFY(record.append(written));
    QVERIFY(record.append(entry("COM6")));

    QString why;
    QList<int> skipped;
    const QList<LoadRecordEntry> entries = record.read(&why, &skipped);
    QCOMPARE(why, QString());
    QCOMPARE(skipped, QList<int>());
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).program, program);
    QCOMPARE(entries.at(0).unitSerial, unitSerial);
    // The line was given its identity as it was written.
    QVERIFY(!QUuid::fromString(entries.at(0).id).isNull());
    written.id = entries.at(0).id;
    QCOMPARE(entries.at(0).toJson(), written.toJson());
    QCOMPARE(entries.at(1).program, QString());
    QCOMPARE(entries.at(1).unitSerial, QString());
}

// A line written before the record named the program and the unit reads as it did, both empty.
void LoadRecordTest::olderLineNamesNeither()
{
    Workspace workspace;
    workspace
        .writeFile("loads.jsonl",
                   R"({"blocks":64,"device":"/dev/ttyUSB0","end":"2026-03-02T10:00:40+01:00",)"
                   R"("errors":2,"file":"/srv/kv402/KV21ITA.S28","host":"banco-3","language":"ITA",)"
                   R"("of":64,"outcome":"completed","port":"COM1","revision":"2","sha256":"ab",)"
                   R"("start":"2026-03-02T10:00:00+01:00","user":"tecnico","version":"2.1"})"
                   "\n");
    const QList<LoadRecordEntry> entries = LoadRecord(workspace.filePath("loads.jsonl")).read();
    QCOMPARE(entries.size(), 1);
    const LoadRecordEntry &older = entries.first();
    QCOMPARE(older.id, QString());
    QCOMPARE(older.program, QString());
    QCOMPARE(older.unitSerial, QString());
    QCOMPARE(older.port, "COM1");
    QCOMPARE(older.errors, 2);
    QCOMPARE(older.outcome, "completed");
    QCOMPARE(older.started, QDateTime(QDate(2026, 3, 2), QTime(10, 0), Qt::OffsetFromUTC, 3600));
}

// Each line is given a UUID as it is written, the same load read again keeps it, and an entry that
// has one already (a line copied from another record) is written with it.
void LoadRecordTest::everyLineHasItsOwnIdentity()
{
    Workspace workspace;
    const LoadRecord record(workspace.filePath("loads.jsonl"));
    LoadRecordEntry copied = entry("COM3");
    copied.id = QStringLiteral("5f0c1d52-3b7e-4c3a-9d0e-2a4b6c8d0e1f");
    QVERIFY(record.append(entry("COM1")));
    QVERIFY(record.append(entry("COM1")));
    QVERIFY(record.append(copied));

    const QList<LoadRecordEntry> entries = record.read();
    QCOMPARE(entries.size(), 3);
    QVERIFY(!QUuid::fromString(entries.at(0).id).isNull());
    QVERIFY(!QUuid::fromString(entries.at(1).id).isNull());
    QVERIFY(entries.at(0).id != entries.at(1).id);
    QCOMPARE(entries.at(2).id, copied.id);
    const QList<LoadRecordEntry> again = record.read();
    QCOMPARE(again.at(0).id, entries.at(0).id);
}

void LoadRecordTest::bundleOnlyWhenSet_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("revision");

    QTest::newRow("no bundle") << "" << qint64(0);
    QTest::newRow("a bundle") << "KV402 release" << qint64(12);
    // The highest revision a manifest may carry survives the JSON number.
    QTest::newRow("highest revision") << "KV402 release" << (qint64(1) << 53);
}

// A load from a bundle names it, its revision and its manifest's hash; any other load's line has
// none of the three fields.
void LoadRecordTest::bundleOnlyWhenSet()
{
    QFETCH(QString, name);
    QFETCH(qint64, revision);

    Workspace workspace;
    const LoadRecord record(workspace.filePath("loads.jsonl"));
    LoadRecordEntry written = entry("COM2");
    written.bundle = {name, revision, name.isEmpty() ? QString() : QString(64, QLatin1Char('c'))};
    const QJsonObject json = written.toJson();
    for (const char *field : {"bundle", "bundleRevision", "bundleManifest"})
        QCOMPARE(json.contains(QLatin1String(field)), !name.isEmpty());
    QVERIFY(record.append(written));
    const QList<LoadRecordEntry> entries = record.read();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().bundle.name, name);
    QCOMPARE(entries.first().bundle.revision, revision);
    QCOMPARE(entries.first().bundle.manifestSha256, written.bundle.manifestSha256);
}

QTEST_GUILESS_MAIN(LoadRecordTest)
#include "tst_load_record.moc"
