#pragma once

#include <QStatusBar>
#include <QTimer>

class QLabel;

namespace Kv402 {

// A status bar of three sunken panels: the fixed text "Status", the date and the time. The date
// and time panels keep themselves current, as a status bar component does; no program code
// writes them.
class ClockStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit ClockStatusBar(QWidget *parent = nullptr);

    QLabel *statusPanel() const { return m_status; }
    QLabel *datePanel() const { return m_date; }
    QLabel *timePanel() const { return m_time; }

private:
    void updateClock();

    QLabel *m_status;
    QLabel *m_date;
    QLabel *m_time;
    QTimer m_tick;
};

} // namespace Kv402
