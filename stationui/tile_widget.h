#pragma once

#include "language/bilingual.h"
#include "station/tile.h"

#include <QFrame>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace Kv402 {

// One armed port of the station: its name and adapter, the state in words and colour, the
// progress of the load, its errors and time left, the port's counts, the unit serial, a notice,
// and its Stop and Arm buttons. It draws a TileView; what the buttons and the serial field mean
// is the window's.
class TileWidget : public QFrame
{
    Q_OBJECT

public:
    explicit TileWidget(const QString &port, QWidget *parent = nullptr);

    const QString &port() const { return m_port; }
    // Draws the view; armed and locked decide which buttons work.
    void draw(const TileView &view, bool armed, bool locked, Language language);
    // The last view drawn.
    const TileView &shown() const { return m_view; }

    QLabel *portName = nullptr;
    QLabel *adapter = nullptr;
    QLabel *state = nullptr;
    QProgressBar *progress = nullptr;
    QLabel *errors = nullptr;
    QLabel *timeLeft = nullptr;
    QLabel *counts = nullptr;
    QLabel *serialLabel = nullptr;
    QLineEdit *unitSerial = nullptr;
    QLabel *notice = nullptr;
    QPushButton *stop = nullptr;
    QPushButton *arm = nullptr;

Q_SIGNALS:
    void stopClicked(const QString &port);
    void armClicked(const QString &port);
    // Enter in the serial field: a scanner ends every number so.
    void serialEntered(const QString &port, const QString &serial);

private:
    QString m_port;
    TileView m_view;
    bool m_drawn = false;
};

} // namespace Kv402
