#include "shell/status_bar.h"

#include "shell/twips.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>

namespace Kv402 {

namespace {

// No panel is ever narrower than an inch.
constexpr int MinimumPanelTwips = 1440;

// The locale's short time format, cut to hours and minutes where it shows seconds.
QString hoursAndMinutesFormat(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    static const QRegularExpression seconds(QStringLiteral("[^hHmAapt]?s+"));
    format.remove(seconds);
    return format;
}

QLabel *makePanel(const QString &text, QWidget *parent)
{
    auto panel = new QLabel(text, parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    panel->setMinimumWidth(twipsToPixels(MinimumPanelTwips));
    return panel;
}

} // namespace

ClockStatusBar::ClockStatusBar(QWidget *parent)
    : QStatusBar(parent)
    , m_status(makePanel(QStringLiteral("Status"), this))
    , m_date(makePanel(QString(), this))
    , m_time(makePanel(QString(), this))
{
    setSizeGripEnabled(false);
    // The first panel takes what the date and time leave.
    addWidget(m_status, 1);
    addWidget(m_date, 0);
    addWidget(m_time, 0);

    m_tick.setSingleShot(true);
    m_tick.setTimerType(Qt::CoarseTimer);
    connect(&m_tick, &QTimer::timeout, this, &ClockStatusBar::updateClock);
    updateClock();
}

void ClockStatusBar::updateClock()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    m_date->setText(locale.toString(now.date(), QLocale::ShortFormat));
    m_time->setText(locale.toString(now.time(), hoursAndMinutesFormat(locale)));

    // Wake at the start of the next minute: the time shows hours and minutes only.
    const int msIntoMinute = now.time().second() * 1000 + now.time().msec();
    m_tick.start(60 * 1000 - msIntoMinute + 50);
}

} // namespace Kv402
