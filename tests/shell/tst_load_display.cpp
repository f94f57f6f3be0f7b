// The window's counters and bars, followed from a real session's events without a window: what
// each message of a load finds on screen.

#include "srecord_text.h"
#include "workspace.h"

#include "load/load_session.h"
#include "shell/load_display.h"
#include "simulator/simulated_terminal.h"

#include <QSignalSpy>
#include <QTest>

using namespace Kv402;
using Kind = LoadMessage::Kind;

Q_DECLARE_METATYPE(SimulatedTerminal::Options)
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(LoadDisplay)

namespace {

constexpr int Block = 256;

// A display other than the idle one, to see what a load leaves of it.
const LoadDisplay EarlierDisplay{" 5  of   12", " 1  of   12", 5, 12, 1, 12};

// Answers every message with its default (No to repeat, Cancel at the cable) and notes the display each one finds, as the window's
// display follows the session's events.
class WatchingPrompts : public QObject, public LoadPrompts
{
public:
    void follow(LoadSession &session)
    {
        connect(&session, &LoadSession::linkEvent, this, [this](const LinkEvent &event) {
            display = displayAfter(display, event);
        });
        connect(&session, &LoadSession::runFinished, this, [this](const LoadRun &run) {
            if (run.outcome == LinkOutcome::Completed || run.outcome == LinkOutcome::FlashWriteError)
                display = clearedDisplay(display);
        });
    }
    void ask(LoadSession *session, const LoadMessage &message) override
    {
        seen.append({message.kind, display});
        switch (message.kind) {
        case Kind::RepeatLoad:
            session->answer(MessageAnswer::No);
            return;
        case Kind::CableNotConnected:
            session->answer(MessageAnswer::Cancel);
            return;
        default:
            session->answer(message.defaultAnswer);
        }
    }
    void withdraw(LoadSession *) override {}

    LoadDisplay display = EarlierDisplay;
    QList<std::pair<Kind, LoadDisplay>> seen;
};

} // namespace

class LoadDisplayTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void countsAreWrittenWithTheirSign_data();
    void countsAreWrittenWithTheirSign();
    void displayFollowsTheRun_data();
    void displayFollowsTheRun();
};

void LoadDisplayTest::countsAreWrittenWithTheirSign_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("of");
    QTest::addColumn<QString>("text");
    QTest::newRow("3 of 12") << 3 << 12 << " 3  of   12";
    QTest::newRow("nothing yet") << 0 << 1 << " 0  of   1";
}

void LoadDisplayTest::countsAreWrittenWithTheirSign()
{
    QFETCH(int, count);
    QFETCH(int, of);
    QFETCH(QString, text);
    QCOMPARE(countOf(count, of), text);
}

void LoadDisplayTest::displayFollowsTheRun_data()
{
    QTest::addColumn<SimulatedTerminal::Options>("options");
    QTest::addColumn<QList<Kind>>("kinds");
    QTest::addColumn<QList<LoadDisplay>>("displays");
    QTest::addColumn<LoadDisplay>("last");

    SimulatedTerminal::Options noisy;
    for (int attempt = 1; attempt <= 3; ++attempt)
        noisy.corruptedEchoes.insert({1, attempt});
    // The success message: N of N, the errors of all blocks on the bar and in Text2. After the
    // repeat question the display is cleared; the bars keep their range.
    QTest::newRow("three rejected echoes")
        << noisy << QList{Kind::CheckCable, Kind::LoadCompleted, Kind::RepeatLoad}
        << QList{EarlierDisplay,
                 LoadDisplay{" 4  of   4", " 3  of   4", 4, 4, 3, 4},
                 LoadDisplay{" 4  of   4", " 3  of   4", 4, 4, 3, 4}}
        << LoadDisplay{"", "", 0, 4, 0, 4};
    SimulatedTerminal::Options flash;
    flash.flashErrorAt = 1;
    // The block the flash could not take moves the bar, after its message.
    QTest::newRow("flash write error")
        << flash << QList{Kind::CheckCable, Kind::FlashWriteError, Kind::RepeatLoad}
        << QList{EarlierDisplay,
                 LoadDisplay{" 2  of   4", " 0  of   4", 1, 4, 0, 4},
                 LoadDisplay{" 2  of   4", " 0  of   4", 2, 4, 0, 4}}
        << LoadDisplay{"", "", 0, 4, 0, 4};
    SimulatedTerminal::Options cable;
    cable.cableConnected = false;
    // Cancel at the cable question leaves the display of before.
    QTest::newRow("no cable")
        << cable << QList{Kind::CheckCable, Kind::CableNotConnected}
        << QList{EarlierDisplay, EarlierDisplay} << EarlierDisplay;
}

void LoadDisplayTest::displayFollowsTheRun()
{
    QFETCH(SimulatedTerminal::Options, options);
    QFETCH(QList<Kind>, kinds);
    QFETCH(QList<LoadDisplay>, displays);
    QFETCH(LoadDisplay, last);

    Test::Workspace workspace;
    workspace.writeFile("DATA.S28",
                        Test::s2Records(0x300000, QByteArray(4 * Block, char(0x5A))));
    SimulatedPorts ports;
    ports.attach(2, std::make_shared<SimulatedTerminal>(options));
    WatchingPrompts prompts;
    LoadSession session({.dataFile = "DATA.S28", .port = portAddress(2)}, ports, prompts);
    prompts.follow(session);
    QSignalSpy finished(&session, &LoadSession::finished);
    session.start();
    QVERIFY(finished.wait(20000));

    QList<Kind> seenKinds;
    QList<LoadDisplay> seenDisplays;
    for (const auto &[kind, display] : prompts.seen) {
        seenKinds.append(kind);
        seenDisplays.append(display);
    }
    QCOMPARE(seenKinds, kinds);
    QCOMPARE(seenDisplays, displays);
    QCOMPARE(prompts.display, last);
}

QTEST_MAIN(LoadDisplayTest)
#include "tst_load_display.moc"
