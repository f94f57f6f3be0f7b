#include "stationui/tile_widget.h"

#include "stationui/station_window_texts.h"

#include <QColor>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <array>

namespace Kv402 {

namespace {

// The state's colours: a light background the dark text reads on, and never the only sign. Set
// through the palette: a style sheet would restyle the label at every change of state.
void paintTone(QLabel *label, TileView::Tone tone)
{
    static const std::array<std::pair<QColor, QColor>, 4> colours{{
        {QColor(0xe6, 0xe6, 0xe6), QColor(0x20, 0x20, 0x20)}, // Idle
        {QColor(0xcf, 0xe3, 0xff), QColor(0x0b, 0x2f, 0x66)}, // Busy
        {QColor(0xc8, 0xf0, 0xc8), QColor(0x0d, 0x4d, 0x0d)}, // Good
        {QColor(0xff, 0xd0, 0xcc), QColor(0x6b, 0x0d, 0x05)}, // Bad
    }};
    const auto &[background, text] = colours.at(std::size_t(tone));
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    label->setPalette(palette);
}

// Text set only when it differs: a label that is set repaints, however often the same.
void setText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

} // namespace

TileWidget::TileWidget(const QString &port, QWidget *parent)
    : QFrame(parent)
    , m_port(port)
{
    setObjectName(QStringLiteral("tile-%1").arg(port));
    setFrameShape(QFrame::StyledPanel);
    setMinimumWidth(260);

    const auto named = [this](auto *widget, const char *name) {
        widget->setObjectName(QLatin1String(name));
        return widget;
    };
    portName = named(new QLabel(port, this), "portName");
    QFont bold = portName->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    portName->setFont(bold);
    adapter = named(new QLabel(this), "adapter");
    adapter->setWordWrap(true);
    state = named(new QLabel(this), "state");
    state->setWordWrap(true);
    state->setMargin(4);
    state->setAutoFillBackground(true);
    state->setMinimumHeight(state->fontMetrics().height() * 2 + 8);
    progress = named(new QProgressBar(this), "progress");
    progress->setTextVisible(true);
    errors = named(new QLabel(this), "errors");
    timeLeft = named(new QLabel(this), "timeLeft");
    counts = named(new QLabel(this), "counts");
    serialLabel = named(new QLabel(this), "serialLabel");
    unitSerial = named(new QLineEdit(this), "unitSerial");
    unitSerial->setClearButtonEnabled(true);
    serialLabel->setBuddy(unitSerial);
    notice = named(new QLabel(this), "notice");
    notice->setWordWrap(true);
    QPalette noticePalette = notice->palette();
    noticePalette.setColor(QPalette::WindowText, QColor(0xa0, 0x10, 0x00));
    notice->setPalette(noticePalette);
    stop = named(new QPushButton(this), "stop");
    arm = named(new QPushButton(this), "arm");

    auto *layout = new QGridLayout(this);
    layout->addWidget(portName, 0, 0, 1, 2);
    layout->addWidget(adapter, 1, 0, 1, 2);
    layout->addWidget(state, 2, 0, 1, 2);
    layout->addWidget(progress, 3, 0, 1, 2);
    layout->addWidget(errors, 4, 0);
    layout->addWidget(timeLeft, 4, 1);
    layout->addWidget(counts, 5, 0, 1, 2);
    layout->addWidget(serialLabel, 6, 0);
    layout->addWidget(unitSerial, 6, 1);
    layout->addWidget(notice, 7, 0, 1, 2);
    layout->addWidget(stop, 8, 0);
    layout->addWidget(arm, 8, 1);

    connect(stop, &QPushButton::clicked, this, [this] { Q_EMIT stopClicked(m_port); });
    connect(arm, &QPushButton::clicked, this, [this] { Q_EMIT armClicked(m_port); });
    connect(unitSerial, &QLineEdit::returnPressed, this, [this] {
        Q_EMIT serialEntered(m_port, unitSerial->text().trimmed());
    });
}

void TileWidget::draw(const TileView &view, bool armed, bool locked, Language language)
{
    setText(adapter, view.adapter);
    setText(state, view.stateText(language));
    if (!m_drawn || view.tone() != m_view.tone())
        paintTone(state, view.tone());

    const int of = std::max(view.blockCount, 0);
    const QString blocks = StationWindowTexts::BlocksDone.in(language).arg(view.blocksDone).arg(of);
    // A progress bar repaints itself at once whenever its value or text changes; held back, it
    // is painted with the rest of the window, once for all the tiles that changed.
    progress->setUpdatesEnabled(false);
    if (progress->maximum() != std::max(of, 1))
        progress->setMaximum(std::max(of, 1));
    if (progress->value() != view.blocksDone)
        progress->setValue(std::min(view.blocksDone, std::max(of, 1)));
    if (progress->format() != blocks)
        progress->setFormat(blocks);
    progress->setUpdatesEnabled(true);

    setText(errors, StationWindowTexts::Errors.in(language).arg(view.errors));
    setText(timeLeft, view.busy() ? view.timeLeftText(language) : QString());
    setText(counts, StationWindowTexts::TileCounts.in(language).arg(view.passed).arg(view.failed));
    setText(serialLabel, StationWindowTexts::UnitSerial.in(language));
    unitSerial->setPlaceholderText(StationWindowTexts::UnitSerialHint.in(language));
    // The field shows the serial the station holds when it changes; a number the station
    // refused stays as it was typed, for the operator to see and the next scan to replace.
    if ((!m_drawn || view.unitSerial != m_view.unitSerial) && unitSerial->text() != view.unitSerial)
        unitSerial->setText(view.unitSerial);
    setText(notice, view.notice);
    notice->setVisible(!view.notice.isEmpty());

    stop->setText(StationWindowTexts::StopTile.in(language));
    arm->setText(StationWindowTexts::ArmTile.in(language));
    stop->setEnabled(armed);
    arm->setEnabled(!armed && !locked);

    m_view = view;
    m_drawn = true;
}

} // namespace Kv402
