#include "stationui/tile_widget.h"

#include "stationui/station_window_texts.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace Kv402 {

namespace {

// The state's colours: a light background the dark text reads on, and never the only sign.
QString toneStyle(TileView::Tone tone)
{
    switch (tone) {
    case TileView::Tone::Idle:
        return QStringLiteral("background:#e6e6e6;color:#202020;");
    case TileView::Tone::Busy:
        return QStringLiteral("background:#cfe3ff;color:#0b2f66;");
    case TileView::Tone::Good:
        return QStringLiteral("background:#c8f0c8;color:#0d4d0d;");
    case TileView::Tone::Bad:
        break;
    }
    return QStringLiteral("background:#ffd0cc;color:#6b0d05;");
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
    notice->setStyleSheet(QStringLiteral("color:#a01000;"));
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
        state->setStyleSheet(toneStyle(view.tone()));

    const int of = std::max(view.blockCount, 0);
    if (progress->maximum() != std::max(of, 1))
        progress->setMaximum(std::max(of, 1));
    if (progress->value() != view.blocksDone)
        progress->setValue(std::min(view.blocksDone, std::max(of, 1)));
    const QString blocks = StationWindowTexts::BlocksDone.in(language).arg(view.blocksDone).arg(of);
    if (progress->format() != blocks)
        progress->setFormat(blocks);

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
