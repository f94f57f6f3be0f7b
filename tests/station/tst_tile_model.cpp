// A station tile made from its session's events alone, without a window: the state after each
// sequence of events, its words in both languages and its tone, the blocks and errors, the
// passed and failed counts, and the time a load still needs.

#include "station/tile.h"

#include <QTest>

using namespace Kv402;
using State = TileView::State;
using Tone = TileView::Tone;
using EventKind = LinkEvent::Kind;

namespace {

const QDateTime T0(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);

// One thing the tile is told, at a second from T0.
struct Step
{
    enum class Kind { Armed, Disarmed, Waiting, RunStarting, Link, RunFinished, SessionFinished };

    Kind kind = Kind::Armed;
    int at = 0;
    TerminalWait wait = TerminalWait::None;
    LinkEvent event = {};
    LoadRun run = {};
    LoadOutcome outcome = LoadOutcome::Ended;
    int blockCount = 0;
};

using Steps = QList<Step>;

LinkCounters counters(int done, int of, int errors, bool flashFailed = false)
{
    return {.blockCount = of, .blocksDone = done, .errors = errors, .flashWriteFailed = flashFailed};
}

Step armed()
{
    return {.kind = Step::Kind::Armed};
}
Step disarmed()
{
    return {.kind = Step::Kind::Disarmed};
}
Step waiting(TerminalWait wait)
{
    return {.kind = Step::Kind::Waiting, .wait = wait};
}
Step starting(int at, int blockCount = 0)
{
    return {.kind = Step::Kind::RunStarting, .at = at, .blockCount = blockCount};
}
Step link(EventKind kind, int at, LinkCounters counters = {})
{
    return {.kind = Step::Kind::Link, .at = at, .event = {.kind = kind, .counters = counters}};
}
Step notOpened(PortOpenFailure failure)
{
    return {.kind = Step::Kind::Link,
            .event = {.kind = EventKind::PortNotOpened, .openFailure = failure}};
}
Step portError(const QString &reason, LinkCounters counters)
{
    return {.kind = Step::Kind::Link,
            .event = {.kind = EventKind::PortError, .counters = counters, .reason = reason}};
}
Step ran(LinkOutcome outcome, int started, int ended, LinkCounters counters = {})
{
    LoadRun run;
    run.outcome = outcome;
    run.counters = counters;
    run.started = T0.addSecs(started);
    run.ended = T0.addSecs(ended);
    return {.kind = Step::Kind::RunFinished, .run = run};
}
Step ended(LoadOutcome outcome)
{
    return {.kind = Step::Kind::SessionFinished, .outcome = outcome};
}

// A load of 64 blocks from 0 s to 64 s that ends as the terminal says.
Steps loadOf64(EventKind last, LinkOutcome outcome, LinkCounters end)
{
    return {starting(0, 64),
            link(EventKind::CableConnected, 0),
            link(EventKind::HeaderAccepted, 1, counters(0, 64, 0)),
            link(EventKind::BlockWritten, 30, counters(30, 64, 1)),
            link(last, 64, end),
            ran(outcome, 0, 64, end),
            ended(LoadOutcome::Ended)};
}

TileView tileAfter(const Steps &steps)
{
    TileModel model(QStringLiteral("COM3"), QStringLiteral("FTDI FT232R (A50285BI)"));
    for (const Step &step : steps) {
        const QDateTime at = T0.addSecs(step.at);
        switch (step.kind) {
        case Step::Kind::Armed:
            model.armed();
            break;
        case Step::Kind::Disarmed:
            model.disarmed();
            break;
        case Step::Kind::Waiting:
            model.waiting(step.wait);
            break;
        case Step::Kind::RunStarting:
            model.runStarting(at, step.blockCount);
            break;
        case Step::Kind::Link:
            model.linkEvent(step.event, at);
            break;
        case Step::Kind::RunFinished:
            model.runFinished(step.run);
            break;
        case Step::Kind::SessionFinished:
            model.sessionFinished(step.outcome);
            break;
        }
    }
    return model.view();
}

} // namespace

Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Tone)

class TileModelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void states_data();
    void states();
    void timeLeft_data();
    void timeLeft();
};

void TileModelTest::states_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<State>("state");
    QTest::addColumn<bool>("isArmed");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("italian");
    QTest::addColumn<Tone>("tone");
    // Blocks done, N, errors, passed, failed.
    QTest::addColumn<QList<int>>("counts");

    const Steps waitingOne{armed(), waiting(TerminalWait::Present)};
    const LinkCounters all = counters(64, 64, 2);
    const Steps completed = waitingOne
                            + loadOf64(EventKind::AllBlocksDone, LinkOutcome::Completed, all);

    QTest::newRow("a port never armed") << Steps{} << State::Disarmed << false << "Not armed"
                                        << "Non armata" << Tone::Idle << QList{0, 0, 0, 0, 0};
    QTest::newRow("armed, nothing on the cable")
        << waitingOne << State::WaitingForTerminal << true << "Waiting for a terminal"
        << "In attesa di un terminale" << Tone::Idle << QList{0, 0, 0, 0, 0};
    QTest::newRow("loading") << waitingOne
                                    + Steps{starting(0, 64),
                                            link(EventKind::HeaderAccepted, 1, counters(0, 64, 0)),
                                            link(EventKind::EchoRejected, 8, counters(16, 64, 3)),
                                            link(EventKind::BlockWritten, 10, counters(17, 64, 3))}
                             << State::Loading << true << "Loading"
                             << "Caricamento in corso" << Tone::Busy << QList{17, 64, 3, 0, 0};
    QTest::newRow("completed") << completed << State::Completed << true << "Completed in 1:04"
                               << "Completato in 1:04" << Tone::Good << QList{64, 64, 2, 1, 0};
    QTest::newRow("completed, the terminal still on the cable")
        << completed + Steps{waiting(TerminalWait::Next)} << State::Completed << true
        << "Completed in 1:04"
        << "Completato in 1:04" << Tone::Good << QList{64, 64, 2, 1, 0};
    QTest::newRow("completed, the terminal gone")
        << completed + Steps{waiting(TerminalWait::Next), waiting(TerminalWait::Present)}
        << State::WaitingForTerminal << true << "Waiting for a terminal"
        << "In attesa di un terminale" << Tone::Idle << QList{0, 64, 0, 1, 0};
    // The bar counts the blocks in the terminal's flash, as the record does.
    const LinkCounters flash = counters(31, 64, 1, true);
    QTest::newRow("flash write error")
        << waitingOne + loadOf64(EventKind::FlashWriteError, LinkOutcome::FlashWriteError, flash)
        << State::FlashWriteError << true << "Flash write error"
        << "Errore su scrittura flash" << Tone::Bad << QList{30, 64, 1, 0, 1};
    const LinkCounters silent = counters(30, 64, 1);
    QTest::newRow("the terminal does not answer")
        << waitingOne
               + loadOf64(EventKind::TerminalNotAnswering, LinkOutcome::TerminalNotAnswering, silent)
        << State::TerminalNotAnswering << true << "The terminal does not answer"
        << "Il terminale non risponde" << Tone::Bad << QList{30, 64, 1, 0, 1};
    const LinkCounters noisy = counters(30, 64, 11);
    QTest::newRow("port failure") << waitingOne
                                         + loadOf64(EventKind::PortFailure,
                                                    LinkOutcome::PortFailure,
                                                    noisy)
                                  << State::PortFailure << true << "Port failure"
                                  << "Porta seriale malfunzionante" << Tone::Bad
                                  << QList{30, 64, 11, 0, 1};
    QTest::newRow("port error, with the port's reason")
        << waitingOne
               + Steps{starting(0, 64),
                       portError("Input/output error", counters(5, 64, 0)),
                       ran(LinkOutcome::PortError, 0, 3, counters(5, 64, 0)),
                       ended(LoadOutcome::Ended),
                       disarmed()}
        << State::PortError << false << "Port error: Input/output error"
        << "Errore della porta: Input/output error" << Tone::Bad << QList{5, 64, 0, 0, 1};
    QTest::newRow("port error, the port gave no reason")
        << waitingOne
               + Steps{starting(0, 64),
                       portError("", counters(5, 64, 0)),
                       ran(LinkOutcome::PortError, 0, 3, counters(5, 64, 0))}
        << State::PortError << true << "Port error: the port takes no more bytes"
        << "Errore della porta: la porta non accetta altri byte" << Tone::Bad
        << QList{5, 64, 0, 0, 1};
    const PortOpenFailure inUse{PortOpenFailure::Kind::InUse,
                                "/dev/ttyUSB0",
                                "Device or resource busy"};
    QTest::newRow("port cannot be opened")
        << Steps{armed(),
                 starting(0, 64),
                 notOpened(inUse),
                 ran(LinkOutcome::PortNotOpened, 0, 0, counters(0, 64, 0)),
                 ended(LoadOutcome::Ended),
                 disarmed()}
        << State::PortNotOpened << false
        << "Port cannot be opened: another program is using /dev/ttyUSB0 (Device or resource busy)"
        << "Impossibile aprire la porta: un altro programma sta usando /dev/ttyUSB0 (Device or "
           "resource busy)"
        << Tone::Bad << QList{0, 64, 0, 0, 1};
    QTest::newRow("no modem lines")
        << Steps{armed(),
                 starting(0, 64),
                 notOpened({PortOpenFailure::Kind::NoModemLines, "/dev/ttyACM0", ""}),
                 ran(LinkOutcome::PortNotOpened, 0, 0, counters(0, 64, 0)),
                 ended(LoadOutcome::Ended),
                 disarmed()}
        << State::NoModemLines << false << "No RTS/CTS lines"
        << "Nessuna linea RTS/CTS" << Tone::Bad << QList{0, 64, 0, 0, 1};
    QTest::newRow("stopped while loading")
        << waitingOne
               + Steps{starting(0, 64),
                       link(EventKind::BlockWritten, 10, counters(12, 64, 0)),
                       disarmed(),
                       link(EventKind::Stopped, 11),
                       ran(LinkOutcome::Stopped, 0, 11, counters(12, 64, 0)),
                       ended(LoadOutcome::Stopped)}
        << State::Stopped << false << "Stopped"
        << "Interrotto" << Tone::Idle << QList{12, 64, 0, 0, 0};
    // A wait the session told before it saw the stop does not arm the tile again.
    QTest::newRow("disarmed while waiting")
        << waitingOne
               + Steps{disarmed(), waiting(TerminalWait::Present), ended(LoadOutcome::Stopped)}
        << State::Disarmed << false << "Not armed"
        << "Non armata" << Tone::Idle << QList{0, 0, 0, 0, 0};
    QTest::newRow("a result stays when disarmed")
        << completed + Steps{waiting(TerminalWait::Next), disarmed(), ended(LoadOutcome::Stopped)}
        << State::Completed << false << "Completed in 1:04"
        << "Completato in 1:04" << Tone::Good << QList{64, 64, 2, 1, 0};
    QTest::newRow("CTS dropped before the run: no load")
        << waitingOne
               + Steps{starting(0, 64),
                       link(EventKind::CableNotConnected, 0),
                       ran(LinkOutcome::CableNotConnected, 0, 0, counters(0, 64, 0)),
                       ended(LoadOutcome::CableCancelled)}
        << State::WaitingForTerminal << true << "Waiting for a terminal"
        << "In attesa di un terminale" << Tone::Idle << QList{0, 64, 0, 0, 0};
    QTest::newRow("session refused before the run")
        << waitingOne + Steps{starting(0, 64), ended(LoadOutcome::Refused), disarmed()}
        << State::Disarmed << false << "Not armed"
        << "Non armata" << Tone::Idle << QList{0, 64, 0, 0, 0};
    QTest::newRow("armed again after a port failure")
        << Steps{armed(),
                 starting(0, 64),
                 notOpened(inUse),
                 ran(LinkOutcome::PortNotOpened, 0, 0, counters(0, 64, 0)),
                 disarmed(),
                 armed()}
        << State::WaitingForTerminal << true << "Waiting for a terminal"
        << "In attesa di un terminale" << Tone::Idle << QList{0, 64, 0, 0, 1};
    QTest::newRow("a passed and a failed load")
        << completed + Steps{waiting(TerminalWait::Next), waiting(TerminalWait::Present)}
               + loadOf64(EventKind::FlashWriteError, LinkOutcome::FlashWriteError, flash)
        << State::FlashWriteError << true << "Flash write error"
        << "Errore su scrittura flash" << Tone::Bad << QList{30, 64, 1, 1, 1};
}

void TileModelTest::states()
{
    QFETCH(Steps, steps);
    QFETCH(State, state);
    QFETCH(bool, isArmed);
    QFETCH(QString, english);
    QFETCH(QString, italian);
    QFETCH(Tone, tone);
    QFETCH(QList<int>, counts);

    const TileView view = tileAfter(steps);
    QCOMPARE(view.state, state);
    QCOMPARE(view.armed, isArmed);
    QCOMPARE(view.stateText(Language::English), english);
    QCOMPARE(view.stateText(Language::Italian), italian);
    QCOMPARE(view.tone(), tone);
    QCOMPARE(view.busy(), state == State::Loading);
    QCOMPARE((QList{view.blocksDone, view.blockCount, view.errors, view.passed, view.failed}),
             counts);
    QCOMPARE(view.port, "COM3");
    QCOMPARE(view.adapter, "FTDI FT232R (A50285BI)");
    // Only a load in progress tells the time it still needs.
    if (state != State::Loading)
        QCOMPARE(view.timeLeftText(Language::English), QString());
}

void TileModelTest::timeLeft_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("italian");

    // Before a block is done, the wire time: 522 characters a block (256 out, 256 echoed, 10
    // of status) and 14 for the header, 11 bits each at 19200 baud.
    QTest::newRow("64 blocks, not started") << Steps{starting(0, 64)} << "0:20 left"
                                            << "0:20 rimanenti";
    QTest::newRow("a whole image, not started") << Steps{starting(0, 4096)} << "20:25 left"
                                                << "20:25 rimanenti";
    QTest::newRow("one block, the header accepted")
        << Steps{starting(0, 1), link(EventKind::HeaderAccepted, 0, counters(0, 1, 0))}
        << "0:01 left"
        << "0:01 rimanenti";
    QTest::newRow("N unknown until the header") << Steps{starting(0)} << ""
                                                << "";
    // From the first block on, the pace so far: 10 blocks in 5 s leave 54 for 27 s.
    QTest::newRow("the pace so far")
        << Steps{starting(0, 64),
                 link(EventKind::HeaderAccepted, 0, counters(0, 64, 0)),
                 link(EventKind::BlockWritten, 5, counters(10, 64, 4))}
        << "0:27 left"
        << "0:27 rimanenti";
    QTest::newRow("a slow line") << Steps{starting(0, 4096),
                                          link(EventKind::BlockWritten, 100, counters(100, 4096, 0))}
                                 << "66:36 left"
                                 << "66:36 rimanenti";
    QTest::newRow("every block done")
        << Steps{starting(0, 64), link(EventKind::BlockWritten, 19, counters(64, 64, 0))}
        << "0:00 left"
        << "0:00 rimanenti";
}

void TileModelTest::timeLeft()
{
    QFETCH(Steps, steps);
    QFETCH(QString, english);
    QFETCH(QString, italian);

    const TileView view = tileAfter(Steps{armed()} + steps);
    QCOMPARE(view.state, State::Loading);
    QCOMPARE(view.timeLeftText(Language::English), english);
    QCOMPARE(view.timeLeftText(Language::Italian), italian);
}

QTEST_GUILESS_MAIN(TileModelTest)
#include "tst_tile_model.moc"
