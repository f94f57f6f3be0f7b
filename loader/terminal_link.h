#pragma once

#include "loader/link_constants.h"
#include "loader/serial_port.h"
#include "loader/srecord_image.h"

#include <QString>

#include <atomic>
#include <chrono>

namespace Kv402 {

// The counters of a run, as the display shows them.
struct LinkCounters
{
    // N.
    int blockCount = 0;
    // Blocks accepted so far; N + 1 once the terminal has reported a flash write error.
    int blocksDone = 0;
    // Rejected block echoes, over all blocks.
    int errors = 0;
};

// How a run ended.
enum class LinkOutcome {
    // Every block accepted and written.
    Completed,
    // The terminal could not write a block to its flash; no further block was sent.
    FlashWriteError,
    // CTS was low when the port had just been opened; nothing was sent.
    CableNotConnected,
    // One block's echo was rejected MaxAttempts times.
    PortFailure,
    // The terminal stopped answering, or CTS stayed low for too long.
    TerminalNotAnswering,
    Stopped,
    // The port could not be opened; nothing was sent.
    PortNotOpened,
    // The open port stopped working (a USB adapter pulled out, say).
    PortError,
    // The image has no block to send, or more than the terminal's memory holds; the port was not
    // touched.
    ImageNotSendable,
};

// Told of a run's events, in the order they happen. Every call comes from the thread that runs
// the link and may block for as long as it needs (a message waiting for the user): the link holds
// no lock meanwhile, and the terminal waits. The port is open during every call except
// portNotOpened, stopped for a stop requested before the run, and the calls that follow a flash
// write error.
class LinkObserver
{
public:
    virtual ~LinkObserver() = default;

    // CTS low after opening. The port is then closed and the run ends; the caller may run again.
    virtual void cableNotConnected() {}
    // CTS high after opening: the header goes out next.
    virtual void cableConnected() {}
    // The terminal accepted the header: N blocks follow.
    virtual void headerAccepted(int blockCount) { Q_UNUSED(blockCount) }
    // A block is about to be sent for the first time.
    virtual void blockStarting(const LinkCounters &counters) { Q_UNUSED(counters) }
    virtual void blockAccepted(const LinkCounters &counters) { Q_UNUSED(counters) }
    virtual void echoRejected(const LinkCounters &counters) { Q_UNUSED(counters) }
    // The last rejected echo's status reply has been read; the port is closed next.
    virtual void portFailure(const LinkCounters &counters) { Q_UNUSED(counters) }
    // The port is closed next; blockWritten and allBlocksDone follow with the port closed and
    // blocksDone = N + 1.
    virtual void flashWriteError(const LinkCounters &counters) { Q_UNUSED(counters) }
    // After every accepted block, the one the flash could not take included.
    virtual void blockWritten(const LinkCounters &counters) { Q_UNUSED(counters) }
    // The run is complete (blocksDone is N or more); after a flash write error too.
    virtual void allBlocksDone(const LinkCounters &counters) { Q_UNUSED(counters) }
    virtual void terminalNotAnswering() {}
    virtual void stopped() {}
    virtual void portNotOpened(const PortOpenFailure &failure) { Q_UNUSED(failure) }
    // The port's reason; empty when it gave none and only stopped taking bytes.
    virtual void portError(const QString &reason) { Q_UNUSED(reason) }
};

// How long the link waits before it gives up on the terminal, and how often it looks for a stop
// request while it waits.
struct LinkLimits
{
    std::chrono::milliseconds silence = Link::SilenceLimit;
    std::chrono::milliseconds ctsLow = Link::CtsLowLimit;
    std::chrono::milliseconds stopCheck = Link::StopCheckInterval;
};

// The PC's side of the link with the terminal: opens the port, sends the header and then the
// image's blocks, each checked against its echo and answered on RTS, and closes the port.
class TerminalLink
{
public:
    TerminalLink(SerialPortFactory &ports, LinkObserver &observer, LinkLimits limits = {});

    // One run, in the calling thread from start to end: sends the image to the terminal on COMn.
    // The port is made through the factory and is closed again when the run returns, after the
    // last observer call of the outcome (except after a flash write error, see LinkObserver).
    LinkOutcome run(const MemoryImage &image, int portNumber);

    // Ends a run from any thread: a wait ends within 100 ms and the run with Stopped. The
    // request holds for this link's later runs too; a new load needs a new link.
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

    SerialPortFactory &m_ports;
    LinkObserver &m_observer;
    const LinkLimits m_limits;
    std::atomic<bool> m_stopRequested{false};
};

} // namespace Kv402
