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

using namespace Kv402;
using Kv402::Test::failureOf;
using Kv402::Test::fileHash;
using Kv402::Test::Workspace;

namespace {

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
    void findsMatchAsExactData();
    void openingFailures_data();
    void openingFailures();
    void readingFailures_data();
    void readingFailures();
    void unfinishedChangeIsReported_data();
    void unfinishedChangeIsReported();
    void reopeningInTheSameProcessWorks();
    void reopeningReadsAChangedFileAfresh();
    void secondProcessCannotOpenIt();
    void fileIsNeverWritten();
    void dumpBuildsTheSameRows();
    void buildFailureNamesTheLine();
};

void CatalogueDbTest::rowsComeInStoredOrder()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const auto db = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
    const auto rs = db->OpenRecordset(QStringLiteral("num"));
    QStringList values;
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext())
        values.append(rs->Fields(QStringLiteral("numeri")));
    QCOMPARE(values, (QStringList{"3", "1", "3", "2"}));
    rs->MoveNext(); // past the end stays at the end
    QVERIFY(rs->Eof());
}

void CatalogueDbTest::fieldsReadAsText()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const auto db = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
    const auto other = db->OpenRecordset(QStringLiteral("Other"));
    other->MoveFirst();
    QCOMPARE(other->Fields(QStringLiteral("x")), QStringLiteral("7"));

    // Table and field names are found without regard to case; an empty text is not null.
    const auto rs = db->OpenRecordset(QStringLiteral("versioni2"));
    rs->MoveFirst();
    rs->MoveNext();
    rs->MoveNext();
    QCOMPARE(rs->Fields(QStringLiteral("note")), QString());
}

void CatalogueDbTest::findsMatchAsExactData()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const auto db = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
    const auto rs = db->OpenRecordset(QStringLiteral("Versioni2"));

    const Criterion english{QStringLiteral("2.0"), QStringLiteral("English")};
    rs->FindFirst(english);
    QVERIFY(!rs->NoMatch());
    QCOMPARE(rs->Fields(QStringLiteral("File")), QStringLiteral("V20ENG.S28"));
    rs->FindNext(english);
    QVERIFY(!rs->NoMatch());
    QCOMPARE(rs->Fields(QStringLiteral("File")), QStringLiteral("V20ENG_B.S28"));
    rs->FindNext(english);
    QVERIFY(rs->NoMatch());

    // Apostrophes are data, not syntax.
    rs->FindFirst({QStringLiteral("l'1"), QStringLiteral("d'x")});
    QVERIFY(!rs->NoMatch());
    QCOMPARE(rs->Fields(QStringLiteral("File")), QStringLiteral("QUOTE.S28"));

    // Exact texts: neither case nor blanks are forgiven.
    rs->FindFirst({QStringLiteral("2.0"), QStringLiteral("english")});
    QVERIFY(rs->NoMatch());
    rs->FindFirst({QStringLiteral("2.0 "), QStringLiteral("English")});
    QVERIFY(rs->NoMatch());
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
        [] { CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb")); });
    QVERIFY2(message.contains(expected), qPrintable(message));
    QVERIFY2(message.contains(workspace.filePath(QStringLiteral("Versioni.mdb"))),
             qPrintable(message));
}

void CatalogueDbTest::readingFailures_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");

    QTest::newRow("missing table") << ReferenceSql << "Versioni4"
                                   << "Versione"
                                   << "has no table \"Versioni4\"";
    QTest::newRow("empty table") << "CREATE TABLE num (numeri TEXT);"
                                 << "num"
                                 << "numeri"
                                 << "There are no rows in the table \"num\"";
    QTest::newRow("missing field")
        << "CREATE TABLE num (numero TEXT); INSERT INTO num VALUES ('1');"
        << "num"
        << "numeri"
        << "There is no field \"numeri\" in the table \"num\"";
    QTest::newRow("null field") << "CREATE TABLE num (numeri TEXT); INSERT INTO num VALUES (NULL);"
                                << "num"
                                << "numeri"
                                << "The field \"numeri\" of row 1 is null in the table \"num\"";
}

void CatalogueDbTest::readingFailures()
{
    QFETCH(QString, sql);
    QFETCH(QString, table);
    QFETCH(QString, field);
    QFETCH(QString, expected);

    Workspace workspace;
    workspace.buildCatalogue(sql);
    const QString message = failureOf([&] {
        const auto db = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
        const auto rs = db->OpenRecordset(table);
        rs->MoveFirst();
        rs->Fields(field);
    });
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
        const auto db = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
        QVERIFY2(!refused, "the catalogue was opened");
        QCOMPARE(db->OpenRecordset(QStringLiteral("Versioni2"))->table().rows.size(), 5);
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
    auto held = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
    for (int i = 0; i < 3; ++i) {
        // The new one is opened while the old one is still held, then replaces it.
        auto reopened = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
        QVERIFY(reopened->OpenRecordset(QStringLiteral("num")));
        held = std::move(reopened);
    }
}

void CatalogueDbTest::reopeningReadsAChangedFileAfresh()
{
    Workspace workspace;
    workspace.buildCatalogue(
        QStringLiteral("CREATE TABLE num (numeri TEXT); INSERT INTO num VALUES ('1');"));
    const auto first = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
    QCOMPARE(first->OpenRecordset(QStringLiteral("num"))->table().rows.size(), 1);

    // Replaced while the first is still open: the next opening must not serve the old rows.
    workspace.buildCatalogue(
        QStringLiteral("CREATE TABLE num (numeri TEXT); INSERT INTO num VALUES ('1'), ('2');"));
    const auto second = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
    QCOMPARE(second->OpenRecordset(QStringLiteral("num"))->table().rows.size(), 2);
}

void CatalogueDbTest::secondProcessCannotOpenIt()
{
    Workspace workspace;
    workspace.buildCatalogue(ReferenceSql);
    const auto held = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));

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
        const auto db = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
        const auto rs = db->OpenRecordset(QStringLiteral("Versioni2"));
        rs->FindFirst({QStringLiteral("2.0"), QStringLiteral("English")});
        rs->FindNext({QStringLiteral("2.0"), QStringLiteral("English")});
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
    const auto original = CatalogueDatabase::OpenDatabase(QStringLiteral("Versioni.mdb"));
    const QString dump = dumpCatalogue(*original);

    workspace.buildCatalogue(dump, QStringLiteral("copy.mdb"));
    const auto copy = CatalogueDatabase::OpenDatabase(QStringLiteral("copy.mdb"));
    QCOMPARE(copy->tableNames(), original->tableNames());
    for (const QString &table : original->tableNames()) {
        const TableData a = original->OpenRecordset(table)->table();
        const TableData b = copy->OpenRecordset(table)->table();
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

QTEST_GUILESS_MAIN(CatalogueDbTest)
#include "tst_catalogue_db.moc"
