#include "workspace.h"

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_db.h"
#include "catalogue/catalogue_error.h"
#include "catalogue/catalogue_sql.h"
#include "catalogue/sqlcipher_storage.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>

using namespace Kv402;
using Kv402::Test::failureOf;
using Kv402::Test::fileHash;
using Kv402::Test::Workspace;

namespace {

const QString ToolTimeoutNote = QStringLiteral("the tool must end, not wait on its input");
constexpr int ToolTimeoutMs = 10000;

// A storage of tables given in memory, for tables that an SQLCipher file cannot hold.
class TablesInMemory : public CatalogueStorage
{
public:
    explicit TablesInMemory(QList<TableData> tables)
        : m_tables(std::move(tables))
    {}

    TableData readTable(const QString &table) const override
    {
        for (const TableData &data : m_tables) {
            if (data.name == table)
                return data;
        }
        throw missingTable(QStringLiteral("memory"), table);
    }
    QStringList tableNames() const override
    {
        QStringList names;
        for (const TableData &data : m_tables)
            names.append(data.name);
        return names;
    }

private:
    QList<TableData> m_tables;
};

// What the workspace holds, each entry with its kind, to see that a refused command changed
// nothing.
QStringList entriesWithKinds(const QString &path)
{
    QStringList entries;
    for (const QFileInfo &entry : QDir(path).entryInfoList(QDir::AllEntries | QDir::System
                                                           | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString kind = entry.isSymLink() ? "link"
                             : entry.isDir()   ? "folder"
                             : entry.isFile()  ? "file"
                                               : "other";
        entries.append(entry.fileName() + ':' + kind);
    }
    return entries;
}

const QString ReferenceSql = QStringLiteral(
    "CREATE TABLE num (numeri TEXT);\n"
    "INSERT INTO num VALUES ('3'), ('1'), ('3'), ('2');\n"
    "CREATE TABLE Versioni2 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT, Note TEXT);\n"
    "INSERT INTO Versioni2 VALUES ('2.0', 'Italiano', 'V20ITA.S28', 'a', 'x');\n"
    "INSERT INTO Versioni2 VALUES ('2.0', 'English', 'V20ENG.S28', 'b', NULL);\n"
    "INSERT INTO Versioni2 VALUES ('2.1', 'English', 'V21ENG.S28', 'c', '');\n"
    "INSERT INTO Versioni2 VALUES ('2.0', 'English', 'V20ENG_B.S28', 'd', 'y');\n"
    "INSERT INTO Versioni2 VALUES ('l''1', 'd''x', 'QUOTE.S28', 'e', 'z');\n"
    "CREATE TABLE Other (x INTEGER);\n"
    "INSERT INTO Other VALUES (7);\n");

} // namespace

class CatalogueDbTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsComeInStoredOrder();
    void fieldsReadAsText();
    void openingFailures_data();
    void openingFailures();
    void unfinishedChangeIsReported_data();
    void unfinishedChangeIsReported();
    void reopeningInTheSameProcessWorks();
    void reopeningReadsAChangedFileAfresh();
    void secondProcessCannotOpenIt();
    void fileIsNeverWritten();
    void dumpBuildsTheSameRows();
    void dumpKeepsEveryValue_data();
    void dumpKeepsEveryValue();
    void dumpLeavesOutWhatHoldsNoText();
    void buildFailureNamesTheLine();
    void buildRefusesScripts_data();
    void buildRefusesScripts();
    void buildPassesOverTheScriptsTransaction();
    void buildTargets_data();
    void buildTargets();
    void toolRefusesSourcesAndTargets_data();
    void toolRefusesSourcesAndTargets();
};

void CatalogueDbTest::rowsComeInStoredOrder()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const auto db = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    const TableData num = db->readTable(QStringLiteral("num"));
    QCOMPARE(num.columns, QStringList{"numeri"});
    QCOMPARE(num.rows, (QList<QList<FieldValue>>{{"3"}, {"1"}, {"3"}, {"2"}}));
}

void CatalogueDbTest::fieldsReadAsText()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const auto db = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    // A column of integers reads as text.
    QCOMPARE(db->readTable(QStringLiteral("Other")).rows, (QList<QList<FieldValue>>{{"7"}}));

    // Table and field names are found without regard to case; an empty text is not null.
    const TableData versions = db->readTable(QStringLiteral("versioni2"));
    const int note = versions.columnIndex(QStringLiteral("note"));
    QCOMPARE(note, 4);
    QCOMPARE(versions.rows.size(), 5);
    QVERIFY(!versions.rows.at(1).at(note).has_value());
    QVERIFY(versions.rows.at(2).at(note).has_value());
    QCOMPARE(*versions.rows.at(2).at(note), QString());
}

void CatalogueDbTest::openingFailures_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("missing") << QByteArray() << QByteArray() << "No such file or directory";
    QTest::newRow("not a database") << QByteArray("just some text\n") << QByteArray()
                                    << "is not a catalogue database, or the catalogue password";
    QTest::newRow("wrong password") << QByteArray() << QByteArray("another-key")
                                    << "is not a catalogue database, or the catalogue password";
    QTest::newRow("plain sqlite") << QByteArray() << QByteArray("")
                                  << "is not a catalogue database, or the catalogue password";
}

void CatalogueDbTest::openingFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, key);
    QFETCH(QString, expected);

    Workspace workspace;
    if (!content.isEmpty())
        workspace.writeFile(QStringLiteral("Versioni.mdb"), content);
    else if (!key.isNull())
        workspace.buildCatalogueWithKey(ReferenceSql, key, QStringLiteral("Versioni.mdb"));

    const QString message = failureOf(
        [] { CatalogueDatabase::open(QStringLiteral("Versioni.mdb")); });
    QVERIFY2(message.contains(expected), qPrintable(message));
    QVERIFY2(message.contains(workspace.filePath(QStringLiteral("Versioni.mdb"))),
             qPrintable(message));
}

void CatalogueDbTest::unfinishedChangeIsReported_data()
{
    QTest::addColumn<QString>("journal");    // beside Versioni.mdb
    QTest::addColumn<QByteArray>("content"); // empty: the journal of a change left unfinished
    QTest::addColumn<bool>("refused");

    QTest::newRow("change left unfinished") << "Versioni.mdb-journal" << QByteArray() << true;
    QTest::newRow("rollback journal") << "Versioni.mdb-journal" << QByteArray("x") << true;
    QTest::newRow("write-ahead log") << "Versioni.mdb-wal" << QByteArray("x") << true;
    QTest::newRow("empty journal") << "Versioni.mdb-journal" << QByteArray("") << false;
}

void CatalogueDbTest::unfinishedChangeIsReported()
{
    QFETCH(QString, journal);
    QFETCH(QByteArray, content);
    QFETCH(bool, refused);

    Workspace workspace;
    if (content.isNull()) {
        // The catalogue and its journal as a copy taken in the middle of a change.
        Workspace changing;
        changing.buildCatalogue(ReferenceSql);
        const QByteArray key(Catalogue::Password.data(), Catalogue::Password.size());
        SqlCipherConnection writer(changing.filePath("Versioni.mdb"),
                                   SqlCipherConnection::Mode::Create,
                                   key);
        writer.exec("BEGIN; DELETE FROM Versioni2;");
        QVERIFY(QFileInfo(changing.filePath(journal)).size() > 0);
        for (const QString &name : {QStringLiteral("Versioni.mdb"), journal})
            QVERIFY(QFile::copy(changing.filePath(name), workspace.filePath(name)));
    } else {
        workspace.buildCatalogue(ReferenceSql);
        workspace.writeFile(journal, content);
    }

    const QString path = workspace.filePath("Versioni.mdb");
    try {
        const auto db = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
        QVERIFY2(!refused, "the catalogue was opened");
        QCOMPARE(db->readTable(QStringLiteral("Versioni2")).rows.size(), 5);
    } catch (const CatalogueError &error) {
        QVERIFY2(refused, qPrintable(error.message()));
        QCOMPARE(error.kind(), CatalogueError::Kind::UnfinishedChange);
        QCOMPARE(error.arguments(), (QStringList{path, journal}));
        QCOMPARE(error.message(),
                 QStringLiteral("The catalogue \"%1\" has an unfinished change beside it (%2): it "
                                "was not closed properly; restore it from its source.")
                     .arg(path, journal));
    }
}

void CatalogueDbTest::reopeningInTheSameProcessWorks()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    auto held = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    for (int i = 0; i < 3; ++i) {
        // The new one is opened while the old one is still held, then replaces it.
        auto reopened = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
        QCOMPARE(reopened->readTable(QStringLiteral("num")).rows.size(), 4);
        held = std::move(reopened);
    }
}

void CatalogueDbTest::reopeningReadsAChangedFileAfresh()
{
    Workspace workspace;
    workspace.buildCatalogue(
        QStringLiteral("CREATE TABLE num (numeri TEXT); INSERT INTO num VALUES ('1');"));
    const auto first = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    QCOMPARE(first->readTable(QStringLiteral("num")).rows.size(), 1);

    // Replaced while the first is still open: the next opening must not serve the old rows.
    workspace.buildCatalogue(
        QStringLiteral("CREATE TABLE num (numeri TEXT); INSERT INTO num VALUES ('1'), ('2');"));
    const auto second = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    QCOMPARE(second->readTable(QStringLiteral("num")).rows.size(), 2);
}

void CatalogueDbTest::secondProcessCannotOpenIt()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const auto held = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));

    QProcess other;
    other.start(QStringLiteral(KV402_TOOL), {"catalogue", "dump", "Versioni.mdb"});
    QVERIFY(other.waitForFinished());
    QCOMPARE(other.exitStatus(), QProcess::NormalExit);
    QCOMPARE(other.exitCode(), 1);
    QVERIFY2(other.readAllStandardError().contains("in use by another program"),
             "the second process must be refused the catalogue");
}

void CatalogueDbTest::fileIsNeverWritten()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const QString path = workspace.filePath(QStringLiteral("Versioni.mdb"));
    const QByteArray before = fileHash(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    {
        const auto db = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
        QCOMPARE(db->readTable(QStringLiteral("Versioni2")).rows.size(), 5);
        dumpCatalogue(*db);
    }
    QCOMPARE(fileHash(path), before);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
    QCOMPARE(QDir(workspace.path()).entryList(QDir::Files), QStringList{"Versioni.mdb"});
}

void CatalogueDbTest::dumpBuildsTheSameRows()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const auto original = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    const QString dump = dumpCatalogue(*original);

    workspace.buildCatalogue(dump, QStringLiteral("copy.mdb"));
    const auto copy = CatalogueDatabase::open(QStringLiteral("copy.mdb"));
    QCOMPARE(copy->tableNames(), original->tableNames());
    for (const QString &table : original->tableNames()) {
        const TableData a = original->readTable(table);
        const TableData b = copy->readTable(table);
        QCOMPARE(b.columns, a.columns);
        QCOMPARE(b.rows, a.rows);
    }
    QCOMPARE(dumpCatalogue(*copy), dump);
}

void CatalogueDbTest::buildFailureNamesTheLine()
{
    Workspace workspace;
    const QString message = failureOf([&] {
        workspace.buildCatalogue(QStringLiteral("CREATE TABLE num (numeri TEXT);\n\n"
                                                "INSERT INTO nowhere VALUES ('1');\n"));
    });
    QVERIFY2(message.contains(QStringLiteral("line 3")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("no such table: nowhere")), qPrintable(message));
    QVERIFY(!QFile::exists(workspace.filePath(QStringLiteral("Versioni.mdb"))));
}

void CatalogueDbTest::dumpKeepsEveryValue_data()
{
    QTest::addColumn<QByteArray>("utf8"); // null: an SQL NULL
    QTest::addColumn<QString>("plain");   // must stand in the dump as it is, if not empty

    QTest::newRow("NUL within") << QByteArray("a\0b", 3) << "";
    QTest::newRow("NUL alone") << QByteArray("\0", 1) << "";
    QTest::newRow("tab") << QByteArray("a\tb") << "";
    QTest::newRow("CR") << QByteArray("a\rb") << "";
    QTest::newRow("LF at the end") << QByteArray("end\n") << "'end'";
    QTest::newRow("CR LF") << QByteArray("line\r\nnext") << "";
    QTest::newRow("quotes") << QByteArray("it's \"x\"") << "'it''s \"x\"'";
    QTest::newRow("SQL within") << QByteArray("'); DROP TABLE t; --") << "";
    QTest::newRow("non-ASCII") << QByteArray("Fran\xC3\xA7"
                                             "ais \xE2\x82\xAC \xF0\x9D\x84\x9E")
                               << "'Français € 𝄞'";
    QTest::newRow("control characters") << QByteArray("\x01\x1B\x7F\xC2\x85") << "";
    QTest::newRow("mixed") << QByteArray("'\0'\n\t\xC3\xA9", 7) << "";
    QTest::newRow("empty") << QByteArray("") << "";
    QTest::newRow("null") << QByteArray() << "";
}

void CatalogueDbTest::dumpKeepsEveryValue()
{
    QFETCH(QByteArray, utf8);
    QFETCH(QString, plain);

    // The value goes in as bytes, since the script may not hold a NUL itself.
    const QString value = utf8.isNull() ? QStringLiteral("NULL")
                                        : QStringLiteral("CAST(X'%1' AS TEXT)")
                                              .arg(QString::fromLatin1(utf8.toHex()));
    const FieldValue expected = utf8.isNull() ? FieldValue() : QString::fromUtf8(utf8);
    Workspace workspace;
    workspace.buildCatalogue(QStringLiteral("CREATE TABLE t (v TEXT, after TEXT);\n"
                                            "INSERT INTO t VALUES (%1, 'next');\n")
                                 .arg(value));
    const auto original = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    const QList<FieldValue> row{expected, QStringLiteral("next")};
    QCOMPARE(original->readTable(QStringLiteral("t")).rows, QList<QList<FieldValue>>{row});

    const QString dump = dumpCatalogue(*original);
    // Only the line ends of the statements are control characters.
    for (const QString &line : dump.split(QLatin1Char('\n'))) {
        for (const QChar character : line)
            QVERIFY2(character.category() != QChar::Other_Control, qPrintable(dump));
    }
    QVERIFY2(dump.contains(plain), qPrintable(dump));

    workspace.buildCatalogue(dump, QStringLiteral("copy.mdb"));
    const auto copy = CatalogueDatabase::open(QStringLiteral("copy.mdb"));
    QCOMPARE(copy->readTable(QStringLiteral("t")).rows, QList<QList<FieldValue>>{row});
    QCOMPARE(dumpCatalogue(*copy), dump);
}

void CatalogueDbTest::dumpLeavesOutWhatHoldsNoText()
{
    // As an Access catalogue delivers tables whose columns of pictures cannot be read as text.
    TableData pictures{"Pictures", {}, {{}, {}}, {"Photo", "Logo"}};
    TableData versions{"Versioni1", {"Versione", "File"}, {{"1.0", "V10.S28"}}, {"Photo"}};
    TableData plain{"num", {"numeri"}, {{"1"}}, {}};
    const CatalogueDatabase catalogue(QStringLiteral("memory"),
                                      std::make_shared<TablesInMemory>(
                                          QList{pictures, versions, plain}));
    QStringList notes;
    const QString dump = dumpCatalogue(catalogue, &notes);
    QCOMPARE(notes,
             (QStringList{"table \"Pictures\" left out: none of its columns (\"Photo\", \"Logo\") "
                          "holds text",
                          "columns of table \"Versioni1\" left out, as they hold no text: "
                          "\"Photo\""}));

    Workspace workspace;
    workspace.buildCatalogue(dump);
    const auto copy = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    QCOMPARE(copy->tableNames(), (QStringList{"Versioni1", "num"}));
    for (const TableData &table : {versions, plain}) {
        const TableData read = copy->readTable(table.name);
        QCOMPARE(read.columns, table.columns);
        QCOMPARE(read.rows, table.rows);
    }
}

void CatalogueDbTest::buildRefusesScripts_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("expected");

    const QByteArray start = "CREATE TABLE num (numeri TEXT);\n\n";
    const QByteArray row = "INSERT INTO num VALUES ('1');\n";
    QTest::newRow("Latin-1") << start
                                    + "INSERT INTO num VALUES ('Fran\xE7"
                                      "ais');\n"
                             << "line 3: the text is not UTF-8";
    QTest::newRow("overlong") << start + row + "-- \xC0\xAF\n"
                              << "line 4: the text is not UTF-8";
    QTest::newRow("surrogate") << start + "INSERT INTO num VALUES ('\xED\xA0\x80');"
                               << "line 3: the text is not UTF-8";
    QTest::newRow("cut short") << start + row + "INSERT INTO num VALUES ('\xE2\x82');"
                               << "line 4: the text is not UTF-8";
    QTest::newRow("NUL") << start + QByteArray("INSERT INTO num VALUES ('a\0b');\n", 33) + row
                         << "line 3: the text holds a NUL character";

    const QString keyRefused = QStringLiteral(
        "is refused: the build sets the key and the cipher settings itself");
    QTest::newRow("key") << start + "PRAGMA key = 'other';\n" + row
                         << "line 3: PRAGMA key " + keyRefused;
    QTest::newRow("key of a schema, in capitals") << start + row + "  PRAGMA MAIN.KEY='other';"
                                                  << "line 4: PRAGMA KEY " + keyRefused;
    QTest::newRow("rekey quoted") << start + "PRAGMA \"rekey\" = 'other';"
                                  << "line 3: PRAGMA rekey " + keyRefused;
    QTest::newRow("hexkey") << start + "PRAGMA hexkey = '0102';"
                            << "line 3: PRAGMA hexkey";
    QTest::newRow("hexrekey") << start + "PRAGMA hexrekey = '0102';"
                              << "line 3: PRAGMA hexrekey";
    QTest::newRow("cipher settings") << start + "PRAGMA cipher_page_size = 4096;"
                                     << "line 3: PRAGMA cipher_page_size " + keyRefused;
    QTest::newRow("cipher format") << start + "PRAGMA main.cipher_compatibility = 4;"
                                   << "line 3: PRAGMA cipher_compatibility";
    QTest::newRow("key derivation") << start + "PRAGMA kdf_iter = 1000;"
                                    << "line 3: PRAGMA kdf_iter";
    QTest::newRow("attach with a key")
        << start + "ATTACH DATABASE 'other.db' AS other KEY 'k';"
        << "line 3: ATTACH is refused: a catalogue is built in one file";
    QTest::newRow("rollback") << start + "BEGIN;\n" + row + "ROLLBACK;\n" + row
                              << "line 5: ROLLBACK is refused: the build runs in one transaction";
}

void CatalogueDbTest::buildRefusesScripts()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, expected);

    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const QString path = workspace.filePath(QStringLiteral("Versioni.mdb"));
    const QByteArray before = fileHash(path);

    const QString message = failureOf([&] { buildCatalogue(script, path); });
    QVERIFY2(message.contains(expected), qPrintable(message));
    // The earlier catalogue stays as it was, and nothing else is left behind.
    QCOMPARE(fileHash(path), before);
    QCOMPARE(QDir(workspace.path()).entryList(QDir::Files), QStringList{"Versioni.mdb"});
}

void CatalogueDbTest::buildPassesOverTheScriptsTransaction()
{
    Workspace workspace;
    workspace.buildCatalogue(QStringLiteral("BEGIN TRANSACTION;\n"
                                            "CREATE TABLE num (numeri TEXT);\n"
                                            "INSERT INTO num VALUES ('1');\n"
                                            "COMMIT;\n"
                                            "BEGIN; INSERT INTO num VALUES ('2'); END;\n"
                                            "SAVEPOINT s; INSERT INTO num VALUES ('x');\n"
                                            "ROLLBACK TO s; RELEASE s;\n"
                                            "INSERT INTO num VALUES ('3');\n"));
    const auto db = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    QCOMPARE(db->readTable(QStringLiteral("num")).rows,
             (QList<QList<FieldValue>>{{"1"}, {"2"}, {"3"}}));
}

void CatalogueDbTest::buildTargets_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("refused"); // otherwise built, through the link

    QTest::newRow("a FIFO") << "pipe" << true;
    QTest::newRow("a folder") << "folder" << true;
    QTest::newRow("a link to a FIFO") << "pipe-link" << true;
    QTest::newRow("a link to a catalogue") << "catalogue-link" << false;
}

void CatalogueDbTest::buildTargets()
{
    QFETCH(QString, target);
    QFETCH(bool, refused);

    Workspace workspace;
    QVERIFY(QDir(workspace.path()).mkdir(QStringLiteral("folder")));
    QCOMPARE(mkfifo(qPrintable(workspace.filePath(QStringLiteral("pipe"))), 0600), 0);
    QVERIFY(QFile::link(QStringLiteral("pipe"), workspace.filePath("pipe-link")));
    workspace.buildCatalogue(QStringLiteral("CREATE TABLE num (numeri TEXT);"));
    QVERIFY(QFile::link(QStringLiteral("Versioni.mdb"), workspace.filePath("catalogue-link")));
    const QStringList entries = entriesWithKinds(workspace.path());

    const QString message = failureOf([&] { workspace.buildCatalogue(ReferenceSql, target); });
    // Nothing is replaced by a plain file: a link stays a link to the file it names.
    QCOMPARE(entriesWithKinds(workspace.path()), entries);
    if (refused) {
        QVERIFY2(message.contains(QStringLiteral("is not a regular file")), qPrintable(message));
        return;
    }
    QCOMPARE(message, QString());
    const auto db = CatalogueDatabase::open(QStringLiteral("Versioni.mdb"));
    QCOMPARE(db->readTable(QStringLiteral("num")).rows.size(), 4);
}

void CatalogueDbTest::toolRefusesSourcesAndTargets_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("expected");

    const QString notRegular = QStringLiteral("it is not a regular file");
    QTest::newRow("source a FIFO") << "pipe"
                                   << "new.mdb"
                                   << "cannot read \"pipe\": " + notRegular;
    QTest::newRow("source endless") << "/dev/zero"
                                    << "new.mdb"
                                    << "cannot read \"/dev/zero\": " + notRegular;
    QTest::newRow("source a folder") << "folder"
                                     << "new.mdb"
                                     << "cannot read \"folder\": " + notRegular;
    QTest::newRow("target a device") << "source.sql"
                                     << "/dev/null"
                                     << "cannot write \"/dev/null\": " + notRegular;
    QTest::newRow("target a FIFO") << "source.sql"
                                   << "pipe"
                                   << "cannot write \"pipe\": " + notRegular;
    QTest::newRow("target a folder") << "source.sql"
                                     << "folder"
                                     << "cannot write \"folder\": " + notRegular;
    QTest::newRow("target a link to a device") << "source.sql"
                                               << "device-link"
                                               << "cannot write \"device-link\": " + notRegular;
    QTest::newRow("target the source") << "source.sql"
                                       << "source.sql"
                                       << "cannot write \"source.sql\": it is the input file";
    QTest::newRow("target the source through a link")
        << "source.sql"
        << "source-link.sql"
        << "cannot write \"source-link.sql\": it is the input file";
}

void CatalogueDbTest::toolRefusesSourcesAndTargets()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(QString, expected);

    Workspace workspace;
    workspace.writeFile(QStringLiteral("source.sql"), ReferenceSql.toUtf8());
    QVERIFY(QDir(workspace.path()).mkdir(QStringLiteral("folder")));
    QCOMPARE(mkfifo(qPrintable(workspace.filePath(QStringLiteral("pipe"))), 0600), 0);
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), workspace.filePath("device-link")));
    QVERIFY(QFile::link(QStringLiteral("source.sql"), workspace.filePath("source-link.sql")));
    const QStringList entries = entriesWithKinds(workspace.path());
    const QByteArray sourceHash = fileHash(workspace.filePath(QStringLiteral("source.sql")));

    QProcess tool;
    tool.start(QStringLiteral(KV402_TOOL), {"catalogue", "build", source, target});
    const bool ended = tool.waitForFinished(ToolTimeoutMs);
    if (!ended)
        tool.kill();
    QVERIFY2(ended, qPrintable(ToolTimeoutNote));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 1);
    const QString said = QString::fromUtf8(tool.readAllStandardError());
    QVERIFY2(said.contains(expected), qPrintable(said));

    QCOMPARE(entriesWithKinds(workspace.path()), entries);
    QCOMPARE(fileHash(workspace.filePath(QStringLiteral("source.sql"))), sourceHash);
    QVERIFY(QFileInfo(QStringLiteral("/dev/null")).isSymLink()
            || !QFileInfo(QStringLiteral("/dev/null")).isFile());
}

QTEST_GUILESS_MAIN(CatalogueDbTest)
#include "tst_catalogue_db.moc"
