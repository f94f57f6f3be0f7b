#include "started_window.h"

#include "load/load_texts.h"
#include "shell/about_window.h"
#include "shell/editable_list.h"
#include "shell/fonts.h"
#include "shell/help_window.h"
#include "shell/main_window.h"
#include "shell/texts.h"
#include "simulator/simulated_terminal.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolButton>

#include <unistd.h>

Q_DECLARE_METATYPE(Kv402::Language)

using namespace Kv402;
using Kv402::Test::ScriptedMessages;
using Kv402::Test::Workspace;

namespace {

const QString EnglishHelp = "kv402ing.hlp";
const QString ItalianHelp = "kv402.hlp";

QByteArray helpDocument(const QString &title, const QString &body = QString())
{
    return QStringLiteral("<html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                          "<body><h1>%1</h1>%2</body></html>")
        .arg(title, body)
        .toUtf8();
}

// A started main window in a workspace of its own, with both help files unless told otherwise.
struct StartedWindow : Test::StartedWindow
{
    explicit StartedWindow(bool withHelpFiles = true)
        : Test::StartedWindow(setup(withHelpFiles))
    {}

    static Setup setup(bool withHelpFiles)
    {
        Setup setup;
        setup.sql = Test::revisionTableSql({"1"})
                    + Test::versionTableSql("Versioni1",
                                            {{"1.0", "English", "V10ENG.S28", "KV402"}});
        if (withHelpFiles) {
            setup.files.insert(EnglishHelp, helpDocument("English help"));
            setup.files.insert(ItalianHelp, helpDocument("Guida in italiano"));
        }
        return setup;
    }

    void setLanguageCaption(const QString &caption) { window->Label6->setText(caption); }
};

template<typename T>
QList<T *> openWindows()
{
    QList<T *> result;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto window = qobject_cast<T *>(widget))
            result.append(window);
    }
    return result;
}

// Closed windows are destroyed once the events posted for it are handled.
void destroyClosedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool isCentredOnScreen(const QWidget *window)
{
    const QPoint screen = window->screen()->availableGeometry().center();
    const QPoint centre = window->frameGeometry().center();
    return qAbs(centre.x() - screen.x()) <= 1 && qAbs(centre.y() - screen.y()) <= 1;
}

// Clicks the link with this target, as the user would, scrolling it into view first.
bool clickLink(QTextBrowser *browser, const QString &href)
{
    QTextDocument *document = browser->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().anchorHref() != href)
                continue;
            QTextCursor cursor(document);
            cursor.setPosition(fragment.position() + fragment.length() / 2);
            browser->setTextCursor(cursor);
            browser->ensureCursorVisible();
            const QPoint point = browser->cursorRect(cursor).center();
            QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, point);
            return true;
        }
    }
    return false;
}

// Records the addresses the program hands to the desktop.
class DesktopCatcher : public QObject
{
    Q_OBJECT

public:
    DesktopCatcher()
    {
        for (const char *scheme : {"https", "http", "mailto", "file"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~DesktopCatcher() override
    {
        for (const char *scheme : {"https", "http", "mailto", "file"})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

// Records the order in which the program's other windows are asked to close.
class CloseRecorder : public QObject
{
public:
    CloseRecorder() { qApp->installEventFilter(this); }
    ~CloseRecorder() override { qApp->removeEventFilter(this); }

    QStringList closed;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close && watched->isWidgetType()
            && (qobject_cast<FormAbout *>(watched) || qobject_cast<HelpWindow *>(watched)))
            closed.append(watched->objectName());
        return false;
    }
};

QStringList labelTexts(const FormAbout *about)
{
    QStringList texts{about->windowTitle()};
    for (const QLabel *label : about->findChildren<QLabel *>())
        texts.append(label->objectName() + "=" + label->text());
    return texts;
}

} // namespace

class AboutHelpTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void aboutControls_data();
    void aboutControls();
    void aboutWindow();
    void aboutTextsSameInBothLanguages();
    void aboutTwiceLeavesOneWindow();
    void aboutClosedIsDestroyedAndOpensAnew();
    void mainWindowWorksWhileAboutIsOpen();
    void shutdownClosesOtherWindowsNewestFirst_data();
    void shutdownClosesOtherWindowsNewestFirst();

    void helpFollowsLanguage_data();
    void helpFollowsLanguage();
    void missingHelpFileChangesNothing_data();
    void missingHelpFileChangesNothing();
    void helpLinksAreFollowed();
    void helpTopicsAgainStartsAtTheTop();

    void shippedHelpFiles_data();
    void shippedHelpFiles();

private:
    Test::SettingsFolder m_settingsDir;
};

void AboutHelpTest::init()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    settings.clear();
}

void AboutHelpTest::cleanup()
{
    // Whatever a failed test left open goes, so the next starts clean.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (qobject_cast<FormAbout *>(window) || qobject_cast<HelpWindow *>(window))
            delete window;
    }
    destroyClosedWindows();
}

void AboutHelpTest::aboutControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place"); // pixels in the client area
    QTest::addColumn<QString>("text");
    QTest::addColumn<qreal>("points");

    auto row = [](const char *name, QRect place, const QString &text, qreal points) {
        QTest::newRow(name) << name << place << text << points;
    };
    row("Label1", {96, 16, 265, 33}, "KV402 Master Software ", 18);
    row("Label2", {168, 56, 97, 25}, "Rev. 1.1", 18);
    row("Label3", {56, 120, 297, 25}, Texts::makerCompany(), 13.5);
    row("Label5", {80, 152, 249, 17}, Texts::makerAddress(), 9.75);
    row("Label6", {152, 176, 81, 17}, Texts::makerTelephone(), 8);
    row("Picture2", {16, 8, 65, 65}, "", 8);
    row("Picture1", {136, 216, 121, 57}, "", 8);
}

void AboutHelpTest::aboutControls()
{
    QFETCH(QString, name);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    QFETCH(qreal, points);

    FormAbout about;
    const auto label = about.findChild<QLabel *>(name);
    QVERIFY2(label, qPrintable(name));
    QCOMPARE(label->parentWidget(), &about);
    QCOMPARE(label->geometry(), place);
    QCOMPARE(label->text(), text);
    // A maker's detail that is not filled in shows no line, never a placeholder.
    QCOMPARE(label->isVisibleTo(&about), name.startsWith("Picture") || !text.isEmpty());
    // The point size of the window's design, smaller only where the desktop's face is too wide
    // for the text to fit.
    const int room = label->contentsRect().width();
    if (QFontMetrics(programFont(points)).horizontalAdvance(text.trimmed()) <= room)
        QCOMPARE(label->font().pointSizeF(), points);
    else
        QVERIFY(label->font().pointSizeF() < points);
    QVERIFY(QFontMetrics(label->font()).horizontalAdvance(text.trimmed()) <= room);
    QVERIFY(!label->font().bold());
    QVERIFY(label->alignment() & Qt::AlignLeft);
    QVERIFY(!label->wordWrap());

    if (name.startsWith("Picture")) {
        QCOMPARE(label->frameShape(), QFrame::Panel);
        QCOMPARE(label->frameShadow(), QFrame::Sunken);
        QVERIFY(!label->hasScaledContents());
        QCOMPARE(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(label->focusPolicy(), Qt::StrongFocus);
        // At its own size: the terminal fits its box, the logo is clipped to it.
        const QSize picture = name == "Picture2" ? QSize(64, 64) : QSize(1024, 768);
        QCOMPARE(label->pixmap().size(), picture);
    } else {
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        // Opaque, in the window's white, with the standard scheme's text colour.
        QVERIFY(label->autoFillBackground());
        QCOMPARE(label->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::black));
    }
}

void AboutHelpTest::aboutWindow()
{
    FormAbout about;
    QCOMPARE(about.objectName(), "FormAbout");
    // One blank before "Software", where the main window's title has two.
    QCOMPARE(about.windowTitle(), "Velmar - KV402 Master Software");
    QCOMPARE(Texts::mainWindowTitle(), "Velmar - KV402 Master  Software");
    QVERIFY(about.isWindow());
    QVERIFY(!about.parentWidget());
    QCOMPARE(about.windowModality(), Qt::NonModal);
    QVERIFY(!(about.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(about.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(about.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(about.windowFlags() & Qt::WindowSystemMenuHint);
    QVERIFY(about.testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!about.windowIcon().isNull());
    QCOMPARE(about.font().pointSizeF(), 8.0);
    QVERIFY(about.autoFillBackground());
    QCOMPARE(about.palette().color(QPalette::Window), QColor(Qt::white));

    // The rule: one pixel high, almost the whole width, in the desktop's grey-text colour.
    const auto rule = about.findChild<QFrame *>("Line2");
    QVERIFY(rule);
    QCOMPARE(rule->geometry(), QRect(8, 200, 376, 1));
    QVERIFY(rule->autoFillBackground());
    QCOMPARE(rule->palette().color(QPalette::Window),
             QGuiApplication::palette().color(QPalette::Disabled, QPalette::WindowText));

    about.setAttribute(Qt::WA_DeleteOnClose, false);
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QCOMPARE(about.size(), QSize(396, 283));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QVERIFY(isCentredOnScreen(&about));

    // Only the pictures take the focus, the logo first.
    QCOMPARE(QApplication::focusWidget(), about.Picture1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), about.Picture2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), about.Picture1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), about.Picture2);
}

void AboutHelpTest::aboutTextsSameInBothLanguages()
{
    StartedWindow started;
    QVERIFY(started.loaded);
    QStringList seen[2];
    for (const char *caption : {"Language", "Lingua"}) {
        started.setLanguageCaption(caption);
        started.window->mnuAbout->trigger();
        const QList<FormAbout *> about = openWindows<FormAbout>();
        QCOMPARE(about.size(), 1);
        seen[started.window->isItalian()] = labelTexts(about.first());
        about.first()->close();
        destroyClosedWindows();
    }
    QCOMPARE(seen[1], seen[0]);
    QVERIFY(seen[0].contains("Label1=KV402 Master Software "));
    QVERIFY(seen[0].contains("Label2=Rev. 1.1"));
    QVERIFY(started.messages.shown.isEmpty());
    started.window->close();
}

void AboutHelpTest::aboutTwiceLeavesOneWindow()
{
    StartedWindow started;
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.mnuAbout->trigger();
    const QList<FormAbout *> first = openWindows<FormAbout>();
    QCOMPARE(first.size(), 1);
    QVERIFY(QTest::qWaitForWindowExposed(first.first()));
    // Moved by the user, then About again: the same window, where the user put it, in front.
    first.first()->move(10, 20);
    QTRY_COMPARE(first.first()->pos(), QPoint(10, 20));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    window.mnuAbout->trigger();
    destroyClosedWindows();
    QCOMPARE(openWindows<FormAbout>(), first);
    QVERIFY(first.first()->isVisible());
    QCOMPARE(first.first()->pos(), QPoint(10, 20));
    QVERIFY(QTest::qWaitForWindowActive(first.first()));
    window.close();
}

void AboutHelpTest::aboutClosedIsDestroyedAndOpensAnew()
{
    StartedWindow started;
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.mnuAbout->trigger();
    QPointer<FormAbout> first = openWindows<FormAbout>().value(0);
    QVERIFY(first);
    QVERIFY(QTest::qWaitForWindowExposed(first));
    first->move(10, 20);
    QTRY_COMPARE(first->pos(), QPoint(10, 20));
    QVERIFY(first->close());
    destroyClosedWindows();
    QVERIFY(first.isNull());
    QVERIFY(openWindows<FormAbout>().isEmpty());
    QVERIFY(window.isVisible());

    // Created and shown again, centred.
    window.mnuAbout->trigger();
    const QList<FormAbout *> second = openWindows<FormAbout>();
    QCOMPARE(second.size(), 1);
    QVERIFY(QTest::qWaitForWindowExposed(second.first()));
    QVERIFY(isCentredOnScreen(second.first()));
    QCOMPARE(QApplication::focusWidget(), second.first()->Picture1);
    window.close();
}

void AboutHelpTest::mainWindowWorksWhileAboutIsOpen()
{
    StartedWindow started;
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.mnuAbout->trigger();
    FormAbout *about = openWindows<FormAbout>().value(0);
    QVERIFY(about);
    QVERIFY(QTest::qWaitForWindowActive(about));
    QVERIFY(!QApplication::activeModalWidget());

    // Back in the main window, with the About window still open: typing and the menus work.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.Combo1->setFocus();
    window.Combo1->lineEdit()->selectAll();
    QTest::keyClicks(window.Combo1->lineEdit(), "typed");
    QCOMPARE(window.Combo1->currentText(), "typed");
    window.mnuRunHlp->trigger();
    QCOMPARE(openWindows<HelpWindow>().size(), 1);
    QVERIFY(about->isVisible());
    QCOMPARE(openWindows<FormAbout>().size(), 1);
    QVERIFY(started.messages.shown.isEmpty());
    window.close();
}

void AboutHelpTest::shutdownClosesOtherWindowsNewestFirst_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("closed");

    QTest::newRow("nothing else open") << QStringList{} << QStringList{};
    QTest::newRow("About") << QStringList{"About"} << QStringList{"FormAbout"};
    QTest::newRow("Help") << QStringList{"Help"} << QStringList{"HelpWindow"};
    QTest::newRow("About, then Help")
        << QStringList{"About", "Help"} << QStringList{"HelpWindow", "FormAbout"};
    QTest::newRow("Help, then About")
        << QStringList{"Help", "About"} << QStringList{"FormAbout", "HelpWindow"};
    // Shown again, a window keeps its place in the order of opening.
    QTest::newRow("About, Help, About again")
        << QStringList{"About", "Help", "About"} << QStringList{"HelpWindow", "FormAbout"};
    QTest::newRow("About closed, Help, About anew")
        << QStringList{"About", "close About", "Help", "About"}
        << QStringList{"FormAbout", "HelpWindow"};
}

void AboutHelpTest::shutdownClosesOtherWindowsNewestFirst()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, closed);

    StartedWindow started;
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const QString &step : steps) {
        if (step == "About")
            window.mnuAbout->trigger();
        else if (step == "Help")
            window.mnuRunHlp->trigger();
        else
            openWindows<FormAbout>().value(0)->close();
        destroyClosedWindows();
    }

    CloseRecorder recorder;
    QVERIFY(window.close());
    QCOMPARE(recorder.closed, closed);
    destroyClosedWindows();
    QVERIFY(openWindows<FormAbout>().isEmpty());
    QVERIFY(openWindows<HelpWindow>().isEmpty());
    QVERIFY(!window.isVisible());
    // The rest of the shutdown ran too.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    QVERIFY(settings.contains("Settings/MainWidth"));
}

void AboutHelpTest::helpFollowsLanguage_data()
{
    QTest::addColumn<QStringList>("captions"); // Label6, before each Help Topics
    QTest::addColumn<QStringList>("files");

    QTest::newRow("after start") << QStringList{"Language"} << QStringList{EnglishHelp};
    QTest::newRow("Italian, English, Italian")
        << QStringList{"Language", "Lingua", "Language", "Lingua"}
        << QStringList{EnglishHelp, ItalianHelp, EnglishHelp, ItalianHelp};
    QTest::newRow("exact, case-sensitive, untrimmed")
        << QStringList{"lingua", "Lingua ", " Lingua", "LINGUA", "Lingua"}
        << QStringList{EnglishHelp, EnglishHelp, EnglishHelp, EnglishHelp, ItalianHelp};
}

void AboutHelpTest::helpFollowsLanguage()
{
    QFETCH(QStringList, captions);
    QFETCH(QStringList, files);

    StartedWindow started;
    QVERIFY(started.loaded);
    QPointer<HelpWindow> help;
    for (int i = 0; i < captions.size(); ++i) {
        started.setLanguageCaption(captions.at(i));
        started.window->mnuRunHlp->trigger();
        const QList<HelpWindow *> open = openWindows<HelpWindow>();
        QCOMPARE(open.size(), 1);
        // One help window, reused.
        if (help)
            QCOMPARE(open.first(), help.data());
        help = open.first();
        QVERIFY(help->isVisible());
        QCOMPARE(help->currentFile(), started.workspace.filePath(files.at(i)));
        const QString title = files.at(i) == ItalianHelp ? "Guida in italiano" : "English help";
        QCOMPARE(help->browser()->documentTitle(), title);
        QCOMPARE(help->windowTitle(), title);
        // The buttons speak the language of the moment.
        const Language language = files.at(i) == ItalianHelp ? Language::Italian
                                                             : Language::English;
        QCOMPARE(help->findChild<QToolButton *>("HelpBack")->text(), Texts::HelpBack.in(language));
    }
    QVERIFY(started.messages.shown.isEmpty());
    started.window->close();
}

void AboutHelpTest::missingHelpFileChangesNothing_data()
{
    QTest::addColumn<QStringList>("files");    // help files present
    QTest::addColumn<QString>("folder");       // a folder under a help file's name
    QTest::addColumn<bool>("unreadable");      // the help files present cannot be read
    QTest::addColumn<QString>("openedBefore"); // Label6 when Help Topics ran first
    QTest::addColumn<QString>("caption");      // Label6 for the Help Topics that finds nothing

    QTest::newRow("no help files") << QStringList{} << "" << false << ""
                                   << "Language";
    QTest::newRow("only the Italian one, English wanted")
        << QStringList{ItalianHelp} << "" << false << ""
        << "Language";
    QTest::newRow("only the English one, Italian wanted")
        << QStringList{EnglishHelp} << "" << false << ""
        << "Lingua";
    QTest::newRow("a folder by the name") << QStringList{} << EnglishHelp << false << ""
                                          << "Language";
    QTest::newRow("cannot be read") << QStringList{EnglishHelp} << "" << true << ""
                                    << "Language";
    QTest::newRow("English open, Italian missing")
        << QStringList{EnglishHelp} << "" << false << "Language"
        << "Lingua";
}

void AboutHelpTest::missingHelpFileChangesNothing()
{
    QFETCH(QStringList, files);
    QFETCH(QString, folder);
    QFETCH(bool, unreadable);
    QFETCH(QString, openedBefore);
    QFETCH(QString, caption);

    if (unreadable && ::geteuid() == 0)
        QSKIP("Running as root, every file can be read.");

    StartedWindow started(false);
    QVERIFY(started.loaded);
    for (const QString &file : files) {
        started.workspace.writeFile(file, helpDocument(file));
        if (unreadable)
            QFile::setPermissions(started.workspace.filePath(file), {});
    }
    if (!folder.isEmpty())
        QVERIFY(QDir(started.workspace.path()).mkdir(folder));
    frmMain &window = *started.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QString shownBefore;
    if (!openedBefore.isEmpty()) {
        started.setLanguageCaption(openedBefore);
        window.mnuRunHlp->trigger();
        QCOMPARE(openWindows<HelpWindow>().size(), 1);
        shownBefore = openWindows<HelpWindow>().first()->currentFile();
    }

    started.setLanguageCaption(caption);
    window.mnuRunHlp->trigger();
    destroyClosedWindows();
    const QList<HelpWindow *> help = openWindows<HelpWindow>();
    QCOMPARE(help.size(), openedBefore.isEmpty() ? 0 : 1);
    if (!help.isEmpty())
        QCOMPARE(help.first()->currentFile(), shownBefore);
    QVERIFY(started.messages.shown.isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(window.isVisible());
    QCOMPARE(window.Label6->text(), caption);

    // And the program carries on: Help Topics works once the file is there.
    if (!unreadable && folder.isEmpty()) {
        started.workspace.writeFile(HelpFileName.in(window.language()), helpDocument("Later"));
        window.mnuRunHlp->trigger();
        QCOMPARE(openWindows<HelpWindow>().size(), 1);
        QCOMPARE(openWindows<HelpWindow>().first()->browser()->documentTitle(), "Later");
    }
    window.close();
}

void AboutHelpTest::helpLinksAreFollowed()
{
    StartedWindow started(false);
    QString filler;
    for (int i = 0; i < 200; ++i)
        filler += QStringLiteral("<p>Paragraph %1</p>").arg(i);
    started.workspace.writeFile(EnglishHelp,
                                helpDocument("Contents",
                                             "<p><a href=\"second.html\">second</a> "
                                             "<a href=\"missing.html\">missing</a> "
                                             "<a href=\"https://example.com/kv402\">web</a> "
                                             "<a href=\"manual.pdf\">manual</a> "
                                             "<a href=\"#end\">end</a></p>"
                                                 + filler + "<p><a name=\"end\"></a>The end</p>"));
    started.workspace.writeFile("second.html",
                                helpDocument("Second", "<p><a href=\"kv402ing.hlp\">back</a></p>"));
    started.workspace.writeFile("manual.pdf", "%PDF-1.4");
    DesktopCatcher desktop;

    started.window->mnuRunHlp->trigger();
    HelpWindow *help = openWindows<HelpWindow>().value(0);
    QVERIFY(help);
    QVERIFY(QTest::qWaitForWindowExposed(help));
    QTextBrowser *browser = help->browser();
    const auto back = help->findChild<QToolButton *>("HelpBack");
    const auto contents = help->findChild<QToolButton *>("HelpContents");
    const QString home = started.workspace.filePath(EnglishHelp);
    QCOMPARE(help->currentFile(), home);
    QVERIFY(!back->isEnabled());

    // A relative link, resolved against the working directory.
    QVERIFY(clickLink(browser, "second.html"));
    QCOMPARE(help->currentFile(), started.workspace.filePath("second.html"));
    QCOMPARE(help->windowTitle(), "Second");
    QVERIFY(back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(help->currentFile(), home);

    // A broken link leaves the page as it is.
    QVERIFY(clickLink(browser, "missing.html"));
    QCOMPARE(help->currentFile(), home);
    QCOMPARE(browser->documentTitle(), "Contents");

    // Web pages and other kinds of file go to the desktop.
    QVERIFY(clickLink(browser, "https://example.com/kv402"));
    QVERIFY(clickLink(browser, "manual.pdf"));
    QCOMPARE(desktop.opened,
             (QList<QUrl>{QUrl("https://example.com/kv402"),
                          QUrl::fromLocalFile(started.workspace.filePath("manual.pdf"))}));
    QCOMPARE(help->currentFile(), home);

    // A place in the same document.
    QCOMPARE(browser->verticalScrollBar()->value(), 0);
    QVERIFY(clickLink(browser, "#end"));
    QCOMPARE(help->currentFile(), home);
    QVERIFY(browser->verticalScrollBar()->value() > 0);
    QTest::mouseClick(contents, Qt::LeftButton);
    QCOMPARE(help->currentFile(), home);
    QCOMPARE(browser->verticalScrollBar()->value(), 0);

    QVERIFY(started.messages.shown.isEmpty());
    started.window->close();
}

void AboutHelpTest::helpTopicsAgainStartsAtTheTop()
{
    StartedWindow started(false);
    started.workspace.writeFile(EnglishHelp,
                                helpDocument("Contents",
                                             "<p><a href=\"second.html\">second</a></p>"));
    started.workspace.writeFile("second.html", helpDocument("Second"));
    started.window->mnuRunHlp->trigger();
    HelpWindow *help = openWindows<HelpWindow>().value(0);
    QVERIFY(help);
    QVERIFY(QTest::qWaitForWindowExposed(help));
    QVERIFY(clickLink(help->browser(), "second.html"));
    QCOMPARE(help->browser()->documentTitle(), "Second");

    // The help file changed meanwhile; Help Topics shows it afresh, with a new history.
    started.workspace.writeFile(EnglishHelp, helpDocument("New contents"));
    started.window->mnuRunHlp->trigger();
    QCOMPARE(openWindows<HelpWindow>(), QList<HelpWindow *>{help});
    QCOMPARE(help->currentFile(), started.workspace.filePath(EnglishHelp));
    QCOMPARE(help->browser()->documentTitle(), "New contents");
    QVERIFY(!help->findChild<QToolButton *>("HelpBack")->isEnabled());
    QVERIFY(!help->findChild<QToolButton *>("HelpForward")->isEnabled());

    // Read again even when it is the page shown.
    started.workspace.writeFile(EnglishHelp, helpDocument("Newer contents"));
    started.window->mnuRunHlp->trigger();
    QCOMPARE(help->browser()->documentTitle(), "Newer contents");
    started.window->close();
}

void AboutHelpTest::shippedHelpFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<Language>("language");
    QTest::newRow("Italian") << ItalianHelp << Language::Italian;
    QTest::newRow("English") << EnglishHelp << Language::English;
}

void AboutHelpTest::shippedHelpFiles()
{
    QFETCH(QString, file);
    QFETCH(Language, language);

    const QString path = qEnvironmentVariable("KV402_SOURCE_DIR") + "/demo/help/" + file;
    HelpWindow help;
    QVERIFY2(help.showFile(path, language), qPrintable(path));
    QTextBrowser *browser = help.browser();
    QVERIFY(!browser->documentTitle().isEmpty());
    const QString text = browser->toPlainText();

    // Every message the program can show, and the Stop button, as the program shows them in this
    // language; the parts around the blanks filled in at run time.
    const Bilingual messages[] = {Texts::VersionNotAvailable,
                                  Texts::NothingSelected,
                                  LoadTexts::CheckCable,
                                  LoadTexts::WrongChecksum,
                                  LoadTexts::WrongChecksumQuestion,
                                  LoadTexts::CableNotConnected,
                                  LoadTexts::PortOutOfOrder,
                                  LoadTexts::FlashWriteError,
                                  LoadTexts::LoadCompleted,
                                  LoadTexts::RepeatLoad,
                                  LoadTexts::TerminalNotAnswering,
                                  Texts::LoadStopped,
                                  Texts::StopAndExit,
                                  Texts::StopCaption,
                                  LoadTexts::NoPortSelected,
                                  PortTexts::OpenFailed,
                                  Texts::VersionNotInLanguage,
                                  PortTexts::WithoutModemLines,
                                  LoadTexts::PortsDenied,
                                  PortTexts::DialoutHint,
                                  LoadTexts::DataFileUnusable,
                                  LoadTexts::NoDataToLoad};
    for (const Bilingual &message : messages) {
        for (const QString &part : message.in(language).split(QRegularExpression("%\\d"))) {
            if (part.trimmed().size() > 3)
                QVERIFY2(text.contains(part), qPrintable(part));
        }
    }
    QVERIFY(text.contains("No devices"));

    // The ports and their devices.
    for (int n = 1; n <= 16; ++n)
        QVERIFY2(text.contains(QStringLiteral("COM%1").arg(n)), qPrintable(QString::number(n)));
    for (int n = 0; n < 4; ++n) {
        QVERIFY(text.contains(QStringLiteral("/dev/ttyS%1").arg(n)));
        QVERIFY(text.contains(QStringLiteral("/dev/ttyACM%1").arg(n)));
    }
    for (int n = 0; n < 8; ++n)
        QVERIFY(text.contains(QStringLiteral("/dev/ttyUSB%1").arg(n)));
    for (const char *word :
         {"dialout", "Versioni.mdb", "kv402master-demo", "kv402.hlp", "kv402ing.hlp"})
        QVERIFY2(text.contains(word), word);

    // Every link inside the document leads somewhere.
    QStringList targets;
    QStringList anchors;
    QTextDocument *document = browser->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.anchorHref().startsWith('#'))
                targets.append(format.anchorHref().mid(1));
            anchors += format.anchorNames();
        }
    }
    QVERIFY(targets.size() > 5);
    for (const QString &target : std::as_const(targets))
        QVERIFY2(anchors.contains(target), qPrintable(target));
}

QTEST_MAIN(AboutHelpTest)
#include "tst_about_help.moc"
