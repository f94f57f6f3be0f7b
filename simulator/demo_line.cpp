#include "simulator/demo_line.h"

#include "simulator/terminal_profiles.h"

namespace Kv402 {

namespace {

// How often the technicians look at their terminals.
constexpr int StepMs = 200;
// The first terminals come within a few seconds, so that a newcomer sees the line at work.
constexpr int FirstPlugMinMs = 500;
constexpr int FirstPlugMaxMs = 4000;
// A loaded terminal stays a while after its result, then the place is empty a while.
constexpr int StayMinMs = 2000;
constexpr int StayMaxMs = 6000;
constexpr int EmptyMinMs = 1500;
constexpr int EmptyMaxMs = 7000;
// A terminal on a port that loads nothing (not armed) is taken away again after a while.
constexpr int GiveUpMs = 60000;

SimulatedTerminal::Options unplugged(bool paced)
{
    SimulatedTerminal::Options options;
    options.cableConnected = false;
    options.paced = paced;
    return options;
}

} // namespace

DemoLine::DemoLine(SimulatedPorts &ports,
                   const QList<int> &portNumbers,
                   quint32 seed,
                   DemoLineMix mix,
                   bool paced,
                   QObject *parent)
    : QObject(parent)
    , m_random(seed)
    , m_mix(mix)
    , m_paced(paced)
{
    for (const int number : portNumbers) {
        Place place;
        place.portNumber = number;
        place.terminal = std::make_shared<SimulatedTerminal>(unplugged(paced));
        ports.attach(number, place.terminal);
        m_places.append(place);
    }
    m_timer.setInterval(StepMs);
    connect(&m_timer, &QTimer::timeout, this, &DemoLine::step);
}

void DemoLine::start()
{
    m_clock.start();
    for (Place &place : m_places)
        place.dueAt = between(FirstPlugMinMs, FirstPlugMaxMs);
    m_timer.start();
}

QString DemoLine::pluggedIn(int portNumber) const
{
    for (const Place &place : m_places) {
        if (place.portNumber == portNumber)
            return place.profile;
    }
    return {};
}

qint64 DemoLine::between(int fromMs, int toMs)
{
    return m_clock.elapsed() + fromMs + qint64(m_random.bounded(toMs - fromMs));
}

QString DemoLine::nextProfile()
{
    int roll = int(m_random.bounded(100));
    if ((roll -= m_mix.silentPercent) < 0)
        return QStringLiteral("silent");
    if ((roll -= m_mix.flashErrorPercent) < 0)
        return QStringLiteral("flash-error");
    if ((roll -= m_mix.noisyPercent) < 0)
        return QStringLiteral("noisy");
    return QStringLiteral("healthy");
}

bool DemoLine::loadHasEnded(const SimulatedTerminal &terminal) const
{
    // The port closed after the PC had sent something: a load ran and has ended. Waiting for the
    // terminal opens and closes the port without sending.
    bool sent = false;
    for (const SimulatedTerminal::Event &event : terminal.events()) {
        if (event.kind == SimulatedTerminal::Event::Kind::PcSent)
            sent = true;
        else if (event.kind == SimulatedTerminal::Event::Kind::Closed && sent)
            return true;
    }
    return false;
}

void DemoLine::step()
{
    const qint64 now = m_clock.elapsed();
    for (Place &place : m_places) {
        if (place.profile.isEmpty()) {
            if (now < place.dueAt)
                continue;
            place.profile = nextProfile();
            SimulatedTerminal::Options options = *terminalProfile(place.profile);
            options.paced = m_paced;
            place.terminal->plugIn(options);
            place.loadEnded = false;
            place.dueAt = now + GiveUpMs;
            continue;
        }
        if (!place.loadEnded) {
            if (!loadHasEnded(*place.terminal) && now < place.dueAt)
                continue;
            place.loadEnded = true;
            place.dueAt = between(StayMinMs, StayMaxMs);
            continue;
        }
        if (now < place.dueAt)
            continue;
        place.terminal->setCableConnected(false);
        place.profile.clear();
        place.dueAt = between(EmptyMinMs, EmptyMaxMs);
    }
}

} // namespace Kv402
