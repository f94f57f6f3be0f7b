#include "simulator/simulated_terminal.h"
#include "ports/port_constants.h"

#include "link/link_constants.h"

#include <algorithm>

namespace Kv402 {

namespace {

using TimePoint = SimulatedTerminal::TimePoint;
using Duration = Clock::Duration;

// Bytes 1 to 9 of every status reply; the PC never looks at them. NUL and 0xFF among them make
// sure that nothing on the way drops or changes them.
const QByteArray StatusTail = QByteArray("\x00\xFF\x4B\x56\x34\x30\x32\x0D\x0A", 9);

// What a changed echo byte differs by.
constexpr char CorruptionMask = 0x5A;

// What a simulated port's refusals look like: the words a Linux device would give.
QString refusalReason(PortOpenFailure::Kind kind)
{
    switch (kind) {
    case PortOpenFailure::Kind::Missing:
        return QStringLiteral("No such file or directory");
    case PortOpenFailure::Kind::AccessDenied:
        return QStringLiteral("Permission denied");
    case PortOpenFailure::Kind::InUse:
        return QStringLiteral("Device or resource busy");
    case PortOpenFailure::Kind::NoModemLines:
        return QStringLiteral("Inappropriate ioctl for device");
    case PortOpenFailure::Kind::Other:
        break;
    }
    return QStringLiteral("Input/output error");
}

void refuse(PortOpenFailure *failure, PortOpenFailure::Kind kind, const QString &reason = {})
{
    if (failure)
        *failure = {kind,
                    QStringLiteral("simulated terminal"),
                    reason.isEmpty() ? refusalReason(kind) : reason};
}

} // namespace

SimulatedTerminal::SimulatedTerminal()
    : SimulatedTerminal(Options())
{}

SimulatedTerminal::SimulatedTerminal(Options options)
    : m_options(std::move(options))
    , m_clock(m_options.clock ? m_options.clock : Clock::steady())
    , m_cableConnected(m_options.cableConnected)
    , m_flash(qsizetype(Image::MaxBlocks) * Image::BlockSize, Image::Blank)
{}

void SimulatedTerminal::setCableConnected(bool connected)
{
    {
        const std::lock_guard lock(m_mutex);
        m_cableConnected = connected;
    }
    m_changed.notify_all();
}

void SimulatedTerminal::plugIn(Options options)
{
    {
        const std::lock_guard lock(m_mutex);
        options.clock = m_clock;
        m_options = std::move(options);
        m_cableConnected = m_options.cableConnected;
        m_flash.fill(Image::Blank);
        m_blockCount = -1;
        m_silent = false;
        // The terminal that was loaded has gone with its own timings.
        m_awayFrom = {};
        m_awayUntil = {};
        m_ctsLowFrom = {};
        m_ctsLowUntil = {};
        // What the PC did and the faults seen were the other terminal's.
        m_events.clear();
        m_violations.clear();
    }
    m_changed.notify_all();
}

QList<SimulatedTerminal::Event> SimulatedTerminal::events() const
{
    const std::lock_guard lock(m_mutex);
    return m_events;
}

QStringList SimulatedTerminal::violations() const
{
    const std::lock_guard lock(m_mutex);
    return m_violations;
}

QByteArray SimulatedTerminal::flash() const
{
    const std::lock_guard lock(m_mutex);
    return m_flash;
}

int SimulatedTerminal::announcedBlocks() const
{
    const std::lock_guard lock(m_mutex);
    return m_blockCount;
}

bool SimulatedTerminal::silent() const
{
    const std::lock_guard lock(m_mutex);
    return m_silent;
}

bool SimulatedTerminal::attach(const LineSettings &settings, PortOpenFailure *failure)
{
    const std::lock_guard lock(m_mutex);
    if (m_options.openRefused) {
        refuse(failure, *m_options.openRefused);
        return false;
    }
    if (m_attached) {
        refuse(failure, PortOpenFailure::Kind::InUse);
        return false;
    }
    m_attached = true;
    // Every session starts with a terminal that answers; one that fell silent was unplugged.
    m_silent = false;
    m_characterTime = m_options.paced ? Duration(settings.characterTime()) : Duration{};
    m_rts = false;
    const TimePoint now = m_clock->now();
    m_pcSendingUntil = now;
    m_terminalSendingUntil = now;
    m_pcQueue.clear();
    m_stalledBytes = 0;
    m_stalled = false;
    m_toPc.clear();
    m_adapterTimerStart = now;
    m_adapterHeld = 0;
    m_sentToPc = 0;
    m_readByPc = 0;
    m_echoEnd = 0;
    m_statusEnd = 0;
    m_ctsLowFrom = {};
    m_ctsLowUntil = {};
    m_attempts.clear();
    expect(Header);
    record(Event::Kind::Opened, {}, now);
    return true;
}

void SimulatedTerminal::detach()
{
    const std::lock_guard lock(m_mutex);
    m_attached = false;
    m_rts = false;
    m_pcQueue.clear();
    m_toPc.clear();
    record(Event::Kind::Closed, {}, m_clock->now());
}

bool SimulatedTerminal::ctsAt(TimePoint now) const
{
    return m_cableConnected && !(now >= m_ctsLowFrom && now < m_ctsLowUntil)
           && !(now >= m_awayFrom && now < m_awayUntil);
}

void SimulatedTerminal::setRts(bool high)
{
    const std::lock_guard lock(m_mutex);
    const TimePoint now = m_clock->now();
    m_rts = high;
    record(Event::Kind::PcRts, {}, now);
    if (m_phase == Phase::AwaitingAnswer)
        answer(high, now);
}

void SimulatedTerminal::pcWrite(const QByteArray &bytes)
{
    {
        const std::lock_guard lock(m_mutex);
        const TimePoint now = m_clock->now();
        record(Event::Kind::PcSent, bytes, now);
        if (bytes.isEmpty())
            return;
        if (m_stalled) {
            m_stalledBytes += bytes.size();
            return;
        }
        const TimePoint start = std::max(now, m_pcSendingUntil);
        for (qsizetype i = 1; i <= bytes.size(); ++i)
            m_pcQueue.push_back(start + i * m_characterTime);
        m_pcSendingUntil = m_pcQueue.back();

        bool listening = true;
        if (!ctsAt(now)) {
            violation(QStringLiteral("%1 sent while CTS was low").arg(transmissionName()));
            listening = false;
        }
        if (m_readByPc < m_statusEnd) {
            violation(QStringLiteral("%1 sent before the last status reply was read")
                          .arg(transmissionName()));
        }
        switch (m_phase) {
        case Phase::AwaitingAnswer:
            violation(QStringLiteral("bytes sent before the echo of %1 was answered")
                          .arg(transmissionName()));
            listening = false;
            break;
        case Phase::Finished:
            violation(QStringLiteral("bytes sent after the transfer had ended"));
            listening = false;
            break;
        case Phase::Silent:
            listening = false;
            break;
        case Phase::Receiving:
            break;
        }
        if (listening) {
            const qsizetype missing = expectedSize() - m_received.size();
            if (bytes.size() > missing) {
                violation(QStringLiteral("%1: %2 bytes sent where %3 were expected")
                              .arg(transmissionName())
                              .arg(bytes.size())
                              .arg(missing));
            }
            m_received += bytes.left(missing);
            // The transmission is complete when its last byte has arrived.
            if (m_received.size() == expectedSize())
                receive(m_received, start + std::min(missing, bytes.size()) * m_characterTime);
        }
    }
    m_changed.notify_all();
}

qint64 SimulatedTerminal::pcBytesToWrite(TimePoint now)
{
    while (!m_pcQueue.empty() && m_pcQueue.front() <= now)
        m_pcQueue.pop_front();
    return qint64(m_pcQueue.size()) + m_stalledBytes;
}

qint64 SimulatedTerminal::pcBytesAvailable(TimePoint now) const
{
    const auto arrived = std::find_if(m_toPc.begin(), m_toPc.end(), [now](const InFlight &byte) {
        return byte.arrival > now;
    });
    return arrived - m_toPc.begin();
}

QByteArray SimulatedTerminal::pcReadAll()
{
    const std::lock_guard lock(m_mutex);
    const TimePoint now = m_clock->now();
    QByteArray bytes;
    while (!m_toPc.empty() && m_toPc.front().arrival <= now) {
        bytes.append(m_toPc.front().byte);
        m_toPc.pop_front();
    }
    m_readByPc += bytes.size();
    if (!bytes.isEmpty())
        record(Event::Kind::PcRead, bytes, now);
    return bytes;
}

template<typename Ready, typename NextChange>
bool SimulatedTerminal::waitUntil(std::unique_lock<std::mutex> &lock,
                                  int msecs,
                                  Ready ready,
                                  NextChange nextChange)
{
    const TimePoint deadline = m_clock->now() + std::chrono::milliseconds(msecs);
    for (;;) {
        const TimePoint now = m_clock->now();
        if (ready(now))
            return true;
        if (now >= deadline)
            return false;
        // Until the moment the condition can next come true; on the real clock, another thread
        // that plugs the cable in wakes it earlier.
        m_clock->waitUntil(m_changed, lock, std::min(deadline, nextChange(now)));
    }
}

bool SimulatedTerminal::waitForAvailable(qint64 count, int msecs)
{
    std::unique_lock lock(m_mutex);
    return waitUntil(
        lock,
        msecs,
        [&](TimePoint now) { return pcBytesAvailable(now) >= count; },
        [&](TimePoint) {
            return qint64(m_toPc.size()) >= count && count > 0 ? m_toPc[count - 1].arrival
                                                               : TimePoint::max();
        });
}

bool SimulatedTerminal::waitForWritten(int msecs)
{
    std::unique_lock lock(m_mutex);
    return waitUntil(
        lock,
        msecs,
        [&](TimePoint now) { return pcBytesToWrite(now) == 0; },
        [&](TimePoint) {
            return m_stalledBytes > 0 || m_pcQueue.empty() ? TimePoint::max() : m_pcQueue.back();
        });
}

bool SimulatedTerminal::waitForCts(int msecs)
{
    std::unique_lock lock(m_mutex);
    if (m_options.adapter) {
        // No notification comes: the PC reads CTS again and again, like the platform's port.
        const TimePoint deadline = m_clock->now() + std::chrono::milliseconds(msecs);
        for (TimePoint read = m_clock->now();;) {
            if (ctsAt(m_clock->now()))
                return true;
            if (read >= deadline)
                return false;
            read = std::min(deadline, read + Duration(Port::CtsPollInterval));
            while (m_clock->now() < read)
                m_clock->waitUntil(m_changed, lock, read);
        }
    }
    return waitUntil(
        lock,
        msecs,
        [&](TimePoint now) { return ctsAt(now); },
        [&](TimePoint now) {
            if (!m_cableConnected)
                return TimePoint::max();
            // The end of the low window the moment lies in.
            TimePoint next = TimePoint::max();
            if (now >= m_ctsLowFrom && now < m_ctsLowUntil)
                next = m_ctsLowUntil;
            if (now >= m_awayFrom && now < m_awayUntil)
                next = std::min(next, m_awayUntil);
            return next;
        });
}

QString SimulatedTerminal::transmissionName() const
{
    return m_transmission == Header ? QStringLiteral("header")
                                    : QStringLiteral("block %1").arg(m_transmission);
}

int SimulatedTerminal::expectedSize() const
{
    return m_transmission == Header ? Link::HeaderSize : Link::BlockSize;
}

void SimulatedTerminal::expect(int transmission)
{
    m_phase = Phase::Receiving;
    m_transmission = transmission;
    m_attempt = ++m_attempts[transmission];
    m_received.clear();
    if (m_attempt == 1 && m_options.stalledOutputAt == transmission)
        m_stalled = true;
}

void SimulatedTerminal::receive(const QByteArray &bytes, TimePoint complete)
{
    if (m_options.silentFrom && m_options.silentFrom->transmission == m_transmission
        && m_options.silentFrom->silence == Silence::NoEcho) {
        m_silent = true;
    }
    if (m_silent) {
        m_phase = Phase::Silent;
        return;
    }
    const Attempt attempt{m_transmission, m_attempt};
    QByteArray echo = bytes;
    const bool corrupted = m_options.corruptedEchoes.count(attempt) > 0;
    if (corrupted) {
        // A different byte on each attempt.
        const qsizetype at = (qsizetype(m_attempt) * 37) % echo.size();
        echo[at] = char(echo[at] ^ CorruptionMask);
    }
    const TimePoint last = sendToPc(echo, complete);
    const bool extra = m_options.echoesWithExtraBytes.count(attempt) > 0;
    if (extra) {
        for (const char byte : m_options.extraBytes)
            passToPc(byte, last);
        record(Event::Kind::TerminalSent, m_options.extraBytes, last);
    }
    m_echoExact = !corrupted && !extra;
    m_echoEnd = m_sentToPc;
    m_phase = Phase::AwaitingAnswer;
}

void SimulatedTerminal::answer(bool accepted, TimePoint now)
{
    if (m_readByPc < m_echoEnd)
        violation(QStringLiteral("the echo of %1 was answered before it was read")
                      .arg(transmissionName()));
    if (accepted && !m_echoExact)
        violation(QStringLiteral("a changed echo of %1 was accepted").arg(transmissionName()));
    if (!accepted && m_echoExact)
        violation(QStringLiteral("the correct echo of %1 was rejected").arg(transmissionName()));

    if (m_options.silentFrom && m_options.silentFrom->transmission == m_transmission
        && m_options.silentFrom->silence == Silence::NoStatusReply) {
        m_silent = true;
    }
    if (m_silent) {
        m_phase = Phase::Silent;
        return;
    }

    QByteArray status = QByteArray(1, m_options.rejectedStatus) + StatusTail;
    bool finished = false;
    int next = m_transmission;
    if (accepted && m_transmission == Header) {
        // N mod 256, then N div 256.
        m_blockCount = quint8(m_received[0]) | quint8(m_received[1]) << 8;
        if (m_blockCount > Image::MaxBlocks)
            violation(QStringLiteral("the header announces %1 blocks").arg(m_blockCount));
        m_flash.fill(Image::Blank);
        status[0] = Link::FlashWritten;
        next = 0;
        finished = m_blockCount == 0;
    } else if (accepted) {
        if (m_options.flashErrorAt == m_transmission || m_transmission >= Image::MaxBlocks) {
            status[0] = FlashFailed;
            finished = true;
        } else {
            m_flash.replace(qsizetype(m_transmission) * Image::BlockSize,
                            Image::BlockSize,
                            m_received);
            status[0] = Link::FlashWritten;
            next = m_transmission + 1;
            finished = next >= m_blockCount;
        }
    }
    const TimePoint statusArrived = sendToPc(status, now);
    m_statusEnd = m_sentToPc;

    if (finished) {
        m_phase = Phase::Finished;
        if (m_options.awayAfterLoad && status[0] == Link::FlashWritten) {
            m_awayFrom = statusArrived;
            m_awayUntil = statusArrived + *m_options.awayAfterLoad;
        }
        return;
    }
    expect(next);
    if (m_attempt == 1 && m_options.ctsDrop && m_options.ctsDrop->beforeBlock == next) {
        m_ctsLowFrom = statusArrived;
        m_ctsLowUntil = m_options.ctsDrop->duration ? statusArrived + *m_options.ctsDrop->duration
                                                    : TimePoint::max();
    }
}

TimePoint SimulatedTerminal::sendToPc(const QByteArray &bytes, TimePoint from)
{
    const TimePoint start = std::max(from, m_terminalSendingUntil);
    TimePoint arrival = start;
    for (const char byte : bytes) {
        arrival += m_characterTime;
        passToPc(byte, arrival);
    }
    m_terminalSendingUntil = arrival;
    record(Event::Kind::TerminalSent, bytes, start);
    return arrival;
}

void SimulatedTerminal::passToPc(char byte, TimePoint arrival)
{
    ++m_sentToPc;
    if (!m_options.adapter) {
        m_toPc.push_back({arrival, byte});
        return;
    }
    // The bytes held went out when the timer ran out before this one came.
    if (m_adapterHeld > 0 && adapterTimerRunsOut() <= arrival) {
        m_adapterTimerStart = adapterTimerRunsOut();
        m_adapterHeld = 0;
    }
    if (m_adapterHeld == 0)
        m_adapterFirstHeld = arrival;
    m_toPc.push_back({arrival, byte});
    ++m_adapterHeld;
    // Held bytes leave together: now if the packet is full, else when the timer runs out, unless
    // more bytes fill the packet first.
    TimePoint packetSent = arrival;
    if (m_adapterHeld == m_options.adapter->packetSize)
        m_adapterTimerStart = arrival;
    else
        packetSent = adapterTimerRunsOut();
    for (auto held = m_toPc.end() - m_adapterHeld; held != m_toPc.end(); ++held)
        held->arrival = packetSent;
    if (m_adapterHeld == m_options.adapter->packetSize)
        m_adapterHeld = 0;
}

TimePoint SimulatedTerminal::adapterTimerRunsOut() const
{
    // The timer ticks on from its start, with or without data, until a full packet restarts it.
    const Duration latency = m_options.adapter->latencyTimer;
    return m_adapterTimerStart
           + ((m_adapterFirstHeld - m_adapterTimerStart) / latency + 1) * latency;
}

void SimulatedTerminal::record(Event::Kind kind, const QByteArray &bytes, TimePoint at)
{
    m_events.append({kind, bytes, m_rts, at});
}

void SimulatedTerminal::violation(const QString &what)
{
    m_violations.append(what);
}

SimulatedPort::SimulatedPort(std::shared_ptr<SimulatedTerminal> terminal)
    : m_terminal(std::move(terminal))
{}

SimulatedPort::~SimulatedPort()
{
    close();
}

bool SimulatedPort::open(const LineSettings &settings, PortOpenFailure *failure)
{
    close();
    if (!m_terminal) {
        if (failure) {
            *failure = {PortOpenFailure::Kind::Missing,
                        QString(),
                        refusalReason(PortOpenFailure::Kind::Missing)};
        }
        return false;
    }
    m_open = m_terminal->attach(settings, failure);
    m_rts = false;
    return m_open;
}

void SimulatedPort::close()
{
    if (!m_open)
        return;
    m_terminal->detach();
    m_open = false;
    m_rts = false;
}

bool SimulatedPort::cts()
{
    if (!m_open)
        return false;
    const std::lock_guard lock(m_terminal->m_mutex);
    return m_terminal->ctsAt(m_terminal->m_clock->now());
}

void SimulatedPort::setRts(bool high)
{
    if (!m_open)
        return;
    m_terminal->setRts(high);
    m_rts = high;
}

bool SimulatedPort::write(const QByteArray &bytes)
{
    if (!m_open)
        return false;
    m_terminal->pcWrite(bytes);
    return true;
}

qint64 SimulatedPort::bytesToWrite()
{
    if (!m_open)
        return 0;
    const std::lock_guard lock(m_terminal->m_mutex);
    return m_terminal->pcBytesToWrite(m_terminal->m_clock->now());
}

qint64 SimulatedPort::bytesAvailable()
{
    if (!m_open)
        return 0;
    const std::lock_guard lock(m_terminal->m_mutex);
    return m_terminal->pcBytesAvailable(m_terminal->m_clock->now());
}

QByteArray SimulatedPort::readAll()
{
    return m_open ? m_terminal->pcReadAll() : QByteArray();
}

bool SimulatedPort::waitForAvailable(qint64 count, int msecs)
{
    return m_open && m_terminal->waitForAvailable(count, msecs);
}

bool SimulatedPort::waitForWritten(int msecs)
{
    return m_open && m_terminal->waitForWritten(msecs);
}

bool SimulatedPort::waitForCts(int msecs)
{
    return m_open && m_terminal->waitForCts(msecs);
}

SimulatedPorts::SimulatedPorts(std::shared_ptr<SerialPortFactory> others)
    : m_others(std::move(others))
{}

void SimulatedPorts::attach(const QString &name, std::shared_ptr<SimulatedTerminal> terminal)
{
    m_terminals[name] = std::move(terminal);
}

void SimulatedPorts::attach(int portNumber, std::shared_ptr<SimulatedTerminal> terminal)
{
    attach(portName(portNumber), std::move(terminal));
}

std::shared_ptr<SimulatedTerminal> SimulatedPorts::terminal(const QString &name) const
{
    const auto found = m_terminals.find(name);
    return found == m_terminals.end() ? nullptr : found->second;
}

std::unique_ptr<SerialPort> SimulatedPorts::makePort(const PortAddress &address)
{
    if (std::shared_ptr<SimulatedTerminal> simulated = terminal(address.name))
        return std::make_unique<SimulatedPort>(std::move(simulated));
    if (m_others)
        return m_others->makePort(address);
    return std::make_unique<SimulatedPort>(nullptr);
}

QString SimulatedPorts::describe(const PortAddress &address) const
{
    if (terminal(address.name))
        return QStringLiteral("simulated terminal");
    return m_others ? m_others->describe(address) : QString();
}

} // namespace Kv402
