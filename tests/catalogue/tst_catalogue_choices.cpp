#include "workspace.h"

#include "catalogue/catalogue_choices.h"

#include <QTest>

using namespace Kv402;
using Kv402::Test::Workspace;

namespace {

using Rows = QList<QStringList>;

const QString Devices50 = QStringLiteral("KV402 terminal, standard keypad  ||Barcode reader ");
const QStringList Columns50 = {"KV402 terminal, standard keypad  ", "Barcode reader ", "", "", ""};
const Rows NormalRows = {{"1.0", "Italiano", "V10ITA.S28", Devices50},
                         {"1.0", "English", "V10ENG.S28", Devices50},
                         {"1.1", "English", "V11ENG.S28", Devices50}};

// A catalogue whose revisions "1" to "5" all hold the same rows, unless given their own.
QString catalogue(const QStringList &revisions, const QMap<int, Rows> &tables = {})
{
    QString sql = Test::revisionTableSql(revisions);
    for (int n = 1; n <= 5; ++n)
        sql += Test::versionTableSql(QStringLiteral("Versioni%1").arg(n),
                                     tables.value(n, NormalRows));
    return sql;
}

// The choice as one line, so that a mismatch shows every field.
QString described(const RevisionChoice &choice)
{
    return QStringLiteral("tabled %1; versions %2 [%3]; languages %4 [%5]; clear devices %6; "
                          "rows %7 %8 %9; no devices %10; clear ports %11; discover %12; "
                          "message %13; failure %14")
        .arg(choice.tabled)
        .arg(choice.versions.entries.join('|'))
        .arg(choice.versions.selected)
        .arg(choice.languages.entries.join('|'))
        .arg(choice.languages.selected)
        .arg(choice.clearDevices)
        .arg(choice.rows.found)
        .arg(choice.rows.dataFile)
        .arg(choice.rows.devices.join('|'))
        .arg(choice.noDevices)
        .arg(choice.clearPorts)
        .arg(choice.discoverPorts)
        .arg(int(choice.message))
        .arg(choice.failureAfterMessage ? choice.failureAfterMessage->message() : QString());
}

CatalogueError::Kind kindOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const CatalogueError &error) {
        return error.kind();
    }
    return CatalogueError::Kind(-1);
}

} // namespace

class CatalogueChoicesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void revisionsInFirstOccurrenceOrder_data();
    void revisionsInFirstOccurrenceOrder();
    void revisionTable_data();
    void revisionTable();
    void versionRows_data();
    void versionRows();
    void failureAfterTheMessageComesAfterIt();
    void revisionChosenAgainWhileHeld();
    void failuresHaveKinds_data();
    void failuresHaveKinds();
};

void CatalogueChoicesTest::revisionsInFirstOccurrenceOrder_data()
{
    QTest::addColumn<QStringList>("num");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("repeated") << QStringList{"3", "1", "3", "2"} << QStringList{"3", "1", "2"};
    QTest::newRow("letter case differs")
        << QStringList{"Version", "version", "Version"} << QStringList{"Version", "version"};
    QTest::newRow("empty text is a revision") << QStringList{"", "1", ""} << QStringList{"", "1"};
}

void CatalogueChoicesTest::revisionsInFirstOccurrenceOrder()
{
    QFETCH(QStringList, num);
    QFETCH(QStringList, listed);
    Workspace workspace;
    workspace.buildCatalogue(catalogue(num));
    QCOMPARE(CatalogueChoices(workspace.filePath("Versioni.mdb")).revisions(), listed);
}

void CatalogueChoicesTest::revisionTable_data()
{
    QTest::addColumn<QString>("revision");
    QTest::addColumn<Rows>("rows"); // of the revision's table
    QTest::addColumn<QString>("expected");

    const QString noSoftware = "tabled 1; versions  [-1]; languages  [-1]; clear devices 1; rows "
                               "0  ; no devices 1; clear ports 1; discover 0; message 1; failure ";
    const Rows zeroZero = {{"0", "0", "", ""}, {"3.0", "English", "V30ENG.S28", Devices50}};
    for (const char *revision : {"1", "2", "3", "4", "5"})
        QTest::addRow("%s, first row 0/0", revision) << revision << zeroZero << noSoftware;

    const Rows zeroItaliano = {{"0", "Italiano", "V40ITA.S28", Devices50},
                               {"4.0", "English", "V40ENG.S28", Devices50}};
    QTest::newRow("2, first row 0/Italiano: the languages are listed")
        << "2" << zeroItaliano
        << "tabled 1; versions  [-1]; languages Italiano|English [0]; clear devices 1; rows 0  ; "
           "no devices 1; clear ports 1; discover 0; message 1; failure ";
    QTest::newRow("5, first row 0/Italiano: no languages") << "5" << zeroItaliano << noSoftware;

    const Rows languageZero = {{"1.0", "0", "V50.S28", Devices50},
                               {"5.1", "English", "V51ENG.S28", ""}};
    const QString columns = Columns50.join('|');
    QTest::newRow("5, first language 0 stays and the ports are tried")
        << "5" << languageZero
        << "tabled 1; versions 1.0|5.1 [0]; languages 0|English [0]; clear devices 1; rows 1 "
           "V50.S28 "
               + columns + "; no devices 0; clear ports 1; discover 1; message 0; failure ";
    QTest::newRow("3, first language 0 is emptied after its devices")
        << "3" << languageZero
        << "tabled 1; versions 1.0|5.1 [0]; languages  [-1]; clear devices 1; rows 1 V50.S28 "
               + columns + "; no devices 1; clear ports 1; discover 0; message 0; failure ";
    QTest::newRow("2, distinct in first-row order")
        << "2" << NormalRows
        << "tabled 1; versions 1.0|1.1 [0]; languages Italiano|English [0]; clear devices 1; "
           "rows 1 V10ITA.S28 "
               + columns + "; no devices 0; clear ports 1; discover 1; message 0; failure ";
    QTest::newRow("Version: no revision")
        << "Version" << NormalRows
        << "tabled 0; versions  [-1]; languages  [-1]; clear devices 1; rows 0  ; no devices 1; "
           "clear ports 1; discover 0; message 0; failure ";
    const QString selectsNothing = "tabled 0; versions  [-1]; languages  [-1]; clear devices 0; "
                                   "rows 0  ; no devices 1; clear ports 0; discover 0; message "
                                   "0; failure ";
    QTest::newRow("6 selects nothing") << "6" << NormalRows << selectsNothing;
    QTest::newRow("version: the comparison is exact") << "version" << NormalRows << selectsNothing;
    QTest::newRow("01 is not 1") << "01" << NormalRows << selectsNothing;
}

void CatalogueChoicesTest::revisionTable()
{
    QFETCH(QString, revision);
    QFETCH(Rows, rows);
    QFETCH(QString, expected);

    Workspace workspace;
    const int table = revision.toInt();
    workspace.buildCatalogue(catalogue({revision}, {{table, rows}}));
    CatalogueChoices choices(workspace.filePath("Versioni.mdb"));
    QCOMPARE(described(choices.chooseRevision(revision)), expected);
}

void CatalogueChoicesTest::versionRows_data()
{
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("dataFile");
    QTest::addColumn<QStringList>("devices");

    QTest::newRow("two rows of one pair: ten entries, first file")
        << Rows{{"1.0", "English", "A.S28", "first"},
                {"1.0", "Italiano", "B.S28", "other"},
                {"1.0", "English", "C.S28", Devices50}}
        << "1.0"
        << "English" << true << "A.S28" << QStringList{"first", "", "", "", ""} + Columns50;
    QTest::newRow("no row in that language") << NormalRows << "1.1"
                                             << "Italiano" << false << "" << QStringList();
    QTest::newRow("letter case counts") << NormalRows << "1.0"
                                        << "english" << false << "" << QStringList();
    QTest::newRow("a blank more counts") << NormalRows << "1.0 "
                                         << "English" << false << "" << QStringList();
    QTest::newRow("quotes are data")
        << Rows{{"1.0' OR '1'='1", "English", "Q.S28", "quoted"}, NormalRows.at(1)}
        << "1.0' OR '1'='1"
        << "English" << true << "Q.S28" << QStringList{"quoted", "", "", "", ""};
    QTest::newRow("apostrophes in both")
        << Rows{NormalRows.at(0), {"l'1", "d'x", "QUOTE.S28", "quoted"}} << "l'1"
        << "d'x" << true << "QUOTE.S28" << QStringList{"quoted", "", "", "", ""};
}

void CatalogueChoicesTest::versionRows()
{
    QFETCH(Rows, rows);
    QFETCH(QString, version);
    QFETCH(QString, language);
    QFETCH(bool, found);
    QFETCH(QString, dataFile);
    QFETCH(QStringList, devices);

    Workspace workspace;
    workspace.buildCatalogue(catalogue({"1"}, {{1, rows}}));
    CatalogueChoices choices(workspace.filePath("Versioni.mdb"));
    choices.chooseRevision("1");
    const VersionRows result = choices.versionRows(version, language);
    QCOMPARE(result.found, found);
    QCOMPARE(result.dataFile, dataFile);
    QCOMPARE(result.devices, devices);
}

void CatalogueChoicesTest::failureAfterTheMessageComesAfterIt()
{
    // The languages are read after "Version not available": a null language fails after it. With
    // software in the first row the same failure comes with no message before it.
    Workspace workspace;
    workspace.buildCatalogue(
        Test::revisionTableSql({"1", "2"})
        + "CREATE TABLE Versioni1 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);"
          "INSERT INTO Versioni1 VALUES ('0', 'English', '', '');"
          "INSERT INTO Versioni1 VALUES ('1.0', NULL, 'A.S28', '');"
          "CREATE TABLE Versioni2 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);"
          "INSERT INTO Versioni2 VALUES ('2.0', 'English', 'B.S28', '');"
          "INSERT INTO Versioni2 VALUES ('2.1', NULL, 'C.S28', '');");
    const QString path = workspace.filePath("Versioni.mdb");
    CatalogueChoices choices(path);

    const RevisionChoice choice = choices.chooseRevision("1");
    QCOMPARE(choice.message, RevisionChoice::Message::VersionNotAvailable);
    QVERIFY(choice.failureAfterMessage);
    QCOMPARE(choice.failureAfterMessage->kind(), CatalogueError::Kind::NullField);
    QCOMPARE(choice.failureAfterMessage->arguments(),
             (QStringList{path, "Versioni1", "Lingua", "2"}));
    QCOMPARE(choice.failureAfterMessage->message(),
             QString("The field \"Lingua\" of row 2 is null in the table \"Versioni1\" of the "
                     "catalogue \"%1\".")
                 .arg(path));

    QCOMPARE(kindOf([&] { choices.chooseRevision("2"); }), CatalogueError::Kind::NullField);
}

void CatalogueChoicesTest::revisionChosenAgainWhileHeld()
{
    Workspace workspace;
    workspace.buildCatalogue(catalogue({"1", "2"}));
    CatalogueChoices choices(workspace.filePath("Versioni.mdb"));
    for (const char *revision : {"1", "2", "1", "1"})
        QVERIFY(choices.chooseRevision(revision).discoverPorts);
    // "Version" and other texts keep the table of the revision before.
    choices.chooseRevision("2");
    choices.chooseRevision("Version");
    choices.chooseRevision("6");
    QCOMPARE(choices.versionRows("1.1", "English").dataFile, "V11ENG.S28");
}

void CatalogueChoicesTest::failuresHaveKinds_data()
{
    QTest::addColumn<QString>("sql"); // empty: no catalogue at all
    QTest::addColumn<QString>("revision");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("arguments"); // after the catalogue
    QTest::addColumn<QString>("message");       // %1 the catalogue

    using Kind = CatalogueError::Kind;
    QTest::newRow("no catalogue") << ""
                                  << "" << int(Kind::CannotOpen)
                                  << QStringList{"No such file or directory"}
                                  << "Cannot open the catalogue \"%1\": No such file or directory.";
    QTest::newRow("no num") << Test::versionTableSql("Versioni1", NormalRows) << ""
                            << int(Kind::MissingTable) << QStringList{"num"}
                            << "The catalogue \"%1\" has no table \"num\".";
    QTest::newRow("num without rows")
        << "CREATE TABLE num (numeri TEXT);" + Test::versionTableSql("Versioni1", NormalRows) << ""
        << int(Kind::NoRows) << QStringList{"num"}
        << "There are no rows in the table \"num\" of the catalogue \"%1\".";
    QTest::newRow("num without numeri")
        << "CREATE TABLE num (n TEXT); INSERT INTO num VALUES (1);"
        << "" << int(Kind::MissingField) << QStringList{"num", "numeri"}
        << "There is no field \"numeri\" in the table \"num\" of the catalogue \"%1\".";
    QTest::newRow("null numeri")
        << "CREATE TABLE num (numeri TEXT); INSERT INTO num VALUES ('1'), (NULL);"
        << "" << int(Kind::NullField) << QStringList{"num", "numeri", "2"}
        << "The field \"numeri\" of row 2 is null in the table \"num\" of the catalogue \"%1\".";
    QTest::newRow("no table of the revision")
        << Test::revisionTableSql({"4"}) << "4" << int(Kind::MissingTable)
        << QStringList{"Versioni4"} << "The catalogue \"%1\" has no table \"Versioni4\".";
    QTest::newRow("revision table without rows")
        << Test::revisionTableSql({"1"})
               + "CREATE TABLE Versioni1 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);"
        << "1" << int(Kind::NoRows) << QStringList{"Versioni1"}
        << "There are no rows in the table \"Versioni1\" of the catalogue \"%1\".";
    QTest::newRow("no Devices")
        << Test::revisionTableSql({"1"})
               + "CREATE TABLE Versioni1 (Versione TEXT, Lingua TEXT, File TEXT);"
                 "INSERT INTO Versioni1 VALUES ('1.0', 'English', 'X.S28');"
        << "1" << int(Kind::MissingField) << QStringList{"Versioni1", "Devices"}
        << "There is no field \"Devices\" in the table \"Versioni1\" of the catalogue \"%1\".";
    QTest::newRow("null File of the first match")
        << Test::revisionTableSql({"1"})
               + "CREATE TABLE Versioni1 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);"
                 "INSERT INTO Versioni1 VALUES ('1.0', 'English', NULL, '');"
        << "1" << int(Kind::NullField) << QStringList{"Versioni1", "File", "1"}
        << "The field \"File\" of row 1 is null in the table \"Versioni1\" of the catalogue "
           "\"%1\".";
}

void CatalogueChoicesTest::failuresHaveKinds()
{
    QFETCH(QString, sql);
    QFETCH(QString, revision);
    QFETCH(int, kind);
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    Workspace workspace;
    if (!sql.isEmpty())
        workspace.buildCatalogue(sql);
    const QString path = workspace.filePath("Versioni.mdb");
    try {
        CatalogueChoices choices(path);
        choices.revisions();
        choices.chooseRevision(revision);
        QFAIL("no failure");
    } catch (const CatalogueError &error) {
        QCOMPARE(int(error.kind()), kind);
        QCOMPARE(error.arguments(), QStringList{path} + arguments);
        QCOMPARE(error.message(), message.arg(path));
    }
}

QTEST_MAIN(CatalogueChoicesTest)
#include "tst_catalogue_choices.moc"
