#include "link/terminal_link.h"

#include <algorithm>
#include <memory>

Q_LOGGING_CATEGORY(linkLog, "kv402.link", QtWarningMsg)

namespace Kv402 {

namespace {

const char *eventName(LinkEvent::Kind kind)
{
    switch (kind) {
    case LinkEvent::Kind::CableNotConnected:
        return "cable not connected";
    case LinkEvent::Kind::CableConnected:
        return "cable connected";
    case LinkEvent::Kind::HeaderAccepted:
        return "header accepted";
    case LinkEvent::Kind::BlockStarting:
        return "block starting";
    case LinkEvent::Kind::BlockAccepted:
        return "echo accepted";
    case LinkEvent::Kind::EchoRejected:
        return "echo rejected";
    case LinkEvent::Kind::PortFailure:
        return "port failure";
    case LinkEvent::Kind::FlashWriteError:
        return "flash write error";
    case LinkEvent::Kind::BlockWritten:
        return "block written";
    case LinkEvent::Kind::AllBlocksDone:
        return "all blocks done";
    case LinkEvent::Kind::TerminalNotAnswering:
        return "terminal not answering";
    case LinkEvent::Kind::Stopped:
        return "stopped";
    case LinkEvent::Kind::PortNotOpened:
        return "port not opened";
    case LinkEvent::Kind::PortError:
        return "port error";
    }
    return "?";
}

QByteArray headerFor(int blockCount)
{
    // N mod 256, then N div 256.
    QByteArray header(Link::HeaderSize, '\0');
    header[0] = char(blockCount & 0xFF);
    header[1] = char(blockCount >> 8);
    return header;
}

} // namespace

TerminalLink::TerminalLink(SerialPortFactory &ports, LinkObserver &observer, LinkLimits limits)
    : m_ports(ports)
    , m_observer(observer)
    , m_limits(limits)
{}

LinkOutcome TerminalLink::run(const MemoryImage &image, const PortAddress &address)
{
    const int blockCount = image.blockCount();
    if (blockCount < 1 || blockCount > Image::MaxBlocks
        || image.bytes.size() < qsizetype(blockCount) * Image::BlockSize) {
        return LinkOutcome::ImageNotSendable;
    }
    if (stopRequested()) {
        notify({.kind = LinkEvent::Kind::Stopped});
        return LinkOutcome::Stopped;
    }

    const std::unique_ptr<SerialPort> port = m_ports.makePort(address);
    PortOpenFailure failure;
    if (!port->open(Link::Line, &failure)) {
        notify({.kind = LinkEvent::Kind::PortNotOpened, .openFailure = failure});
        return LinkOutcome::PortNotOpened;
    }
    const LinkOutcome outcome = transfer(image, *port);
    port->close();
    return outcome;
}

LinkOutcome TerminalLink::transfer(const MemoryImage &image, SerialPort &port)
{
    if (!port.cts()) {
        notify({.kind = LinkEvent::Kind::CableNotConnected});
        return LinkOutcome::CableNotConnected;
    }
    notify({.kind = LinkEvent::Kind::CableConnected});

    // The header handshake, repeated until the terminal echoes the header unchanged.
    LinkCounters counters;
    counters.blockCount = image.blockCount();
    const QByteArray header = headerFor(counters.blockCount);
    for (bool accepted = false; !accepted;) {
        QByteArray echo;
        if (const Wait wait = exchange(port, header, &echo); wait != Wait::Done)
            return endWaiting(wait, port);
        accepted = echo == header;
        port.setRts(accepted);
        qCDebug(linkLog) << "header" << header.toHex() << (accepted ? "echoed" : "echo changed");
        // The header's status reply is read and not looked at; RTS stays high for block 0.
        if (const Wait wait = waitForAvailable(port, Link::StatusSize); wait != Wait::Done)
            return endWaiting(wait, port);
        port.readAll();
    }
    notify({.kind = LinkEvent::Kind::HeaderAccepted, .counters = counters});

    for (int block = 0; block < counters.blockCount; ++block) {
        const QByteArray data = image.block(block);
        int attempts = 0;
        notify({.kind = LinkEvent::Kind::BlockStarting, .counters = counters});
        for (;;) {
            QByteArray echo;
            if (const Wait wait = exchange(port, data, &echo); wait != Wait::Done)
                return endWaiting(wait, port);
            // An echo with bytes behind it is unequal too.
            const bool accepted = echo == data;
            // The terminal waits for this answer, so it goes out before anyone is told.
            port.setRts(accepted);
            if (accepted) {
                ++counters.blocksDone;
                notify({.kind = LinkEvent::Kind::BlockAccepted, .counters = counters});
            } else {
                ++attempts;
                ++counters.errors;
                notify({.kind = LinkEvent::Kind::EchoRejected, .counters = counters});
            }
            if (const Wait wait = waitForAvailable(port, Link::StatusSize); wait != Wait::Done)
                return endWaiting(wait, port);
            const QByteArray status = port.readAll();
            port.setRts(false);
            qCDebug(linkLog).nospace()
                << "block " << block << " attempt " << attempts + (accepted ? 1 : 0) << ": echo "
                << (accepted ? "accepted" : "rejected") << ", status "
                << status.left(1).toHex().constData();

            if (!accepted) {
                if (attempts < Link::MaxAttempts)
                    continue;
                notify({.kind = LinkEvent::Kind::PortFailure, .counters = counters});
                return LinkOutcome::PortFailure;
            }
            // Only an accepted block's status reply reports on the flash.
            if (status.at(0) != Link::FlashWritten) {
                counters.flashWriteFailed = true;
                notify({.kind = LinkEvent::Kind::FlashWriteError, .counters = counters});
                port.close();
                notify({.kind = LinkEvent::Kind::BlockWritten, .counters = counters});
                notify({.kind = LinkEvent::Kind::AllBlocksDone, .counters = counters});
                return LinkOutcome::FlashWriteError;
            }
            notify({.kind = LinkEvent::Kind::BlockWritten, .counters = counters});
            break;
        }
    }
    notify({.kind = LinkEvent::Kind::AllBlocksDone, .counters = counters});
    return LinkOutcome::Completed;
}

TerminalLink::Wait TerminalLink::exchange(SerialPort &port,
                                          const QByteArray &message,
                                          QByteArray *echo)
{
    if (const Wait wait = waitForCts(port); wait != Wait::Done)
        return wait;
    if (!port.write(message))
        return Wait::Failed;
    if (const Wait wait = waitForWritten(port); wait != Wait::Done)
        return wait;
    // The echo is everything waiting once as many bytes as were sent have arrived.
    if (const Wait wait = waitForAvailable(port, message.size()); wait != Wait::Done)
        return wait;
    *echo = port.readAll();
    return Wait::Done;
}

template<typename Done, typename Progress, typename Sleep>
TerminalLink::Wait TerminalLink::waitFor(
    SerialPort &port, std::chrono::milliseconds limit, Done done, Progress progress, Sleep sleep)
{
    // The limit runs from the last sign of life: a byte arriving, the output queue shrinking.
    Clock &clock = m_limits.clockInUse();
    Clock::TimePoint deadline = clock.now() + limit;
    qint64 seen = progress();
    for (;;) {
        if (stopRequested())
            return Wait::Stopped;
        if (done())
            return Wait::Done;
        if (!port.failure().isEmpty())
            return Wait::Failed;
        const Clock::TimePoint now = clock.now();
        if (now >= deadline)
            return Wait::TimedOut;
        // Rounded up to whole milliseconds: a wait of none would leave a virtual clock where it
        // is and this loop spinning.
        const auto slice = std::chrono::ceil<std::chrono::milliseconds>(
            std::min<Clock::Duration>(m_limits.stopCheck, deadline - now));
        sleep(int(slice.count()));
        if (const qint64 current = progress(); current != seen) {
            seen = current;
            deadline = clock.now() + limit;
        }
    }
}

TerminalLink::Wait TerminalLink::waitForCts(SerialPort &port)
{
    return waitFor(
        port,
        m_limits.ctsLow,
        [&] { return port.cts(); },
        [] { return qint64(0); },
        [&](int msecs) { port.waitForCts(msecs); });
}

TerminalLink::Wait TerminalLink::waitForWritten(SerialPort &port)
{
    return waitFor(
        port,
        m_limits.silence,
        [&] { return port.bytesToWrite() == 0; },
        [&] { return port.bytesToWrite(); },
        [&](int msecs) { port.waitForWritten(msecs); });
}

TerminalLink::Wait TerminalLink::waitForAvailable(SerialPort &port, qint64 count)
{
    return waitFor(
        port,
        m_limits.silence,
        [&] { return port.bytesAvailable() >= count; },
        [&] { return port.bytesAvailable(); },
        [&](int msecs) { port.waitForAvailable(count, msecs); });
}

void TerminalLink::notify(const LinkEvent &event)
{
    qCDebug(linkLog).nospace() << eventName(event.kind) << ": block " << event.counters.blocksDone
                               << " of " << event.counters.blockCount << ", errors "
                               << event.counters.errors
                               << (event.reason.isEmpty() ? QString()
                                                          : QStringLiteral(", ") + event.reason)
                               << (event.openFailure.reason.isEmpty()
                                       ? QString()
                                       : QStringLiteral(", ") + event.openFailure.reason);
    m_observer.linkEvent(event);
}

LinkOutcome TerminalLink::endWaiting(Wait wait, SerialPort &port)
{
    switch (wait) {
    case Wait::TimedOut:
        notify({.kind = LinkEvent::Kind::TerminalNotAnswering});
        return LinkOutcome::TerminalNotAnswering;
    case Wait::Stopped:
        notify({.kind = LinkEvent::Kind::Stopped});
        return LinkOutcome::Stopped;
    case Wait::Failed:
    case Wait::Done:
        break;
    }
    // An empty reason: the port gave none, it only stopped taking bytes.
    notify({.kind = LinkEvent::Kind::PortError, .reason = port.failure()});
    return LinkOutcome::PortError;
}

} // namespace Kv402
