#include "bundle_fixture.h"
#include "pulled_port.h"
#include "scripted_messages.h"
#include "srecord_text.h"
#include "started_window.h"
#include "workspace.h"

#include "bundle/bundle_check.h"
#include "load/load_record.h"
#include "load/load_texts.h"
#include "simulator/simulated_terminal.h"
#include "simulator/terminal_profiles.h"
#include "station/station_loads.h"
#include "stationui/station_program.h"
#include "stationui/station_services.h"
#include "stationui/station_settings.h"
#include "stationui/station_window.h"
#include "stationui/station_window_texts.h"
#include "stationui/tile_widget.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QQueue>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Kv402;
using namespace std::chrono_literals;
using Kv402::Test::ScriptedMessages;

namespace {

constexpr int LoadMs = 15000;
constexpr auto Ok = MessageAnswer::Ok;
constexpr auto Yes = MessageAnswer::Yes;
constexpr auto No = MessageAnswer::No;

QByteArray imageData(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    for (int i = 0; i < bytes; ++i)
        data[i] = char((i * 7 + i / 256) & 0xFF);
    return data;
}

// Four blocks of data at the terminal's first address.
QByteArray dataFile(int wrongChecksums = 0)
{
    QByteArray text = Test::s2Records(0x300000, imageData(4 * 256));
    for (int i = 0; i < wrongChecksums; ++i)
        text += Test::s2Record(0x300000 + 32 * i, imageData(32), 1) + "\r\n";
    return text;
}

// Revision 1 names DATA.S28 for version 1.0 in English; revision 3 offers no software.
QString catalogueSql()
{
    return Test::revisionTableSql({"1", "3"})
           + Test::versionTableSql("Versioni1",
                                   {{"1.0", "English", "DATA.S28", "KV402"},
                                    {"1.1", "Italiano", "DATA11.S28", "KV402"}})
           + Test::versionTableSql("Versioni3", {{"0", "0", "", ""}, {"3.0", "English", "X", ""}});
}

// The file dialog: answers from a script, at once.
class ScriptedFiles : public FilePicker
{
public:
    void pick(QWidget *, const QString &, const QString &, const QString &, Picked picked) override
    {
        ++asked;
        picked(files.isEmpty() ? QString() : files.dequeue());
    }
    QQueue<QString> files;
    int asked = 0;
};

// The PIN entry: answers from a script, at once; an empty script cancels.
class ScriptedPins : public PinEntry
{
public:
    void ask(QWidget *, const QString &, const QString &, Entered entered) override
    {
        ++asked;
        if (pins.isEmpty())
            entered(std::nullopt);
        else
            entered(pins.dequeue());
    }
    QQueue<QString> pins;
    int asked = 0;
};

// The simulated ports, one of which may be behind an adapter that is pulled out.
class PullingPorts : public SerialPortFactory
{
public:
    explicit PullingPorts(SerialPortFactory &ports)
        : m_ports(ports)
    {}
    std::unique_ptr<SerialPort> makePort(const PortAddress &address) override
    {
        std::unique_ptr<SerialPort> port = m_ports.makePort(address);
        if (address.name == pulled)
            return std::make_unique<Test::PulledPort>(std::move(port),
                                                      2,
                                                      QStringLiteral("the device went away"));
        return port;
    }
    QString describe(const PortAddress &address) const override
    {
        return m_ports.describe(address);
    }
    QString pulled;

private:
    SerialPortFactory &m_ports;
};

// The ports the test attaches, listed whether they open or not: a port that refuses to open is
// armed all the same, and its tile says why.
class ListedPorts : public PortLister
{
public:
    QList<StationPort> list() override { return ports; }
    QList<StationPort> ports;
};

// A station window in a workspace of its own, its settings and record in folders of their own,
// simulated terminals behind COM1 to COM4 (their cables out), the data file DATA.S28 in place.
struct Station
{
    explicit Station(const QString &sql = catalogueSql())
    {
        for (int port = 1; port <= 4; ++port) {
            SimulatedTerminal::Options options;
            options.cableConnected = false;
            terminals.append(std::make_shared<SimulatedTerminal>(options));
            ports.attach(port, terminals.last());
            listed.ports.append({portAddress(port), QStringLiteral("simulated terminal"), {}});
        }
        workspace.writeFile("DATA.S28", dataFile());
        if (!sql.isEmpty())
            workspace.buildCatalogue(sql);
        limits.silence = 300ms;
        limits.ctsLow = 300ms;
        start();
    }

    void start()
    {
        window.reset();
        window = std::make_unique<StationWindow>(StationWindow::Services{
            &messages, &pulling, &listed, &files, &pins, limits, recordFile()});
        window->start();
    }

    QString recordFile() const { return recordDir.filePath("loads.jsonl"); }
    QList<LoadRecordEntry> records() const
    {
        QFile file(recordFile());
        return file.exists() ? LoadRecord(recordFile()).read() : QList<LoadRecordEntry>();
    }

    // Chooses DATA.S28 through the catalogue: revision 1, version 1.0, English.
    void choose()
    {
        window->revision->setCurrentText("1");
        window->chooseRevision();
        window->version->setCurrentText("1.0");
        window->softwareLanguage->setCurrentText("English");
        window->useCatalogueChoice();
    }

    SimulatedTerminal &terminal(int port) { return *terminals.at(port - 1); }
    TileWidget *tile(int port) const { return window->tile(portName(port)); }
    TileView::State state(int port) const
    {
        window->drawAll();
        return tile(port) ? tile(port)->shown().state : TileView::State::Disarmed;
    }
    // The terminal on the port goes, and another of the profile comes.
    void plugIn(int port, const QString &profile = "healthy")
    {
        SimulatedTerminal::Options options = *terminalProfile(profile);
        terminal(port).plugIn(options);
    }

    Test::SettingsFolder settings;
    Test::Workspace workspace;
    QTemporaryDir recordDir;
    ScriptedMessages messages;
    ScriptedFiles files;
    ScriptedPins pins;
    SimulatedPorts ports;
    PullingPorts pulling{ports};
    ListedPorts listed;
    QList<std::shared_ptr<SimulatedTerminal>> terminals;
    LinkLimits limits;
    std::unique_ptr<StationWindow> window;
};

QString stateText(TileView::State state, int seconds = 0)
{
    TileView view;
    view.state = state;
    view.seconds = seconds;
    return view.stateText(Language::English);
}

} // namespace

class StationWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void armingWaitsForTheTerminal();
    void outcomesOnTheTile_data();
    void outcomesOnTheTile();
    void resultStaysUntilTheTerminalGoes();
    void countersAndTotals();
    void unitSerialGoesIntoTheRecord();
    void duplicateSerialIsRefusedInTheTile();
    void lockAndUnlock();
    void lockSurvivesARestart();
    void stopAll();
    void closingWhileLoading();
    void shutdownSignalStopsAndRecords_data();
    void shutdownSignalStopsAndRecords();
    void catalogueChoice_data();
    void catalogueChoice();
    void dataFileChosenDirectly_data();
    void dataFileChosenDirectly();
    void choiceHeldWhileLoading();
    void signedBundle_data();
    void signedBundle();
    void italian();
};

void StationWindowTest::armingWaitsForTheTerminal()
{
    Station station;
    QVERIFY(station.window->portTable->findChild<QPushButton *>("arm-COM1"));

    // Nothing is chosen yet: arming says what is missing and makes no tile.
    QVERIFY(!station.window->armPort("COM1"));
    QCOMPARE(station.messages.texts(),
             QStringList{StationWindowTexts::ArmNeedsChoice.in(Language::English)});
    QVERIFY(!station.tile(1));

    station.choose();
    QVERIFY(station.window->armPort("COM1"));
    QVERIFY(station.tile(1));
    QCOMPARE(station.tile(1)->objectName(), QString("tile-COM1"));
    QCOMPARE(station.tile(1)->adapter->text(), QString("simulated terminal"));
    // No cable: the port waits, without a question.
    QTRY_COMPARE(station.state(1), TileView::State::WaitingForTerminal);
    QCOMPARE(station.tile(1)->state->text(), stateText(TileView::State::WaitingForTerminal));
    QCOMPARE(station.messages.shown.size(), 1);
    QVERIFY(!station.window->portTable->findChild<QPushButton *>("arm-COM1")->isEnabled());

    // The terminal is plugged in (CTS rises): its load starts at once.
    station.terminal(1).setCableConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::Completed, LoadMs);
    QTRY_COMPARE(station.window->loads().tile("COM1").passed, 1);
    station.window->drawAll();
    QCOMPARE(station.tile(1)->progress->value(), 4);
    QCOMPARE(station.tile(1)->progress->format(), QString("4 of 4 blocks"));
    QCOMPARE(station.tile(1)->counts->text(), QString("Passed 1, failed 0"));
    QCOMPARE(station.terminal(1).flash().left(4 * 256), imageData(4 * 256));
    QCOMPARE(station.messages.shown.size(), 1);

    QTRY_COMPARE(station.records().size(), 1);
    const LoadRecordEntry entry = station.records().first();
    QCOMPARE(entry.program, QString("kv402station"));
    QCOMPARE(entry.port, QString("COM1"));
    QCOMPARE(entry.outcome, QString("completed"));
    QCOMPARE(entry.revision, QString("1"));
    QCOMPARE(entry.version, QString("1.0"));
    QCOMPARE(entry.language, QString("English"));
    QCOMPARE(entry.blocks, 4);
}

void StationWindowTest::outcomesOnTheTile_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("failed");
    // What the tile's state says, besides its state.
    QTest::addColumn<QString>("words");

    QTest::newRow("completed") << "healthy" << int(TileView::State::Completed) << "completed" << 0
                               << "Completed in 0:0";
    QTest::newRow("noisy, completed")
        << "noisy" << int(TileView::State::Completed) << "completed" << 0 << "Completed";
    QTest::newRow("flash write error") << "flash-error" << int(TileView::State::FlashWriteError)
                                       << "flash-write-error" << 1 << "Flash write error";
    QTest::newRow("silent") << "silent" << int(TileView::State::TerminalNotAnswering)
                            << "terminal-not-answering" << 1 << "The terminal does not answer";
    QTest::newRow("every echo corrupted")
        << "garbled" << int(TileView::State::PortFailure) << "port-failure" << 1 << "Port failure";
    QTest::newRow("adapter pulled out") << "pulled" << int(TileView::State::PortError)
                                        << "port-error" << 1 << "the device went away";
    QTest::newRow("port denied") << "denied" << int(TileView::State::PortNotOpened)
                                 << "port-not-opened" << 1 << "this user may not use";
    QTest::newRow("no modem lines") << "no-modem-lines" << int(TileView::State::NoModemLines)
                                    << "port-not-opened" << 1 << "RTS/CTS";
}

// Every way a load ends shows on its tile in words, is counted on it and is recorded.
void StationWindowTest::outcomesOnTheTile()
{
    QFETCH(QString, profile);
    QFETCH(int, state);
    QFETCH(QString, outcome);
    QFETCH(int, failed);
    QFETCH(QString, words);

    Station station;
    SimulatedTerminal::Options options;
    if (const auto known = terminalProfile(profile)) {
        options = *known;
        // The silent terminal falls silent at its sixth block: this file has four.
        if (profile == "silent")
            options.silentFrom = SimulatedTerminal::SilentFrom{2,
                                                               SimulatedTerminal::Silence::NoEcho};
        if (profile == "flash-error")
            options.flashErrorAt = 2;
    } else if (profile == "garbled") {
        for (int attempt = 1; attempt <= 20; ++attempt)
            options.corruptedEchoes.insert({1, attempt});
    } else if (profile == "pulled") {
        station.pulling.pulled = "COM2";
    } else if (profile == "denied") {
        options.openRefused = PortOpenFailure::Kind::AccessDenied;
    } else if (profile == "no-modem-lines") {
        options.openRefused = PortOpenFailure::Kind::NoModemLines;
    }
    station.terminal(2).plugIn(options);
    station.choose();
    station.window->armPort("COM2");

    QTRY_COMPARE_WITH_TIMEOUT(int(station.state(2)), state, LoadMs);
    const TileView &view = station.window->loads().tile("COM2");
    QCOMPARE(station.tile(2)->state->text(), view.stateText(Language::English));
    // The run is counted when it has ended, a moment after its outcome showed.
    QTRY_COMPARE(station.window->loads().tile("COM2").passed
                     + station.window->loads().tile("COM2").failed,
                 1);
    station.window->drawAll();
    QCOMPARE(station.tile(2)->counts->text(),
             QString("Passed %1, failed %2").arg(1 - failed).arg(failed));
    QTRY_COMPARE(station.records().size(), 1);
    QCOMPARE(station.records().first().outcome, outcome);
    QCOMPARE(station.messages.shown.size(), 0);
    QVERIFY2(station.tile(2)->state->text().contains(words),
             qPrintable(station.tile(2)->state->text()));
}

// After its load the tile keeps the result until the terminal goes; then it waits for the next,
// which loads again.
void StationWindowTest::resultStaysUntilTheTerminalGoes()
{
    Station station;
    station.choose();
    station.plugIn(1, "flash-error");
    station.window->armPort("COM1");
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::FlashWriteError, LoadMs);
    QTest::qWait(100);
    QCOMPARE(station.state(1), TileView::State::FlashWriteError);

    station.terminal(1).setCableConnected(false);
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::WaitingForTerminal, LoadMs);
    station.plugIn(1, "healthy");
    QTRY_COMPARE_WITH_TIMEOUT(station.window->loads().tile("COM1").passed, 1, LoadMs);
    QCOMPARE(station.state(1), TileView::State::Completed);
    QCOMPARE(station.tile(1)->counts->text(), QString("Passed 1, failed 1"));
    QTRY_COMPARE(station.records().size(), 2);
}

void StationWindowTest::countersAndTotals()
{
    Station station;
    station.choose();
    station.plugIn(1, "healthy");
    station.plugIn(2, "flash-error");
    station.window->armPort("COM1");
    station.window->armPort("COM2");
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::Completed, LoadMs);
    QTRY_COMPARE_WITH_TIMEOUT(station.window->loads().tile("COM2").failed, 1, LoadMs);
    QCOMPARE(station.state(2), TileView::State::FlashWriteError);
    // A second terminal on COM1.
    station.terminal(1).setCableConnected(false);
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::WaitingForTerminal, LoadMs);
    station.plugIn(1, "healthy");
    QTRY_COMPARE_WITH_TIMEOUT(station.window->loads().tile("COM1").passed, 2, LoadMs);

    const StationTotals totals = station.window->loads().totals();
    QCOMPARE(totals.passed, 2);
    QCOMPARE(totals.failed, 1);
    QCOMPARE(totals.stopped, 0);
    station.window->drawAll();
    QVERIFY2(station.window->totals->text().startsWith("Passed: 2    Failed: 1    Stopped: 0"),
             qPrintable(station.window->totals->text()));
    QCOMPARE(station.tile(1)->counts->text(), QString("Passed 2, failed 0"));
    QCOMPARE(station.tile(2)->counts->text(), QString("Passed 0, failed 1"));
}

void StationWindowTest::unitSerialGoesIntoTheRecord()
{
    Station station;
    station.choose();
    station.window->armPort("COM1");
    // A scanner types the number and ends it with Enter.
    QLineEdit *field = station.tile(1)->unitSerial;
    field->setFocus();
    QTest::keyClicks(field, "KV-000123");
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(station.window->loads().tile("COM1").unitSerial, QString("KV-000123"));

    station.plugIn(1, "healthy");
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::Completed, LoadMs);
    QTRY_COMPARE(station.records().size(), 1);
    QCOMPARE(station.records().first().unitSerial, QString("KV-000123"));
}

void StationWindowTest::duplicateSerialIsRefusedInTheTile()
{
    Station station;
    station.choose();
    station.window->armPort("COM1");
    station.window->armPort("COM2");
    QTest::keyClicks(station.tile(1)->unitSerial, "SN-7");
    QTest::keyClick(station.tile(1)->unitSerial, Qt::Key_Return);
    station.plugIn(1, "healthy");
    QTRY_COMPARE_WITH_TIMEOUT(station.window->loads().tile("COM1").passed, 1, LoadMs);

    // The same number on another tile: refused there, in the tile, without a message box.
    QLineEdit *second = station.tile(2)->unitSerial;
    second->setFocus();
    QTest::keyClicks(second, "SN-7");
    QTest::keyClick(second, Qt::Key_Return);
    QVERIFY(station.window->loads().tile("COM2").unitSerial.isEmpty());
    station.window->drawAll();
    QVERIFY(!station.tile(2)->notice->text().isEmpty());
    QVERIFY(!station.tile(2)->notice->isHidden());
    // The refused number is selected: the next scan replaces it.
    QCOMPARE(second->selectedText(), QString("SN-7"));
    QCOMPARE(station.messages.shown.size(), 0);

    QTest::keyClicks(second, "SN-8");
    QTest::keyClick(second, Qt::Key_Return);
    QCOMPARE(station.window->loads().tile("COM2").unitSerial, QString("SN-8"));
}

void StationWindowTest::lockAndUnlock()
{
    Station station;
    station.choose();
    station.window->armPort("COM1");

    // The supervisor sets a PIN, twice, and the station locks.
    station.pins.pins << "2468"
                      << "2468";
    station.window->lockStation();
    QVERIFY(station.window->isLocked());
    QVERIFY(!station.window->choiceGroup->isEnabled());
    QVERIFY(!station.window->portsGroup->isEnabled());
    QVERIFY(!station.tile(1)->arm->isEnabled());
    QVERIFY(!station.window->armPort("COM2"));
    QVERIFY(!station.tile(2));
    QVERIFY(!station.window->lockState->isHidden());
    // The operator still plugs terminals in, scans serials and stops loads.
    QVERIFY(station.tile(1)->unitSerial->isEnabled());
    QVERIFY(station.tile(1)->stop->isEnabled());
    QTest::keyClicks(station.tile(1)->unitSerial, "U1");
    QTest::keyClick(station.tile(1)->unitSerial, Qt::Key_Return);
    station.plugIn(1, "healthy");
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::Completed, LoadMs);
    QTest::mouseClick(station.tile(1)->stop, Qt::LeftButton);
    QVERIFY(!station.window->loads().armed("COM1"));
    // Re-arming is the supervisor's.
    QVERIFY(!station.tile(1)->arm->isEnabled());

    // The PIN is kept as a salted hash, never as it was typed.
    QFile settings(StationSettings::fileName());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QVERIFY(!settings.readAll().contains("2468"));

    // A wrong PIN is refused; the right one unlocks.
    station.pins.pins << "1357";
    station.window->unlockStation();
    QVERIFY(station.window->isLocked());
    QCOMPARE(station.messages.texts().last(), StationWindowTexts::WrongPin.in(Language::English));
    station.pins.pins << "2468";
    station.window->unlockStation();
    QVERIFY(!station.window->isLocked());
    QVERIFY(station.window->choiceGroup->isEnabled());
    QVERIFY(station.tile(1)->arm->isEnabled());

    // Locked again, with the same PIN and without a question.
    const int asked = station.pins.asked;
    station.window->lockStation();
    QVERIFY(station.window->isLocked());
    QCOMPARE(station.pins.asked, asked);
}

void StationWindowTest::lockSurvivesARestart()
{
    Station station;
    // Two PINs that differ, and one too short, lock nothing.
    station.pins.pins << "1234"
                      << "4321";
    station.window->lockStation();
    QVERIFY(!station.window->isLocked());
    station.pins.pins << "12";
    station.window->lockStation();
    QVERIFY(!station.window->isLocked());
    QCOMPARE(station.messages.texts(),
             (QStringList{StationWindowTexts::PinsDiffer.in(Language::English),
                          StationWindowTexts::PinTooShort.in(Language::English)}));

    station.pins.pins << "1234"
                      << "1234";
    station.window->lockStation();
    QVERIFY(station.window->isLocked());
    // Started again, the station is still locked: restarting is no way around the lock.
    station.start();
    QVERIFY(station.window->isLocked());
    QVERIFY(!station.window->choiceGroup->isEnabled());
    station.pins.pins << "1234";
    station.window->unlockStation();
    QVERIFY(!station.window->isLocked());
    station.start();
    QVERIFY(!station.window->isLocked());
}

void StationWindowTest::stopAll()
{
    Station station;
    station.limits.silence = 60s;
    station.start();
    station.choose();
    // Two terminals that stop answering: their loads run until stopped.
    for (int port : {1, 2}) {
        SimulatedTerminal::Options options;
        options.silentFrom = SimulatedTerminal::SilentFrom{1, SimulatedTerminal::Silence::NoEcho};
        station.terminal(port).plugIn(options);
        station.window->armPort(portName(port));
    }
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::Loading, LoadMs);
    QTRY_COMPARE_WITH_TIMEOUT(station.state(2), TileView::State::Loading, LoadMs);
    QVERIFY(station.window->isLoading());

    QSignalSpy finished(&station.window->loads(), &StationLoads::allFinished);
    QTest::mouseClick(station.window->stopAllButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!station.window->isLoading(), LoadMs);
    QCOMPARE(station.state(1), TileView::State::Stopped);
    QCOMPARE(station.state(2), TileView::State::Stopped);
    QCOMPARE(station.window->loads().totals().stopped, 2);
    QTRY_COMPARE(station.records().size(), 2);
    for (const LoadRecordEntry &entry : station.records())
        QCOMPARE(entry.outcome, QString("stopped"));
    QVERIFY(station.tile(1)->arm->isEnabled());
}

void StationWindowTest::closingWhileLoading()
{
    Station station;
    station.limits.silence = 60s;
    station.start();
    station.choose();
    SimulatedTerminal::Options options;
    options.silentFrom = SimulatedTerminal::SilentFrom{1, SimulatedTerminal::Silence::NoEcho};
    station.terminal(3).plugIn(options);
    station.window->armPort("COM3");
    station.window->show();
    QTRY_COMPARE_WITH_TIMEOUT(station.state(3), TileView::State::Loading, LoadMs);

    // Asked first; No keeps the window and the load.
    const QString question = StationWindowTexts::StopAllAndExit.in(Language::English);
    station.messages.answers << No;
    QVERIFY(!station.window->close());
    QCOMPARE(station.messages.texts(), QStringList{question});
    QVERIFY(station.window->isVisible());
    QVERIFY(station.window->isLoading());

    // Yes stops the load, records it and closes.
    station.messages.answers << Yes;
    station.window->close();
    QCOMPARE(station.messages.texts(), (QStringList{question, question}));
    QVERIFY(!station.window->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!station.window->isLoading(), LoadMs);
    QTRY_COMPARE(station.records().size(), 1);
    QCOMPARE(station.records().first().outcome, QString("stopped"));
    QCOMPARE(station.records().first().port, QString("COM3"));
    // The window's place is saved.
    QVERIFY(!StationSettings().windowGeometry().isEmpty());
}

void StationWindowTest::shutdownSignalStopsAndRecords_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGINT") << SIGINT;
}

// A system shutdown, a closed terminal or Ctrl+C: nobody is there to answer; every load is
// stopped and recorded, and the window's place saved.
void StationWindowTest::shutdownSignalStopsAndRecords()
{
    QFETCH(int, signal);
    Station station;
    station.limits.silence = 60s;
    station.start();
    station.choose();
    SimulatedTerminal::Options options;
    options.silentFrom = SimulatedTerminal::SilentFrom{1, SimulatedTerminal::Silence::NoEcho};
    station.terminal(1).plugIn(options);
    station.window->armPort("COM1");
    station.window->armPort("COM2");
    station.window->show();
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::Loading, LoadMs);
    QVERIFY(StationSettings().windowGeometry().isEmpty());

    SessionEnd sessionEnd(sessionEndWindow(*station.window));
    std::raise(signal);
    QTRY_VERIFY(!station.window->isVisible());
    QCOMPARE(station.messages.shown.size(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!station.window->isLoading(), LoadMs);
    QTRY_COMPARE(station.records().size(), 1);
    QCOMPARE(station.records().first().outcome, QString("stopped"));
    QVERIFY(!StationSettings().windowGeometry().isEmpty());
}

void StationWindowTest::catalogueChoice_data()
{
    QTest::addColumn<QString>("revision");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("chosen");

    QTest::newRow("a version with its data file") << "1"
                                                  << "1.0"
                                                  << "English" << QString() << true;
    QTest::newRow("a pair without a row")
        << "1"
        << "1.0"
        << "Italiano" << ChoiceTexts::VersionNotInLanguage.in(Language::English) << false;
    QTest::newRow("a row whose data file is missing")
        << "1"
        << "1.1"
        << "Italiano" << QString("The data file %1 cannot be loaded: the file does not exist")
        << false;
    QTest::newRow("a revision without software")
        << "3"
        << "3.0"
        << "English" << ChoiceTexts::VersionNotAvailable.in(Language::English) << false;
}

void StationWindowTest::catalogueChoice()
{
    QFETCH(QString, revision);
    QFETCH(QString, version);
    QFETCH(QString, language);
    QFETCH(QString, message);
    QFETCH(bool, chosen);

    Station station;
    station.window->revision->setCurrentText(revision);
    station.window->chooseRevision();
    station.window->version->setCurrentText(version);
    station.window->softwareLanguage->setCurrentText(language);
    station.window->useCatalogueChoice();

    if (message.contains("%1"))
        message = message.arg(QDir::toNativeSeparators(station.workspace.filePath("DATA11.S28")));
    if (message.isEmpty())
        QCOMPARE(station.messages.texts(), QStringList());
    else
        QCOMPARE(station.messages.texts().first(), message);
    QCOMPARE(bool(station.window->loads().choice()), chosen);
    if (!chosen)
        return;
    const QByteArray hash = Test::fileHash(station.workspace.filePath("DATA.S28")).toHex();
    QVERIFY2(station.window->chosenFile->text().contains(
                 QString(" 4 blocks — SHA-256 %1…").arg(QString::fromLatin1(hash.left(16)))),
             qPrintable(station.window->chosenFile->text()));
    QVERIFY(station.window->chosenFile->text().contains("DATA.S28"));
    QCOMPARE(station.window->chosenWhat->text(), QString("Revision 1, version 1.0, English"));
    const StationChoice &choice = *station.window->loads().choice();
    QCOMPARE(choice.choice.revision, QString("1"));
    QCOMPARE(choice.reading->image.blockCount(), 4);
}

void StationWindowTest::dataFileChosenDirectly_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<MessageAnswer>>("answers");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("chosen");

    QTest::newRow("a good file") << dataFile() << QList<MessageAnswer>{} << QString() << true;
    QTest::newRow("wrong checksums, loaded anyway")
        << dataFile(2) << QList<MessageAnswer>{Yes}
        << "The data file has 2 records with a wrong checksum (lines 33, 34). Load it anyway?"
        << true;
    QTest::newRow("wrong checksums, refused")
        << dataFile(2) << QList<MessageAnswer>{No}
        << "The data file has 2 records with a wrong checksum (lines 33, 34). Load it anyway?"
        << false;
    QByteArray malformed = Test::s2Record(0x300000, imageData(4));
    malformed[11] = 'G';
    QTest::newRow("malformed") << malformed + "\r\n"
                               << QList<MessageAnswer>{Ok}
                               << "The data file %1 cannot be loaded: line 1, column 12: not a "
                                  "hex digit"
                               << false;
    QTest::newRow("nothing to load") << QByteArray("S0030000FC\r\n") << QList<MessageAnswer>{Ok}
                                     << "The data file %1 holds no data to load" << false;
}

// A data file chosen directly: read once, when it is chosen; a question about its checksums is
// asked then, once, and a file that cannot be used is said then.
void StationWindowTest::dataFileChosenDirectly()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<MessageAnswer>, answers);
    QFETCH(QString, message);
    QFETCH(bool, chosen);

    Station station;
    station.workspace.writeFile("OTHER.S28", content);
    const QString path = station.workspace.filePath("OTHER.S28");
    station.files.files << path;
    for (const MessageAnswer answer : answers)
        station.messages.answers.enqueue(answer);
    QTest::mouseClick(station.window->chooseFileButton, Qt::LeftButton);
    QCOMPARE(station.files.asked, 1);

    const QStringList expected = message.isEmpty()
                                     ? QStringList()
                                     : QStringList{message.contains("%1")
                                                       ? message.arg(QDir::toNativeSeparators(path))
                                                       : message};
    QCOMPARE(station.messages.texts(), expected);
    QCOMPARE(station.messages.unscripted, 0);
    QCOMPARE(bool(station.window->loads().choice()), chosen);
    if (!chosen) {
        QCOMPARE(station.window->chosenWhat->text(),
                 StationWindowTexts::NothingChosen.in(Language::English));
        return;
    }
    QCOMPARE(station.window->chosenWhat->text(), QString("Data file chosen directly"));
    QVERIFY(station.window->loads().choice()->choice.revision.isEmpty());

    // Loaded without another question.
    station.window->armPort("COM4");
    station.plugIn(4, "healthy");
    QTRY_COMPARE_WITH_TIMEOUT(station.state(4), TileView::State::Completed, LoadMs);
    QCOMPARE(station.messages.texts(), expected);
    QTRY_COMPARE(station.records().size(), 1);
    QCOMPARE(station.records().first().dataFile, path);
}

// While a load runs the choice stays as the loads have it.
void StationWindowTest::choiceHeldWhileLoading()
{
    Station station;
    station.limits.silence = 60s;
    station.start();
    station.choose();
    SimulatedTerminal::Options options;
    options.silentFrom = SimulatedTerminal::SilentFrom{1, SimulatedTerminal::Silence::NoEcho};
    station.terminal(1).plugIn(options);
    station.window->armPort("COM1");
    QTRY_COMPARE_WITH_TIMEOUT(station.state(1), TileView::State::Loading, LoadMs);
    QVERIFY(!station.window->useCatalogue->isEnabled());
    QVERIFY(!station.window->chooseFileButton->isEnabled());
    station.window->chooseFile("DATA.S28", {});
    QCOMPARE(station.messages.texts(),
             QStringList{StationWindowTexts::ChoiceWhileLoading.in(Language::English)});
    station.window->stopAll();
    QTRY_VERIFY_WITH_TIMEOUT(!station.window->isLoading(), LoadMs);
    QVERIFY(station.window->chooseFileButton->isEnabled());
}

// The window, its tiles and its messages follow the language menu.
void StationWindowTest::signedBundle_data()
{
    QTest::addColumn<QString>("changed");
    QTest::newRow("sound") << "";
    QTest::newRow("catalogue changed") << "Versioni.mdb";
    QTest::newRow("data file changed") << Test::BundleDataFile;
    QTest::newRow("signature changed") << "MANIFEST.minisig";
}

// A working folder with a signed bundle: a changed file leaves the station without its catalogue,
// saying which file, and refuses the folder's data files; a sound bundle's loads name it in the
// record.
void StationWindowTest::signedBundle()
{
    using namespace Kv402::Test;
    QFETCH(QString, changed);
    if (minisignTool().isEmpty())
        QSKIP("the minisign tool (Debian package minisign) makes this test's keys");
    // The trusted keys of this test's own PC, and the revisions it has accepted.
    QTemporaryDir system;
    QVERIFY(system.isValid());
    QDir().mkpath(system.filePath("keys"));
    const QByteArray systemBefore = qgetenv(SystemFolderVariable);
    const QByteArray dataBefore = qgetenv("XDG_DATA_HOME");
    qputenv(SystemFolderVariable, system.path().toUtf8());
    qputenv("XDG_DATA_HOME", system.filePath("data").toUtf8());
    const auto restore = qScopeGuard([&] {
        qputenv(SystemFolderVariable, systemBefore);
        qputenv("XDG_DATA_HOME", dataBefore);
    });
    const KeyPair keys = makeKeys(system.filePath("keys"), "maker");

    Station station{QString()};
    const QString folder = station.workspace.path();
    writeBundleFiles(folder);
    writeManifest(folder, "KV402 release", 1);
    signWithMinisign(folder, keys);
    if (!changed.isEmpty())
        flipByte(folder + "/" + changed);
    station.start();

    const QString dataFile = QDir(folder).filePath(BundleDataFile);
    station.files.files << dataFile;
    if (!changed.isEmpty())
        station.messages.answers.enqueue(Ok);
    QTest::mouseClick(station.window->chooseFileButton, Qt::LeftButton);
    if (!changed.isEmpty()) {
        const QString named = QDir(folder).filePath(changed);
        QVERIFY2(station.window->catalogueNote->text().contains(named),
                 qPrintable(station.window->catalogueNote->text()));
        QCOMPARE(station.messages.texts().size(), 1);
        QVERIFY2(station.messages.texts().first().contains(named),
                 qPrintable(station.messages.texts().first()));
        QVERIFY(!station.window->loads().choice());
        return;
    }
    QVERIFY(station.messages.texts().isEmpty());
    QVERIFY(station.window->loads().choice());
    QCOMPARE(station.window->loads().choice()->bundle.name, QString("KV402 release"));
    QVERIFY(!station.window->loads().choice()->releasedSha256.isEmpty());

    station.window->armPort("COM4");
    station.plugIn(4, "healthy");
    QTRY_COMPARE_WITH_TIMEOUT(station.state(4), TileView::State::Completed, LoadMs);
    QTRY_COMPARE(station.records().size(), 1);
    QCOMPARE(station.records().first().bundle.name, QString("KV402 release"));
    QCOMPARE(station.records().first().bundle.revision, qint64(1));
}

void StationWindowTest::italian()
{
    Station station;
    station.choose();
    station.window->armPort("COM1");
    station.window->italianAction->trigger();
    station.window->drawAll();
    QCOMPARE(station.window->stopAllButton->text(), QString("Ferma tutto"));
    QCOMPARE(station.window->choiceGroup->title(), QString("Cosa caricare"));
    QCOMPARE(station.tile(1)->state->text(), QString("In attesa di un terminale"));
    QCOMPARE(station.tile(1)->stop->text(), QString("Ferma"));
    QVERIFY2(station.window->totals->text().startsWith("Riusciti: 0"),
             qPrintable(station.window->totals->text()));
    QVERIFY(!station.window->armPort("COM9"));
    station.window->chooseFile("MISSING.S28", {});
    QVERIFY2(station.messages.texts().last().startsWith("Il file dati"),
             qPrintable(station.messages.texts().last()));

    station.window->englishAction->trigger();
    station.window->drawAll();
    QCOMPARE(station.tile(1)->state->text(), QString("Waiting for a terminal"));
}

QTEST_MAIN(StationWindowTest)
#include "tst_station_window.moc"
