#include "workspace.h"

#include "catalogue/catalogue_choices.h"
#include "catalogue/catalogue_db.h"
#include "catalogue/catalogue_error.h"
#include "catalogue/catalogue_sql.h"
#include "catalogue/jet_password.h"
#include "catalogue/jet_storage.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>

using namespace Kv402;
using Kv402::Test::failureOf;
using Kv402::Test::fileHash;
using Kv402::Test::Workspace;

namespace {

const QString ReferenceFile = QStringLiteral("Versioni.mdb");

// A value as the failure report shows it: null and the empty text must not look alike.
QString shown(const FieldValue &value)
{
    return value ? QLatin1Char('"') + *value + QLatin1Char('"') : QStringLiteral("NULL");
}

QString shown(const QJsonValue &value)
{
    return value.isNull() ? QStringLiteral("NULL")
                          : QLatin1Char('"') + value.toString() + QLatin1Char('"');
}

// What the damage needs of a Jet 4 file's layout.
constexpr qsizetype PageSize = 4096;
constexpr char DefinitionPage = 0x02;
constexpr char DataPage = 0x01;
// The engine's objects table, from which the list of tables comes, is defined on this page.
constexpr qsizetype ObjectsDefinition = 2;
// Of a table definition page.
constexpr qsizetype ColumnCountOffset = 45;
constexpr qsizetype UsageMapOffset = 55;
// Of a data page.
constexpr qsizetype OwnerOffset = 4;
constexpr qsizetype RowCountOffset = 12;
constexpr qsizetype RowTableOffset = 14;

quint32 littleEndian(const QByteArray &file, qsizetype at, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | quint8(file.at(at + i));
    return value;
}

// The definition page of the one table with this many columns (num has 1, Versioni1 5).
qsizetype definitionWithColumns(const QByteArray &file, int columns)
{
    QList<qsizetype> found;
    for (qsizetype page = 0; page < file.size() / PageSize; ++page) {
        if (file.at(page * PageSize) == DefinitionPage
            && littleEndian(file, page * PageSize + ColumnCountOffset, 2) == quint32(columns)) {
            found.append(page);
        }
    }
    return found.size() == 1 ? found.first() : -1;
}

QList<qsizetype> dataPagesOf(const QByteArray &file, qsizetype definition)
{
    QList<qsizetype> pages;
    for (qsizetype page = 0; page < file.size() / PageSize; ++page) {
        if (file.at(page * PageSize) == DataPage
            && littleEndian(file, page * PageSize + OwnerOffset, 4) == quint32(definition)) {
            pages.append(page);
        }
    }
    return pages;
}

// How a copy of a fixture is damaged.
enum class Damage {
    Write,     // the bytes written at the place
    Blank,     // the page at the place filled with zeros
    Cut,       // the file cut short at the place
    Empty,     // a file without content
    Fifo,      // a FIFO of the catalogue's name
    Directory, // a folder of the catalogue's name
    DevZero,   // a symbolic link to /dev/zero
};

} // namespace

Q_DECLARE_METATYPE(Damage)

class JetCatalogueTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void readsEveryFixture_data();
    void readsEveryFixture();
    void listsUserTablesInCatalogueOrder();
    void opensThroughTheCatalogue_data();
    void opensThroughTheCatalogue();
    void choicesMeetBrokenTables_data();
    void choicesMeetBrokenTables();
    void searchesLikeAnyCatalogue();
    void readingIgnoresTheEnvironment();
    void fileIsNeverWritten();
    void secondProcessCannotOpenIt();
    void dumpBuildsTheSameRows_data();
    void dumpBuildsTheSameRows();
    void damagedCopiesAreRefusedOrReadExactly_data();
    void damagedCopiesAreRefusedOrReadExactly();
    void dumpOfADamagedCatalogueFails();

private:
    QString fixture(const QString &name) const { return m_dir + QLatin1Char('/') + name; }
    // Copies a fixture into the workspace, writable, so that a write would not go unnoticed.
    QString place(const Workspace &workspace,
                  const QString &name,
                  const QString &as = ReferenceFile) const;

    // Where the rows of the catalogue differ from those the fixture's entry of expected.json
    // lists; empty when they are the same.
    QString differences(const CatalogueDatabase &catalogue, const QString &fixture) const;

    QString m_dir;
    QJsonObject m_expected;
};

void JetCatalogueTest::initTestCase()
{
    m_dir = qEnvironmentVariable("KV402_FIXTURES_DIR") + QStringLiteral("/jet");
    QFile expected(fixture(QStringLiteral("expected.json")));
    if (!expected.open(QIODevice::ReadOnly)) {
        QSKIP(qPrintable(QStringLiteral("The Jet catalogue fixtures are not in \"%1\"; set "
                                        "KV402_FIXTURES_DIR to the tests/fixtures folder.")
                             .arg(m_dir)));
    }
    QJsonParseError error;
    m_expected = QJsonDocument::fromJson(expected.readAll(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    QVERIFY(!m_expected.isEmpty());
}

QString JetCatalogueTest::place(const Workspace &workspace,
                                const QString &name,
                                const QString &as) const
{
    const QString target = workspace.filePath(as);
    QFile::remove(target);
    if (!QFile::copy(fixture(name), target))
        return {};
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

void JetCatalogueTest::readsEveryFixture_data()
{
    QTest::addColumn<QString>("file");
    for (const QString &file : m_expected.keys())
        QTest::newRow(qPrintable(file)) << file;
}

void JetCatalogueTest::readsEveryFixture()
{
    QFETCH(QString, file);
    const QJsonObject expected = m_expected.value(file).toObject();
    const QString password = expected.value(QStringLiteral("password")).toString();

    QFile head(fixture(file));
    QVERIFY(head.open(QIODevice::ReadOnly));
    const std::optional<Jet::Header> header = Jet::readHeader(head.read(Jet::HeaderBytes));
    QVERIFY(header);
    QCOMPARE(header->format, Jet::Format::Jet4);
    QCOMPARE(header->password, password);

    // Each file under its own password, so that the wrong-password file's rows are checked too.
    const JetStorage storage(fixture(file), password);
    const QJsonObject columns = expected.value(QStringLiteral("columns")).toObject();
    const QJsonObject tables = expected.value(QStringLiteral("tables")).toObject();
    QStringList names = storage.tableNames();
    names.sort();
    QCOMPARE(names, columns.keys());

    for (const QString &name : columns.keys()) {
        const TableData table = storage.readTable(name);
        QCOMPARE(table.name, name);
        QStringList expectedColumns;
        for (const QJsonValue &column : columns.value(name).toArray())
            expectedColumns.append(column.toString());
        QCOMPARE(table.columns, expectedColumns);

        const QJsonArray rows = tables.value(name).toArray();
        QCOMPARE(table.rows.size(), rows.size());
        for (qsizetype r = 0; r < rows.size(); ++r) {
            const QJsonObject expectedRow = rows.at(r).toObject();
            QStringList actual;
            QStringList wanted;
            for (qsizetype c = 0; c < table.columns.size(); ++c) {
                actual.append(shown(table.rows.at(r).at(c)));
                wanted.append(shown(expectedRow.value(table.columns.at(c))));
            }
            const QString where = QStringLiteral("%1 row %2: ").arg(name).arg(r + 1);
            QCOMPARE(where + actual.join(QLatin1Char('|')), where + wanted.join(QLatin1Char('|')));
        }
    }
}

void JetCatalogueTest::listsUserTablesInCatalogueOrder()
{
    const JetStorage storage(fixture(ReferenceFile), QStringLiteral("tqm507rw"));
    QCOMPARE(storage.tableNames(),
             (QStringList{"num", "Versioni1", "Versioni2", "Versioni3", "Versioni4", "Versioni5"}));
}

void JetCatalogueTest::opensThroughTheCatalogue_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("value");   // read when there is no failure
    QTest::addColumn<QString>("failure"); // part of the message, or empty

    QTest::newRow("reference") << "Versioni.mdb"
                               << "Versioni1"
                               << "Devices" << 5
                               << "Lettore è già pronto – ñ € ü     ||Tastiera àéìòù ÄÖÜ ß Œ ok"
                               << "";
    QTest::newRow("no password") << "no-password.mdb"
                                 << "num"
                                 << "numeri" << 1 << "3"
                                 << "";
    QTest::newRow("access 2003") << "Versioni-2003.mdb"
                                 << "Versioni1"
                                 << "File" << 4 << "data/V11ENG_B.S28"
                                 << "";
    QTest::newRow("compressed") << "Versioni-compressed.mdb"
                                << "Versioni1"
                                << "Lingua" << 5 << "Français"
                                << "";
    QTest::newRow("large") << "Versioni-large.mdb"
                           << "Versioni1"
                           << "File" << 3000 << "L3000.S28"
                           << "";
    QTest::newRow("wrong password") << "wrong-password.mdb"
                                    << "num"
                                    << "numeri" << 1 << ""
                                    << "the file is not a catalogue database, or the catalogue "
                                       "password does not open it.";
    QTest::newRow("missing table") << "missing-table.mdb"
                                   << "Versioni4"
                                   << "Versione" << 1 << ""
                                   << "has no table \"Versioni4\".";
}

void JetCatalogueTest::opensThroughTheCatalogue()
{
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QString, field);
    QFETCH(int, row);
    QFETCH(QString, value);
    QFETCH(QString, failure);

    Workspace workspace;
    QVERIFY(!place(workspace, file).isEmpty());
    TableData read;
    const QString message = failureOf(
        [&] { read = CatalogueDatabase::open(ReferenceFile)->readTable(table); });
    if (!failure.isEmpty()) {
        QVERIFY2(message.contains(failure), qPrintable(message));
        QVERIFY2(message.contains(workspace.filePath(ReferenceFile)), qPrintable(message));
        return;
    }
    QCOMPARE(message, QString());
    const int column = read.columnIndex(field);
    QVERIFY(column >= 0);
    QVERIFY(row <= read.rows.size());
    QCOMPARE(read.rows.at(row - 1).at(column), FieldValue(value));
}

void JetCatalogueTest::choicesMeetBrokenTables_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("revision"); // chosen after the revisions are listed
    QTest::addColumn<QString>("failure");  // part of the message

    QTest::newRow("empty num") << "empty-num.mdb"
                               << "1"
                               << "There are no rows in the table \"num\"";
    QTest::newRow("null field") << "null-field.mdb"
                                << "2"
                                << "The field \"File\" of row 1 is null in the table \"Versioni2\"";
}

void JetCatalogueTest::choicesMeetBrokenTables()
{
    QFETCH(QString, file);
    QFETCH(QString, revision);
    QFETCH(QString, failure);

    Workspace workspace;
    QVERIFY(!place(workspace, file).isEmpty());
    const QString message = failureOf([&] {
        CatalogueChoices choices(ReferenceFile);
        choices.revisions();
        choices.chooseRevision(revision);
    });
    QVERIFY2(message.contains(failure), qPrintable(message));
    QVERIFY2(message.contains(workspace.filePath(ReferenceFile)), qPrintable(message));
}

void JetCatalogueTest::searchesLikeAnyCatalogue()
{
    Workspace workspace;
    QVERIFY(!place(workspace, ReferenceFile).isEmpty());
    // Table and field names are found without regard to case.
    const TableData table = CatalogueDatabase::open(ReferenceFile)
                                ->readTable(QStringLiteral("versioni1"));
    const int file = table.columnIndex(QStringLiteral("file"));
    const int devices = table.columnIndex(QStringLiteral("DEVICES"));
    QVERIFY(file >= 0 && devices >= 0);
    QCOMPARE(table.rows.size(), 5);
    QCOMPARE(table.rows.at(2).at(file), FieldValue(QStringLiteral("V11ENG.S28")));
    QCOMPARE(table.rows.at(2).at(devices)->size(), 250);
    QCOMPARE(table.rows.at(3).at(file), FieldValue(QStringLiteral("data/V11ENG_B.S28")));

    // Both rows of the version in the language are found: the first names the data file, each
    // adds its five device columns.
    CatalogueChoices choices(ReferenceFile);
    choices.chooseRevision(QStringLiteral("1"));
    const VersionRows rows = choices.versionRows(QStringLiteral("1.1"), QStringLiteral("English"));
    QVERIFY(rows.found);
    QCOMPARE(rows.dataFile, QStringLiteral("V11ENG.S28"));
    QCOMPARE(rows.devices.size(), 10);
    QCOMPARE(rows.devices.at(5), QStringLiteral("KV402 terminal standard keypad"));
}

void JetCatalogueTest::readingIgnoresTheEnvironment()
{
    // libmdb takes its text conversion from these variables unless told otherwise.
    const QByteArray names[] = {"MDBICONV", "MDB_ICONV", "MDB_JET3_CHARSET"};
    for (const QByteArray &name : names)
        qputenv(name.constData(), "ISO-8859-1");
    const JetStorage storage(fixture(ReferenceFile), QStringLiteral("tqm507rw"));
    const TableData table = storage.readTable(QStringLiteral("Versioni1"));
    for (const QByteArray &name : names)
        qunsetenv(name.constData());

    QCOMPARE(table.rows.at(4).at(table.columnIndex(QStringLiteral("Lingua"))),
             FieldValue(QStringLiteral("Français")));
    QCOMPARE(table.rows.at(4).at(table.columnIndex(QStringLiteral("Devices"))),
             FieldValue(
                 QStringLiteral("Lettore è già pronto – ñ € ü     ||Tastiera àéìòù ÄÖÜ ß Œ ok")));
}

void JetCatalogueTest::fileIsNeverWritten()
{
    Workspace workspace;
    const QString path = place(workspace, ReferenceFile);
    QVERIFY(!path.isEmpty());
    const QByteArray before = fileHash(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    {
        const auto db = CatalogueDatabase::open(ReferenceFile);
        QVERIFY(!db->readTable(QStringLiteral("Versioni2")).rows.isEmpty());
        dumpCatalogue(*db);
    }
    QCOMPARE(fileHash(path), before);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
    // No lock file beside it either.
    QCOMPARE(QDir(workspace.path()).entryList(QDir::Files), QStringList{ReferenceFile});
}

void JetCatalogueTest::secondProcessCannotOpenIt()
{
    Workspace workspace;
    QVERIFY(!place(workspace, ReferenceFile).isEmpty());
    const auto held = CatalogueDatabase::open(ReferenceFile);

    QProcess other;
    other.start(QStringLiteral(KV402_TOOL), {"catalogue", "dump", ReferenceFile});
    QVERIFY(other.waitForFinished());
    QCOMPARE(other.exitStatus(), QProcess::NormalExit);
    QCOMPARE(other.exitCode(), 1);
    QVERIFY2(other.readAllStandardError().contains("in use by another program"),
             "the second process must be refused the catalogue");
}

void JetCatalogueTest::dumpBuildsTheSameRows_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("reference") << ReferenceFile;
    QTest::newRow("with a null field") << "null-field.mdb";
}

void JetCatalogueTest::dumpBuildsTheSameRows()
{
    QFETCH(QString, file);
    Workspace workspace;
    QVERIFY(!place(workspace, file).isEmpty());

    // The tool first, while this process does not hold the file.
    QProcess tool;
    tool.start(QStringLiteral(KV402_TOOL), {"catalogue", "dump", ReferenceFile});
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitCode(), 0);
    const QString toolDump = QString::fromUtf8(tool.readAllStandardOutput());

    const auto original = CatalogueDatabase::open(ReferenceFile);
    QCOMPARE(dumpCatalogue(*original), toolDump);

    workspace.buildCatalogue(toolDump, QStringLiteral("copy.mdb"));
    const auto copy = CatalogueDatabase::open(QStringLiteral("copy.mdb"));
    QCOMPARE(copy->tableNames(), original->tableNames());
    for (const QString &table : original->tableNames()) {
        const TableData a = original->readTable(table);
        const TableData b = copy->readTable(table);
        QCOMPARE(b.columns, a.columns);
        QCOMPARE(b.rows, a.rows);
    }
}

QString JetCatalogueTest::differences(const CatalogueDatabase &catalogue,
                                      const QString &fixture) const
{
    const QJsonObject expected = m_expected.value(fixture).toObject();
    const QJsonObject columns = expected.value(QStringLiteral("columns")).toObject();
    const QJsonObject tables = expected.value(QStringLiteral("tables")).toObject();
    QStringList names = catalogue.tableNames();
    names.sort();
    if (names != columns.keys())
        return QStringLiteral("tables ") + names.join(QLatin1Char(','));
    for (const QString &name : columns.keys()) {
        const TableData table = catalogue.readTable(name);
        const QJsonArray rows = tables.value(name).toArray();
        if (table.rows.size() != rows.size())
            return QStringLiteral("%1: %2 rows of %3")
                .arg(name)
                .arg(table.rows.size())
                .arg(rows.size());
        QStringList wanted;
        for (const QJsonValue &column : columns.value(name).toArray())
            wanted.append(column.toString());
        if (table.columns != wanted)
            return name + QStringLiteral(": columns ") + table.columns.join(QLatin1Char(','));
        for (qsizetype r = 0; r < rows.size(); ++r) {
            for (qsizetype c = 0; c < table.columns.size(); ++c) {
                const QJsonValue value = rows.at(r).toObject().value(table.columns.at(c));
                const FieldValue read = table.rows.at(r).at(c);
                if (shown(read) != shown(value)) {
                    return QStringLiteral("%1 row %2 %3: %4 instead of %5")
                        .arg(name)
                        .arg(r + 1)
                        .arg(table.columns.at(c), shown(read), shown(value));
                }
            }
        }
    }
    return {};
}

void JetCatalogueTest::damagedCopiesAreRefusedOrReadExactly_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<qsizetype>("place"); // an offset, or a page number for Blank
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("mustRefuse"); // false: reading the rows exactly is right too

    for (const QString name : {"Versioni.mdb", "Versioni-large.mdb"}) {
        QFile file(fixture(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        const qsizetype size = content.size();
        const qsizetype num = definitionWithColumns(content, 1);
        const qsizetype versions = definitionWithColumns(content, 5);
        QVERIFY(num > 0 && versions > 0);
        const qsizetype numData = dataPagesOf(content, num).value(0, -1);
        const QList<qsizetype> versionsData = dataPagesOf(content, versions);
        const qsizetype objectsData = dataPagesOf(content, ObjectsDefinition).value(0, -1);
        QVERIFY(numData > 0 && !versionsData.isEmpty() && objectsData > 0);
        const qsizetype versionsPage = versionsData.at(versionsData.size() / 2);

        auto row = [&](const char *damage) -> QTestData & {
            return QTest::addRow("%s: %s", qPrintable(name), damage) << name;
        };
        for (const char usage : {'\x00', '\x01', '\x05', '\x7F', '\xFF'}) {
            QTest::addRow("%s: num usage map %02x", qPrintable(name), quint8(usage))
                << name << Damage::Write << num * PageSize + UsageMapOffset << QByteArray(1, usage)
                << false;
        }
        row("num data page type") << Damage::Write << numData * PageSize << QByteArray("\x02")
                                  << false;
        row("num data page owner") << Damage::Write << numData * PageSize + OwnerOffset
                                   << QByteArray("\x05\x00", 2) << false;
        row("num data page row count") << Damage::Write << numData * PageSize + RowCountOffset
                                       << QByteArray("\xFF\xFF") << false;
        row("num first row outside the page")
            << Damage::Write << numData * PageSize + RowTableOffset << QByteArray("\xFF\x1F")
            << false;
        row("num data page blanked") << Damage::Blank << numData << QByteArray() << true;
        row("Versioni1 data page blanked") << Damage::Blank << versionsPage << QByteArray() << true;
        row("Versioni1 data page row count")
            << Damage::Write << versionsPage * PageSize + RowCountOffset
            << QByteArray("\x00\x00", 2) << true;
        row("table list page blanked") << Damage::Blank << objectsData << QByteArray() << true;
        row("cut after the first page") << Damage::Cut << PageSize << QByteArray() << true;
        row("cut at num's data page") << Damage::Cut << numData * PageSize << QByteArray() << true;
        row("cut before the last page") << Damage::Cut << size - PageSize << QByteArray() << false;
        row("cut inside the first page") << Damage::Cut << qsizetype(100) << QByteArray() << true;
        row("cut inside num's data page")
            << Damage::Cut << numData * PageSize + 100 << QByteArray() << true;
        row("cut inside the last page") << Damage::Cut << size - 1 << QByteArray() << true;
    }
    for (const auto &[what, damage] : {std::pair{"empty file", Damage::Empty},
                                       std::pair{"FIFO", Damage::Fifo},
                                       std::pair{"directory", Damage::Directory},
                                       std::pair{"link to /dev/zero", Damage::DevZero}}) {
        QTest::newRow(what) << ReferenceFile << damage << qsizetype(0) << QByteArray() << true;
    }
}

void JetCatalogueTest::damagedCopiesAreRefusedOrReadExactly()
{
    QFETCH(QString, source);
    QFETCH(Damage, damage);
    QFETCH(qsizetype, place);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, mustRefuse);

    QTemporaryDir dir;
    const QString path = dir.filePath(ReferenceFile);
    const QByteArray nativePath = QFile::encodeName(path);
    QFile original(fixture(source));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QByteArray content = original.readAll();
    switch (damage) {
    case Damage::Write:
        content.replace(place, bytes.size(), bytes);
        break;
    case Damage::Blank:
        content.replace(place * PageSize, PageSize, QByteArray(PageSize, '\0'));
        break;
    case Damage::Cut:
        content.truncate(place);
        break;
    case Damage::Empty:
        content.clear();
        break;
    case Damage::Fifo:
        QCOMPARE(::mkfifo(nativePath.constData(), 0600), 0);
        break;
    case Damage::Directory:
        QVERIFY(QDir(dir.path()).mkdir(ReferenceFile));
        break;
    case Damage::DevZero:
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        break;
    }
    if (damage <= Damage::Empty) {
        QFile copy(path);
        QVERIFY(copy.open(QIODevice::WriteOnly));
        QCOMPARE(copy.write(content), content.size());
    }
    const bool regular = damage <= Damage::Empty;

    try {
        const auto catalogue = CatalogueDatabase::open(path);
        QVERIFY2(!mustRefuse, "the damaged copy was opened");
        const QString wrong = differences(*catalogue, source);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    } catch (const CatalogueError &error) {
        QVERIFY2(error.message().contains(path), qPrintable(error.message()));
        if (regular) {
            QCOMPARE(error.kind(), CatalogueError::Kind::Damaged);
            QCOMPARE(error.message(),
                     QStringLiteral("The catalogue \"%1\" is damaged and cannot be read.").arg(path));
            QCOMPARE(error.arguments(), QStringList{path});
        } else {
            QCOMPARE(error.kind(), CatalogueError::Kind::NotRegularFile);
            QVERIFY2(error.message().endsWith(QStringLiteral(": it is not a regular file.")),
                     qPrintable(error.message()));
        }
    }
}

void JetCatalogueTest::dumpOfADamagedCatalogueFails()
{
    Workspace workspace;
    const QString path = place(workspace, QStringLiteral("Versioni-large.mdb"));
    QVERIFY(!path.isEmpty());
    // Cut inside the last data pages of Versioni1: the tables before it read well.
    QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2 + 100));

    QProcess tool;
    tool.start(QStringLiteral(KV402_TOOL), {"catalogue", "dump", ReferenceFile});
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 1);
    QCOMPARE(tool.readAllStandardOutput(), QByteArray());
    QCOMPARE(QString::fromUtf8(tool.readAllStandardError()),
             QStringLiteral("kv402: The catalogue \"%1\" is damaged and cannot be read.\n")
                 .arg(path));
}

QTEST_GUILESS_MAIN(JetCatalogueTest)
#include "tst_jet_catalogue.moc"
