#include "started_window.h"

#include "catalogue/catalogue_db.h"
#include "catalogue/catalogue_sql.h"
#include "shell/editable_list.h"
#include "shell/main_window.h"
#include "shell/texts.h"
#include "simulator/simulated_terminal.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace Kv402;
using Kv402::Test::entries;
using Kv402::Test::pick;
using Kv402::Test::ScriptedMessages;
using Started = Kv402::Test::StartedWindow;

namespace {

using Rows = QList<QStringList>;

const QString Devices50 = QStringLiteral("KV402 terminal, standard keypad  ||Barcode reader ");
const Rows NormalRows = {{"1.0", "Italiano", "V10ITA.S28", Devices50},
                         {"1.0", "English", "V10ENG.S28", Devices50},
                         {"1.1", "English", "V11ENG.S28", Devices50}};

// A catalogue whose revisions "1" to "5" all hold the same rows, unless given their own.
QString catalogue(const QStringList &revisions, const QMap<int, Rows> &tables)
{
    QString sql = Test::revisionTableSql(revisions);
    for (int n = 1; n <= 5; ++n)
        sql += Test::versionTableSql(QStringLiteral("Versioni%1").arg(n),
                                     tables.value(n, NormalRows));
    return sql;
}

const QStringList FiveBlanks = {"", "", "", "", ""};

} // namespace

class SelectionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void revisionChoice_data();
    void revisionChoice();
    void devicesOfEveryMatchingRow_data();
    void devicesOfEveryMatchingRow();
    void missingLanguageLeavesNoDataFile();
    void otherRevisionTextsKeepTheLists();
    void catalogueFailureOnChoiceEndsTheProgram();
    void versionNotAvailableComesBeforeALaterFailure();
    void catalogueFailuresInItalian_data();
    void catalogueFailuresInItalian();
    void everyFailureHasWordsInBothLanguages_data();
    void everyFailureHasWordsInBothLanguages();
    void portDiscovery_data();
    void portDiscovery();
    void noPortIsTriedWithoutDevices();

    void captionSets();
    void messagesFollowTheLanguage();
    void qtButtonsFollowTheLanguage();

    void accessAndEncryptedCataloguesBehaveAlike();
    void accessCatalogueFailures_data();
    void accessCatalogueFailures();
    void damagedCatalogueEndsTheProgram_data();
    void damagedCatalogueEndsTheProgram();

private:
    Test::SettingsFolder m_settings;
};

void SelectionTest::revisionChoice_data()
{
    QTest::addColumn<QString>("revision");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<QString>("version");  // selected, "" for none
    QTest::addColumn<QString>("language"); // selected
    QTest::addColumn<QStringList>("list1");
    QTest::addColumn<int>("messages"); // "Version not available"

    const Rows zeroZero = {{"0", "0", "", ""}, {"3.0", "English", "V30ENG.S28", Devices50}};
    for (const char *revision : {"1", "2", "3", "4", "5"}) {
        QTest::addRow("rev %s, first row 0/0", revision)
            << revision << zeroZero << QStringList() << QStringList() << ""
            << "" << QStringList{"No devices"} << 1;
    }
    const Rows zeroItaliano = {{"0", "Italiano", "V40ITA.S28", Devices50},
                               {"4.0", "English", "V40ENG.S28", Devices50}};
    QTest::newRow("rev 2, first row 0/Italiano")
        << "2" << zeroItaliano << QStringList() << QStringList{"Italiano", "English"} << ""
        << "Italiano" << QStringList{"No devices"} << 1;
    QTest::newRow("rev 5, first row 0/Italiano")
        << "5" << zeroItaliano << QStringList() << QStringList() << ""
        << "" << QStringList{"No devices"} << 1;

    const Rows languageZero = {{"1.0", "0", "V50.S28", Devices50},
                               {"5.1", "English", "V51ENG.S28", ""}};
    const QStringList columns50 = {"KV402 terminal, standard keypad  ",
                                   "Barcode reader ",
                                   "",
                                   "",
                                   ""};
    QTest::newRow("rev 5, first language 0")
        << "5" << languageZero << QStringList{"1.0", "5.1"} << QStringList{"0", "English"} << "1.0"
        << "0" << columns50 << 0;
    QTest::newRow("rev 3, first language 0")
        << "3" << languageZero << QStringList{"1.0", "5.1"} << QStringList() << "1.0"
        << "" << columns50 + QStringList{"No devices"} << 0;

    QTest::newRow("rev 2, distinct in first-row order")
        << "2" << NormalRows << QStringList{"1.0", "1.1"} << QStringList{"Italiano", "English"}
        << "1.0"
        << "Italiano" << columns50 << 0;
}

void SelectionTest::revisionChoice()
{
    QFETCH(QString, revision);
    QFETCH(Rows, rows);
    QFETCH(QStringList, versions);
    QFETCH(QStringList, languages);
    QFETCH(QString, version);
    QFETCH(QString, language);
    QFETCH(QStringList, list1);
    QFETCH(int, messages);

    const int table = revision.toInt();
    Started started(catalogue({"9", revision}, {{table, rows}}));
    QVERIFY(started.loaded);
    frmMain &window = *started.window;
    pick(window.Combo1, revision);

    QVERIFY(!window.hasFailed());
    QCOMPARE(entries(window.Combo3), versions);
    QCOMPARE(entries(window.Combo4), languages);
    QCOMPARE(window.Combo3->currentText(), version);
    QCOMPARE(window.Combo4->currentText(), language);
    QCOMPARE(entries(window.List1), list1);
    QCOMPARE(started.messages.shown.size(), messages);
    for (const Message &message : std::as_const(started.messages.shown)) {
        QCOMPARE(message.text, "Version not available");
        QCOMPARE(message.icon, MessageIcon::Information);
        QCOMPARE(message.buttons, MessageButtons::Ok);
    }
}

void SelectionTest::devicesOfEveryMatchingRow_data()
{
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QStringList>("list1");
    QTest::addColumn<QString>("dataFile");

    const QString d200 = QStringLiteral(
        "A-field KV402 terminal 200       ##B-field laser barcode reader      C-field radio "
        "module 433 MHz            ##########D-field memory 512 KB                   E-field "
        "battery pack 1800 mAh           #");
    QVERIFY(d200.size() == 200);
    const QStringList columns200 = {"A-field KV402 terminal 200       ",
                                    "B-field laser barcode reader      ",
                                    "C-field radio module 433 MHz            ",
                                    "D-field memory 512 KB                   ",
                                    "E-field battery pack 1800 mAh           "};
    const QString d250 = d200.left(199) + QString(51, '#');

    QTest::newRow("30 characters")
        << Rows{{"1.0", "English", "A.S28", "KV402 terminal standard keypad"}}
        << QStringList{"KV402 terminal standard keypad", "", "", "", ""} << "A.S28";
    QTest::newRow("200 characters")
        << Rows{{"1.0", "English", "A.S28", d200}} << columns200 << "A.S28";
    QTest::newRow("250 characters: nothing of 200 and on")
        << Rows{{"1.0", "English", "A.S28", d250}} << columns200 << "A.S28";
    QTest::newRow("empty") << Rows{{"1.0", "English", "A.S28", ""}} << FiveBlanks << "A.S28";
    QTest::newRow("two rows of one pair: ten entries, first file")
        << Rows{{"1.0", "English", "A.S28", "first"},
                {"1.0", "Italiano", "B.S28", "other"},
                {"1.0", "English", "C.S28", d200}}
        << QStringList{"first", "", "", "", ""} + columns200 << "A.S28";
    QTest::newRow("non-ASCII")
        << Rows{{"1.0",
                 "English",
                 "A.S28",
                 "Lettore è già pronto – ñ € ü     ||Tastiera àéìòù ÄÖÜ ß Œ ok"}}
        << QStringList{"Lettore è già pronto – ñ € ü     ", "Tastiera àéìòù ÄÖÜ ß Œ ok", "", "", ""}
        << "A.S28";
}

void SelectionTest::devicesOfEveryMatchingRow()
{
    QFETCH(Rows, rows);
    QFETCH(QStringList, list1);
    QFETCH(QString, dataFile);

    Started started(catalogue({"1"}, {{1, rows}}));
    QVERIFY(started.loaded);
    QCOMPARE(started.window->Combo3->currentText(), "1.0");
    QCOMPARE(started.window->Combo4->currentText(), "English");
    QCOMPARE(entries(started.window->List1), list1);
    QCOMPARE(started.window->dataFile(), dataFile);
}

void SelectionTest::missingLanguageLeavesNoDataFile()
{
    Started started(catalogue({"1"}, {}));
    frmMain &window = *started.window;
    QCOMPARE(window.dataFile(), "V10ITA.S28");
    pick(window.Combo4, "English");
    QCOMPARE(window.dataFile(), "V10ENG.S28");
    QCOMPARE(window.List1->count(), 5);

    // 1.1 exists in English only.
    pick(window.Combo3, "1.1");
    QCOMPARE(window.dataFile(), "V11ENG.S28");
    pick(window.Combo4, "Italiano");
    QCOMPARE(window.List1->count(), 0);
    // The English file is other software than the one chosen: nothing is left to load.
    QCOMPARE(window.dataFile(), "");
    QVERIFY(started.messages.shown.isEmpty());

    // A language that has the version names its file again.
    pick(window.Combo4, "English");
    QCOMPARE(window.dataFile(), "V11ENG.S28");
}

void SelectionTest::otherRevisionTextsKeepTheLists()
{
    Started started(catalogue({"1", "Version", "6"}, {}), [](SimulatedPorts &ports) {
        ports.attach(1, std::make_shared<SimulatedTerminal>());
        ports.attach(3, std::make_shared<SimulatedTerminal>());
    });
    frmMain &window = *started.window;
    QCOMPARE(entries(window.Combo1), (QStringList{"1", "Version", "6"}));
    const QStringList devices = entries(window.List1);
    QCOMPARE(devices.size(), 5);
    QCOMPARE(window.Combo_SerialPort->currentText(), "COM1");

    pick(window.Combo1, "6");
    QVERIFY(entries(window.Combo3).isEmpty());
    QVERIFY(entries(window.Combo4).isEmpty());
    QCOMPARE(entries(window.List1), devices + QStringList{"No devices"});
    // The ports stay listed under an empty text, and none is left selected behind it.
    QCOMPARE(entries(window.Combo_SerialPort), (QStringList{"COM1", "COM3"}));
    QCOMPARE(window.Combo_SerialPort->currentText(), "");
    QCOMPARE(window.Combo_SerialPort->currentIndex(), -1);

    pick(window.Combo1, "Version");
    QCOMPARE(entries(window.List1), QStringList{"No devices"});
    QCOMPARE(window.Combo_SerialPort->count(), 0);

    // A revision without versions leaves nothing to load.
    QCOMPARE(window.dataFile(), "");
    QVERIFY(started.messages.shown.isEmpty());
}

void SelectionTest::catalogueFailureOnChoiceEndsTheProgram()
{
    QString sql = Test::revisionTableSql({"1", "2"})
                  + Test::versionTableSql("Versioni1", NormalRows)
                  + "CREATE TABLE Versioni2 (Versione TEXT, Lingua TEXT, File TEXT);"
                    "INSERT INTO Versioni2 VALUES ('2.0', 'English', 'X.S28');";
    Started started(sql);
    QVERIFY(started.loaded);
    started.window->show();
    pick(started.window->Combo1, "2");
    QVERIFY(started.window->hasFailed());
    QVERIFY(!started.window->isVisible());
    QCOMPARE(started.messages.shown.size(), 1);
    QVERIFY2(started.messages.shown.first().text.contains("no field \"Devices\""),
             qPrintable(started.messages.shown.first().text));
    QVERIFY(started.messages.shown.first().text.contains("\"Versioni2\""));
}

void SelectionTest::versionNotAvailableComesBeforeALaterFailure()
{
    // The languages are read after the message; a null one ends the program after it.
    Started started(
        Test::revisionTableSql({"1", "2"}) + Test::versionTableSql("Versioni1", NormalRows)
        + "CREATE TABLE Versioni2 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);"
          "INSERT INTO Versioni2 VALUES ('0', 'English', '', '');"
          "INSERT INTO Versioni2 VALUES ('2.0', NULL, 'X.S28', '');");
    QVERIFY(started.loaded);
    frmMain &window = *started.window;
    // The message comes up over the emptied lists.
    QStringList seen;
    started.messages.onShow = [&](const Message &) {
        seen << entries(window.Combo3).join('|') + ";" + entries(window.Combo4).join('|') + ";"
                    + entries(window.List1).join('|') + ";"
                    + entries(window.Combo_SerialPort).join('|');
    };
    pick(window.Combo1, "2");
    QVERIFY(window.hasFailed());
    QCOMPARE(started.messages.texts(),
             (QStringList{"Version not available",
                          QString("The field \"Lingua\" of row 2 is null in the table "
                                  "\"Versioni2\" of the catalogue \"%1\".")
                              .arg(started.workspace.filePath("Versioni.mdb"))}));
    QCOMPARE(seen.first(), ";;;");
}

void SelectionTest::catalogueFailuresInItalian_data()
{
    QTest::addColumn<QString>("versioni2"); // SQL of the table chosen in Italian
    QTest::addColumn<QString>("expected");  // %1 the catalogue

    QTest::newRow("no table") << ""
                              << "Il catalogo \"%1\" non ha la tabella \"Versioni2\".";
    QTest::newRow("no field")
        << "CREATE TABLE Versioni2 (Versione TEXT, Lingua TEXT, File TEXT);"
           "INSERT INTO Versioni2 VALUES ('2.0', 'English', 'X.S28');"
        << "La tabella \"Versioni2\" del catalogo \"%1\" non ha il campo \"Devices\".";
    QTest::newRow("null field")
        << "CREATE TABLE Versioni2 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);"
           "INSERT INTO Versioni2 VALUES ('2.0', 'English', 'X.S28', '');"
           "INSERT INTO Versioni2 VALUES (NULL, 'English', 'Y.S28', '');"
        << "Il campo \"Versione\" della riga 2 è vuoto (null) nella tabella \"Versioni2\" del "
           "catalogo \"%1\".";
}

void SelectionTest::catalogueFailuresInItalian()
{
    QFETCH(QString, versioni2);
    QFETCH(QString, expected);

    Started started(Test::revisionTableSql({"1", "2"})
                    + Test::versionTableSql("Versioni1", NormalRows) + versioni2);
    QVERIFY(started.loaded);
    frmMain &window = *started.window;
    window.show();
    window.lngita->trigger();
    pick(window.Combo1, "2");
    QVERIFY(window.hasFailed());
    QVERIFY(!window.isVisible());
    QCOMPARE(started.messages.shown.size(), 1);
    QCOMPARE(started.messages.shown.first().icon, MessageIcon::Critical);
    QCOMPARE(started.messages.shown.first().text,
             expected.arg(started.workspace.filePath("Versioni.mdb")));
}

namespace {

// The placeholders a text uses, as their numbers.
QList<int> placeholders(const QString &text)
{
    QList<int> numbers;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        const int number = text.at(i + 1).digitValue();
        if (text.at(i) == '%' && number > 0 && !numbers.contains(number))
            numbers.append(number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace

void SelectionTest::everyFailureHasWordsInBothLanguages_data()
{
    QTest::addColumn<int>("kind");
    for (int kind = 0; kind < CatalogueError::KindCount; ++kind)
        QTest::addRow("kind %d", kind) << kind;
}

void SelectionTest::everyFailureHasWordsInBothLanguages()
{
    QFETCH(int, kind);
    const auto failure = CatalogueError::Kind(kind);
    const QString english = Texts::catalogueFailure(failure).in(Language::English);
    const QString italian = Texts::catalogueFailure(failure).in(Language::Italian);
    // The English words are the command line's own.
    QCOMPARE(english, QString::fromUtf8(CatalogueError::englishText(failure)));
    QVERIFY(!italian.isEmpty());
    QVERIFY2(italian != english, qPrintable(italian));
    // Both name every argument, and nothing else.
    QList<int> arguments;
    for (int n = 1; n <= CatalogueError::argumentCount(failure); ++n)
        arguments.append(n);
    QVERIFY(!arguments.isEmpty());
    QCOMPARE(placeholders(english), arguments);
    QCOMPARE(placeholders(italian), arguments);
}

void SelectionTest::portDiscovery_data()
{
    QTest::addColumn<QList<int>>("terminals"); // simulated terminals behind these COM numbers
    QTest::addColumn<QList<int>>("busy");      // of which these are held by another program
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("COM1 and COM3 free, COM2 busy")
        << QList<int>{1, 2, 3} << QList<int>{2} << QStringList{"COM1", "COM3"};
    QTest::newRow("none at all") << QList<int>{} << QList<int>{} << QStringList{};
    QTest::newRow("the only one busy") << QList<int>{7} << QList<int>{7} << QStringList{};
    QTest::newRow("first and last")
        << QList<int>{16, 1} << QList<int>{} << QStringList{"COM1", "COM16"};
}

void SelectionTest::portDiscovery()
{
    QFETCH(QList<int>, terminals);
    QFETCH(QList<int>, busy);
    QFETCH(QStringList, listed);

    std::vector<std::unique_ptr<SerialPort>> holders;
    Started started(catalogue({"1"}, {}), [&](SimulatedPorts &ports) {
        for (int n : terminals)
            ports.attach(n, std::make_shared<SimulatedTerminal>());
        for (int n : busy) {
            holders.push_back(ports.makePort(portAddress(n)));
            QVERIFY(holders.back()->open(*LineSettings::parse(QStringLiteral("9600,N,8,1")), nullptr));
        }
    });
    QVERIFY(started.loaded);
    const QComboBox *ports = started.window->Combo_SerialPort;
    QCOMPARE(entries(ports), listed);
    QCOMPARE(ports->currentIndex(), listed.isEmpty() ? -1 : 0);
    QCOMPARE(ports->currentText(), listed.value(0));
    for (int i = 0; i < ports->count(); ++i)
        QCOMPARE(ports->itemData(i, Qt::ToolTipRole).toString(), "simulated terminal");
    QVERIFY(started.messages.shown.isEmpty());

    // Each port that opened was closed again, with nothing sent.
    for (int n : terminals) {
        const auto events = started.ports.terminal(portName(n))->events();
        for (const SimulatedTerminal::Event &event : events)
            QVERIFY(event.kind == SimulatedTerminal::Event::Kind::Opened
                    || event.kind == SimulatedTerminal::Event::Kind::Closed);
        if (!busy.contains(n))
            QVERIFY(!events.isEmpty()
                    && events.last().kind == SimulatedTerminal::Event::Kind::Closed);
    }
}

void SelectionTest::noPortIsTriedWithoutDevices()
{
    const Rows zero = {{"0", "0", "", ""}};
    const auto terminal = std::make_shared<SimulatedTerminal>();
    Started started(catalogue({"1", "2", "Version"}, {{2, zero}}),
                    [&](SimulatedPorts &ports) { ports.attach(1, terminal); });
    frmMain &window = *started.window;
    QCOMPARE(entries(window.Combo_SerialPort), QStringList{"COM1"});

    const qsizetype probed = terminal->events().size();
    pick(window.Combo1, "2");
    pick(window.Combo1, "Version");
    QCOMPARE(terminal->events().size(), probed);
    QCOMPARE(window.Combo_SerialPort->count(), 0);

    // Choosing a revision with software lists the ports again.
    pick(window.Combo1, "1");
    QCOMPARE(entries(window.Combo_SerialPort), QStringList{"COM1"});
}

void SelectionTest::captionSets()
{
    Started started(catalogue({"1"}, {}));
    frmMain &window = *started.window;
    auto captions = [&] {
        QStringList result;
        for (const char *name : {"Label1",
                                 "Label2",
                                 "Label3",
                                 "Label4",
                                 "Label5",
                                 "Label6",
                                 "Label7",
                                 "Label10",
                                 "Combo_Send",
                                 "mnuFile",
                                 "mnuFileExit",
                                 "mnuHlp",
                                 "mnuRunHlp",
                                 "mnuAbout",
                                 "sellng",
                                 "lngeng",
                                 "lngita",
                                 "Label9"}) {
            QObject *control = window.findChild<QObject *>(name);
            result.append(control
                              ->property(qobject_cast<QLabel *>(control) ? "text"
                                         : control->inherits("QMenu")    ? "title"
                                                                         : "text")
                              .toString());
        }
        return result;
    };
    const QStringList startup = captions();
    const QStringList english = {"Communication Port",
                                 "Communication Baud Rate",
                                 "Number of Loops",
                                 "Number of Errors",
                                 "KV402 Software Revision",
                                 "Language",
                                 "Supported Devices",
                                 "KV402 Firmware Revision",
                                 "Send",
                                 "File",
                                 "Exit",
                                 "Help",
                                 "Help Topics",
                                 "About KV402 Loader...",
                                 "Language Selection",
                                 "English",
                                 "Italian",
                                 "KV402 Master Software Rev. 1.1"};
    const QStringList italian = {"Porta Seriale",
                                 "Velocità di Trasferimento",
                                 "Cicli",
                                 "Errori",
                                 "Versione Software KV402",
                                 "Lingua",
                                 "Devices Gestiti",
                                 " Versione Firmware ",
                                 "Invia",
                                 "File",
                                 "Uscita",
                                 "Aiuto",
                                 "Argomenti Guida",
                                 "Informazioni",
                                 " Selezione Lingua",
                                 "Inglese",
                                 "Italiano",
                                 "KV402 Master Software Rev. 1.1"};

    // Right after start, English changes exactly two captions.
    window.lngeng->trigger();
    QStringList changed;
    for (int i = 0; i < english.size(); ++i) {
        if (startup.at(i) != english.at(i))
            changed.append(english.at(i));
    }
    QCOMPARE(changed, (QStringList{"About KV402 Loader...", "Language Selection"}));
    QCOMPARE(captions(), english);
    QVERIFY(!window.isItalian());

    window.lngita->trigger();
    QCOMPARE(captions(), italian);
    QVERIFY(window.isItalian());
    window.lngita->trigger();
    QCOMPARE(captions(), italian);

    window.lngeng->trigger();
    QCOMPARE(captions(), english);
    QCOMPARE(window.windowTitle(), "Velmar - KV402 Master  Software");
    QVERIFY(started.messages.shown.isEmpty());
}

void SelectionTest::messagesFollowTheLanguage()
{
    const Rows zero = {{"0", "0", "", ""}};
    Started started(catalogue({"1", "2"}, {{2, zero}}));
    frmMain &window = *started.window;
    window.lngita->trigger();
    pick(window.Combo1, "2");
    window.lngeng->trigger();
    pick(window.Combo1, "2");
    window.Label6->setText("lingua"); // the test is exact: anything but "Lingua" is English
    pick(window.Combo1, "2");
    window.Label6->setText("Lingua");
    pick(window.Combo1, "2");
    QCOMPARE(started.messages.texts(),
             (QStringList{"Versione non disponibile",
                          "Version not available",
                          "Version not available",
                          "Versione non disponibile"}));
}

// The message boxes' standard buttons speak the interface language too.
void SelectionTest::qtButtonsFollowTheLanguage()
{
    Started started(catalogue({"1"}, {}));
    frmMain &window = *started.window;
    const auto buttons = [] {
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        return QStringList{box.button(QMessageBox::Yes)->text(),
                           box.button(QMessageBox::No)->text(),
                           box.button(QMessageBox::Cancel)->text()};
    };
    QCOMPARE(buttons(), (QStringList{"&Yes", "&No", "Cancel"}));
    window.lngita->trigger();
    QCOMPARE(buttons(), (QStringList{"&Sì", "&No", "Annulla"}));
    window.lngeng->trigger();
    QCOMPARE(buttons(), (QStringList{"&Yes", "&No", "Cancel"}));
    // The window's end leaves Qt's texts as they were.
    window.lngita->trigger();
    started.window.reset();
    QCOMPARE(buttons().first(), "&Yes");
}

namespace {

QString jetFixture(const QString &name)
{
    return qEnvironmentVariable("KV402_FIXTURES_DIR") + "/jet/" + name;
}

// Everything the window shows after start-up and after each choice of revision, version and
// language, as one list of lines.
QStringList walkThrough(frmMain &window, ScriptedMessages &messages)
{
    QStringList seen;
    auto note = [&](const QString &what) {
        seen << what + ": revisions " + entries(window.Combo1).join('|') + "; versions "
                    + entries(window.Combo3).join('|') + " [" + window.Combo3->currentText()
                    + "]; languages " + entries(window.Combo4).join('|') + " ["
                    + window.Combo4->currentText() + "]; devices " + entries(window.List1).join('|')
                    + "; file " + window.dataFile() + "; ports "
                    + entries(window.Combo_SerialPort).join('|') + "; messages "
                    + messages.texts().join('|');
    };
    note("start");
    for (const QString &revision : entries(window.Combo1)) {
        pick(window.Combo1, revision);
        note("revision " + revision);
        for (const QString &version : entries(window.Combo3)) {
            pick(window.Combo3, version);
            for (const QString &language : entries(window.Combo4)) {
                pick(window.Combo4, language);
                note(version + " in " + language);
            }
        }
    }
    return seen;
}

} // namespace

void SelectionTest::accessAndEncryptedCataloguesBehaveAlike()
{
    if (!QFile::exists(jetFixture("Versioni.mdb")))
        QSKIP("The Access catalogue fixtures are not there; set KV402_FIXTURES_DIR.");

    // The Access fixture as it stands, and an encrypted catalogue with the same rows.
    QStringList walks;
    QString sql;
    {
        Started access(QString(), [&](SimulatedPorts &ports) {
            ports.attach(2, std::make_shared<SimulatedTerminal>());
        });
        QVERIFY(QFile::copy(jetFixture("Versioni.mdb"), "Versioni.mdb"));
        QVERIFY(access.window->Form_Load());
        walks << walkThrough(*access.window, access.messages).join('\n');
        sql = dumpCatalogue(*CatalogueDatabase::open("Versioni.mdb"));
    }
    {
        Started encrypted(sql, [&](SimulatedPorts &ports) {
            ports.attach(2, std::make_shared<SimulatedTerminal>());
        });
        QVERIFY(encrypted.loaded);
        walks << walkThrough(*encrypted.window, encrypted.messages).join('\n');
    }
    QCOMPARE(walks.at(1), walks.at(0));

    // What the fixture's rows must give, whichever the backend.
    const QStringList seen = walks.at(0).split('\n');
    QVERIFY2(seen.first().startsWith("start: revisions 3|1|2|4|5|Version|6; versions  [];"),
             qPrintable(seen.first()));
    QVERIFY(seen.contains(
        "1.1 in English: revisions 3|1|2|4|5|Version|6; versions 1.0|1.1|1.2 [1.1]; languages "
        "Italiano|English|Français [English]; devices A-field KV402 terminal 200       |B-field "
        "laser barcode reader      |C-field radio module 433 MHz            |D-field memory 512 "
        "KB                   |E-field battery pack 1800 mAh           |KV402 terminal standard "
        "keypad||||; file V11ENG.S28; ports COM2; messages Version not available|Version not "
        "available"));
}

void SelectionTest::accessCatalogueFailures_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("revision"); // empty: start-up fails
    QTest::addColumn<QString>("expected");

    QTest::newRow("wrong password") << "wrong-password.mdb"
                                    << ""
                                    << "the catalogue password does not open it";
    QTest::newRow("empty num") << "empty-num.mdb"
                               << ""
                               << "There are no rows in the table \"num\"";
    QTest::newRow("missing table") << "missing-table.mdb"
                                   << "4"
                                   << "has no table \"Versioni4\"";
    QTest::newRow("null field") << "null-field.mdb"
                                << "2"
                                << "The field \"File\" of row 1 is null in the table \"Versioni2\"";
}

void SelectionTest::accessCatalogueFailures()
{
    QFETCH(QString, fixture);
    QFETCH(QString, revision);
    QFETCH(QString, expected);
    if (!QFile::exists(jetFixture(fixture)))
        QSKIP("The Access catalogue fixtures are not there; set KV402_FIXTURES_DIR.");

    Started started{QString()};
    QVERIFY(QFile::copy(jetFixture(fixture), "Versioni.mdb"));
    const bool loaded = started.window->Form_Load();
    QCOMPARE(loaded, !revision.isEmpty());
    if (loaded)
        pick(started.window->Combo1, revision);
    QVERIFY(started.window->hasFailed());
    const Message failure = started.messages.shown.last();
    QCOMPARE(failure.icon, MessageIcon::Critical);
    QVERIFY2(failure.text.contains(expected), qPrintable(failure.text));
    QVERIFY(failure.text.contains(started.workspace.filePath("Versioni.mdb")));
}

void SelectionTest::damagedCatalogueEndsTheProgram_data()
{
    QTest::addColumn<bool>("access");      // else an SQLCipher catalogue with a journal beside it
    QTest::addColumn<bool>("atStartUp");   // else at a revision choice, in Italian
    QTest::addColumn<QString>("expected"); // %1 the catalogue

    QTest::newRow("Access cut short, at start-up")
        << true << true << "The catalogue \"%1\" is damaged and cannot be read.";
    QTest::newRow("Access cut short, at a revision choice")
        << true << false << "Il catalogo \"%1\" è danneggiato e non può essere letto.";
    QTest::newRow("unfinished change, at start-up")
        << false << true
        << "The catalogue \"%1\" has an unfinished change beside it (Versioni.mdb-journal): it was "
           "not closed properly; restore it from its source.";
}

void SelectionTest::damagedCatalogueEndsTheProgram()
{
    QFETCH(bool, access);
    QFETCH(bool, atStartUp);
    QFETCH(QString, expected);

    Started started{QString()};
    frmMain &window = *started.window;
    const QString path = started.workspace.filePath("Versioni.mdb");
    auto damage = [&] {
        if (access) {
            QFile::remove(path);
            QVERIFY(QFile::copy(jetFixture("Versioni.mdb"), path));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
            QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2 + 100));
        } else {
            started.workspace.buildCatalogue(catalogue({"1"}, {}));
            started.workspace.writeFile("Versioni.mdb-journal", "an unfinished change");
        }
    };
    if (atStartUp) {
        damage();
        QVERIFY(!window.Form_Load());
    } else {
        QVERIFY(QFile::copy(jetFixture("Versioni.mdb"), path));
        QVERIFY(window.Form_Load());
        window.show();
        window.lngita->trigger();
        damage();
        pick(window.Combo1, "1");
    }
    QVERIFY(window.hasFailed());
    QVERIFY(!window.isVisible());
    const Message failure = started.messages.shown.last();
    QCOMPARE(failure.icon, MessageIcon::Critical);
    QCOMPARE(failure.text, expected.arg(path));
}

QTEST_MAIN(SelectionTest)
#include "tst_main_window_selection.moc"
