#include "shell/about_window.h"

#include "shell/fonts.h"
#include "shell/texts.h"
#include "shell/twips.h"
#include "shell/window_placement.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>

namespace Kv402 {

namespace {

// The client area, in twips.
constexpr int ClientWidthTwips = 5940;
constexpr int ClientHeightTwips = 4245;

constexpr qreal NamePointSize = 18;
constexpr qreal CompanyPointSize = 13.5;
// How far a text that does not fit its label may shrink, and in which steps.
constexpr qreal SmallestPointSize = 6;
constexpr qreal ShrinkStep = 0.25;

// The window is drawn in the standard desktop scheme's colours whatever the desktop's theme: the
// title-bar-text colour (white) behind everything, and the default text colour (black) on it.
const QColor TitleBarTextColour(255, 255, 255);
const QColor DefaultTextColour(0, 0, 0);

// The rule under the maker's details, from its start point to its end point.
constexpr int RuleLeftTwips = 120;
constexpr int RuleRightTwips = 5760;
constexpr int RuleTopTwips = 3000;
constexpr int RuleThicknessPixels = 1;

const char LogoPicture[] = ":/kv402/logo.png";
const char TerminalPicture[] = ":/kv402/terminal.png";

// Where the desktop's face is wider than MS Sans Serif, a text that its fixed place would cut
// off is drawn a little smaller, so that it is read whole.
QFont fittingFont(qreal points, const QString &text, int room)
{
    QFont font = programFont(points);
    const QString shown = text.trimmed();
    while (QFontMetrics(font).horizontalAdvance(shown) > room
           && font.pointSizeF() - ShrinkStep >= SmallestPointSize)
        font.setPointSizeF(font.pointSizeF() - ShrinkStep);
    return font;
}

QLabel *makeLabel(const char *name, const QString &text, qreal points, QRect place, QWidget *parent)
{
    auto label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    // Opaque, in the window's background colour, so that no label stands out as a box.
    label->setAutoFillBackground(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(place);
    label->setFont(fittingFont(points, text, label->contentsRect().width()));
    return label;
}

// A picture box: the picture at its own size from the top-left corner, clipped to the box, in a
// sunken border.
QLabel *makePictureBox(const char *name, const char *picture, QRect place, QWidget *parent)
{
    auto box = new QLabel(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setPixmap(QPixmap(QString::fromLatin1(picture)));
    box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    box->setFocusPolicy(Qt::StrongFocus);
    box->setGeometry(place);
    return box;
}

} // namespace

FormAbout::FormAbout(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("FormAbout"));
    setWindowTitle(Texts::aboutWindowTitle());
    setWindowIcon(QIcon(QString::fromLatin1(TerminalPicture)));
    // A fixed border with the window menu and the close box, but no maximize or minimize button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twipsToPixels(ClientWidthTwips), twipsToPixels(ClientHeightTwips));
    setFont(programFont(DefaultPointSize));
    {
        QPalette colours = palette();
        colours.setColor(QPalette::Window, TitleBarTextColour);
        colours.setColor(QPalette::WindowText, DefaultTextColour);
        setPalette(colours);
    }
    setAutoFillBackground(true);

    Picture2 = makePictureBox("Picture2", TerminalPicture, twipsRect(240, 120, 975, 975), this);
    Label1 = makeLabel("Label1",
                       Texts::aboutProgramName(),
                       NamePointSize,
                       twipsRect(1440, 240, 3975, 495),
                       this);
    Label2 = makeLabel("Label2",
                       Texts::aboutRevision(),
                       NamePointSize,
                       twipsRect(2520, 840, 1455, 375),
                       this);
    Label3 = makeLabel("Label3",
                       Texts::makerCompany(),
                       CompanyPointSize,
                       twipsRect(840, 1800, 4455, 375),
                       this);
    Label5 = makeLabel("Label5",
                       Texts::makerAddress(),
                       LargePointSize,
                       twipsRect(1200, 2280, 3735, 255),
                       this);
    Label6 = makeLabel("Label6",
                       Texts::makerTelephone(),
                       DefaultPointSize,
                       twipsRect(2280, 2640, 1215, 255),
                       this);
    // The places stay as designed; a detail that is not filled in is simply not there.
    for (QLabel *detail : {Label3, Label5, Label6})
        detail->setVisible(!detail->text().isEmpty());

    // A solid rule in the desktop's grey-text colour: the colour of disabled text, which the
    // platform's palette carries as the disabled window text.
    Line2 = new QFrame(this);
    Line2->setObjectName(QStringLiteral("Line2"));
    Line2->setFrameShape(QFrame::NoFrame);
    Line2->setAutoFillBackground(true);
    {
        QPalette colours = Line2->palette();
        colours.setColor(QPalette::Window,
                         QGuiApplication::palette().color(QPalette::Disabled, QPalette::WindowText));
        Line2->setPalette(colours);
    }
    // A line's end point is not drawn.
    Line2->setGeometry(twipsToPixels(RuleLeftTwips),
                       twipsToPixels(RuleTopTwips),
                       twipsToPixels(RuleRightTwips - RuleLeftTwips),
                       RuleThicknessPixels);

    Picture1 = makePictureBox("Picture1", LogoPicture, twipsRect(2040, 3240, 1815, 855), this);

    // Only the picture boxes take the focus: Tab moves between them, the logo first.
    setTabOrder(Picture1, Picture2);
    Picture1->setFocus();
}

void FormAbout::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    // Opens centred on the screen; shown again while open, it stays where it is.
    centreOnScreen(this);
}

} // namespace Kv402
