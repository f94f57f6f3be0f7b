// The loads of a station on simulated terminals, without a window: an armed port waits for a
// terminal without asking, loads it as it is plugged in, keeps the result until it goes; every
// outcome on its tile and in the record with the program and the unit serial; serials refused
// twice; stopping, disarming and closing while loading; the totals.

#include "pulled_port.h"
#include "srecord_text.h"
#include "terminal_events.h"
#include "workspace.h"

#include "simulator/simulated_terminal.h"
#include "station/station_loads.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <atomic>

using namespace Kv402;
using Kv402::Test::Workspace;
using Options = SimulatedTerminal::Options;
using State = TileView::State;

Q_DECLARE_METATYPE(Options)
Q_DECLARE_METATYPE(State)

namespace {

constexpr int Blocks = 4;
constexpr int Wait = 10000;

QByteArray imageData(int blocks, int seed = 0)
{
    QByteArray data(blocks * Image::BlockSize, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 7 + i / Image::BlockSize + seed) & 0xFF);
    return data;
}

// Simulated terminals, with a hook on every port made and ports that fail after some writes.
class TestPorts : public SerialPortFactory
{
public:
    std::unique_ptr<SerialPort> makePort(const PortAddress &address) override
    {
        const int made = ++m_made;
        if (onMake)
            onMake(made);
        std::unique_ptr<SerialPort> port = simulated.makePort(address);
        if (const auto failing = failAfterWrites.find(address.name);
            failing != failAfterWrites.end()) {
            return std::make_unique<Test::PulledPort>(std::move(port),
                                                      failing->second,
                                                      QStringLiteral("Input/output error"));
        }
        return port;
    }
    QString describe(const PortAddress &address) const override
    {
        return simulated.describe(address);
    }
    int made() const { return m_made.load(); }

    SimulatedPorts simulated;
    std::map<QString, int> failAfterWrites;
    // On the thread that makes the port; set before the first port is made.
    std::function<void(int made)> onMake;

private:
    std::atomic<int> m_made{0};
};

// The clock the terminals and the links run on.
enum class Time {
    // Virtual: loads take no time, a silent terminal is given up at once.
    Virtual,
    // Real: a terminal that falls silent holds its load for the link's 30 s, long enough to stop
    // it.
    Real,
};

// A station on simulated terminals behind COM1, COM2 ..., loading DATA.S28 (4 blocks) of a
// workspace, recording into loads.jsonl there.
struct Rig
{
    explicit Rig(Time time = Time::Virtual)
        : clock(time == Time::Virtual ? std::make_shared<VirtualClock>() : nullptr)
    {
        workspace.writeFile("DATA.S28", Test::s2Records(0x300000, imageData(Blocks)));
    }

    // A terminal behind COMn; attach them all before start().
    std::shared_ptr<SimulatedTerminal> attach(int number, Options options = {})
    {
        if (clock)
            options.clock = clock;
        auto terminal = std::make_shared<SimulatedTerminal>(options);
        ports.simulated.attach(number, terminal);
        numbers.append(number);
        return terminal;
    }

    StationChoice choiceOf(const QString &file) const
    {
        // From a signed bundle, which every load's record names.
        return {LoadChoice{QStringLiteral("2"), QStringLiteral("2.1"), QStringLiteral("ITA")},
                file,
                std::make_shared<DataFileReading>(readDataFile(file)),
                BundleOrigin{QStringLiteral("KV402 release"), 4, QString(64, QLatin1Char('b'))}};
    }

    void start()
    {
        loads = std::make_unique<StationLoads>(ports,
                                               LoadRecord(recordFile()),
                                               QStringLiteral("kv402station"),
                                               LinkLimits{.clock = clock.get()});
        for (const int number : std::as_const(numbers))
            loads->addPort(portAddress(number), QStringLiteral("simulated terminal"));
        QVERIFY(loads->setChoice(choiceOf(QStringLiteral("DATA.S28"))));
    }

    QString recordFile() const { return workspace.filePath(QStringLiteral("loads.jsonl")); }
    QList<LoadRecordEntry> recorded() const { return LoadRecord(recordFile()).read(); }
    const TileView &tile(const char *port) const { return loads->tile(QString::fromLatin1(port)); }
    QString hashOf(const QString &file) const
    {
        return QString::fromLatin1(Test::fileHash(workspace.filePath(file)).toHex());
    }

    Workspace workspace;
    std::shared_ptr<VirtualClock> clock;
    TestPorts ports;
    QList<int> numbers;
    std::unique_ptr<StationLoads> loads;
};

Options rejecting(int block, int times)
{
    Options options;
    for (int attempt = 1; attempt <= times; ++attempt)
        options.corruptedEchoes.insert({block, attempt});
    return options;
}

Options withoutCable(Options options = {})
{
    options.cableConnected = false;
    return options;
}

// Falls silent at this block, holding its load until the link gives up.
Options silentAt(int block)
{
    Options options;
    options.silentFrom = SimulatedTerminal::SilentFrom{block, SimulatedTerminal::Silence::NoEcho};
    return options;
}

} // namespace

class StationLoadsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plugInAndItLoads();
    void everyOutcomeOnItsTileAndInTheRecord_data();
    void everyOutcomeOnItsTileAndInTheRecord();
    void cableDroppedBeforeTheRunIsNoLoad();
    void recordThatCannotBeWritten();
    void serialsAreRefusedTwice();
    void stopWhileLoading_data();
    void stopWhileLoading();
    void armedAgainBeforeTheStopEnded();
    void closingRecordsTheLoadsRunning();
    void choice();
};

// An armed port without terminal waits, asks nothing and records nothing; a terminal plugged in
// is loaded with the bytes of the choice; the result stays until the terminal goes, and the next
// one is loaded as it comes.
void StationLoadsTest::plugInAndItLoads()
{
    Rig rig;
    const auto terminal = rig.attach(1, withoutCable());
    rig.start();
    QVERIFY(!rig.loads->totals().terminalsPerHour);

    QVERIFY(rig.loads->arm("COM1"));
    QVERIFY(rig.loads->armed("COM1"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").state, State::WaitingForTerminal, Wait);
    QTest::qWait(100);
    QCOMPARE(rig.tile("COM1").state, State::WaitingForTerminal);
    QCOMPARE(Test::headersSent(*terminal), 0);
    QVERIFY(!QFile::exists(rig.recordFile()));
    QVERIFY(!rig.loads->loading());

    QVERIFY(rig.loads->setUnitSerial("COM1", "KV-0001"));
    QCOMPARE(rig.tile("COM1").unitSerial, "KV-0001");
    QSignalSpy totalsChanged(rig.loads.get(), &StationLoads::totalsChanged);
    terminal->setCableConnected(true);
    // The state changes with the link's last event, the counts once the run is recorded.
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").passed, 1, Wait);
    QCOMPARE(rig.tile("COM1").state, State::Completed);
    QCOMPARE(totalsChanged.size(), 1);
    QCOMPARE(terminal->flash().left(Blocks * Image::BlockSize), imageData(Blocks));

    QList<LoadRecordEntry> entries = rig.recorded();
    QCOMPARE(entries.size(), 1);
    const LoadRecordEntry entry = entries.first();
    QCOMPARE(entry.program, "kv402station");
    QCOMPARE(entry.unitSerial, "KV-0001");
    QCOMPARE(entry.port, "COM1");
    QCOMPARE(entry.device, "simulated terminal");
    QCOMPARE(entry.revision, "2");
    QCOMPARE(entry.version, "2.1");
    QCOMPARE(entry.language, "ITA");
    QCOMPARE(entry.dataFile, rig.workspace.filePath("DATA.S28"));
    QCOMPARE(entry.sha256, rig.hashOf("DATA.S28"));
    QCOMPARE(entry.outcome, "completed");
    QCOMPARE(entry.blocks, Blocks);
    QCOMPARE(entry.of, Blocks);
    QCOMPARE(entry.errors, 0);
    QCOMPARE(entry.bundle.name, "KV402 release");
    QCOMPARE(entry.bundle.revision, 4);
    QCOMPARE(entry.bundle.manifestSha256, QString(64, QLatin1Char('b')));

    // The serial was that unit's; the result stays while the terminal does.
    QCOMPARE(rig.tile("COM1").unitSerial, QString());
    QCOMPARE(rig.tile("COM1").passed, 1);
    QCOMPARE(rig.tile("COM1").blocksDone, Blocks);
    QTest::qWait(100);
    QCOMPARE(rig.tile("COM1").state, State::Completed);
    QCOMPARE(Test::headersSent(*terminal), 1);
    QVERIFY(rig.tile("COM1").armed);

    terminal->setCableConnected(false);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").state, State::WaitingForTerminal, Wait);
    terminal->setCableConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").passed, 2, Wait);
    entries = rig.recorded();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.last().outcome, "completed");
    QCOMPARE(entries.last().unitSerial, QString());
    QCOMPARE(Test::headersSent(*terminal), 2);
    QCOMPARE(terminal->violations(), QStringList());

    const StationTotals totals = rig.loads->totals(QDateTime::currentDateTime().addSecs(3600));
    QCOMPARE(totals.passed, 2);
    QCOMPARE(totals.failed, 0);
    QCOMPARE(totals.stopped, 0);
    QVERIFY(totals.terminalsPerHour);
    // Two terminals in a little more than an hour.
    QVERIFY2(*totals.terminalsPerHour > 1.9 && *totals.terminalsPerHour <= 2.0,
             qPrintable(QString::number(*totals.terminalsPerHour)));
}

void StationLoadsTest::everyOutcomeOnItsTileAndInTheRecord_data()
{
    QTest::addColumn<Options>("options");
    // Writes after which the port stops working; none for -1.
    QTest::addColumn<int>("failAfterWrites");
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("outcome");
    // The port waits for the next terminal (true), or for being armed again.
    QTest::addColumn<bool>("staysArmed");

    Options flash;
    flash.flashErrorAt = 1;
    QTest::newRow("flash write error")
        << flash << -1 << State::FlashWriteError << "Flash write error"
        << "flash-write-error" << true;
    QTest::newRow("the terminal falls silent")
        << silentAt(2) << -1 << State::TerminalNotAnswering << "The terminal does not answer"
        << "terminal-not-answering" << true;
    QTest::newRow("a line too noisy")
        << rejecting(1, 10) << -1 << State::PortFailure << "Port failure"
        << "port-failure" << true;
    Options inUse;
    inUse.openRefused = PortOpenFailure::Kind::InUse;
    QTest::newRow("port in use") << inUse << -1 << State::PortNotOpened
                                 << "Port cannot be opened: another program is using simulated "
                                    "terminal (Device or resource busy)"
                                 << "port-not-opened" << false;
    Options noLines;
    noLines.openRefused = PortOpenFailure::Kind::NoModemLines;
    QTest::newRow("no modem lines") << noLines << -1 << State::NoModemLines << "No RTS/CTS lines"
                                    << "port-not-opened" << false;
    QTest::newRow("the port stops working")
        << Options() << 3 << State::PortError << "Port error: Input/output error"
        << "port-error" << false;
}

void StationLoadsTest::everyOutcomeOnItsTileAndInTheRecord()
{
    QFETCH(Options, options);
    QFETCH(int, failAfterWrites);
    QFETCH(State, state);
    QFETCH(QString, words);
    QFETCH(QString, outcome);
    QFETCH(bool, staysArmed);

    Rig rig;
    const auto terminal = rig.attach(1, options);
    if (failAfterWrites >= 0)
        rig.ports.failAfterWrites["COM1"] = failAfterWrites;
    rig.start();
    QVERIFY(rig.loads->setUnitSerial("COM1", "U-1"));
    QVERIFY(rig.loads->arm("COM1"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.recorded().size(), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(rig.loads->armed("COM1"), staysArmed, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").state, state, Wait);

    const LoadRecordEntry entry = rig.recorded().first();
    QCOMPARE(entry.outcome, outcome);
    QCOMPARE(entry.program, "kv402station");
    QCOMPARE(entry.unitSerial, "U-1");
    QCOMPARE(entry.sha256, rig.hashOf("DATA.S28"));
    const TileView &tile = rig.tile("COM1");
    QCOMPARE(tile.stateText(Language::English), words);
    QCOMPARE(tile.tone(), TileView::Tone::Bad);
    QCOMPARE(tile.armed, staysArmed);
    QCOMPARE(tile.failed, 1);
    QCOMPARE(tile.passed, 0);
    const StationTotals totals = rig.loads->totals();
    QCOMPARE(totals.failed, 1);
    QCOMPARE(totals.passed, 0);
    QCOMPARE(totals.terminalsPerHour.value_or(-1), 0.0);

    // The result stays while the terminal is on the cable, or until the port is armed again.
    QTest::qWait(100);
    QCOMPARE(rig.tile("COM1").state, state);
    QCOMPARE(rig.recorded().size(), 1);
    if (staysArmed) {
        terminal->setCableConnected(false);
        QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").state, State::WaitingForTerminal, Wait);
    }
    QVERIFY(!rig.loads->loading());
}

// CTS drops between the wait and the run: nothing was sent, nothing is recorded, the port waits
// for the terminal again and loads it once it is back.
void StationLoadsTest::cableDroppedBeforeTheRunIsNoLoad()
{
    Rig rig;
    const auto terminal = rig.attach(1);
    // The first port is the wait's, the second the run's.
    rig.ports.onMake = [terminal](int made) {
        if (made == 2)
            terminal->setCableConnected(false);
    };
    rig.start();
    QVERIFY(rig.loads->arm("COM1"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.ports.made() >= 3
                                 && rig.tile("COM1").state == State::WaitingForTerminal,
                             Wait);
    QVERIFY(!QFile::exists(rig.recordFile()));
    QCOMPARE(Test::headersSent(*terminal), 0);

    terminal->setCableConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").passed, 1, Wait);
    QCOMPARE(rig.tile("COM1").state, State::Completed);
    const QList<LoadRecordEntry> entries = rig.recorded();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().outcome, "completed");
    QCOMPARE(rig.tile("COM1").passed, 1);
    QCOMPARE(rig.tile("COM1").failed, 0);
    QCOMPARE(rig.loads->totals().failed, 0);
}

// A load whose record line cannot be written is told on its tile; the loads go on.
void StationLoadsTest::recordThatCannotBeWritten()
{
    Rig rig;
    const auto terminal = rig.attach(1);
    QVERIFY(QDir().mkpath(rig.recordFile()));
    rig.start();
    QVERIFY(rig.loads->arm("COM1"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").passed, 1, Wait);
    QVERIFY2(rig.tile("COM1").notice.startsWith("The load could not be written to the record "
                                                + rig.recordFile() + ": "),
             qPrintable(rig.tile("COM1").notice));
    rig.loads->setLanguage(Language::Italian);
    QVERIFY2(rig.tile("COM1").notice.startsWith("Impossibile scrivere il caricamento nel registro "
                                                + rig.recordFile() + ": "),
             qPrintable(rig.tile("COM1").notice));

    terminal->setCableConnected(false);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").state, State::WaitingForTerminal, Wait);
    terminal->setCableConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").passed, 2, Wait);
    QCOMPARE(rig.loads->totals().passed, 2);
    QVERIFY(rig.loads->armed("COM1"));
}

// A serial is refused while another tile holds it and once a completed load was recorded with
// it; a unit whose load failed may be loaded again with its serial.
void StationLoadsTest::serialsAreRefusedTwice()
{
    Rig rig;
    const auto first = rig.attach(1, withoutCable());
    rig.attach(2, withoutCable());
    Options flash = withoutCable();
    flash.flashErrorAt = 0;
    const auto failing = rig.attach(3, flash);
    rig.start();
    for (const char *port : {"COM1", "COM2", "COM3"})
        QVERIFY(rig.loads->arm(port));

    QVERIFY(rig.loads->setUnitSerial("COM1", "SN-1"));
    QVERIFY(!rig.loads->setUnitSerial("COM2", "SN-1"));
    QCOMPARE(rig.tile("COM2").unitSerial, QString());
    QCOMPARE(rig.tile("COM2").notice, "Serial SN-1 is already on COM1");
    rig.loads->setLanguage(Language::Italian);
    QCOMPARE(rig.tile("COM2").notice, "Il numero di serie SN-1 è già su COM1");
    rig.loads->setLanguage(Language::English);
    // A scanner's blanks and line end are not part of the number.
    QVERIFY(rig.loads->setUnitSerial("COM2", " SN-2\r\n"));
    QCOMPARE(rig.tile("COM2").unitSerial, "SN-2");
    QCOMPARE(rig.tile("COM2").notice, QString());

    first->setCableConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").passed, 1, Wait);
    QVERIFY(!rig.loads->setUnitSerial("COM2", "SN-1"));
    QCOMPARE(rig.tile("COM2").notice, "Serial SN-1 was already loaded in this session");
    QCOMPARE(rig.tile("COM2").unitSerial, "SN-2");
    QVERIFY(!rig.loads->setUnitSerial("COM3", "SN-2"));

    QVERIFY(rig.loads->setUnitSerial("COM3", "SN-3"));
    failing->setCableConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM3").failed, 1, Wait);
    QCOMPARE(rig.tile("COM3").state, State::FlashWriteError);
    QCOMPARE(rig.tile("COM3").unitSerial, QString());
    QVERIFY(rig.loads->setUnitSerial("COM1", "SN-3"));
    QVERIFY(rig.loads->setUnitSerial("COM1", QString()));
    QCOMPARE(rig.tile("COM1").unitSerial, QString());

    QStringList recorded;
    for (const LoadRecordEntry &entry : rig.recorded())
        recorded.append(entry.port + " " + entry.unitSerial + " " + entry.outcome);
    QCOMPARE(recorded, (QStringList{"COM1 SN-1 completed", "COM3 SN-3 flash-write-error"}));
}

void StationLoadsTest::stopWhileLoading_data()
{
    QTest::addColumn<bool>("stopAll");

    QTest::newRow("disarming the port") << false;
    QTest::newRow("stop all") << true;
}

// A load stopped ends at once, is recorded as stopped with the blocks it got done, and leaves
// its port disarmed; a port that only waited records nothing.
void StationLoadsTest::stopWhileLoading()
{
    QFETCH(bool, stopAll);

    Rig rig(Time::Real);
    const auto loading = rig.attach(1, silentAt(2));
    rig.attach(2, withoutCable());
    rig.start();
    QVERIFY(rig.loads->arm("COM1"));
    if (stopAll)
        QVERIFY(rig.loads->arm("COM2"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").blocksDone, 2, Wait);
    QCOMPARE(rig.tile("COM1").state, State::Loading);
    QVERIFY(rig.loads->loading());
    // The choice stays while a load runs.
    QVERIFY(!rig.loads->setChoice(rig.choiceOf("DATA.S28")));

    QSignalSpy allFinished(rig.loads.get(), &StationLoads::allFinished);
    if (stopAll)
        rig.loads->stopAll();
    else
        rig.loads->disarm("COM1");
    QVERIFY(!rig.tile("COM1").armed);
    QVERIFY(allFinished.wait(Wait));
    QCOMPARE(rig.tile("COM1").state, State::Stopped);
    QCOMPARE(rig.tile("COM1").stateText(Language::English), "Stopped");
    QCOMPARE(rig.tile("COM2").state, State::Disarmed);
    QVERIFY(!rig.loads->armed("COM1"));
    QVERIFY(!rig.loads->armed("COM2"));
    QVERIFY(!rig.loads->loading());

    const QList<LoadRecordEntry> entries = rig.recorded();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().port, "COM1");
    QCOMPARE(entries.first().outcome, "stopped");
    QCOMPARE(entries.first().blocks, 2);
    QCOMPARE(entries.first().of, Blocks);
    const StationTotals totals = rig.loads->totals();
    QCOMPARE(totals.stopped, 1);
    QCOMPARE(totals.passed, 0);
    QCOMPARE(totals.failed, 0);
    QCOMPARE(loading->events().last().kind, SimulatedTerminal::Event::Kind::Closed);

    // Armed again, the port waits for a terminal.
    QVERIFY(rig.loads->arm("COM2"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM2").state, State::WaitingForTerminal, Wait);
}

// Disarmed and armed again at once: the stopped load is recorded, and the port stays armed and
// loads the terminal on its cable anew.
void StationLoadsTest::armedAgainBeforeTheStopEnded()
{
    Rig rig(Time::Real);
    const auto terminal = rig.attach(1, silentAt(2));
    rig.start();
    QVERIFY(rig.loads->arm("COM1"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").blocksDone, 2, Wait);
    rig.loads->disarm("COM1");
    QVERIFY(rig.loads->arm("COM1"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.recorded().size(), 1, Wait);
    QCOMPARE(rig.recorded().first().outcome, "stopped");
    QTRY_COMPARE_WITH_TIMEOUT(Test::headersSent(*terminal), 2, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").state, State::Loading, Wait);
    QVERIFY(rig.loads->armed("COM1"));

    QSignalSpy allFinished(rig.loads.get(), &StationLoads::allFinished);
    rig.loads->stopAll();
    QVERIFY(allFinished.wait(Wait));
    QCOMPARE(rig.recorded().size(), 2);
    QCOMPARE(rig.loads->totals().stopped, 2);
}

// The station closes with loads running: each is stopped and recorded before it is gone.
void StationLoadsTest::closingRecordsTheLoadsRunning()
{
    Rig rig(Time::Real);
    const auto first = rig.attach(1, silentAt(2));
    const auto second = rig.attach(2, silentAt(3));
    rig.attach(3, withoutCable());
    rig.start();
    for (const char *port : {"COM1", "COM2", "COM3"})
        QVERIFY(rig.loads->arm(port));
    QVERIFY(rig.loads->setUnitSerial("COM2", "SN-9"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.tile("COM1").blocksDone == 2 && rig.tile("COM2").blocksDone == 3,
                             Wait);

    rig.loads.reset();
    QStringList recorded;
    for (const LoadRecordEntry &entry : rig.recorded()) {
        recorded.append(QStringLiteral("%1 %2 %3 %4")
                            .arg(entry.port, entry.outcome, entry.unitSerial)
                            .arg(entry.blocks));
    }
    recorded.sort();
    QCOMPARE(recorded, (QStringList{"COM1 stopped  2", "COM2 stopped SN-9 3"}));
    QCOMPARE(first->events().last().kind, SimulatedTerminal::Event::Kind::Closed);
    QCOMPARE(second->events().last().kind, SimulatedTerminal::Event::Kind::Closed);
}

// A port that waits takes a new choice at once: the terminal plugged in after it gets the new
// bytes. A reading with nothing to load is refused, and nothing is armed without a choice.
void StationLoadsTest::choice()
{
    Rig rig;
    const auto terminal = rig.attach(1, withoutCable());
    rig.loads = std::make_unique<StationLoads>(rig.ports,
                                               LoadRecord(rig.recordFile()),
                                               QStringLiteral("kv402station"),
                                               LinkLimits{.clock = rig.clock.get()});
    rig.loads->addPort(portAddress(1), QStringLiteral("simulated terminal"));
    rig.loads->addPort(portAddress(1), QStringLiteral("again"));
    QCOMPARE(rig.loads->ports().size(), 1);
    QVERIFY(!rig.loads->arm("COM1"));
    QVERIFY(!rig.loads->setChoice(rig.choiceOf("MISSING.S28")));
    StationChoice unnamed = rig.choiceOf("DATA.S28");
    unnamed.dataFile.clear();
    QVERIFY(!rig.loads->setChoice(unnamed));
    QVERIFY(!rig.loads->choice());
    QVERIFY(rig.loads->setChoice(rig.choiceOf("DATA.S28")));

    QVERIFY(rig.loads->arm("COM1"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").state, State::WaitingForTerminal, Wait);
    rig.workspace.writeFile("OTHER.S28", Test::s2Records(0x300000, imageData(Blocks + 2, 1)));
    QVERIFY(rig.loads->setChoice(rig.choiceOf("OTHER.S28")));
    QTest::qWait(100);
    QCOMPARE(rig.tile("COM1").state, State::WaitingForTerminal);
    QVERIFY(rig.loads->armed("COM1"));

    terminal->setCableConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.tile("COM1").passed, 1, Wait);
    QCOMPARE(rig.tile("COM1").state, State::Completed);
    const QList<LoadRecordEntry> entries = rig.recorded();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().sha256, rig.hashOf("OTHER.S28"));
    QCOMPARE(entries.first().dataFile, rig.workspace.filePath("OTHER.S28"));
    QCOMPARE(entries.first().of, Blocks + 2);
    QCOMPARE(terminal->flash().left((Blocks + 2) * Image::BlockSize), imageData(Blocks + 2, 1));
}

QTEST_GUILESS_MAIN(StationLoadsTest)
#include "tst_station_loads.moc"
