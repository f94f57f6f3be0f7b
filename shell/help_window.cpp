#include "shell/help_window.h"

#include "shell/twips.h"
#include "shell/window_placement.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QStyle>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace Kv402 {

namespace {

// The window's size when it first opens, in twips; the user may resize it.
constexpr int InitialWidthTwips = 9600;
constexpr int InitialHeightTwips = 8400;

const char TerminalPicture[] = ":/kv402/terminal.png";

// Linked files of these kinds are shown in the help window; any other file is handed to the
// desktop, which knows what opens it.
const QLatin1String HelpDocumentSuffixes[] = {QLatin1String("hlp"),
                                              QLatin1String("htm"),
                                              QLatin1String("html")};

bool isReadableFile(const QFileInfo &file)
{
    return file.isFile() && file.isReadable();
}

bool isHelpDocument(const QFileInfo &file)
{
    const QString suffix = file.suffix().toLower();
    for (const QLatin1String &known : HelpDocumentSuffixes) {
        if (suffix == known)
            return true;
    }
    return false;
}

QUrl withoutFragment(QUrl url)
{
    url.setFragment(QString());
    return url;
}

QToolButton *makeButton(const char *name, QStyle::StandardPixmap icon, QWidget *parent)
{
    auto button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(parent->style()->standardIcon(icon));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    return button;
}

} // namespace

HelpWindow::HelpWindow(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(QIcon(QString::fromLatin1(TerminalPicture)));
    setWindowTitle(Texts::programTitle());
    resize(twipsToPixels(InitialWidthTwips), twipsToPixels(InitialHeightTwips));

    m_back = makeButton("HelpBack", QStyle::SP_ArrowBack, this);
    m_forward = makeButton("HelpForward", QStyle::SP_ArrowForward, this);
    m_contents = makeButton("HelpContents", QStyle::SP_DirHomeIcon, this);
    m_back->setEnabled(false);
    m_forward->setEnabled(false);

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("HelpText"));
    // Links are followed here, so that a broken one leaves the page as it is.
    m_browser->setOpenLinks(false);

    auto buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addWidget(m_forward);
    buttons->addWidget(m_contents);
    buttons->addStretch();
    auto layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_browser);

    connect(m_back, &QToolButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QToolButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_contents, &QToolButton::clicked, m_browser, &QTextBrowser::home);
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &HelpWindow::followLink);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &HelpWindow::updateTitle);
}

bool HelpWindow::showFile(const QString &fileName, Language language)
{
    const QFileInfo file(fileName);
    if (!isReadableFile(file))
        return false;

    m_back->setText(Texts::HelpBack.in(language));
    m_forward->setText(Texts::HelpForward.in(language));
    m_contents->setText(Texts::HelpContents.in(language));

    const QUrl url = QUrl::fromLocalFile(file.absoluteFilePath());
    if (withoutFragment(m_browser->source()) == url) {
        // The same file again: read afresh and shown from its top.
        m_browser->reload();
        m_browser->setSource(url);
    } else {
        m_browser->setSource(url);
    }
    // Its history starts here, and Contents comes back here.
    m_browser->clearHistory();
    bringToFront(this);
    return true;
}

QString HelpWindow::currentFile() const
{
    return m_browser->source().toLocalFile();
}

void HelpWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    centreOnScreen(this);
}

void HelpWindow::followLink(const QUrl &link)
{
    // The browser resolves links against the document shown, which is in the working directory.
    QUrl target = link;
    if (target.isRelative())
        target = QUrl::fromLocalFile(QDir::currentPath() + QLatin1Char('/')).resolved(link);

    if (!target.isLocalFile()) {
        // Web pages and mail addresses go to the desktop's own programs.
        QDesktopServices::openUrl(target);
        return;
    }
    const QFileInfo file(target.toLocalFile());
    if (file.absoluteFilePath() == currentFile()) {
        // A place in the document shown.
        m_browser->setSource(target);
        return;
    }
    // A link to a file that is not there leaves the page as it is.
    if (!isReadableFile(file))
        return;
    if (isHelpDocument(file))
        m_browser->setSource(target);
    else
        QDesktopServices::openUrl(target);
}

void HelpWindow::updateTitle()
{
    const QString title = m_browser->documentTitle();
    setWindowTitle(title.isEmpty() ? Texts::programTitle() : title);
}

} // namespace Kv402
