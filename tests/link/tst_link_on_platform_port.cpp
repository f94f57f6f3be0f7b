// Loads through the platform's port (QSerialPort) to a simulated terminal at the far end of a
// pseudo-terminal, whose modem lines a preloaded library provides (pty_modem_lines.h): every
// outcome, the bytes and RTS writes the terminal gets, and the port closed with its settings as
// it found them.

#include "test_image.h"
#include "pty_modem_lines.h"

#include "link/terminal_link.h"
#include "ports/qt_serial_port.h"
#include "simulator/simulated_terminal.h"

#include "pseudo_terminal.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>

using namespace Kv402;
using namespace std::chrono_literals;
using Kv402::Test::PtyModemLines;

using Kind = SimulatedTerminal::Event::Kind;
using Options = SimulatedTerminal::Options;

Q_DECLARE_METATYPE(Options)

namespace {

constexpr int Port = 5;

// The device's serial settings before the port opens: some of every kind, none the port touches.
serial_struct originalSerial(bool lowLatency)
{
    serial_struct serial{};
    serial.type = PORT_16550A;
    serial.line = 4;
    serial.baud_base = 115200;
    serial.xmit_fifo_size = 16;
    serial.close_delay = 50;
    serial.closing_wait = 3000;
    serial.flags = ASYNC_SKIP_TEST | ASYNC_AUTO_IRQ | (lowLatency ? ASYNC_LOW_LATENCY : 0);
    return serial;
}

QString describe(const serial_struct &serial)
{
    return QStringLiteral("type %1 line %2 baud base %3 fifo %4 close delay %5 closing wait %6 "
                          "flags %7")
        .arg(serial.type)
        .arg(serial.line)
        .arg(serial.baud_base)
        .arg(serial.xmit_fifo_size)
        .arg(serial.close_delay)
        .arg(serial.closing_wait)
        .arg(serial.flags, 0, 16);
}

QStringList describe(const std::vector<serial_struct> &serials)
{
    QStringList described;
    for (const serial_struct &serial : serials)
        described.append(describe(serial));
    return described;
}

using Kv402::Test::imageOf;

using Kv402::Test::PseudoTerminal;

// The terminal's end of the cable: the pseudo-terminal's master side, served by a thread of its
// own for one session. It hands the PC's bytes and RTS writes to a simulated terminal in the
// order the PC made them, writes back what the terminal sends and shows the terminal's CTS on the
// modem lines. Once the terminal has fallen silent it moves the virtual clock on whenever it has
// nothing to do, as the time would pass.
class FarEnd
{
public:
    FarEnd(int master,
           std::shared_ptr<SimulatedTerminal> terminal,
           PtyModemLines &lines,
           VirtualClock &clock)
        : m_master(master)
        , m_terminal(std::move(terminal))
        , m_lines(lines)
        , m_clock(clock)
        , m_stop(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
        , m_port(m_terminal)
    {
        m_port.open(Link::Line, nullptr);
        m_lines.setCts(m_port.cts());
        m_thread = std::thread([this] { serve(); });
    }

    ~FarEnd()
    {
        const std::uint64_t one = 1;
        if (::write(m_stop, &one, sizeof one) != sizeof one)
            qFatal("the far end cannot be stopped");
        m_thread.join();
        m_port.close();
        ::close(m_stop);
    }

    // What went wrong at this end; empty when all went well.
    QStringList problems() const
    {
        const QMutexLocker lock(&m_problemsMutex);
        return m_problems;
    }

private:
    void serve()
    {
        bool pcClosed = false;
        for (;;) {
            const bool silent = m_terminal->silent();
            pollfd waits[] = {
                {pcClosed ? -1 : m_master, POLLIN, 0},
                {m_lines.rtsWritesWaiting(), POLLIN, 0},
                {m_stop, POLLIN, 0},
            };
            const int ready = ::poll(waits, 3, silent ? 1 : -1);
            if (ready < 0 && errno != EINTR) {
                problem(QStringLiteral("poll: %1").arg(QString::fromLocal8Bit(::strerror(errno))));
                return;
            }
            // Told to stop once the load has ended: what the PC did last is passed on first.
            const bool stopping = ready > 0 && waits[2].revents != 0;
            QByteArray fromPc;
            if (waits[0].revents & POLLIN)
                fromPc = readAvailable(&pcClosed);
            else if (waits[0].revents & (POLLHUP | POLLERR))
                pcClosed = true;
            // The PC changes RTS only once the terminal has every byte it sent: RTS writes taken
            // after a read came before the bytes read.
            for (const bool high : m_lines.takeRtsWrites())
                m_port.setRts(high);
            if (!fromPc.isEmpty())
                m_port.write(fromPc);
            writeToPc(m_port.readAll());
            m_lines.setCts(m_port.cts());
            if (stopping)
                return;
            if (ready == 0 && silent)
                m_clock.advance(1s);
        }
    }

    QByteArray readAvailable(bool *pcClosed)
    {
        char buffer[4096];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got > 0)
            return QByteArray(buffer, got);
        // The PC closed its side: the master reads EIO.
        if (got == 0 || errno == EIO)
            *pcClosed = true;
        else if (errno != EINTR && errno != EAGAIN)
            problem(QStringLiteral("read: %1").arg(QString::fromLocal8Bit(::strerror(errno))));
        return {};
    }

    void writeToPc(const QByteArray &bytes)
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t written = ::write(m_master,
                                            bytes.constData() + done,
                                            size_t(bytes.size() - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                problem(QStringLiteral("write: %1").arg(QString::fromLocal8Bit(::strerror(errno))));
                return;
            }
            done += written;
        }
    }

    void problem(const QString &what)
    {
        const QMutexLocker lock(&m_problemsMutex);
        m_problems.append(what);
    }

    const int m_master;
    const std::shared_ptr<SimulatedTerminal> m_terminal;
    PtyModemLines &m_lines;
    VirtualClock &m_clock;
    const int m_stop;
    SimulatedPort m_port;
    std::thread m_thread;
    mutable QMutex m_problemsMutex;
    QStringList m_problems;
};

// Notes every observer call with its counters.
class Recorder : public LinkObserver
{
public:
    void linkEvent(const LinkEvent &event) override
    {
        const LinkCounters &c = event.counters;
        calls.append(QStringLiteral("%1 %2/%3 errors %4")
                         .arg(int(event.kind))
                         .arg(c.blocksDone)
                         .arg(c.blockCount)
                         .arg(c.errors));
    }

    QStringList calls;
};

// The line as the terminal saw the PC drive it: what it sent (transmissions that came in pieces
// joined) with RTS while it came, and every RTS write.
QStringList line(const SimulatedTerminal &terminal)
{
    QStringList lines;
    QByteArray sending;
    bool rts = false;
    const auto sent = [&] {
        if (!sending.isEmpty()) {
            lines.append(QStringLiteral("send %1 rts%2")
                             .arg(QString::fromLatin1(sending.toHex()))
                             .arg(int(rts)));
        }
        sending.clear();
    };
    for (const SimulatedTerminal::Event &event : terminal.events()) {
        if (event.kind == Kind::PcSent) {
            if (sending.isEmpty())
                rts = event.rts;
            sending += event.bytes;
        } else if (event.kind == Kind::PcRts) {
            sent();
            lines.append(QStringLiteral("rts%1").arg(int(event.rts)));
        }
    }
    sent();
    return lines;
}

// What a load on the simulated port did, to compare with the same load through the platform's
// port.
struct Load
{
    LinkOutcome outcome = LinkOutcome::Stopped;
    QStringList calls;
    QStringList line;
    QByteArray flash;
    QStringList violations;
};

Load loadOnSimulatedPort(Options options, const MemoryImage &image)
{
    const auto clock = std::make_shared<VirtualClock>();
    options.clock = clock;
    const auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPorts ports;
    ports.attach(Port, terminal);
    Recorder recorder;
    TerminalLink link(ports, recorder, LinkLimits{.clock = clock.get()});
    Load load;
    load.outcome = link.run(image, portAddress(Port));
    load.calls = recorder.calls;
    load.line = line(*terminal);
    load.flash = terminal->flash();
    load.violations = terminal->violations();
    return load;
}

} // namespace

class LinkOnPlatformPortTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loads_data();
    void loads();
    void lowLatencyAlreadySetIsLeftSet();

private:
    PtyModemLines *m_lines = nullptr;
};

void LinkOnPlatformPortTest::initTestCase()
{
    m_lines = Test::preloadedPtyModemLines();
    if (!m_lines)
        QSKIP("the modem-line library is not preloaded: run the test with ctest, which sets "
              "LD_PRELOAD");
}

void LinkOnPlatformPortTest::loads_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<LinkOutcome>("outcome");

    QTest::newRow("completed") << Options() << 3 << LinkOutcome::Completed;

    Options rejected;
    rejected.corruptedEchoes = {{SimulatedTerminal::Header, 1}, {1, 1}, {1, 2}, {2, 9}};
    rejected.echoesWithExtraBytes = {{0, 1}};
    QTest::newRow("rejected echoes") << rejected << 3 << LinkOutcome::Completed;

    Options failure;
    for (int attempt = 1; attempt <= Link::MaxAttempts; ++attempt)
        failure.corruptedEchoes.insert({1, attempt});
    QTest::newRow("port failure after ten rejections") << failure << 3 << LinkOutcome::PortFailure;

    Options flash;
    flash.flashErrorAt = 2;
    QTest::newRow("flash write error") << flash << 4 << LinkOutcome::FlashWriteError;

    Options noEcho;
    noEcho.silentFrom = SimulatedTerminal::SilentFrom{1, SimulatedTerminal::Silence::NoEcho};
    QTest::newRow("silent terminal") << noEcho << 3 << LinkOutcome::TerminalNotAnswering;

    Options noStatus;
    noStatus.silentFrom = SimulatedTerminal::SilentFrom{0,
                                                        SimulatedTerminal::Silence::NoStatusReply};
    QTest::newRow("no status reply") << noStatus << 3 << LinkOutcome::TerminalNotAnswering;

    Options cable;
    cable.cableConnected = false;
    QTest::newRow("CTS low at the start") << cable << 3 << LinkOutcome::CableNotConnected;
}

void LinkOnPlatformPortTest::loads()
{
    QFETCH(Options, options);
    QFETCH(int, blocks);
    QFETCH(LinkOutcome, outcome);

    const PseudoTerminal pty;
    if (!pty.isValid())
        QSKIP("no pseudo-terminals here");
    const MemoryImage image = imageOf(blocks);
    const serial_struct original = originalSerial(false);
    m_lines->watch(pty.slaveDevice(), original);

    const auto clock = std::make_shared<VirtualClock>();
    Options onClock = options;
    onClock.clock = clock;
    const auto terminal = std::make_shared<SimulatedTerminal>(onClock);
    QtSerialPortFactory ports;
    const PortAddress address{QStringLiteral("COM1"), pty.slavePath()};
    Recorder recorder;
    TerminalLink link(ports, recorder, LinkLimits{.clock = clock.get()});
    LinkOutcome result = LinkOutcome::Stopped;
    QStringList farEndProblems;
    {
        FarEnd farEnd(pty.master(), terminal, *m_lines, *clock);
        // On a thread of its own, so that a load that hangs fails here rather than at the test's
        // time limit; a QThread gives the port the event dispatcher it needs.
        std::unique_ptr<QThread> worker(QThread::create([&] { result = link.run(image, address); }));
        worker->start();
        if (!worker->wait(QDeadlineTimer(30s))) {
            link.requestStop();
            worker->wait();
            QFAIL("the load did not end");
        }
        farEndProblems = farEnd.problems();
    }
    QCOMPARE(farEndProblems, QStringList());

    QCOMPARE(result, outcome);
    QCOMPARE(terminal->violations(), QStringList());
    // The load goes as it does on the simulated port: the same observer calls, the same bytes
    // and RTS writes on the line, the same flash. The platform's port lowers RTS as it opens; a
    // simulated port starts with it low.
    const Load simulated = loadOnSimulatedPort(options, image);
    QCOMPARE(simulated.outcome, outcome);
    QCOMPARE(simulated.violations, QStringList());
    QCOMPARE(recorder.calls, simulated.calls);
    QCOMPARE(line(*terminal), QStringList(QStringLiteral("rts0")) + simulated.line);
    QCOMPARE(terminal->flash(), simulated.flash);
    if (outcome == LinkOutcome::Completed) {
        const qsizetype size = qsizetype(blocks) * Image::BlockSize;
        QCOMPARE(terminal->flash().left(size), image.bytes.left(size));
    }

    // The port is closed and the serial settings are as they were; the low-latency flag was set
    // while the port was open.
    QVERIFY(!pty.slaveOpen());
    serial_struct lowLatency = original;
    lowLatency.flags |= ASYNC_LOW_LATENCY;
    QCOMPARE(describe(m_lines->serialWrites()),
             describe(std::vector<serial_struct>{lowLatency, original}));
    QCOMPARE(describe(m_lines->serial()), describe(original));
}

// A device found in low-latency mode stays in it: the port leaves the flag as it found it.
void LinkOnPlatformPortTest::lowLatencyAlreadySetIsLeftSet()
{
    const PseudoTerminal pty;
    if (!pty.isValid())
        QSKIP("no pseudo-terminals here");
    const serial_struct original = originalSerial(true);
    m_lines->watch(pty.slaveDevice(), original);

    QtSerialPort port({QStringLiteral("COM1"), pty.slavePath()});
    PortOpenFailure failure;
    QVERIFY2(port.open(Link::Line, &failure), qPrintable(failure.reason));
    port.close();
    QVERIFY(!pty.slaveOpen());
    QCOMPARE(describe(m_lines->serialWrites()), QStringList());
    QCOMPARE(describe(m_lines->serial()), describe(original));
}

QTEST_GUILESS_MAIN(LinkOnPlatformPortTest)
#include "tst_link_on_platform_port.moc"
