#include "loader/terminal_link.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <memory>

namespace Kv402 {

namespace {

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

LinkOutcome TerminalLink::run(const MemoryImage &image, int portNumber)
{
    const int blockCount = image.blockCount();
    if (blockCount < 1 || blockCount > Image::MaxBlocks
        || image.bytes.size() < qsizetype(blockCount) * Image::BlockSize) {
        return LinkOutcome::ImageNotSendable;
    }
    if (stopRequested()) {
        m_observer.stopped();
        return LinkOutcome::Stopped;
    }

    const std::unique_ptr<SerialPort> port = m_ports.makePort(portNumber);
    PortOpenFailure failure;
    if (!port->open(portNumber, QString(Link::LineSettings), &failure)) {
        m_observer.portNotOpened(failure);
        return LinkOutcome::PortNotOpened;
    }
    const LinkOutcome outcome = transfer(image, *port);
    port->close();
    return outcome;
}

LinkOutcome TerminalLink::transfer(const MemoryImage &image, SerialPort &port)
{
    if (!port.cts()) {
        m_observer.cableNotConnected();
        return LinkOutcome::CableNotConnected;
    }
    m_observer.cableConnected();

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
        // The header's status reply is read and not looked at; RTS stays high for block 0.
        if (const Wait wait = waitForAvailable(port, Link::StatusSize); wait != Wait::Done)
            return endWaiting(wait, port);
        port.readAll();
    }
    m_observer.headerAccepted(counters.blockCount);

    for (int block = 0; block < counters.blockCount; ++block) {
        const QByteArray data = image.block(block);
        int attempts = 0;
        m_observer.blockStarting(counters);
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
                m_observer.blockAccepted(counters);
            } else {
                ++attempts;
                ++counters.errors;
                m_observer.echoRejected(counters);
            }
            if (const Wait wait = waitForAvailable(port, Link::StatusSize); wait != Wait::Done)
                return endWaiting(wait, port);
            const QByteArray status = port.readAll();
            port.setRts(false);

            if (!accepted) {
                if (attempts < Link::MaxAttempts)
                    continue;
                m_observer.portFailure(counters);
                return LinkOutcome::PortFailure;
            }
            // Only an accepted block's status reply reports on the flash.
            if (status.at(0) != Link::FlashWritten) {
                m_observer.flashWriteError(counters);
                counters.blocksDone = counters.blockCount + 1;
                port.close();
                m_observer.blockWritten(counters);
                m_observer.allBlocksDone(counters);
                return LinkOutcome::FlashWriteError;
            }
            m_observer.blockWritten(counters);
            break;
        }
    }
    m_observer.allBlocksDone(counters);
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
    QDeadlineTimer deadline(limit);
    qint64 seen = progress();
    for (;;) {
        if (stopRequested())
            return Wait::Stopped;
        if (done())
            return Wait::Done;
        if (!port.failure().isEmpty())
            return Wait::Failed;
        if (deadline.hasExpired())
            return Wait::TimedOut;
        sleep(int(std::min<qint64>(m_limits.stopCheck.count(), deadline.remainingTime())));
        if (const qint64 now = progress(); now != seen) {
            seen = now;
            deadline.setRemainingTime(limit);
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

LinkOutcome TerminalLink::endWaiting(Wait wait, SerialPort &port)
{
    switch (wait) {
    case Wait::TimedOut:
        m_observer.terminalNotAnswering();
        return LinkOutcome::TerminalNotAnswering;
    case Wait::Stopped:
        m_observer.stopped();
        return LinkOutcome::Stopped;
    case Wait::Failed:
    case Wait::Done:
        break;
    }
    // An empty reason: the port gave none, it only stopped taking bytes.
    m_observer.portError(port.failure());
    return LinkOutcome::PortError;
}

} // namespace Kv402
