#include "shell/main_window.h"

#include "catalogue/catalogue_choices.h"
#include "catalogue/catalogue_error.h"
#include "load/load_record.h"
#include "shell/about_window.h"
#include "shell/captions.h"
#include "shell/editable_list.h"
#include "shell/fonts.h"
#include "shell/help_window.h"
#include "shell/message_box.h"
#include "shell/status_bar.h"
#include "shell/twips.h"
#include "shell/window_placement.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace Kv402 {

namespace {

// The client area below the menu bar, in twips.
constexpr int ClientWidthTwips = 9600;
constexpr int ClientHeightTwips = 7935;

// The progress bars' range before a load run sets it to the number of blocks.
constexpr int IdleBarMaximum = 1000;

// Colours of the desktop scheme the window was drawn for.
const QColor ScrollBarColour(200, 200, 200);
const QColor ActiveBorderColour(180, 180, 180);
const QColor DisabledRevisionColour(230, 140, 140);
// The scheme's grey text: the disabled text boxes stay readable on white and on the scroll-bar
// grey, which Qt's own disabled grey is not.
const QColor GrayTextColour(109, 109, 109);

const char BackgroundPicture[] = ":/kv402/background.jpg";
const char LogoPicture[] = ":/kv402/logo.png";
const char TerminalPicture[] = ":/kv402/terminal.png";

// Every visible control: place and size in twips, and its place in the tab order.
struct ControlPlace
{
    const char *name;
    int left, top, width, height;
    int tabIndex;
};

constexpr ControlPlace ControlTable[] = {
    {"Label10", 360, 480, 2535, 255, 21},
    {"Combo1", 720, 840, 1335, 360, 0},
    {"Label5", 120, 1440, 2505, 195, 17},
    {"Combo3", 360, 2040, 2115, 315, 8},
    {"Label6", 3000, 1440, 2505, 195, 16},
    {"Combo4", 3240, 2040, 2115, 315, 7},
    {"Label7", 6120, 1440, 2505, 195, 15},
    {"List1", 6120, 1920, 3330, 2985, 6},
    {"Label1", 120, 3120, 2460, 195, 14},
    {"Combo_SerialPort", 600, 3720, 1635, 315, 11},
    {"Label2", 3000, 3120, 2505, 195, 20},
    {"Text3", 3480, 3720, 1635, 285, 3},
    {"Label3", 120, 4800, 2460, 195, 19},
    {"Text1", 480, 5520, 1860, 285, 10},
    {"Label4", 3000, 4800, 2505, 195, 18},
    {"Text2", 3360, 5520, 1860, 285, 9},
    {"Combo_Send", 7080, 5280, 1500, 750, 5},
    {"ProgressBar_Cicli", 120, 6120, 2595, 300, 2},
    {"ProgressBar_Errori", 3000, 6120, 2595, 300, 1},
    {"Picture1", 6720, 240, 1920, 855, 4},
    {"Label9", 6480, 6840, 2835, 525, 13},
    {"sbStatusBar", 0, 7665, 9600, 270, 12},
};

// The client area: the window picture at its own size in the top-left corner, under every
// control, on the dialog colour.
class ClientArea : public QWidget
{
public:
    explicit ClientArea(QWidget *parent)
        : QWidget(parent)
        , m_background(QString::fromLatin1(BackgroundPicture))
    {
        setObjectName(QStringLiteral("ClientArea"));
        setFixedSize(twipsToPixels(ClientWidthTwips), twipsToPixels(ClientHeightTwips));
        setAutoFillBackground(true);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.drawPixmap(0, 0, m_background);
    }

private:
    QPixmap m_background;
};

QLabel *makeLabel(const char *name, const char *caption, QWidget *parent)
{
    auto label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    // Opaque, in the dialog colour, over the window picture.
    label->setAutoFillBackground(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A caption wider than its label goes on to the next line, as labels on this window do.
    label->setWordWrap(true);
    return label;
}

// A selection-only list. Entries stay in the order in which they are added.
QComboBox *makeList(const char *name, QWidget *parent)
{
    auto list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    return list;
}

// A list with a text field, whose typed text is never added and selects nothing.
EditableList *makeEditableList(const char *name, QWidget *parent)
{
    auto list = new EditableList(parent);
    list->setObjectName(QString::fromLatin1(name));
    return list;
}

QLineEdit *makeTextBox(const char *name, QWidget *parent)
{
    auto box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setEnabled(false);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Disabled, QPalette::Text, GrayTextColour);
    box->setPalette(palette);
    return box;
}

QProgressBar *makeBar(const char *name, QWidget *parent)
{
    auto bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setOrientation(Qt::Horizontal);
    bar->setTextVisible(false);
    bar->setRange(0, IdleBarMaximum);
    bar->setValue(0);
    return bar;
}

QAction *makeEntry(const char *name, const char *caption, QMenu *menu)
{
    auto entry = menu->addAction(QString::fromLatin1(caption));
    entry->setObjectName(QString::fromLatin1(name));
    return entry;
}

QMenu *makeMenu(const char *name, const char *caption, QMenuBar *bar)
{
    auto menu = bar->addMenu(QString::fromLatin1(caption));
    menu->setObjectName(QString::fromLatin1(name));
    return menu;
}

WindowGeometryTwips frameInTwips(const QWidget *window)
{
    const QRect frame = window->frameGeometry();
    return {float(pixelsToTwips(frame.x())),
            float(pixelsToTwips(frame.y())),
            float(pixelsToTwips(frame.width())),
            float(pixelsToTwips(frame.height()))};
}

} // namespace

frmMain::frmMain(const Services &services, QWidget *parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_recordPusher(services.recordFile.isEmpty() ? LoadRecord::defaultFileName()
                                                   : services.recordFile,
                     QCoreApplication::applicationName())
    , m_messages(*services.messages, this)
{
    Q_ASSERT(m_services.messages);
    Q_ASSERT(m_services.ports);
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(Texts::mainWindowTitle());
    setWindowIcon(QIcon(QString::fromLatin1(TerminalPicture)));
    // A fixed border: no resizing, no maximize or minimize button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFont(programFont(DefaultPointSize));

    createMenus();
    createControls();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connectHandlers();
}

frmMain::~frmMain()
{
    endLoad();
}

void frmMain::createMenus()
{
    QMenuBar *bar = menuBar();
    mnuFile = makeMenu("mnuFile", "1000", bar);
    mnuFileExit = makeEntry("mnuFileExit", "1001", mnuFile);
    sellng = makeMenu("sellng", "2006", bar);
    lngita = makeEntry("lngita", "2005", sellng);
    lngeng = makeEntry("lngeng", "2006", sellng);
    mnuHlp = makeMenu("mnuHlp", "2000", bar);
    mnuRunHlp = makeEntry("mnuRunHlp", "2001", mnuHlp);
    mnuAbout = makeEntry("mnuAbout", "2002", mnuHlp);
}

void frmMain::createControls()
{
    auto client = new ClientArea(this);
    setCentralWidget(client);

    Label10 = makeLabel("Label10", " Versione Firmware ", client);
    Label10->setFont(programFont(LargePointSize));
    Combo1 = makeEditableList("Combo1", client);
    Combo1->setFont(programFont(LargePointSize));
    Combo1->setEditText(QStringLiteral("Combo1"));
    {
        // Pure red, with text in the window-background colour.
        QPalette palette = Combo1->palette();
        const QColor text = palette.color(QPalette::Base);
        palette.setColor(QPalette::Base, QColor(255, 0, 0));
        palette.setColor(QPalette::Button, QColor(255, 0, 0));
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::ButtonText, text);
        // Held still during a load run, it shows it: a paler red.
        palette.setColor(QPalette::Disabled, QPalette::Base, DisabledRevisionColour);
        palette.setColor(QPalette::Disabled, QPalette::Button, DisabledRevisionColour);
        Combo1->setPalette(palette);
    }
    Label5 = makeLabel("Label5", "Verione Software Hand Terminal", client);
    Combo3 = makeList("Combo3", client);
    Label6 = makeLabel("Label6", "Lingua", client);
    Combo4 = makeList("Combo4", client);
    Label7 = makeLabel("Label7", "Devices Gestiti", client);
    List1 = new QListWidget(client);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setSortingEnabled(false);
    Label1 = makeLabel("Label1", "Porta Seriale", client);
    Combo_SerialPort = makeEditableList("Combo_SerialPort", client);
    Label2 = makeLabel("Label2", "Velocità di Trasferimento", client);
    Text3 = makeTextBox("Text3", client);
    Text3->setText(QStringLiteral("19200"));
    Text3->setAlignment(Qt::AlignCenter);
    {
        QPalette palette = Text3->palette();
        palette.setColor(QPalette::Disabled, QPalette::Base, ScrollBarColour);
        palette.setColor(QPalette::Active, QPalette::Base, ScrollBarColour);
        palette.setColor(QPalette::Inactive, QPalette::Base, ScrollBarColour);
        Text3->setPalette(palette);
    }
    Label3 = makeLabel("Label3", "Cicli", client);
    Text1 = makeTextBox("Text1", client);
    Label4 = makeLabel("Label4", "Errori", client);
    Text2 = makeTextBox("Text2", client);
    Combo_Send = new QPushButton(QStringLiteral("Invia"), client);
    Combo_Send->setObjectName(QStringLiteral("Combo_Send"));
    // Neither Enter nor Escape presses it.
    Combo_Send->setAutoDefault(false);
    Combo_Send->setDefault(false);
    ProgressBar_Cicli = makeBar("ProgressBar_Cicli", client);
    ProgressBar_Errori = makeBar("ProgressBar_Errori", client);

    Picture1 = new QLabel(client);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // The logo at its own size from the top-left corner, clipped to the box.
    Picture1->setPixmap(QPixmap(QString::fromLatin1(LogoPicture)));
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setFocusPolicy(Qt::StrongFocus);

    Label9 = makeLabel("Label9", nullptr, client);
    Label9->setText(Texts::productCaption());
    Label9->setFont(programFont(LargePointSize, true));
    Label9->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    {
        QPalette palette = Label9->palette();
        palette.setColor(QPalette::Window, ActiveBorderColour);
        Label9->setPalette(palette);
    }

    sbStatusBar = new ClockStatusBar(client);
    sbStatusBar->setObjectName(QStringLiteral("sbStatusBar"));

    // Places, sizes and the tab order, from the control table.
    QList<const ControlPlace *> byTabIndex(std::size(ControlTable));
    for (const ControlPlace &place : ControlTable) {
        auto control = client->findChild<QWidget *>(QString::fromLatin1(place.name));
        Q_ASSERT_X(control, "createControls", place.name);
        control->setGeometry(twipsRect(place.left, place.top, place.width, place.height));
        byTabIndex[place.tabIndex] = &place;
    }
    QWidget *previous = nullptr;
    for (const ControlPlace *place : std::as_const(byTabIndex)) {
        auto control = client->findChild<QWidget *>(QString::fromLatin1(place->name));
        if (previous)
            setTabOrder(previous, control);
        previous = control;
    }
    Combo1->setFocus();
}

void frmMain::connectHandlers()
{
    connect(Combo1, &EditableList::picked, this, &frmMain::Combo1_Click);
    connect(Combo3, &QComboBox::activated, this, &frmMain::Combo3_Click);
    connect(Combo4, &QComboBox::activated, this, &frmMain::Combo4_Click);
    connect(Combo_Send, &QPushButton::clicked, this, &frmMain::Combo_Send_Click);
    connect(mnuFileExit, &QAction::triggered, this, &frmMain::mnuFileExit_Click);
    connect(lngita, &QAction::triggered, this, &frmMain::lngita_Click);
    connect(lngeng, &QAction::triggered, this, &frmMain::lngeng_Click);
    connect(mnuRunHlp, &QAction::triggered, this, &frmMain::mnuRunHlp_Click);
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
}

bool frmMain::isItalian() const
{
    return Label6->text() == Texts::italianLanguageCaption();
}

Language frmMain::language() const
{
    return isItalian() ? Language::Italian : Language::English;
}

void frmMain::fail(const CatalogueError &error)
{
    QString text = withArguments(Texts::catalogueFailure(error.kind()).in(language()),
                                 error.arguments());
    // Without any catalogue the technician needs to know where it was looked for: started from
    // the desktop's menu, the program works in the home folder.
    if (error.kind() == CatalogueError::Kind::CannotOpen
        && !QFileInfo::exists(error.arguments().value(0))) {
        text += QLatin1Char(' ')
                + Texts::NoCatalogueInWorkingFolder.in(language())
                      .arg(QDir::toNativeSeparators(QDir::currentPath()));
    }
    failWith(text);
}

void frmMain::failWith(const QString &text)
{
    m_failed = true;
    m_messages.post({text, MessageButtons::Ok, MessageIcon::Critical, MessageAnswer::Ok},
                    [this](MessageAnswer) {
                        // The program ends without its shutdown: nothing is saved.
                        hide();
                        for (const QPointer<QWidget> &window : std::as_const(m_otherWindows)) {
                            if (window)
                                window->close();
                        }
                        QCoreApplication::exit(1);
                    });
}

bool frmMain::Form_Load()
{
    applyCaptionSet(this, StartupCaptions);

    // The record is read, but what it holds never places the window: the window has a fixed
    // size and opens centred (see showEvent).
    m_geometryRead = SettingsRecord::readGeometry();

    // A working folder with a signed bundle is checked before its catalogue is used: a changed
    // file ends the program before anything can be loaded from it.
    WorkingFolderCheck bundle = checkWorkingFolder(QDir::currentPath(),
                                                   BundleTrust::standard(),
                                                   CatalogueHold::Exclusive);
    if (bundle.refused()) {
        failWith(bundle.refusal->text(language()));
        return false;
    }
    m_bundle = std::move(bundle.bundle);

    try {
        openCatalogue();
    } catch (const CatalogueError &error) {
        fail(error);
    }
    // A failure may also follow a message of the revision's choice, answered at once.
    if (m_failed)
        return false;

    for (QProgressBar *bar : {ProgressBar_Cicli, ProgressBar_Errori}) {
        bar->setMinimum(0);
        bar->setMaximum(IdleBarMaximum);
        bar->setVisible(true);
        bar->setValue(bar->minimum());
    }
    return true;
}

void frmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    // The window always opens centred on its screen.
    if (const QScreen *screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void frmMain::focusInEvent(QFocusEvent *event)
{
    QMainWindow::focusInEvent(event);
    Form_GotFocus();
}

void frmMain::Form_GotFocus()
{
    repaint();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // Leaving a terminal half written is the user's call: the window closes once the load has
    // ended.
    if (isLoading()) {
        event->ignore();
        askToStopAndExit();
        // Answered Yes at once, the load has ended and this close goes on.
        if (isLoading())
            return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::askToStopAndExit()
{
    // A second close while the question waits is answered by the question. The window is the
    // question's asker.
    if (m_messages.holds(this))
        return;
    const Message question{Texts::StopAndExit.in(language()),
                           MessageButtons::YesNo,
                           MessageIcon::None,
                           MessageAnswer::No};
    // The load's messages wait behind the question; a Yes takes them back with the load.
    m_messages.post(
        question,
        [this](MessageAnswer answer) {
            if (answer == MessageAnswer::Yes) {
                endLoad();
                // Inside the close that asked, this is that close; answered later, a new one.
                close();
            }
            Q_EMIT exitQuestionAnswered();
        },
        this);
}

void frmMain::endSession()
{
    endLoad();
    m_messages.withdrawAll();
    // After a failure the program ends without its shutdown (its message's answer ended it); a
    // window closed already has had its shutdown.
    if (!m_failed && isVisible())
        close();
}

void frmMain::Form_Unload()
{
    // The other windows close newest first.
    for (qsizetype i = m_otherWindows.size() - 1; i >= 0; --i) {
        if (const QPointer<QWidget> &window = m_otherWindows.at(i))
            window->close();
    }
    m_otherWindows.clear();

    if (!isMinimized())
        SettingsRecord::writeGeometry(frameInTwips(this));
}

void frmMain::mnuFileExit_Click()
{
    close();
}

void frmMain::lngita_Click()
{
    applyCaptionSet(this, ItalianCaptions);
    m_qtTranslation.follow(Language::Italian);
    showLoadingCaption();
}

void frmMain::lngeng_Click()
{
    applyCaptionSet(this, EnglishCaptions);
    m_qtTranslation.follow(Language::English);
    showLoadingCaption();
}

void frmMain::mnuRunHlp_Click()
{
    // The help file of the current language, in the working directory. When it is missing or
    // cannot be read nothing happens, and nothing is said.
    const Language current = language();
    const QString file = QDir::current().absoluteFilePath(HelpFileName.in(current));
    if (m_helpWindow) {
        m_helpWindow->showFile(file, current);
        return;
    }
    auto help = std::make_unique<HelpWindow>();
    if (!help->showFile(file, current))
        return;
    m_helpWindow = help.release();
    addOtherWindow(m_helpWindow);
}

void frmMain::mnuAbout_Click()
{
    // Never more than one About window: About again shows the same one.
    if (!m_aboutWindow) {
        m_aboutWindow = new FormAbout;
        addOtherWindow(m_aboutWindow);
    }
    bringToFront(m_aboutWindow);
}

void frmMain::addOtherWindow(QWidget *window)
{
    // Windows closed since are gone from the list.
    m_otherWindows.removeIf([](const QPointer<QWidget> &other) { return other.isNull(); });
    m_otherWindows.append(window);
}

} // namespace Kv402
