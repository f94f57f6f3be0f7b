#pragma once

#include "simulator/simulated_terminal.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

#include <memory>

namespace Kv402 {

// How many terminals of a hundred are not healthy, and how.
struct DemoLineMix
{
    int noisyPercent = 18;
    int flashErrorPercent = 7;
    int silentPercent = 5;
};

// A production line for the station's demo: behind each of its ports a technician plugs a
// terminal in at a random moment, leaves it until its load has ended and a little longer, pulls
// it out, and plugs the next one in a while later. Most terminals are healthy, some sit on a
// noisy line, now and then one has a flash fault or falls silent. The same seed gives the same
// terminals in the same order. Runs on the event loop of the thread it lives in.
class DemoLine : public QObject
{
    Q_OBJECT

public:
    // Attaches a terminal, its cable out, behind each of the ports; paced, characters take their
    // true time on the wire.
    DemoLine(SimulatedPorts &ports,
             const QList<int> &portNumbers,
             quint32 seed,
             DemoLineMix mix = {},
             bool paced = true,
             QObject *parent = nullptr);

    void start();

    // The profile of the terminal plugged in last behind the port ("healthy", "noisy", ...);
    // empty while none is.
    QString pluggedIn(int portNumber) const;

private:
    struct Place
    {
        int portNumber = 0;
        std::shared_ptr<SimulatedTerminal> terminal;
        QString profile;
        // When the next step is due, in ms of the line's clock: the next terminal, or taking one
        // away; for a terminal plugged in, the moment it is taken away if nothing loads it.
        qint64 dueAt = 0;
        bool loadEnded = false;
    };

    void step();
    QString nextProfile();
    qint64 between(int fromMs, int toMs);
    bool loadHasEnded(const SimulatedTerminal &terminal) const;

    QList<Place> m_places;
    QRandomGenerator m_random;
    const DemoLineMix m_mix;
    const bool m_paced;
    QElapsedTimer m_clock;
    QTimer m_timer;
};

} // namespace Kv402
