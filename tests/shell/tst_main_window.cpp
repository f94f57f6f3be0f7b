#include "started_window.h"

#include "shell/editable_list.h"
#include "shell/main_window.h"
#include "shell/message_box.h"
#include "simulator/simulated_terminal.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include <sys/stat.h>

using namespace Kv402;
using Kv402::Test::entries;
using Kv402::Test::ScriptedMessages;
using Kv402::Test::StartedWindow;
using Kv402::Test::Workspace;

namespace {

QString catalogueSql(const QStringList &revisions)
{
    QString sql = Test::revisionTableSql(revisions);
    for (int n = 1; n <= 5; ++n) {
        sql += Test::versionTableSql(QString("Versioni%1").arg(n),
                                     {{QString("%1.0").arg(n), "English", "V.S28", "KV402"}});
    }
    return sql;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void controlsAfterStartup_data();
    void controlsAfterStartup();
    void textBoxesAreReadable_data();
    void textBoxesAreReadable();
    void windowIsFixed();
    void menusAfterStartup();
    void tabOrderVisitsFocusableControlsOnly();
    void enterAndEscapeNeverPressSend();
    void typedTextStartsNothing();
    void statusBarShowsStatusDateAndTime();
    void picturesAreCompiledIn();

    void revisionList_data();
    void revisionList();

    void catalogueFailuresEndTheProgram_data();
    void catalogueFailuresEndTheProgram();
    void missingCatalogueSaysWhereItLooked_data();
    void missingCatalogueSaysWhereItLooked();
    void failureEndsTheProgramOnceAnswered_data();
    void failureEndsTheProgramOnceAnswered();
    void startUpFailureEndsTheEventLoopWithFailure();

    void settingsWrittenOnClose();
    void settingsLeftAloneWhenMinimized();
    void settingsValueNotANumber();
    void settingsRecordNotAFile_data();
    void settingsRecordNotAFile();
    void exitCommandCloses();

private:
    Test::SettingsFolder m_settingsDir;
};

void MainWindowTest::init()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    settings.clear();
}

void MainWindowTest::controlsAfterStartup_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("place"); // pixels in the client area
    QTest::addColumn<QString>("caption");

    auto row = [](const char *name, const char *kind, QRect place, const char *caption) {
        QTest::newRow(name) << name << kind << place << QString::fromUtf8(caption);
    };
    row("Label10", "QLabel", {24, 32, 169, 17}, "KV402 Firmware Revision");
    row("Combo1", "QComboBox", {48, 56, 89, 24}, "1");
    row("Label5", "QLabel", {8, 96, 167, 13}, "KV402 Software Revision");
    row("Combo3", "QComboBox", {24, 136, 141, 21}, "1.0");
    row("Label6", "QLabel", {200, 96, 167, 13}, "Language");
    row("Combo4", "QComboBox", {216, 136, 141, 21}, "English");
    row("Label7", "QLabel", {408, 96, 167, 13}, "Supported Devices");
    row("List1", "QListWidget", {408, 128, 222, 199}, "");
    row("Label1", "QLabel", {8, 208, 164, 13}, "Communication Port");
    row("Combo_SerialPort", "QComboBox", {40, 248, 109, 21}, "");
    row("Label2", "QLabel", {200, 208, 167, 13}, "Communication Baud Rate");
    row("Text3", "QLineEdit", {232, 248, 109, 19}, "19200");
    row("Label3", "QLabel", {8, 320, 164, 13}, "Number of Loops");
    row("Text1", "QLineEdit", {32, 368, 124, 19}, "");
    row("Label4", "QLabel", {200, 320, 167, 13}, "Number of Errors");
    row("Text2", "QLineEdit", {224, 368, 124, 19}, "");
    row("Combo_Send", "QPushButton", {472, 352, 100, 50}, "Send");
    row("ProgressBar_Cicli", "QProgressBar", {8, 408, 173, 20}, "");
    row("ProgressBar_Errori", "QProgressBar", {200, 408, 173, 20}, "");
    row("Picture1", "QLabel", {448, 16, 128, 57}, "");
    row("Label9", "QLabel", {432, 456, 189, 35}, "KV402 Master Software Rev. 1.1");
    row("sbStatusBar", "QStatusBar", {0, 511, 640, 18}, "");
}

void MainWindowTest::controlsAfterStartup()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QRect, place);
    QFETCH(QString, caption);

    StartedWindow started(catalogueSql({"1"}));
    QVERIFY(started.loaded);
    QWidget *control = started.control(name.toLatin1());
    QVERIFY2(control, qPrintable(name));
    QVERIFY(control->inherits(kind.toLatin1()));
    QCOMPARE(control->parentWidget(), started.window->centralWidget());
    QCOMPARE(control->geometry(), place);

    if (auto label = qobject_cast<QLabel *>(control); label && name != "Picture1")
        QCOMPARE(label->text(), caption);
    else if (auto button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), caption);
    else if (auto box = qobject_cast<QLineEdit *>(control))
        QCOMPARE(box->text(), caption);
    else if (auto list = qobject_cast<QComboBox *>(control))
        QCOMPARE(list->currentText(), caption);
}

void MainWindowTest::textBoxesAreReadable_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"Text1", "Text2", "Text3"})
        QTest::newRow(name) << name;
}

// Disabled, the text boxes are drawn in the disabled colours, which must still read: at least
// the 3 : 1 contrast that large or bold text needs.
void MainWindowTest::textBoxesAreReadable()
{
    QFETCH(QString, name);
    StartedWindow started(catalogueSql({"1"}));
    QVERIFY(started.loaded);
    const auto box = started.control<QLineEdit>(name.toLatin1());
    QVERIFY(box && !box->isEnabled());

    const auto luminance = [](const QColor &colour) {
        const auto linear = [](float c) {
            return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
        };
        return 0.2126f * linear(colour.redF()) + 0.7152f * linear(colour.greenF())
               + 0.0722f * linear(colour.blueF());
    };
    const float text = luminance(box->palette().color(QPalette::Disabled, QPalette::Text));
    const float base = luminance(box->palette().color(QPalette::Disabled, QPalette::Base));
    const float contrast = (std::max(text, base) + 0.05f) / (std::min(text, base) + 0.05f);
    QVERIFY2(contrast >= 3.0f, qPrintable(QString::number(contrast)));
}

void MainWindowTest::windowIsFixed()
{
    StartedWindow started(catalogueSql({"1"}));
    frmMain &window = *started.window;
    QCOMPARE(window.windowTitle(), "Velmar - KV402 Master  Software");
    QCOMPARE(window.centralWidget()->size(), QSize(640, 529));
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(window.windowFlags() & Qt::WindowMinimizeButtonHint));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!window.windowIcon().isNull());

    // Opened centred on the screen.
    const QRect screen = window.screen()->availableGeometry();
    QVERIFY(qAbs(window.frameGeometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(window.frameGeometry().center().y() - screen.center().y()) <= 1);

    for (const char *name : {"Combo3", "Combo4"})
        QVERIFY(!started.control<QComboBox>(name)->isEditable());
    for (const char *name : {"Combo1", "Combo_SerialPort"})
        QVERIFY(started.control<QComboBox>(name)->isEditable());
    for (const char *name : {"Text1", "Text2", "Text3"})
        QVERIFY(!started.control(name)->isEnabled());
    QCOMPARE(started.control<QLineEdit>("Text3")->alignment(), Qt::AlignCenter);
    QCOMPARE(started.control<QComboBox>("Combo1")->palette().color(QPalette::Base), QColor(Qt::red));
    for (const char *name : {"ProgressBar_Cicli", "ProgressBar_Errori"}) {
        const auto bar = started.control<QProgressBar>(name);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 1000);
        QCOMPARE(bar->value(), 0);
    }
    QCOMPARE(started.control("Label10")->font().pointSizeF(), 9.75);
    QVERIFY(started.control("Label9")->font().bold());
    QCOMPARE(started.control("Label1")->font().pointSizeF(), 8.0);
}

void MainWindowTest::menusAfterStartup()
{
    StartedWindow started(catalogueSql({"1"}));
    const QList<QAction *> menus = started.window->menuBar()->actions();
    QStringList layout;
    for (QAction *menuAction : menus) {
        QMenu *menu = menuAction->menu();
        QStringList entries;
        for (QAction *entry : menu->actions()) {
            QVERIFY(entry->shortcut().isEmpty());
            QVERIFY(!entry->isCheckable());
            entries.append(entry->objectName() + "=" + entry->text());
        }
        layout.append(menu->objectName() + "=" + menu->title() + ": " + entries.join(", "));
    }
    QCOMPARE(layout,
             (QStringList{"mnuFile=File: mnuFileExit=Exit",
                          "sellng=Language selection: lngita=Italian, lngeng=English",
                          "mnuHlp=Help: mnuRunHlp=Help Topics, mnuAbout=About KV402 Loader"}));
}

void MainWindowTest::tabOrderVisitsFocusableControlsOnly()
{
    StartedWindow started(catalogueSql({"1"}));
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    auto focusName = [] {
        QWidget *focus = QApplication::focusWidget();
        // An editable list's text field stands for the list.
        if (focus && qobject_cast<QComboBox *>(focus->parentWidget()))
            focus = focus->parentWidget();
        return focus ? focus->objectName() : QString();
    };
    QCOMPARE(focusName(), "Combo1");
    QStringList visited;
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(focusName());
    }
    QCOMPARE(visited,
             (QStringList{"Picture1",
                          "Combo_Send",
                          "List1",
                          "Combo4",
                          "Combo3",
                          "Combo_SerialPort",
                          "Combo1",
                          "Picture1"}));
}

void MainWindowTest::enterAndEscapeNeverPressSend()
{
    StartedWindow started(catalogueSql({"1"}));
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    int pressed = 0;
    connect(started.control<QPushButton>("Combo_Send"), &QPushButton::clicked, [&] { ++pressed; });
    for (const char *name : {"Combo1", "Combo3", "List1", "Combo_SerialPort"}) {
        started.control(name)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    }
    QCOMPARE(pressed, 0);
}

void MainWindowTest::typedTextStartsNothing()
{
    StartedWindow started(catalogueSql({"1", "2"}));
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const auto combo1 = started.control<QComboBox>("Combo1");
    int clicks = 0;
    connect(static_cast<EditableList *>(combo1), &EditableList::picked, [&] { ++clicks; });
    combo1->setFocus();
    combo1->lineEdit()->selectAll();
    QTest::keyClicks(combo1->lineEdit(), "2");
    QTest::keyClick(combo1->lineEdit(), Qt::Key_Return);
    QTest::keyClick(combo1->lineEdit(), Qt::Key_Tab); // leaving the field finishes the edit too
    QCOMPARE(combo1->currentText(), "2");
    QCOMPARE(entries(combo1), (QStringList{"1", "2"}));
    QCOMPARE(clicks, 0);

    // Choosing an entry with the keyboard is a pick.
    combo1->setFocus();
    combo1->setCurrentIndex(0);
    QTest::keyClick(combo1->lineEdit(), Qt::Key_Down);
    QCOMPARE(combo1->currentIndex(), 1);
    QCOMPARE(clicks, 1);
}

void MainWindowTest::statusBarShowsStatusDateAndTime()
{
    StartedWindow started(catalogueSql({"1"}));
    const QList<QLabel *> panels = started.control("sbStatusBar")->findChildren<QLabel *>();
    QCOMPARE(panels.size(), 3);
    QCOMPARE(panels.at(0)->text(), "Status");
    const QLocale locale = QLocale::system();
    QCOMPARE(panels.at(1)->text(), locale.toString(QDate::currentDate(), QLocale::ShortFormat));
    // Hours and minutes only, even where the short format has seconds (as the C locale's has).
    // The minute may turn between the two readings.
    if (locale.name() == "C") {
        const QString now = QTime::currentTime().toString("HH:mm");
        const QString before = QTime::currentTime().addSecs(-60).toString("HH:mm");
        QVERIFY2(panels.at(2)->text() == now || panels.at(2)->text() == before,
                 qPrintable(panels.at(2)->text()));
    }
    for (QLabel *panel : panels)
        QVERIFY(panel->minimumWidth() >= 96);
}

void MainWindowTest::picturesAreCompiledIn()
{
    const QImage terminal(":/kv402/terminal.png");
    QCOMPARE(terminal.size(), QSize(64, 64));
    QCOMPARE(terminal.format(), QImage::Format_Indexed8);
    QVERIFY(terminal.colorCount() <= 256);
    QCOMPARE(QImage(":/kv402/background.jpg").size(), QSize(640, 512));
    const QImage logo(":/kv402/logo.png");
    QCOMPARE(logo.size(), QSize(1024, 768));
    QCOMPARE(logo.depth(), 32); // read as RGB32 from a 24-bit file
    // A pure-red wordmark in the top-left corner, pure white everywhere else.
    bool red = false;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 130; ++x)
            red = red || logo.pixelColor(x, y) == QColor(255, 0, 0);
    }
    QVERIFY(red);
    QCOMPARE(logo.pixelColor(500, 400), QColor(Qt::white));
    QCOMPARE(logo.pixelColor(1023, 767), QColor(Qt::white));
}

void MainWindowTest::revisionList_data()
{
    QTest::addColumn<QStringList>("num");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("first occurrence order")
        << QStringList{"3", "1", "3", "2"} << QStringList{"3", "1", "2"};
    QTest::newRow("case differs") << QStringList{"Version", "version", "VERSION", "version"}
                                  << QStringList{"Version", "version", "VERSION"};
    QTest::newRow("blanks and zeros differ")
        << QStringList{"1", "01", "1 ", "1"} << QStringList{"1", "01", "1 "};
    QTest::newRow("empty text is a value") << QStringList{"", "1", ""} << QStringList{"", "1"};
}

void MainWindowTest::revisionList()
{
    QFETCH(QStringList, num);
    QFETCH(QStringList, listed);

    StartedWindow started(catalogueSql(num));
    QVERIFY(started.loaded);
    const auto combo1 = started.control<QComboBox>("Combo1");
    QCOMPARE(entries(combo1), listed);
    QCOMPARE(combo1->currentIndex(), 0);
    QCOMPARE(combo1->currentText(), listed.first());
    QVERIFY(started.messages.shown.isEmpty());
}

void MainWindowTest::catalogueFailuresEndTheProgram_data()
{
    QTest::addColumn<QString>("sql");     // empty: the file below instead
    QTest::addColumn<QByteArray>("file"); // empty too: no catalogue at all
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("missing") << QString() << QByteArray()
                             << QStringList{"Versioni.mdb", "No such file or directory"};
    QTest::newRow("not a catalogue") << QString() << QByteArray("MSDOS garbage")
                                     << QStringList{"Versioni.mdb", "not a catalogue database"};
    QTest::newRow("no table num") << Test::versionTableSql("Versioni1", {}) << QByteArray()
                                  << QStringList{"Versioni.mdb", "table \"num\""};
    QTest::newRow("num without rows")
        << Test::revisionTableSql({}) << QByteArray() << QStringList{"no rows", "table \"num\""};
    QTest::newRow("null numeri") << "CREATE TABLE num (numeri TEXT); INSERT INTO num VALUES "
                                    "('1'), (NULL);"
                                 << QByteArray()
                                 << QStringList{"field \"numeri\" of row 2 is null", "\"num\""};
    QTest::newRow("no field numeri")
        << "CREATE TABLE num (numero TEXT); INSERT INTO num VALUES "
           "('1');"
        << QByteArray() << QStringList{"no field \"numeri\"", "table \"num\""};
}

void MainWindowTest::catalogueFailuresEndTheProgram()
{
    QFETCH(QString, sql);
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);

    Workspace workspace;
    if (!sql.isEmpty())
        workspace.buildCatalogue(sql);
    else if (!file.isEmpty())
        workspace.writeFile("Versioni.mdb", file);

    ScriptedMessages messages;
    SimulatedPorts ports;
    frmMain window({&messages, &ports});
    QVERIFY(!window.Form_Load());
    QVERIFY(window.hasFailed());
    QVERIFY(!window.isVisible());
    QCOMPARE(messages.shown.size(), 1);
    const Message &message = messages.shown.first();
    QCOMPARE(message.icon, MessageIcon::Critical);
    QCOMPARE(message.buttons, MessageButtons::Ok);
    for (const QString &part : expected)
        QVERIFY2(message.text.contains(part), qPrintable(message.text));
}

void MainWindowTest::missingCatalogueSaysWhereItLooked_data()
{
    QTest::addColumn<bool>("italian");
    QTest::addColumn<QStringList>("expected"); // %1: the working folder
    QTest::newRow("English, at start-up")
        << false
        << QStringList{"Cannot open the catalogue \"%1/Versioni.mdb\": No such file or directory. "
                       "The program looks for the catalogue in the folder it was started in (%1). "
                       "To set up a working folder from a released bundle: \"kv402 bundle install "
                       "BUNDLE.tar\" (into ~/kv402, with its menu entries); otherwise see \"man "
                       "kv402master\" or the README's section \"Installing, and the technician's "
                       "working folder\"."};
    QTest::newRow("Italian, at a revision's choice")
        << true
        << QStringList{"Impossibile aprire il catalogo \"%1/Versioni.mdb\": No such file or "
                       "directory. ",
                       "Il programma cerca il catalogo nella cartella da cui è stato avviato (%1). "
                       "Per preparare una cartella di lavoro da un pacchetto rilasciato: \"kv402 "
                       "bundle install PACCHETTO.tar\" (in ~/kv402, con le voci di menu); "
                       "altrimenti vedere \"man kv402master\" oppure, nel README, la sezione "
                       "\"Installing, and the technician's working folder\"."};
}

// Started from the menu the program works in the home folder, where there is no catalogue: the
// failure is told as it is, then where the program looked and how to set up a working folder.
void MainWindowTest::missingCatalogueSaysWhereItLooked()
{
    QFETCH(bool, italian);
    QFETCH(QStringList, expected);

    std::unique_ptr<StartedWindow> started;
    ScriptedMessages startMessages;
    SimulatedPorts ports;
    std::unique_ptr<Workspace> empty;
    std::unique_ptr<frmMain> window;
    ScriptedMessages *messages = &startMessages;
    QString folder;
    if (!italian) {
        empty = std::make_unique<Workspace>();
        folder = empty->path();
        window = std::make_unique<frmMain>(frmMain::Services{&startMessages, &ports});
        QVERIFY(!window->Form_Load());
    } else {
        // The catalogue goes while the program runs; the next revision's choice opens it again.
        started = std::make_unique<StartedWindow>(catalogueSql({"1", "2"}));
        QVERIFY(started->loaded);
        folder = started->workspace.path();
        started->window->lngita->trigger();
        QVERIFY(QFile::remove(started->workspace.filePath("Versioni.mdb")));
        Test::pick(started->control<QComboBox>("Combo1"), "2");
        QVERIFY(started->window->hasFailed());
        messages = &started->messages;
    }
    QCOMPARE(messages->shown.size(), 1);
    const QString text = messages->shown.first().text;
    const QString where = QDir(folder).absolutePath();
    QVERIFY2(text.startsWith(expected.first().arg(where)), qPrintable(text));
    QVERIFY2(text.endsWith(expected.last().arg(where)), qPrintable(text));
}

void MainWindowTest::failureEndsTheProgramOnceAnswered_data()
{
    QTest::addColumn<bool>("atStartUp");
    // A shutdown signal, or logging off, while the message waits for its answer.
    QTest::addColumn<bool>("signalled");
    QTest::newRow("at start-up, answered") << true << false;
    QTest::newRow("at a revision's choice, answered") << false << false;
    QTest::newRow("at a revision's choice, shutdown signal") << false << true;
}

// The failure's message waits for its answer without holding up its caller: start-up returns
// false while it is on screen, and main runs the event loop until it is answered. The answer, or
// a shutdown meanwhile, ends the program without its shutdown: nothing is saved.
void MainWindowTest::failureEndsTheProgramOnceAnswered()
{
    QFETCH(bool, atStartUp);
    QFETCH(bool, signalled);

    StartedWindow started{QString()};
    frmMain &window = *started.window;
    started.messages.answerLater = true;
    if (atStartUp) {
        QVERIFY(!window.Form_Load());
    } else {
        started.workspace.buildCatalogue(
            Test::revisionTableSql({"1", "2"})
            + Test::versionTableSql("Versioni1", {{"1.0", "English", "V.S28", "KV402"}})
            + "CREATE TABLE Versioni2 (Versione TEXT, Lingua TEXT, File TEXT);"
              "INSERT INTO Versioni2 VALUES ('2.0', 'English', 'X.S28');");
        QVERIFY(window.Form_Load());
        window.show();
        Test::pick(started.control<QComboBox>("Combo1"), "2");
        QVERIFY(window.isVisible());
    }
    QVERIFY(window.hasFailed());
    QVERIFY(window.isShowingMessage());
    QCOMPARE(started.messages.shown.size(), 1);
    QCOMPARE(started.messages.shown.first().icon, MessageIcon::Critical);

    if (signalled) {
        window.endSession();
    } else {
        started.messages.answers.enqueue(MessageAnswer::Ok);
        started.messages.answerOpen();
    }
    QVERIFY(!window.isShowingMessage());
    QVERIFY(!window.isVisible());
    QCOMPARE(started.messages.shown.size(), 1);
    QCOMPARE(started.messages.withdrawn, signalled ? 1 : 0);
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    QVERIFY(!settings.contains("Settings/MainLeft"));
}

// As main runs it: start-up fails with the real message box on screen, the event loop runs until
// the box is answered, and then ends with a failure status.
void MainWindowTest::startUpFailureEndsTheEventLoopWithFailure()
{
    Workspace empty;
    QtMessageBoxes boxes;
    SimulatedPorts ports;
    frmMain window({&boxes, &ports});
    QVERIFY(!window.Form_Load());
    QVERIFY(window.isShowingMessage());
    auto box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Ok)->click(); });
    // Should nothing end it, the loop is ended with a status of its own.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(20000);
    QCOMPARE(QCoreApplication::exec(), 1);
    QVERIFY(!window.isShowingMessage());
    QVERIFY(!window.isVisible());
}

void MainWindowTest::settingsWrittenOnClose()
{
    StartedWindow started(catalogueSql({"1"}));
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.move(30, 40);
    QTRY_COMPARE(window.frameGeometry().topLeft(), QPoint(30, 40));
    QVERIFY(window.close());

    const QRect frame = window.frameGeometry();
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    settings.beginGroup("Settings");
    QCOMPARE(settings.value("MainLeft").toString(), "450");
    QCOMPARE(settings.value("MainTop").toString(), "600");
    QCOMPARE(settings.value("MainWidth").toString(), QString::number(frame.width() * 15));
    QCOMPARE(settings.value("MainHeight").toString(), QString::number(frame.height() * 15));
    QCOMPARE(settings.childKeys().size(), 4);
}

void MainWindowTest::settingsLeftAloneWhenMinimized()
{
    {
        QSettings settings(QSettings::NativeFormat,
                           QSettings::UserScope,
                           "KV402Master",
                           "KV402Master");
        settings.setValue("Settings/MainLeft", "1234");
    }
    StartedWindow started(catalogueSql({"1"}));
    frmMain &window = *started.window;
    window.show();
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());
    QVERIFY(window.close());

    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    QCOMPARE(settings.allKeys(), QStringList{"Settings/MainLeft"});
    QCOMPARE(settings.value("Settings/MainLeft").toString(), "1234");
}

void MainWindowTest::settingsRecordNotAFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("folder") << "folder";
    QTest::newRow("link to a device") << "device";
}

// Reading a FIFO would block start-up before the window shows; writing would put a file in the
// place of what the user keeps there.
void MainWindowTest::settingsRecordNotAFile()
{
    QFETCH(QString, kind);
    const QString folder = m_settingsDir.filePath("KV402Master");
    const QString record = folder + "/KV402Master.conf";
    QVERIFY(QDir().mkpath(folder));
    QFile::remove(record);
    const QByteArray path = QFile::encodeName(record);
    if (kind == "fifo")
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    else if (kind == "folder")
        QVERIFY(QDir().mkdir(record));
    else
        QVERIFY(QFile::link("/dev/zero", record));
    // Whatever happens, the next test finds a record it can open.
    const auto removeRecord = qScopeGuard([&] {
        if (!QFile::remove(record))
            QDir(record).removeRecursively();
    });

    StartedWindow started(catalogueSql({"1"}));
    QVERIFY(started.loaded);
    QCOMPARE(started.window->geometryRecordRead(), SettingsRecord::Defaults);
    started.window->show();
    QVERIFY(started.window->close());
    const QFileInfo after(record);
    QVERIFY(after.exists());
    QVERIFY(!after.isFile());
}

void MainWindowTest::settingsValueNotANumber()
{
    {
        QSettings settings(QSettings::NativeFormat,
                           QSettings::UserScope,
                           "KV402Master",
                           "KV402Master");
        settings.setValue("Settings/MainLeft", "12");
        settings.setValue("Settings/MainTop", "left of centre");
        settings.setValue("Settings/MainHeight", "");
    }
    StartedWindow started(catalogueSql({"1"}));
    QVERIFY(started.loaded);
    QVERIFY(started.messages.shown.isEmpty());
    const WindowGeometryTwips read = started.window->geometryRecordRead();
    QCOMPARE(read, (WindowGeometryTwips{12, 1000, 6500, 6500}));

    // The window still opens centred at its fixed size; closing overwrites the stray value.
    started.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(started.window.get()));
    QVERIFY(started.window->close());
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    bool number = false;
    settings.value("Settings/MainTop").toString().toInt(&number);
    QVERIFY(number);
}

void MainWindowTest::exitCommandCloses()
{
    StartedWindow started(catalogueSql({"1"}));
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    started.control<QAction>("mnuFileExit")->trigger();
    QVERIFY(!window.isVisible());
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    QCOMPARE(settings.childGroups(), QStringList{"Settings"});
}

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
