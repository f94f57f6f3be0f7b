#pragma once

#include "ports/serial_port.h"

#include <QMetaType>
#include <QString>

namespace Kv402 {

// The counters of a run, as the display shows them.
struct LinkCounters
{
    // N.
    int blockCount = 0;
    // Blocks whose echo the terminal returned unchanged, so far.
    int blocksDone = 0;
    // Rejected block echoes, over all blocks.
    int errors = 0;
    // The terminal could not write the last block accepted; no block follows it.
    bool flashWriteFailed = false;

    // The blocks in the terminal's flash.
    int blocksWritten() const { return blocksDone - (flashWriteFailed ? 1 : 0); }

    friend bool operator==(const LinkCounters &, const LinkCounters &) = default;
};

// How a run of the link ended.
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

// One event of a run of the link, in the order they happen. The link, the load session, the
// window and the tests all speak of a run in these.
struct LinkEvent
{
    enum class Kind {
        // CTS low after opening. The port is then closed and the run ends.
        CableNotConnected,
        // CTS high after opening: the header goes out next.
        CableConnected,
        // The terminal accepted the header: counters.blockCount blocks follow.
        HeaderAccepted,
        // A block is about to be sent for the first time.
        BlockStarting,
        BlockAccepted,
        EchoRejected,
        // The last rejected echo's status reply has been read; the port is closed next.
        PortFailure,
        // The port is closed next; BlockWritten (the bar counts the block the flash could not
        // take) and AllBlocksDone follow with the port closed.
        FlashWriteError,
        // After every accepted block, the one the flash could not take included.
        BlockWritten,
        // The run is complete: every block written, or a flash write error ended it.
        AllBlocksDone,
        TerminalNotAnswering,
        Stopped,
        // openFailure says why.
        PortNotOpened,
        // reason holds the port's reason; empty when it gave none and only stopped taking bytes.
        PortError,
    };

    Kind kind = Kind::Stopped;
    LinkCounters counters = {};
    PortOpenFailure openFailure = {};
    QString reason = {};

    // True for the events after which the terminal waits for the user: the link goes on only
    // once the observer has returned.
    bool awaitsUser() const
    {
        switch (kind) {
        case Kind::CableNotConnected:
        case Kind::PortFailure:
        case Kind::FlashWriteError:
        case Kind::AllBlocksDone:
        case Kind::TerminalNotAnswering:
        case Kind::PortError:
            return true;
        default:
            return false;
        }
    }
};

// Told of a run's events, in the order they happen. Every call comes from the thread that runs
// the link and may block for as long as it needs (a message waiting for the user): the link holds
// no lock meanwhile, and the terminal waits. The port is open during every call except
// PortNotOpened, Stopped for a stop requested before the run, and the calls that follow a flash
// write error.
class LinkObserver
{
public:
    virtual ~LinkObserver() = default;
    virtual void linkEvent(const LinkEvent &event) { Q_UNUSED(event) }
};

} // namespace Kv402

Q_DECLARE_METATYPE(Kv402::LinkCounters)
Q_DECLARE_METATYPE(Kv402::LinkOutcome)
Q_DECLARE_METATYPE(Kv402::LinkEvent)
