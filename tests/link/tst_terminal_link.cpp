#include "test_image.h"

#include "link/terminal_link.h"
#include "simulator/simulated_terminal.h"

#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <functional>

using namespace Kv402;
using namespace std::chrono_literals;

using Kind = SimulatedTerminal::Event::Kind;
using Options = SimulatedTerminal::Options;

Q_DECLARE_METATYPE(Options)
Q_DECLARE_METATYPE(PortOpenFailure::Kind)
Q_DECLARE_METATYPE(std::chrono::milliseconds)

namespace {

constexpr int Port = 3;
constexpr int HeaderTransmission = SimulatedTerminal::Header;

// A line so slow that every character takes 1.1 s: a block takes almost five minutes each way,
// far beyond the silence limit, yet a byte moves every 1.1 s.
const LineSettings SlowLineSettings{10, LineSettings::Parity::Odd, 8, LineSettings::StopBits::One};
constexpr std::chrono::milliseconds SlowCharacter{1100};

using Kv402::Test::imageOf;

std::set<SimulatedTerminal::Attempt> attemptsOf(int transmission, int first, int last)
{
    std::set<SimulatedTerminal::Attempt> attempts;
    for (int attempt = first; attempt <= last; ++attempt)
        attempts.insert({transmission, attempt});
    return attempts;
}

// Notes every observer call as a line of text, marked when the port was closed at the time.
class Recorder : public LinkObserver
{
public:
    explicit Recorder(std::shared_ptr<SimulatedTerminal> terminal)
        : m_terminal(std::move(terminal))
    {}

    void linkEvent(const LinkEvent &event) override
    {
        const LinkCounters &c = event.counters;
        switch (event.kind) {
        case LinkEvent::Kind::CableNotConnected:
            note(QStringLiteral("cable"));
            break;
        case LinkEvent::Kind::CableConnected:
            // Every run that finds the cable says so; the lines below follow it.
            break;
        case LinkEvent::Kind::HeaderAccepted:
            note(QStringLiteral("header %1").arg(c.blockCount));
            break;
        case LinkEvent::Kind::BlockStarting:
            note("starting", c);
            break;
        case LinkEvent::Kind::BlockAccepted:
            note("accepted", c);
            break;
        case LinkEvent::Kind::EchoRejected:
            note("rejected", c);
            break;
        case LinkEvent::Kind::PortFailure:
            note("port failure", c);
            break;
        case LinkEvent::Kind::FlashWriteError:
            note("flash error", c);
            break;
        case LinkEvent::Kind::BlockWritten:
            note("written", c);
            break;
        case LinkEvent::Kind::AllBlocksDone:
            note("done", c);
            break;
        case LinkEvent::Kind::TerminalNotAnswering:
            note(QStringLiteral("not answering"));
            break;
        case LinkEvent::Kind::Stopped:
            note(QStringLiteral("stopped"));
            break;
        case LinkEvent::Kind::PortNotOpened:
            note(QStringLiteral("not opened"));
            reason = event.openFailure.reason;
            openFailure = event.openFailure.kind;
            break;
        case LinkEvent::Kind::PortError:
            note(QStringLiteral("port error"));
            reason = event.reason;
            break;
        }
    }

    QStringList calls;
    QString reason;
    PortOpenFailure::Kind openFailure = PortOpenFailure::Kind::Other;
    // Runs at every call, in the link's thread.
    std::function<void(const QString &)> onCall;

private:
    void note(const char *what, const LinkCounters &counters)
    {
        note(QStringLiteral("%1 %2/%3 errors %4%5")
                 .arg(QLatin1String(what))
                 .arg(counters.blocksDone)
                 .arg(counters.blockCount)
                 .arg(counters.errors)
                 .arg(counters.flashWriteFailed ? QStringLiteral(" flash failed") : QString()));
    }

    void note(QString call)
    {
        const QList<SimulatedTerminal::Event> events = m_terminal->events();
        if (events.isEmpty() || events.last().kind == Kind::Closed)
            call += QStringLiteral(" [closed]");
        calls.append(call);
        if (onCall)
            onCall(call);
    }

    std::shared_ptr<SimulatedTerminal> m_terminal;
};

// The clock a rig's terminal and link run on.
enum class Time {
    // A virtual one: the real limits pass in no time, and every moment is exact.
    Virtual,
    // The real steady clock, for a stop request from another thread while the link waits.
    Real,
};

// A simulated terminal on COM3, a link with the real limits and a recorder of the link's calls.
struct Rig
{
    explicit Rig(Options options = {}, Time time = Time::Virtual)
        : clock(time == Time::Virtual ? std::make_shared<VirtualClock>() : nullptr)
        , terminal(std::make_shared<SimulatedTerminal>(onClock(std::move(options), clock)))
        , recorder(terminal)
        , link(ports, recorder, limits())
    {
        ports.attach(Port, terminal);
    }

    LinkLimits limits() const { return LinkLimits{.clock = clock.get()}; }

    LinkOutcome run(const MemoryImage &image) { return link.run(image, portAddress(Port)); }

    QList<SimulatedTerminal::Event> eventsOf(Kind kind) const
    {
        QList<SimulatedTerminal::Event> found;
        for (const SimulatedTerminal::Event &event : terminal->events()) {
            if (event.kind == kind)
                found.append(event);
        }
        return found;
    }

    bool portClosed() const
    {
        const QList<SimulatedTerminal::Event> events = terminal->events();
        return events.isEmpty() || events.last().kind == Kind::Closed;
    }

    // From the opening of the port to its closing, in the last session.
    Clock::Duration lastSession() const
    {
        return eventsOf(Kind::Closed).last().at - eventsOf(Kind::Opened).last().at;
    }

    static Options onClock(Options options, const std::shared_ptr<VirtualClock> &clock)
    {
        if (clock)
            options.clock = clock;
        return options;
    }

    std::shared_ptr<VirtualClock> clock;
    std::shared_ptr<SimulatedTerminal> terminal;
    SimulatedPorts ports;
    Recorder recorder;
    TerminalLink link;
};

// The cable's traffic in words: the header in hex, blocks by number (a star marks one changed
// byte), status replies by their byte 0.
QString describe(const QByteArray &bytes, const MemoryImage &image)
{
    if (bytes.size() == Link::StatusSize)
        return QStringLiteral("status ") + QString::fromLatin1(bytes.left(1).toHex());
    if (bytes.size() == Image::BlockSize) {
        for (int b = 0; b < image.blockCount(); ++b) {
            const QByteArray block = image.block(b);
            int differences = 0;
            for (int i = 0; i < Image::BlockSize; ++i)
                differences += bytes[i] != block[i];
            if (differences == 0)
                return QStringLiteral("block %1").arg(b);
            if (differences == 1)
                return QStringLiteral("block %1*").arg(b);
        }
    }
    return QString::fromLatin1(bytes.toHex());
}

QStringList transcript(const SimulatedTerminal &terminal, const MemoryImage &image)
{
    QStringList lines;
    for (const SimulatedTerminal::Event &event : terminal.events()) {
        const QString bytes = describe(event.bytes, image);
        switch (event.kind) {
        case Kind::Opened:
            lines.append(QStringLiteral("open"));
            break;
        case Kind::PcSent:
            lines.append(QStringLiteral("send %1 rts%2").arg(bytes).arg(int(event.rts)));
            break;
        case Kind::PcRts:
            lines.append(QStringLiteral("rts%1").arg(int(event.rts)));
            break;
        case Kind::PcRead:
            lines.append(QStringLiteral("read ") + bytes);
            break;
        case Kind::TerminalSent:
            lines.append(QStringLiteral("terminal ") + bytes);
            break;
        case Kind::Closed:
            lines.append(QStringLiteral("close"));
            break;
        }
    }
    return lines;
}

QStringList sentBlocks(const Rig &rig, const MemoryImage &image)
{
    QStringList sent;
    for (const SimulatedTerminal::Event &event : rig.eventsOf(Kind::PcSent))
        sent.append(describe(event.bytes, image));
    return sent;
}

// Runs the link in a worker thread and asks it to stop once the observer has made the call
// `trigger`.
LinkOutcome runAndStopAt(Rig &rig, const MemoryImage &image, const QString &trigger, bool *reached)
{
    QSemaphore triggered;
    rig.recorder.onCall = [&](const QString &call) {
        if (call == trigger)
            triggered.release();
    };
    LinkOutcome outcome = LinkOutcome::Completed;
    std::unique_ptr<QThread> worker(QThread::create([&] { outcome = rig.run(image); }));
    worker->start();
    *reached = triggered.tryAcquire(1, 10'000);
    rig.link.requestStop();
    worker->wait();
    return outcome;
}

// A port that passes everything on to another; the ports below change one thing each.
class ForwardingPort : public SerialPort
{
public:
    explicit ForwardingPort(std::unique_ptr<SerialPort> inner)
        : m_inner(std::move(inner))
    {}

    bool open(const LineSettings &settings, PortOpenFailure *failure) override
    {
        return m_inner->open(settings, failure);
    }
    void close() override { m_inner->close(); }
    bool isOpen() const override { return m_inner->isOpen(); }
    bool cts() override { return m_inner->cts(); }
    void setRts(bool high) override { m_inner->setRts(high); }
    bool rts() const override { return m_inner->rts(); }
    bool write(const QByteArray &bytes) override { return m_inner->write(bytes); }
    qint64 bytesToWrite() override { return m_inner->bytesToWrite(); }
    qint64 bytesAvailable() override { return m_inner->bytesAvailable(); }
    QByteArray readAll() override { return m_inner->readAll(); }
    bool waitForAvailable(qint64 count, int msecs) override
    {
        return m_inner->waitForAvailable(count, msecs);
    }
    bool waitForWritten(int msecs) override { return m_inner->waitForWritten(msecs); }
    bool waitForCts(int msecs) override { return m_inner->waitForCts(msecs); }
    QString failure() const override { return m_inner->failure(); }

protected:
    std::unique_ptr<SerialPort> m_inner;
};

// A port that breaks after a number of writes: the next write is refused, or the device goes
// away while the port waits for the echo.
class BreakingPort : public ForwardingPort
{
public:
    enum class Break { Write, WhileWaiting };

    BreakingPort(std::unique_ptr<SerialPort> inner, int goodWrites, Break how)
        : ForwardingPort(std::move(inner))
        , m_goodWrites(goodWrites)
        , m_break(how)
    {}

    bool write(const QByteArray &bytes) override
    {
        if (m_writes++ < m_goodWrites)
            return m_inner->write(bytes);
        if (m_break == Break::Write)
            m_failure = QStringLiteral("Input/output error");
        return m_failure.isEmpty() && m_inner->write(bytes);
    }
    qint64 bytesAvailable() override { return broken() ? 0 : m_inner->bytesAvailable(); }
    bool waitForAvailable(qint64 count, int msecs) override
    {
        if (broken()) {
            m_failure = QStringLiteral("The device was removed");
            return false;
        }
        return m_inner->waitForAvailable(count, msecs);
    }
    QString failure() const override { return m_failure; }

private:
    bool broken() const { return m_break == Break::WhileWaiting && m_writes > m_goodWrites; }

    int m_goodWrites;
    Break m_break;
    int m_writes = 0;
    QString m_failure;
};

// A port whose line runs at another speed than the link asks for.
class SlowLinePort : public ForwardingPort
{
public:
    using ForwardingPort::ForwardingPort;

    bool open(const LineSettings &, PortOpenFailure *failure) override
    {
        return m_inner->open(SlowLineSettings, failure);
    }
};

// Asks the link to stop once the clock has passed a moment, as a user who clicks Stop then. The
// request is made when the port's wait that passed the moment returns, which is how soon the
// link can see it at best.
class StoppingPort : public ForwardingPort
{
public:
    StoppingPort(std::unique_ptr<SerialPort> inner,
                 const Clock &clock,
                 Clock::TimePoint moment,
                 TerminalLink &link)
        : ForwardingPort(std::move(inner))
        , m_clock(clock)
        , m_moment(moment)
        , m_link(link)
    {}

    bool waitForAvailable(qint64 count, int msecs) override
    {
        return stopWhenDue(m_inner->waitForAvailable(count, msecs));
    }
    bool waitForWritten(int msecs) override { return stopWhenDue(m_inner->waitForWritten(msecs)); }
    bool waitForCts(int msecs) override { return stopWhenDue(m_inner->waitForCts(msecs)); }

private:
    bool stopWhenDue(bool result)
    {
        if (m_clock.now() >= m_moment)
            m_link.requestStop();
        return result;
    }

    const Clock &m_clock;
    Clock::TimePoint m_moment;
    TerminalLink &m_link;
};

// The ports of another factory, each wrapped.
class WrappedPorts : public SerialPortFactory
{
public:
    using Wrap = std::function<std::unique_ptr<SerialPort>(std::unique_ptr<SerialPort>)>;

    WrappedPorts(SerialPortFactory &inner, Wrap wrap)
        : m_inner(inner)
        , m_wrap(std::move(wrap))
    {}

    std::unique_ptr<SerialPort> makePort(const PortAddress &address) override
    {
        return m_wrap(m_inner.makePort(address));
    }

private:
    SerialPortFactory &m_inner;
    Wrap m_wrap;
};

// A link to the rig's terminal on a line at 10 baud.
struct SlowLineLink
{
    explicit SlowLineLink(Rig &rig)
        : ports(rig.ports,
                [](std::unique_ptr<SerialPort> port) {
                    return std::make_unique<SlowLinePort>(std::move(port));
                })
        , link(ports, rig.recorder, rig.limits())
    {}

    WrappedPorts ports;
    TerminalLink link;
};

} // namespace

Q_DECLARE_METATYPE(BreakingPort::Break)

class TerminalLinkTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twoBlocksSecondAtSecondAttempt();
    void headerGivesBlockCount_data();
    void headerGivesBlockCount();
    void rejectedHeaderIsSentAgainWithoutError();
    void rejectedEchoes_data();
    void rejectedEchoes();
    void tenthRejectionEndsAfterItsStatusReply();
    void flashErrorStopsSending();
    void cableNotConnected();
    void ctsLowForAWhileIsWaitedFor_data();
    void ctsLowForAWhileIsWaitedFor();
    void pacedRunTakesExactlyItsWireTime();
    void slowTerminalIsNotSilent();
    void silenceCountsFromTheLastByte();
    void runThroughAUsbAdapter_data();
    void runThroughAUsbAdapter();
    void silenceEndsTheRun_data();
    void silenceEndsTheRun();
    void stopEndsAnyWait_data();
    void stopEndsAnyWait();
    void stopActsWithinAStopCheckInterval_data();
    void stopActsWithinAStopCheckInterval();
    void stopBeforeTheRun();
    void portNotOpened_data();
    void portNotOpened();
    void brokenPortEndsTheRun_data();
    void brokenPortEndsTheRun();
    void imageNotSendable_data();
    void imageNotSendable();
};

void TerminalLinkTest::twoBlocksSecondAtSecondAttempt()
{
    Options options;
    options.corruptedEchoes = {{1, 1}};
    Rig rig(options);
    const MemoryImage image = imageOf(2);

    QCOMPARE(rig.run(image), LinkOutcome::Completed);

    const QStringList expected = {
        "open",
        "send 0200 rts0",
        "terminal 0200",
        "read 0200",
        "rts1",
        "terminal status 00",
        "read status 00",
        // The first block goes out with RTS still high from the header.
        "send block 0 rts1",
        "terminal block 0",
        "read block 0",
        "rts1",
        "terminal status 00",
        "read status 00",
        "rts0",
        "send block 1 rts0",
        "terminal block 1*",
        "read block 1*",
        "rts0",
        "terminal status 00",
        "read status 00",
        "rts0",
        "send block 1 rts0",
        "terminal block 1",
        "read block 1",
        "rts1",
        "terminal status 00",
        "read status 00",
        "rts0",
        "close",
    };
    QCOMPARE(transcript(*rig.terminal, image), expected);
    QCOMPARE(rig.recorder.calls,
             QStringList({
                 "header 2",
                 "starting 0/2 errors 0",
                 "accepted 1/2 errors 0",
                 "written 1/2 errors 0",
                 "starting 1/2 errors 0",
                 "rejected 1/2 errors 1",
                 "accepted 2/2 errors 1",
                 "written 2/2 errors 1",
                 "done 2/2 errors 1",
             }));
    QCOMPARE(rig.terminal->violations(), QStringList());
    QCOMPARE(rig.terminal->flash().left(image.blockCount() * Image::BlockSize),
             image.bytes.left(image.blockCount() * Image::BlockSize));
}

void TerminalLinkTest::headerGivesBlockCount_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<QByteArray>("header");

    QTest::newRow("1") << 1 << QByteArray("\x01\x00", 2);
    QTest::newRow("300") << 300 << QByteArray("\x2C\x01", 2);
    QTest::newRow("4096") << 4096 << QByteArray("\x00\x10", 2);
}

void TerminalLinkTest::headerGivesBlockCount()
{
    QFETCH(int, blocks);
    QFETCH(QByteArray, header);

    Rig rig;
    const MemoryImage image = imageOf(blocks);
    QCOMPARE(rig.run(image), LinkOutcome::Completed);

    const QList<SimulatedTerminal::Event> sent = rig.eventsOf(Kind::PcSent);
    QCOMPARE(sent.size(), 1 + blocks);
    QCOMPARE(sent.first().bytes, header);
    QCOMPARE(rig.terminal->announcedBlocks(), blocks);
    QCOMPARE(rig.recorder.calls.last(), QStringLiteral("done %1/%1 errors 0").arg(blocks));
    QCOMPARE(rig.terminal->violations(), QStringList());
    QCOMPARE(rig.terminal->flash().left(blocks * Image::BlockSize),
             image.bytes.left(blocks * Image::BlockSize));
    QVERIFY(rig.portClosed());
}

void TerminalLinkTest::rejectedHeaderIsSentAgainWithoutError()
{
    Options options;
    options.corruptedEchoes = attemptsOf(HeaderTransmission, 1, 12);
    options.echoesWithExtraBytes = {{HeaderTransmission, 13}};
    options.rejectedStatus = SimulatedTerminal::FlashFailed;
    Rig rig(options);
    const MemoryImage image = imageOf(2);

    QCOMPARE(rig.run(image), LinkOutcome::Completed);

    QStringList expectedSent(14, QStringLiteral("0200"));
    expectedSent << "block 0"
                 << "block 1";
    QCOMPARE(sentBlocks(rig, image), expectedSent);
    // No error counted, and nobody told of a rejection.
    QCOMPARE(rig.recorder.calls.first(), QStringLiteral("header 2"));
    QCOMPARE(rig.recorder.calls.last(), QStringLiteral("done 2/2 errors 0"));
    QCOMPARE(rig.recorder.calls.filter(QStringLiteral("rejected")), QStringList());
    QCOMPARE(rig.terminal->violations(), QStringList());
}

void TerminalLinkTest::rejectedEchoes_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<int>("errors");

    Options nine;
    nine.corruptedEchoes = attemptsOf(1, 1, 9);
    QTest::newRow("nine, then accepted") << nine << 9;

    // Rejections spread over blocks never add up to a port failure.
    Options spread;
    spread.corruptedEchoes = attemptsOf(0, 1, 9);
    spread.corruptedEchoes.merge(attemptsOf(2, 1, 9));
    QTest::newRow("nine in two blocks") << spread << 18;

    // A rejected echo's status reply is never read as a flash report.
    Options flashByte;
    flashByte.corruptedEchoes = attemptsOf(1, 1, 3);
    flashByte.rejectedStatus = SimulatedTerminal::FlashFailed;
    QTest::newRow("status byte 0 set") << flashByte << 3;

    Options extra;
    extra.echoesWithExtraBytes = {{0, 1}, {2, 1}, {2, 2}};
    QTest::newRow("extra bytes behind the echo") << extra << 3;
}

void TerminalLinkTest::rejectedEchoes()
{
    QFETCH(Options, options);
    QFETCH(int, errors);

    Rig rig(options);
    const MemoryImage image = imageOf(3);
    QCOMPARE(rig.run(image), LinkOutcome::Completed);

    QCOMPARE(rig.recorder.calls.filter(QStringLiteral("rejected")).size(), errors);
    QCOMPARE(rig.recorder.calls.last(), QStringLiteral("done 3/3 errors %1").arg(errors));
    QCOMPARE(sentBlocks(rig, image).size(), 1 + 3 + errors);
    QCOMPARE(rig.terminal->violations(), QStringList());
    QCOMPARE(rig.terminal->flash().left(3 * Image::BlockSize),
             image.bytes.left(3 * Image::BlockSize));
}

void TerminalLinkTest::tenthRejectionEndsAfterItsStatusReply()
{
    Options options;
    options.corruptedEchoes = attemptsOf(1, 1, 10);
    options.rejectedStatus = SimulatedTerminal::FlashFailed;
    Rig rig(options);
    const MemoryImage image = imageOf(3);
    QStringList atFailure;
    rig.recorder.onCall = [&](const QString &call) {
        if (call.startsWith(QStringLiteral("port failure"))) {
            const QStringList lines = transcript(*rig.terminal, image);
            atFailure = lines.mid(lines.size() - 4);
        }
    };

    QCOMPARE(rig.run(image), LinkOutcome::PortFailure);

    // The tenth status reply was read and RTS lowered before anyone heard of the failure.
    QCOMPARE(atFailure, QStringList({"rts0", "terminal status e5", "read status e5", "rts0"}));
    QCOMPARE(rig.recorder.calls.mid(rig.recorder.calls.size() - 2),
             QStringList({"rejected 1/3 errors 10", "port failure 1/3 errors 10"}));
    QStringList expectedSent = {"0300", "block 0"};
    for (int attempt = 0; attempt < 10; ++attempt)
        expectedSent << "block 1";
    QCOMPARE(sentBlocks(rig, image), expectedSent);
    QCOMPARE(rig.terminal->events().last().kind, Kind::Closed);
    QCOMPARE(rig.terminal->violations(), QStringList());
}

void TerminalLinkTest::flashErrorStopsSending()
{
    Options options;
    options.flashErrorAt = 3;
    Rig rig(options);
    const MemoryImage image = imageOf(12);

    QCOMPARE(rig.run(image), LinkOutcome::FlashWriteError);

    QCOMPARE(sentBlocks(rig, image),
             QStringList({"0c00", "block 0", "block 1", "block 2", "block 3"}));
    QCOMPARE(rig.recorder.calls.mid(rig.recorder.calls.size() - 5),
             QStringList({
                 "starting 3/12 errors 0",
                 "accepted 4/12 errors 0",
                 "flash error 4/12 errors 0 flash failed",
                 // The port is closed before the block bar moves and the run completes; the
                 // fourth block was accepted, not written.
                 "written 4/12 errors 0 flash failed [closed]",
                 "done 4/12 errors 0 flash failed [closed]",
             }));
    QCOMPARE(rig.terminal->violations(), QStringList());
    QCOMPARE(rig.terminal->flash().left(3 * Image::BlockSize),
             image.bytes.left(3 * Image::BlockSize));
}

void TerminalLinkTest::cableNotConnected()
{
    Options options;
    options.cableConnected = false;
    Rig rig(options);
    const MemoryImage image = imageOf(2);

    QCOMPARE(rig.run(image), LinkOutcome::CableNotConnected);
    // The port is open while the user is asked, and closed afterwards; nothing was sent.
    QCOMPARE(rig.recorder.calls, QStringList({"cable"}));
    QCOMPARE(transcript(*rig.terminal, image), QStringList({"open", "close"}));

    // Plugged in, the caller's next run goes through.
    rig.terminal->setCableConnected(true);
    QCOMPARE(rig.run(image), LinkOutcome::Completed);
    QCOMPARE(rig.terminal->violations(), QStringList());
}

void TerminalLinkTest::ctsLowForAWhileIsWaitedFor_data()
{
    QTest::addColumn<std::chrono::milliseconds>("low");

    QTest::newRow("two seconds") << std::chrono::milliseconds(2s);
    QTest::newRow("just under the limit") << Link::CtsLowLimit - 1ms;
}

void TerminalLinkTest::ctsLowForAWhileIsWaitedFor()
{
    QFETCH(std::chrono::milliseconds, low);

    // On the virtual clock the drop passes at once, and the moment the link goes on is exact.
    Options options;
    options.paced = true;
    options.ctsDrop = SimulatedTerminal::CtsDrop{1, low};
    Rig rig(options);
    const MemoryImage image = imageOf(3);

    QCOMPARE(rig.run(image), LinkOutcome::Completed);
    QCOMPARE(rig.terminal->violations(), QStringList());
    // CTS drops as block 0's status reply arrives, which the link reads at once; block 1 goes out
    // the moment CTS is back.
    const QList<SimulatedTerminal::Event> reads = rig.eventsOf(Kind::PcRead);
    const QList<SimulatedTerminal::Event> sent = rig.eventsOf(Kind::PcSent);
    QCOMPARE(reads.size(), 8);
    QCOMPARE(sent.size(), 4);
    QCOMPARE(reads[3].bytes.size(), Link::StatusSize);
    QCOMPARE(sent[2].at - reads[3].at, low);
}

void TerminalLinkTest::pacedRunTakesExactlyItsWireTime()
{
    // The link answers each turn at once: on the virtual clock a paced run closes the port the
    // moment its last character has arrived.
    Options options;
    options.paced = true;
    Rig rig(options);
    const int blocks = 3;

    QCOMPARE(rig.run(imageOf(blocks)), LinkOutcome::Completed);
    QCOMPARE(rig.terminal->violations(), QStringList());
    // The header, its echo and its status reply; each block, its echo and its status reply.
    const qint64 characters = 2 * Link::HeaderSize + Link::StatusSize
                              + blocks * (2 * Link::BlockSize + Link::StatusSize);
    const std::chrono::nanoseconds character = Link::Line.characterTime();
    QCOMPARE(rig.eventsOf(Kind::Closed).first().at - rig.eventsOf(Kind::Opened).first().at,
             characters * character);
}

void TerminalLinkTest::slowTerminalIsNotSilent()
{
    // Every byte that arrives or leaves starts the silence limit again: a wait gives up only when
    // nothing moves for the whole limit, not when the whole wait takes longer.
    Options options;
    options.paced = true;
    Rig rig(options);
    SlowLineLink slow(rig);
    const MemoryImage image = imageOf(2);

    QCOMPARE(slow.link.run(image, portAddress(Port)), LinkOutcome::Completed);
    QCOMPARE(rig.terminal->violations(), QStringList());
    QCOMPARE(rig.terminal->flash().left(2 * Image::BlockSize),
             image.bytes.left(2 * Image::BlockSize));
    QVERIFY(rig.lastSession() > 2 * Link::BlockSize * SlowCharacter);
}

void TerminalLinkTest::silenceCountsFromTheLastByte()
{
    // The terminal takes block 1 and says nothing more: the link gives up exactly 30 s after the
    // block's last byte left, not 30 s after it began to send the block.
    Options options;
    options.paced = true;
    options.silentFrom = SimulatedTerminal::SilentFrom{1, SimulatedTerminal::Silence::NoEcho};
    Rig rig(options);
    SlowLineLink slow(rig);
    const MemoryImage image = imageOf(2);

    QCOMPARE(slow.link.run(image, portAddress(Port)), LinkOutcome::TerminalNotAnswering);
    QCOMPARE(rig.recorder.calls.last(), QStringLiteral("not answering"));
    const SimulatedTerminal::Event lastSent = rig.eventsOf(Kind::PcSent).last();
    QCOMPARE(describe(lastSent.bytes, image), QStringLiteral("block 1"));
    const Clock::TimePoint lastByteLeft = lastSent.at + Link::BlockSize * SlowCharacter;
    QCOMPARE(rig.eventsOf(Kind::Closed).last().at - lastByteLeft, Link::SilenceLimit);
    QCOMPARE(rig.terminal->violations(), QStringList());
}

void TerminalLinkTest::runThroughAUsbAdapter_data()
{
    QTest::addColumn<int>("latencyMsecs");

    QTest::newRow("default latency timer") << 16;
    QTest::newRow("low-latency mode") << 1;
}

void TerminalLinkTest::runThroughAUsbAdapter()
{
    // The adapter holds each echo's tail and each status reply until its timer runs out; the
    // link waits for them and runs the protocol unchanged.
    QFETCH(int, latencyMsecs);
    Options options;
    options.paced = true;
    options.adapter = SimulatedTerminal::Adapter{};
    options.adapter->latencyTimer = std::chrono::milliseconds(latencyMsecs);
    Rig rig(options);
    const int blocks = 3;
    const MemoryImage image = imageOf(blocks);

    QCOMPARE(rig.run(image), LinkOutcome::Completed);
    QCOMPARE(rig.terminal->violations(), QStringList());
    const qsizetype size = qsizetype(blocks) * Image::BlockSize;
    QCOMPARE(rig.terminal->flash().left(size), image.bytes.left(size));
    // Every echo and status reply reaches the PC at most one timer period after its last byte.
    const qint64 characters = 2 * Link::HeaderSize + Link::StatusSize
                              + blocks * (2 * Link::BlockSize + Link::StatusSize);
    const std::chrono::nanoseconds wire
        = characters * Link::Line.characterTime();
    const auto took = rig.eventsOf(Kind::Closed).first().at - rig.eventsOf(Kind::Opened).first().at;
    QVERIFY(took > wire);
    QVERIFY(took <= wire + 2 * (blocks + 1) * std::chrono::milliseconds(latencyMsecs));
}

void TerminalLinkTest::silenceEndsTheRun_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<std::chrono::milliseconds>("limit");

    using S = SimulatedTerminal::Silence;
    Options noHeaderEcho;
    noHeaderEcho.silentFrom = SimulatedTerminal::SilentFrom{HeaderTransmission, S::NoEcho};
    QTest::newRow("no echo of the header") << noHeaderEcho << Link::SilenceLimit;

    Options noHeaderStatus;
    noHeaderStatus.silentFrom = SimulatedTerminal::SilentFrom{HeaderTransmission, S::NoStatusReply};
    QTest::newRow("no status reply to the header") << noHeaderStatus << Link::SilenceLimit;

    Options noEcho;
    noEcho.silentFrom = SimulatedTerminal::SilentFrom{1, S::NoEcho};
    QTest::newRow("no echo") << noEcho << Link::SilenceLimit;

    Options noStatus;
    noStatus.silentFrom = SimulatedTerminal::SilentFrom{1, S::NoStatusReply};
    QTest::newRow("no status reply") << noStatus << Link::SilenceLimit;

    Options ctsLow;
    ctsLow.ctsDrop = SimulatedTerminal::CtsDrop{1, std::nullopt};
    QTest::newRow("CTS low for good") << ctsLow << Link::CtsLowLimit;

    Options stalled;
    stalled.stalledOutputAt = 1;
    QTest::newRow("nothing leaves the output queue") << stalled << Link::SilenceLimit;
}

void TerminalLinkTest::silenceEndsTheRun()
{
    QFETCH(Options, options);
    QFETCH(std::chrono::milliseconds, limit);

    // Without wire time everything before the silence happens the moment the port opens: the
    // session lasts exactly the limit.
    Rig rig(options);
    QCOMPARE(rig.run(imageOf(3)), LinkOutcome::TerminalNotAnswering);
    QCOMPARE(rig.recorder.calls.last(), QStringLiteral("not answering"));
    QVERIFY(rig.portClosed());
    QCOMPARE(rig.lastSession(), limit);
    QCOMPARE(rig.terminal->violations(), QStringList());

    // The next load meets a terminal that answers again, up to the same point.
    const QStringList first = rig.recorder.calls;
    rig.recorder.calls.clear();
    QCOMPARE(rig.run(imageOf(3)), LinkOutcome::TerminalNotAnswering);
    QCOMPARE(rig.recorder.calls, first);
    QCOMPARE(rig.lastSession(), limit);
    QCOMPARE(rig.terminal->violations(), QStringList());
}

void TerminalLinkTest::stopEndsAnyWait_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<QString>("trigger");

    Options paced;
    paced.paced = true;
    QTest::newRow("a busy transfer") << paced << "starting 1/3 errors 0";

    Options noEcho;
    noEcho.silentFrom = SimulatedTerminal::SilentFrom{1, SimulatedTerminal::Silence::NoEcho};
    QTest::newRow("waiting for the echo") << noEcho << "starting 1/3 errors 0";

    Options noStatus;
    noStatus.silentFrom = SimulatedTerminal::SilentFrom{1,
                                                        SimulatedTerminal::Silence::NoStatusReply};
    QTest::newRow("waiting for the status reply") << noStatus << "accepted 2/3 errors 0";

    Options ctsLow;
    ctsLow.ctsDrop = SimulatedTerminal::CtsDrop{1, std::nullopt};
    QTest::newRow("waiting for CTS") << ctsLow << "starting 1/3 errors 0";

    Options stalled;
    stalled.stalledOutputAt = 1;
    QTest::newRow("waiting for the output queue") << stalled << "starting 1/3 errors 0";
}

void TerminalLinkTest::stopEndsAnyWait()
{
    QFETCH(Options, options);
    QFETCH(QString, trigger);

    // On the real clock, with the real limits: only the stop request can end the run first.
    Rig rig(options, Time::Real);
    bool reached = false;
    const LinkOutcome outcome = runAndStopAt(rig, imageOf(3), trigger, &reached);
    QVERIFY(reached);
    QCOMPARE(outcome, LinkOutcome::Stopped);
    QCOMPARE(rig.recorder.calls.last(), QStringLiteral("stopped"));
    QVERIFY(rig.portClosed());
    QCOMPARE(rig.terminal->violations(), QStringList());
}

void TerminalLinkTest::stopActsWithinAStopCheckInterval_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<std::chrono::milliseconds>("from");

    // The stop comes at moments from here on, while the link waits.
    Options paced;
    paced.paced = true;
    QTest::newRow("a busy transfer") << paced << 400ms;

    Options noEcho;
    noEcho.silentFrom = SimulatedTerminal::SilentFrom{1, SimulatedTerminal::Silence::NoEcho};
    QTest::newRow("waiting for the echo") << noEcho << 10'000ms;

    // Up to the moment the limit runs out: the stop comes first.
    Options noStatus;
    noStatus.silentFrom = SimulatedTerminal::SilentFrom{1,
                                                        SimulatedTerminal::Silence::NoStatusReply};
    QTest::newRow("waiting for the status reply")
        << noStatus << std::chrono::milliseconds(Link::SilenceLimit - 150ms);

    Options ctsLow;
    ctsLow.ctsDrop = SimulatedTerminal::CtsDrop{1, std::nullopt};
    QTest::newRow("waiting for CTS") << ctsLow << 100'000ms;

    Options stalled;
    stalled.stalledOutputAt = 1;
    QTest::newRow("waiting for the output queue") << stalled << 10'000ms;
}

void TerminalLinkTest::stopActsWithinAStopCheckInterval()
{
    QFETCH(Options, options);
    QFETCH(std::chrono::milliseconds, from);

    // Steps of 13 ms over three stop-check intervals: some moment falls late in any slice
    // longer than the interval.
    for (std::chrono::milliseconds stopAt = from; stopAt <= from + 3 * Link::StopCheckInterval;
         stopAt += 13ms) {
        Rig rig(options);
        const Clock::TimePoint moment = rig.clock->now() + stopAt;
        std::unique_ptr<TerminalLink> link;
        WrappedPorts ports(rig.ports, [&](std::unique_ptr<SerialPort> port) {
            return std::make_unique<StoppingPort>(std::move(port), *rig.clock, moment, *link);
        });
        link = std::make_unique<TerminalLink>(ports, rig.recorder, rig.limits());

        QCOMPARE(link->run(imageOf(3), portAddress(Port)), LinkOutcome::Stopped);
        QCOMPARE(rig.recorder.calls.last(), QStringLiteral("stopped"));
        QVERIFY(rig.portClosed());
        const Clock::Duration late = rig.eventsOf(Kind::Closed).last().at - moment;
        QVERIFY2(late >= 0ms && late <= Link::StopCheckInterval,
                 qPrintable(
                     QStringLiteral("stop at %1 ms, closed %2 us later")
                         .arg(stopAt.count())
                         .arg(std::chrono::duration_cast<std::chrono::microseconds>(late).count())));
        QCOMPARE(rig.terminal->violations(), QStringList());
    }
}

void TerminalLinkTest::stopBeforeTheRun()
{
    Rig rig;
    rig.link.requestStop();
    QCOMPARE(rig.run(imageOf(1)), LinkOutcome::Stopped);
    QCOMPARE(rig.recorder.calls, QStringList({"stopped [closed]"}));
    QVERIFY(rig.terminal->events().isEmpty());
}

void TerminalLinkTest::portNotOpened_data()
{
    QTest::addColumn<int>("portNumber");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<PortOpenFailure::Kind>("kind");

    QTest::newRow("no such port") << 4 << false << "No such file or directory"
                                  << PortOpenFailure::Kind::Missing;
    QTest::newRow("busy") << Port << true << "busy" << PortOpenFailure::Kind::InUse;
}

void TerminalLinkTest::portNotOpened()
{
    QFETCH(int, portNumber);
    QFETCH(bool, busy);
    QFETCH(QString, reason);
    QFETCH(PortOpenFailure::Kind, kind);

    Rig rig;
    SimulatedPort other(rig.terminal);
    if (busy)
        QVERIFY(other.open(Link::Line, nullptr));

    QCOMPARE(rig.link.run(imageOf(1), portAddress(portNumber)), LinkOutcome::PortNotOpened);
    QCOMPARE(rig.recorder.calls, QStringList({busy ? "not opened" : "not opened [closed]"}));
    QVERIFY2(rig.recorder.reason.contains(reason), qPrintable(rig.recorder.reason));
    QCOMPARE(rig.recorder.openFailure, kind);
    QCOMPARE(rig.eventsOf(Kind::PcSent).size(), 0);
}

void TerminalLinkTest::brokenPortEndsTheRun_data()
{
    QTest::addColumn<BreakingPort::Break>("how");
    QTest::addColumn<QString>("reason");

    QTest::newRow("write refused") << BreakingPort::Break::Write << "Input/output error";
    QTest::newRow("device removed while waiting")
        << BreakingPort::Break::WhileWaiting << "The device was removed";
}

void TerminalLinkTest::brokenPortEndsTheRun()
{
    QFETCH(BreakingPort::Break, how);
    QFETCH(QString, reason);

    // The real limits: the failure must end the run, not a time-out.
    Rig rig;
    WrappedPorts ports(rig.ports, [how](std::unique_ptr<SerialPort> port) {
        return std::make_unique<BreakingPort>(std::move(port), 2, how);
    });
    TerminalLink link(ports, rig.recorder, rig.limits());

    QCOMPARE(link.run(imageOf(3), portAddress(Port)), LinkOutcome::PortError);
    QCOMPARE(rig.recorder.calls.last(), QStringLiteral("port error"));
    QCOMPARE(rig.recorder.reason, reason);
    QVERIFY(rig.portClosed());
}

void TerminalLinkTest::imageNotSendable_data()
{
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("written");

    QTest::newRow("nothing written") << 0 << false;
    // The terminal's memory ends at index 0x100000 - 1.
    QTest::newRow("beyond the terminal's memory") << 0x100000 << true;
}

void TerminalLinkTest::imageNotSendable()
{
    QFETCH(int, end);
    QFETCH(bool, written);

    Rig rig;
    MemoryImage image;
    image.imageEnd = end;
    image.anythingWritten = written;
    QCOMPARE(rig.run(image), LinkOutcome::ImageNotSendable);
    QVERIFY(rig.terminal->events().isEmpty());
    QCOMPARE(rig.recorder.calls, QStringList());
}

QTEST_GUILESS_MAIN(TerminalLinkTest)
#include "tst_terminal_link.moc"
