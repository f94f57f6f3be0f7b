#include "link/link_constants.h"
#include "link/terminal_link.h"
#include "simulator/simulated_terminal.h"
#include "simulator/terminal_profiles.h"
#include "test_image.h"

#include <QTest>
#include <QThread>

using namespace Kv402;
using namespace std::chrono_literals;

using TimePoint = SimulatedTerminal::TimePoint;

namespace {

constexpr int WaitMsecs = 5000;

// One character on the line: start bit, 8 data bits, parity bit, stop bit at 19200 baud.
std::chrono::nanoseconds characterTime()
{
    return Link::Line.characterTime();
}

// A moment of the virtual clock, counted in characters on the wire from its start.
TimePoint afterCharacters(qint64 characters)
{
    return TimePoint(characters * characterTime());
}

// The terminal's events with their moments in characters on the wire from the clock's start; a
// moment between two characters shows in nanoseconds.
QStringList timeline(const SimulatedTerminal &terminal)
{
    using Kind = SimulatedTerminal::Event::Kind;
    const qint64 character = characterTime().count();
    QStringList lines;
    for (const SimulatedTerminal::Event &event : terminal.events()) {
        QString what;
        switch (event.kind) {
        case Kind::Opened:
            what = QStringLiteral("open");
            break;
        case Kind::PcSent:
            what = QStringLiteral("pc sends %1").arg(event.bytes.size());
            break;
        case Kind::PcRts:
            what = QStringLiteral("rts%1").arg(int(event.rts));
            break;
        case Kind::PcRead:
            what = QStringLiteral("pc reads %1").arg(event.bytes.size());
            break;
        case Kind::TerminalSent:
            what = QStringLiteral("terminal sends %1").arg(event.bytes.size());
            break;
        case Kind::Closed:
            what = QStringLiteral("close");
            break;
        }
        const qint64 at = std::chrono::nanoseconds(event.at.time_since_epoch()).count();
        lines.append(at % character == 0 ? QStringLiteral("%1 @%2").arg(what).arg(at / character)
                                         : QStringLiteral("%1 @%2 ns").arg(what).arg(at));
    }
    return lines;
}

QByteArray block0()
{
    QByteArray block;
    for (int i = 0; i < Image::BlockSize; ++i)
        block.append(char(255 - i));
    return block;
}

// Plays the PC's side from a script of words: "header" sends the header of one block, "block"
// sends block 0, "long" sends a header with a byte too many, "readN" waits for N bytes and reads
// them, "rts1"/"rts0" answer.
void play(SimulatedPort &port, const QString &script)
{
    for (const QString &word : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word == QLatin1String("header"))
            port.write(QByteArray("\x01\x00", 2));
        else if (word == QLatin1String("long"))
            port.write(QByteArray("\x01\x00\x00", 3));
        else if (word == QLatin1String("block"))
            port.write(block0());
        else if (word == QLatin1String("rts1"))
            port.setRts(true);
        else if (word == QLatin1String("rts0"))
            port.setRts(false);
        else if (word.startsWith(QLatin1String("read"))) {
            QVERIFY2(port.waitForAvailable(word.mid(4).toInt(), WaitMsecs), qPrintable(word));
            port.readAll();
        } else
            QFAIL(qPrintable(word));
    }
}

// Each moment more bytes reached the PC's port, until count have, as "bytes@milliseconds" from
// `from`.
QStringList deliveries(SimulatedPort &port, const VirtualClock &clock, TimePoint from, int count)
{
    QStringList moments;
    for (qint64 seen = 0; seen < count;) {
        if (!port.waitForAvailable(seen + 1, WaitMsecs))
            return moments << QStringLiteral("nothing more");
        seen = port.bytesAvailable();
        const std::chrono::duration<double, std::milli> after = clock.now() - from;
        moments.append(QStringLiteral("%1@%2").arg(seen).arg(after.count(), 0, 'f', 3));
    }
    return moments;
}

} // namespace

class SimulatedTerminalTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void seesProtocolViolations_data();
    void seesProtocolViolations();
    void pacedExchangeTakesTheWireTime();
    void ctsDropLastsItsDuration_data();
    void ctsDropLastsItsDuration();
    void pluggingTheCableInWakesTheWait();
    void anotherTerminalPluggedIn_data();
    void anotherTerminalPluggedIn();
    void anotherTerminalWakesAnOpenPort();
    void secondOpenIsRefused();
    void adapterPassesBytesOnInPackets_data();
    void adapterPassesBytesOnInPackets();
    void adapterShowsCtsOnlyWhenRead();
};

void SimulatedTerminalTest::seesProtocolViolations_data()
{
    QTest::addColumn<bool>("cable");
    QTest::addColumn<bool>("corruptHeader");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("violation"); // empty: none

    const QString correctRun = QStringLiteral(
        "header read2 rts1 read10 block read256 rts1 read10 rts0");
    QTest::newRow("correct run") << true << false << correctRun << "";
    QTest::newRow("rejected header sent again")
        << true << true << "header read2 rts0 read10 header read2 rts1 read10"
        << "";
    QTest::newRow("sent while CTS low") << false << false << "header"
                                        << "header sent while CTS was low";
    QTest::newRow("sent before the answer") << true << false << "header read2 header"
                                            << "bytes sent before the echo of header was answered";
    QTest::newRow("answered before reading")
        << true << false << "header rts1"
        << "the echo of header was answered before it was read";
    QTest::newRow("changed echo accepted") << true << true << "header read2 rts1"
                                           << "a changed echo of header was accepted";
    QTest::newRow("correct echo rejected") << true << false << "header read2 rts0"
                                           << "the correct echo of header was rejected";
    QTest::newRow("status reply not read") << true << false << "header read2 rts1 block"
                                           << "block 0 sent before the last status reply was read";
    QTest::newRow("more blocks than announced")
        << true << false << correctRun + QStringLiteral(" block")
        << "bytes sent after the transfer had ended";
    QTest::newRow("too many bytes") << true << false << "long"
                                    << "header: 3 bytes sent where 2 were expected";
}

void SimulatedTerminalTest::seesProtocolViolations()
{
    QFETCH(bool, cable);
    QFETCH(bool, corruptHeader);
    QFETCH(QString, script);
    QFETCH(QString, violation);

    SimulatedTerminal::Options options;
    options.cableConnected = cable;
    if (corruptHeader)
        options.corruptedEchoes = {{SimulatedTerminal::Header, 1}};
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPort port(terminal);
    QVERIFY(port.open(Link::Line, nullptr));

    play(port, script);
    QCOMPARE(terminal->violations(), violation.isEmpty() ? QStringList() : QStringList(violation));
}

void SimulatedTerminalTest::pacedExchangeTakesTheWireTime()
{
    QCOMPARE(characterTime(), std::chrono::nanoseconds(11 * 1'000'000'000LL / 19200));

    const auto clock = std::make_shared<VirtualClock>();
    SimulatedTerminal::Options options;
    options.paced = true;
    options.clock = clock;
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPort port(terminal);
    QVERIFY(port.open(Link::Line, nullptr));
    play(port, QStringLiteral("header read2 rts1 read10"));
    QCOMPARE(clock->now(), afterCharacters(14));

    port.write(block0());
    // The echo starts only once the block's last byte has arrived.
    clock->advanceTo(afterCharacters(14 + 255));
    QCOMPARE(port.bytesToWrite(), 1);
    QCOMPARE(port.bytesAvailable(), 0);
    QVERIFY(port.waitForWritten(WaitMsecs));
    QCOMPARE(clock->now(), afterCharacters(14 + 256));
    QCOMPARE(port.bytesAvailable(), 0);
    QVERIFY(port.waitForAvailable(Image::BlockSize, WaitMsecs));
    QCOMPARE(clock->now(), afterCharacters(14 + 2 * 256));
    QCOMPARE(port.readAll(), block0());
    port.setRts(true);
    QVERIFY(port.waitForAvailable(Link::StatusSize, WaitMsecs));
    QCOMPARE(port.readAll().size(), Link::StatusSize);

    // Each side sends at once when its turn comes, and every byte takes one character time.
    QCOMPARE(timeline(*terminal),
             QStringList({
                 "open @0",
                 "pc sends 2 @0",
                 "terminal sends 2 @2",
                 "pc reads 2 @4",
                 "rts1 @4",
                 "terminal sends 10 @4",
                 "pc reads 10 @14",
                 "pc sends 256 @14",
                 "terminal sends 256 @270",
                 "pc reads 256 @526",
                 "rts1 @526",
                 "terminal sends 10 @526",
                 "pc reads 10 @536",
             }));
    QCOMPARE(terminal->flash().left(Image::BlockSize), block0());
    QCOMPARE(terminal->violations(), QStringList());
}

void SimulatedTerminalTest::ctsDropLastsItsDuration_data()
{
    QTest::addColumn<qint64>("lowMsecs"); // -1: for good
    QTest::addColumn<int>("firstWaitMsecs");

    QTest::newRow("30 ms") << qint64(30) << 10;
    QTest::newRow("100 s, longer than a wait") << qint64(100'000) << 60'000;
    QTest::newRow("for good") << qint64(-1) << 60'000;
}

void SimulatedTerminalTest::ctsDropLastsItsDuration()
{
    QFETCH(qint64, lowMsecs);
    QFETCH(int, firstWaitMsecs);

    const auto clock = std::make_shared<VirtualClock>();
    SimulatedTerminal::Options options;
    options.paced = true;
    options.clock = clock;
    options.ctsDrop = SimulatedTerminal::CtsDrop{0, std::nullopt};
    if (lowMsecs >= 0)
        options.ctsDrop->duration = std::chrono::milliseconds(lowMsecs);
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPort port(terminal);
    QVERIFY(port.open(Link::Line, nullptr));

    // CTS drops as the header's status reply has arrived.
    play(port, QStringLiteral("header read2 rts1 read10"));
    const TimePoint dropped = clock->now();
    QCOMPARE(dropped, afterCharacters(14));
    QVERIFY(!port.cts());

    // A wait that ends before CTS comes back lasts exactly as long as it may.
    QVERIFY(!port.waitForCts(firstWaitMsecs));
    QCOMPARE(clock->now() - dropped, std::chrono::milliseconds(firstWaitMsecs));

    if (lowMsecs < 0) {
        QVERIFY(!port.waitForCts(WaitMsecs));
        QCOMPARE(clock->now() - dropped, std::chrono::milliseconds(firstWaitMsecs + WaitMsecs));
        QVERIFY(!port.cts());
        return;
    }
    const TimePoint raised = dropped + std::chrono::milliseconds(lowMsecs);
    clock->advanceTo(raised - 1ns);
    QVERIFY(!port.cts());
    QVERIFY(port.waitForCts(WaitMsecs));
    QCOMPARE(clock->now(), raised);
    QVERIFY(port.cts());
    port.write(block0());
    QCOMPARE(terminal->violations(), QStringList());
}

void SimulatedTerminalTest::pluggingTheCableInWakesTheWait()
{
    SimulatedTerminal::Options options;
    options.cableConnected = false;
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPort port(terminal);
    QVERIFY(port.open(Link::Line, nullptr));
    QVERIFY(!port.cts());

    std::unique_ptr<QThread> technician(QThread::create([&] {
        QThread::msleep(20);
        terminal->setCableConnected(true);
    }));
    technician->start();
    const bool raised = port.waitForCts(60'000);
    technician->wait();
    QVERIFY(raised);
    QVERIFY(port.cts());
}

void SimulatedTerminalTest::anotherTerminalPluggedIn_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<LinkOutcome>("firstOutcome");
    QTest::addColumn<LinkOutcome>("secondOutcome");

    QTest::newRow("healthy, then a flash fault")
        << "healthy"
        << "flash-error" << LinkOutcome::Completed << LinkOutcome::FlashWriteError;
    QTest::newRow("a flash fault, then healthy")
        << "flash-error"
        << "healthy" << LinkOutcome::FlashWriteError << LinkOutcome::Completed;
    QTest::newRow("healthy, then none")
        << "healthy"
        << "no-cable" << LinkOutcome::Completed << LinkOutcome::CableNotConnected;
    QTest::newRow("none, then healthy")
        << "no-cable"
        << "healthy" << LinkOutcome::CableNotConnected << LinkOutcome::Completed;
}

// The terminal behind a port changes between two loads; the second load meets the new one, with
// a blank flash, whatever the first left behind.
void SimulatedTerminalTest::anotherTerminalPluggedIn()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(LinkOutcome, firstOutcome);
    QFETCH(LinkOutcome, secondOutcome);

    const MemoryImage image = Test::imageOf(6);
    auto terminal = std::make_shared<SimulatedTerminal>(*terminalProfile(first));
    SimulatedPorts ports;
    ports.attach(1, terminal);
    LinkObserver observer;
    QCOMPARE(TerminalLink(ports, observer).run(image, portAddress(1)), firstOutcome);

    terminal->plugIn(*terminalProfile(second));
    QCOMPARE(terminal->flash(), QByteArray(terminal->flash().size(), Image::Blank));
    QCOMPARE(TerminalLink(ports, observer).run(image, portAddress(1)), secondOutcome);
    const qsizetype loaded = image.blockCount() * Image::BlockSize;
    QCOMPARE(terminal->flash().left(loaded) == image.bytes.left(loaded),
             secondOutcome == LinkOutcome::Completed);
    QVERIFY2(terminal->violations().isEmpty(), qPrintable(terminal->violations().join('\n')));
}

// A port held open while the station waits for the next terminal sees the new one come.
void SimulatedTerminalTest::anotherTerminalWakesAnOpenPort()
{
    auto terminal = std::make_shared<SimulatedTerminal>(*terminalProfile(u"healthy"));
    SimulatedPort port(terminal);
    QVERIFY(port.open(Link::Line, nullptr));
    terminal->setCableConnected(false);
    QVERIFY(!port.cts());

    std::unique_ptr<QThread> technician(QThread::create([&] {
        QThread::msleep(20);
        terminal->plugIn(*terminalProfile(u"noisy"));
    }));
    technician->start();
    const bool raised = port.waitForCts(60'000);
    technician->wait();
    QVERIFY(raised);
    port.close();
}

void SimulatedTerminalTest::secondOpenIsRefused()
{
    auto terminal = std::make_shared<SimulatedTerminal>();
    SimulatedPort first(terminal);
    SimulatedPort second(terminal);
    QVERIFY(first.open(Link::Line, nullptr));
    PortOpenFailure failure;
    QVERIFY(!second.open(Link::Line, &failure));
    QCOMPARE(failure.kind, PortOpenFailure::Kind::InUse);
    QVERIFY2(failure.reason.contains(QLatin1String("busy")), qPrintable(failure.reason));
    // Closing the port that never opened leaves the first one alone.
    second.close();
    QVERIFY(first.isOpen());
    QVERIFY(first.cts());
    first.close();
    QVERIFY(second.open(Link::Line, &failure));
}

void SimulatedTerminalTest::adapterPassesBytesOnInPackets_data()
{
    QTest::addColumn<int>("latencyMsecs");
    QTest::addColumn<QStringList>("echo"); // from the moment the PC sent the block

    // The block's last byte reaches the terminal after 256 characters (146.667 ms), its echo's
    // after 512 (293.333 ms).
    // A full packet leaves as its 62nd byte comes in; the 8 bytes left wait for the timer, which
    // restarted with the fourth packet.
    QTest::newRow("long timer") << 100
                                << QStringList{"62@182.187",
                                               "124@217.708",
                                               "186@253.229",
                                               "248@288.750",
                                               "256@388.750"};
    // The PC read the status reply as the timer ran out, at 0 ms: the timer runs out every 16 ms
    // from then, long before a packet is full (62 characters take 35.5 ms), and hands on what
    // has come in.
    QTest::newRow("default timer") << 16
                                   << QStringList{"23@160.000",
                                                  "51@176.000",
                                                  "79@192.000",
                                                  "107@208.000",
                                                  "134@224.000",
                                                  "162@240.000",
                                                  "190@256.000",
                                                  "218@272.000",
                                                  "246@288.000",
                                                  "256@304.000"};
}

void SimulatedTerminalTest::adapterPassesBytesOnInPackets()
{
    QFETCH(int, latencyMsecs);
    QFETCH(QStringList, echo);

    const auto clock = std::make_shared<VirtualClock>();
    SimulatedTerminal::Options options;
    options.paced = true;
    options.clock = clock;
    options.adapter = SimulatedTerminal::Adapter{};
    options.adapter->latencyTimer = std::chrono::milliseconds(latencyMsecs);
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPort port(terminal);
    QVERIFY(port.open(Link::Line, nullptr));

    // The header's echo and status reply are shorter than a packet: each waits for the timer,
    // which runs from the opening.
    const TimePoint opened = clock->now();
    port.write(QByteArray("\x01\x00", 2));
    const QString tick = QString::number(latencyMsecs) + QStringLiteral(".000");
    QCOMPARE(deliveries(port, *clock, opened, Link::HeaderSize), QStringList("2@" + tick));
    port.readAll();
    port.setRts(true);
    const TimePoint answered = clock->now();
    QCOMPARE(deliveries(port, *clock, answered, Link::StatusSize), QStringList("10@" + tick));
    port.readAll();

    const TimePoint sent = clock->now();
    port.write(block0());
    QCOMPARE(deliveries(port, *clock, sent, Image::BlockSize), echo);
    QCOMPARE(port.readAll(), block0());
    QCOMPARE(terminal->violations(), QStringList());
}

// A USB adapter reports CTS in its packets: no wait is woken by a change, the PC sees CTS high
// when it reads the line, every millisecond while it waits.
void SimulatedTerminalTest::adapterShowsCtsOnlyWhenRead()
{
    const auto clock = std::make_shared<VirtualClock>();
    SimulatedTerminal::Options options;
    options.paced = true;
    options.clock = clock;
    options.adapter = SimulatedTerminal::Adapter{};
    options.ctsDrop = SimulatedTerminal::CtsDrop{0, 30ms};
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPort port(terminal);
    QVERIFY(port.open(Link::Line, nullptr));

    // The status reply's last byte arrives after 16 ms and 10 characters; the PC has it with the
    // timer at 32 ms, and CTS is low until 30 ms after its last byte came, 51.729 ms.
    play(port, QStringLiteral("header read2 rts1 read10"));
    QCOMPARE(clock->now(), TimePoint(32ms));
    const TimePoint raised = TimePoint(16ms) + 10 * characterTime() + 30ms;
    QVERIFY(!port.cts());
    QVERIFY(!port.waitForCts(19));
    QCOMPARE(clock->now(), TimePoint(51ms));
    QVERIFY(port.waitForCts(WaitMsecs));
    QCOMPARE(clock->now(), TimePoint(52ms));
    QVERIFY(clock->now() > raised);
    QCOMPARE(terminal->violations(), QStringList());
}

QTEST_GUILESS_MAIN(SimulatedTerminalTest)
#include "tst_simulated_terminal.moc"
