#pragma once

#include "ports/serial_port.h"
#include "simulator/simulated_clock.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

namespace Kv402 {

// A KV402 terminal at the far end of a simulated cable, in this process and deterministic. It
// behaves as the terminal the link relies on: CTS high while it can receive; the header (2 bytes)
// and each block (256 bytes) echoed unchanged once the whole transmission has arrived; nothing
// more until the PC answers on RTS; then exactly 10 status bytes, byte 0 being 0x00 when an
// accepted block was written to its flash. The PC's answer is its first RTS change after the
// echo: high accepts, low rejects.
//
// The wire is modelled on a timeline of the terminal's clock: every byte in flight has the moment
// it arrives, so the waits of the PC's port last until exactly the moment their condition holds,
// sleeping on the real clock, jumping there on a virtual one.
// The terminal keeps its flash, a record of what the PC did and the protocol faults it saw.
// Safe to use from several threads: the PC's port on one, a test or a demo watching on another.
class SimulatedTerminal
{
public:
    using TimePoint = Clock::TimePoint;

    // Transmissions are the header, then the blocks 0 to N - 1.
    static constexpr int Header = -1;
    // A (transmission, attempt) pair; attempts count from 1.
    using Attempt = std::pair<int, int>;

    enum class Silence { NoEcho, NoStatusReply };

    struct SilentFrom
    {
        int transmission;
        Silence silence;
    };

    struct CtsDrop
    {
        int beforeBlock;
        // Nothing: CTS stays low for good.
        std::optional<std::chrono::milliseconds> duration;
    };

    // A USB serial adapter between the cable and the PC, as an FTDI chip works: it hands the
    // bytes it receives on in USB packets, a full packet at once, a shorter one when its latency
    // timer runs out. The timer restarts with every packet it sends, one without data included,
    // so a byte waits for the next tick. CTS travels in the same packets: the PC learns of a
    // change only when it reads the line again, never from a notification.
    struct Adapter
    {
        // Bytes of data in a packet of 64 bytes; the other two carry the line states.
        int packetSize = 62;
        // 16 ms is the default of current Linux kernels; low-latency mode makes it 1 ms.
        std::chrono::milliseconds latencyTimer{16};
    };

    struct Options
    {
        // Characters take their time on the wire (start, data, parity and stop bits at the
        // line's baud rate, both ways); otherwise they arrive at once.
        bool paced = false;
        // The time the wire and the events run on: the real steady clock (also when null), or a
        // virtual clock for tests that check the timeline exactly without waiting for it.
        std::shared_ptr<Clock> clock = Clock::steady();
        // No cable: CTS stays low.
        bool cableConnected = true;
        // These echoes come back with one byte changed.
        std::set<Attempt> corruptedEchoes;
        // These echoes are followed by extraBytes, which arrive with the echo's last byte.
        std::set<Attempt> echoesWithExtraBytes;
        QByteArray extraBytes = QByteArray("\x00\x55", 2);
        // Writing this block to flash fails: the status reply's byte 0 says so.
        std::optional<int> flashErrorAt;
        // Byte 0 of the status reply to a rejected echo (never a flash report).
        char rejectedStatus = 0x00;
        // From the first attempt of this transmission on, the terminal sends nothing more.
        std::optional<SilentFrom> silentFrom;
        // CTS drops once the terminal is ready for this block's first attempt.
        std::optional<CtsDrop> ctsDrop;
        // From the first attempt of this transmission on, the PC's bytes never leave its
        // output queue.
        std::optional<int> stalledOutputAt;
        // The PC's port refuses to open for this reason: a device this user may not open, one
        // another program holds, one without modem lines.
        std::optional<PortOpenFailure::Kind> openRefused;
        // The terminal hangs on a USB adapter; without one the PC's own port receives each byte
        // the moment it arrives and is told when CTS comes back.
        std::optional<Adapter> adapter;
        // After every completed load the loaded terminal goes and the next one comes: CTS is low
        // for this long from the last status reply on, whether the port is open or not.
        std::optional<std::chrono::milliseconds> awayAfterLoad;
    };

    // What happened on the cable, in order.
    struct Event
    {
        enum class Kind { Opened, PcSent, PcRts, PcRead, TerminalSent, Closed };

        Kind kind;
        // PcSent, PcRead, TerminalSent: the bytes.
        QByteArray bytes;
        // The RTS level after the event: for PcSent the level while sending.
        bool rts = false;
        TimePoint at;
    };

    // Byte 0 of the status reply to a block that could not be written to flash.
    static constexpr char FlashFailed = char(0xE5);

    SimulatedTerminal();
    explicit SimulatedTerminal(Options options);

    // Plugs the cable in or pulls it out (CTS follows); wakes a port that waits for CTS.
    void setCableConnected(bool connected);
    // Another terminal takes this one's place at the end of the cable, as on a production line:
    // from now on the terminal behaves as the options say (its clock stays this one's), its flash
    // blank, its record of events and faults empty, and CTS follows the options' cable. A port open on the cable stays open and sees the
    // new terminal's CTS; the protocol starts afresh with the next opening, as it always does.
    void plugIn(Options options);

    QList<Event> events() const;
    // What the PC did against the protocol; empty for a correct PC.
    QStringList violations() const;
    // The flash: 0x100000 bytes, erased (0xFF) when a header is accepted.
    QByteArray flash() const;
    // N of the last header the terminal accepted, or -1.
    int announcedBlocks() const;
    // The terminal has fallen silent (Options::silentFrom) and sends nothing more this session.
    bool silent() const;

private:
    friend class SimulatedPort;

    enum class Phase { Receiving, AwaitingAnswer, Finished, Silent };

    struct InFlight
    {
        // When the PC's port has the byte: off the wire, or out of the adapter.
        TimePoint arrival;
        char byte;
    };

    bool attach(const LineSettings &settings, PortOpenFailure *failure);
    void detach();
    bool ctsAt(TimePoint now) const;
    void setRts(bool high);
    void pcWrite(const QByteArray &bytes);
    qint64 pcBytesToWrite(TimePoint now);
    qint64 pcBytesAvailable(TimePoint now) const;
    QByteArray pcReadAll();
    bool waitForAvailable(qint64 count, int msecs);
    bool waitForWritten(int msecs);
    bool waitForCts(int msecs);

    template<typename Ready, typename NextChange>
    bool waitUntil(std::unique_lock<std::mutex> &lock, int msecs, Ready ready, NextChange next);

    QString transmissionName() const;
    int expectedSize() const;
    void expect(int transmission);
    void receive(const QByteArray &bytes, TimePoint complete);
    void answer(bool accepted, TimePoint now);
    TimePoint sendToPc(const QByteArray &bytes, TimePoint from);
    void passToPc(char byte, TimePoint arrival);
    TimePoint adapterTimerRunsOut() const;
    void record(Event::Kind kind, const QByteArray &bytes, TimePoint at);
    void violation(const QString &what);

    // Guarded by m_mutex: plugIn() changes it.
    Options m_options;
    const std::shared_ptr<Clock> m_clock;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;

    bool m_cableConnected;
    bool m_attached = false;
    QByteArray m_flash;
    int m_blockCount = -1;
    bool m_silent = false;
    QList<Event> m_events;
    QStringList m_violations;

    // The wire of one session.
    Clock::Duration m_characterTime{};
    bool m_rts = false;
    TimePoint m_pcSendingUntil;
    // When each byte still in the PC's output queue will have been sent.
    std::deque<TimePoint> m_pcQueue;
    qint64 m_stalledBytes = 0;
    bool m_stalled = false;
    TimePoint m_terminalSendingUntil;
    std::deque<InFlight> m_toPc;
    // Bytes the terminal has sent and the PC has read, counted over the session.
    qint64 m_sentToPc = 0;
    qint64 m_readByPc = 0;
    // The adapter: when its latency timer last started, and the bytes it holds, which are the
    // last ones in m_toPc.
    TimePoint m_adapterTimerStart;
    qsizetype m_adapterHeld = 0;
    TimePoint m_adapterFirstHeld;
    TimePoint m_ctsLowFrom;
    TimePoint m_ctsLowUntil;
    // Between two terminals on the cable; outlives the port's sessions.
    TimePoint m_awayFrom;
    TimePoint m_awayUntil;

    // The protocol.
    Phase m_phase = Phase::Receiving;
    int m_transmission = Header;
    int m_attempt = 1;
    std::map<int, int> m_attempts;
    QByteArray m_received;
    bool m_echoExact = false;
    qint64 m_echoEnd = 0;
    qint64 m_statusEnd = 0;
};

// The PC's end of the cable to a simulated terminal; without a terminal, a port that does not
// exist.
class SimulatedPort : public SerialPort
{
public:
    explicit SimulatedPort(std::shared_ptr<SimulatedTerminal> terminal);
    ~SimulatedPort() override;

    bool open(const LineSettings &settings, PortOpenFailure *failure) override;
    void close() override;
    bool isOpen() const override { return m_open; }

    bool cts() override;
    void setRts(bool high) override;
    bool rts() const override { return m_rts; }

    bool write(const QByteArray &bytes) override;
    qint64 bytesToWrite() override;
    qint64 bytesAvailable() override;
    QByteArray readAll() override;

    bool waitForAvailable(qint64 count, int msecs) override;
    bool waitForWritten(int msecs) override;
    bool waitForCts(int msecs) override;

    QString failure() const override { return {}; }

private:
    std::shared_ptr<SimulatedTerminal> m_terminal;
    bool m_open = false;
    bool m_rts = false;
};

// Ports, by name, with simulated terminals behind them. The other ports go to another factory
// (the platform's ports, say), or are ports that do not exist when there is none. Attach the terminals before
// the factory is used; from then on it may be used from any thread.
class SimulatedPorts : public SerialPortFactory
{
public:
    explicit SimulatedPorts(std::shared_ptr<SerialPortFactory> others = nullptr);

    // A terminal behind the port of this name ("COM3").
    void attach(const QString &name, std::shared_ptr<SimulatedTerminal> terminal);
    // A terminal behind COMn.
    void attach(int portNumber, std::shared_ptr<SimulatedTerminal> terminal);
    std::shared_ptr<SimulatedTerminal> terminal(const QString &name) const;

    std::unique_ptr<SerialPort> makePort(const PortAddress &address) override;
    QString describe(const PortAddress &address) const override;

private:
    std::shared_ptr<SerialPortFactory> m_others;
    std::map<QString, std::shared_ptr<SimulatedTerminal>> m_terminals;
};

} // namespace Kv402
