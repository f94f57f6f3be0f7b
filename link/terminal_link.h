#pragma once

#include "link/link_constants.h"
#include "link/link_event.h"
#include "link/srecord_image.h"
#include "ports/clock.h"
#include "ports/serial_port.h"

#include <QLoggingCategory>
#include <QString>

#include <atomic>
#include <chrono>

// A run traced from the field: QT_LOGGING_RULES="kv402.link.debug=true".
Q_DECLARE_LOGGING_CATEGORY(linkLog)

namespace Kv402 {

// How long the link waits before it gives up on the terminal, how often it looks for a stop
// request while it waits, and the clock that tells the time meanwhile.
struct LinkLimits
{
    std::chrono::milliseconds silence = Link::SilenceLimit;
    std::chrono::milliseconds ctsLow = Link::CtsLowLimit;
    std::chrono::milliseconds stopCheck = Link::StopCheckInterval;
    // Null: the real steady clock. Not owned: a clock given here outlives every link and load
    // that uses these limits. The port's waits must pass on the same clock (a simulated
    // terminal's on a virtual clock), or someone else must move it on.
    Clock *clock = nullptr;

    Clock &clockInUse() const { return clock ? *clock : *Clock::steady(); }
};

// The PC's side of the link with the terminal: opens the port, sends the header and then the
// image's blocks, each checked against its echo and answered on RTS, and closes the port.
class TerminalLink
{
public:
    TerminalLink(SerialPortFactory &ports, LinkObserver &observer, LinkLimits limits = {});

    // One run, in the calling thread from start to end: sends the image to the terminal on the
    // port at the address.
    // The port is made through the factory and is closed again when the run returns, after the
    // last observer call of the outcome (except after a flash write error, see LinkObserver).
    LinkOutcome run(const MemoryImage &image, const PortAddress &address);

    // Ends a run from any thread: a wait ends within a stop-check interval and the run with
    // Stopped. The request holds for this link's later runs too; a new load needs a new link.
    void requestStop() { m_stopRequested.store(true); }
    bool stopRequested() const { return m_stopRequested.load(); }

private:
    enum class Wait { Done, TimedOut, Stopped, Failed };

    LinkOutcome transfer(const MemoryImage &image, SerialPort &port);
    Wait exchange(SerialPort &port, const QByteArray &message, QByteArray *echo);
    template<typename Done, typename Progress, typename Sleep>
    Wait waitFor(SerialPort &port,
                 std::chrono::milliseconds limit,
                 Done done,
                 Progress progress,
                 Sleep sleep);
    Wait waitForCts(SerialPort &port);
    Wait waitForWritten(SerialPort &port);
    Wait waitForAvailable(SerialPort &port, qint64 count);
    LinkOutcome endWaiting(Wait wait, SerialPort &port);
    void notify(const LinkEvent &event);

    SerialPortFactory &m_ports;
    LinkObserver &m_observer;
    const LinkLimits m_limits;
    std::atomic<bool> m_stopRequested{false};
};

} // namespace Kv402
