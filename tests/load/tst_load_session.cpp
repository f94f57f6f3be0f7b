// The rules of a load, on the session alone: the order of its messages and what their answers
// do, its outcomes, its counters and bars, and Stop at every moment. No window.

#include "srecord_text.h"
#include "terminal_events.h"
#include "workspace.h"

#include "load/load_session.h"
#include "load/load_texts.h"
#include "simulator/simulated_terminal.h"

#include <QQueue>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Kv402;
using namespace std::chrono_literals;
using Kv402::Test::Workspace;
using Kind = LoadMessage::Kind;
using Options = SimulatedTerminal::Options;

Q_DECLARE_METATYPE(Options)
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(QList<Kv402::TerminalWait>)

namespace {

constexpr int Port = 2;
constexpr int Block = 256;
constexpr auto Ok = MessageAnswer::Ok;
constexpr auto Cancel = MessageAnswer::Cancel;
constexpr auto Yes = MessageAnswer::Yes;
constexpr auto No = MessageAnswer::No;

// Prompts answered from a script; a message without a scripted answer gets its default and is
// counted. Each asked message is noted with the display as it stood then.
class ScriptedPrompts : public LoadPrompts
{
public:
    void ask(LoadSession *session, const LoadMessage &message) override
    {
        asked.append(message);
        if (onAsk && onAsk(session, message))
            return; // left open
        if (answers.isEmpty()) {
            ++unscripted;
            session->answer(message.defaultAnswer);
            return;
        }
        session->answer(answers.dequeue());
    }
    void withdraw(LoadSession *) override { ++withdrawn; }

    QList<Kind> kinds() const
    {
        QList<Kind> result;
        for (const LoadMessage &message : asked)
            result.append(message.kind);
        return result;
    }

    QList<LoadMessage> asked;
    QQueue<MessageAnswer> answers;
    int unscripted = 0;
    int withdrawn = 0;
    // Returns true to leave the message open, as a user who does not answer.
    std::function<bool(LoadSession *, const LoadMessage &)> onAsk;
};

QByteArray imageData(int blocks)
{
    QByteArray data(blocks * Block, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 7 + i / Block) & 0xFF);
    return data;
}

Options rejecting(int block, int times)
{
    Options options;
    for (int attempt = 1; attempt <= times; ++attempt)
        options.corruptedEchoes.insert({block, attempt});
    return options;
}

// The clock a rig's terminal and link run on.
enum class Time {
    // A virtual one: the real limits pass in no time (a silent terminal is given up at once).
    Virtual,
    // The real steady clock, for a terminal that another thread changes while the session waits.
    Real,
};

// A session on a simulated terminal behind COM2, loading DATA.S28 from a workspace, with the
// link's real limits.
struct Rig
{
    explicit Rig(Options options = {}, Time time = Time::Virtual)
        : clock(time == Time::Virtual ? std::make_shared<VirtualClock>() : nullptr)
        , terminal(std::make_shared<SimulatedTerminal>(onClock(std::move(options), clock)))
    {
        ports.attach(Port, terminal);
        request.dataFile = "DATA.S28";
        request.port = portAddress(Port);
    }

    void writeBlocks(int blocks)
    {
        workspace.writeFile("DATA.S28", Test::s2Records(0x300000, imageData(blocks)));
    }

    // Runs a session to its end with these answers; returns its outcome.
    std::optional<LoadOutcome> run(const QList<MessageAnswer> &answers)
    {
        for (MessageAnswer answer : answers)
            prompts.answers.enqueue(answer);
        session = std::make_unique<LoadSession>(request, ports, prompts, limits());
        QObject::connect(session.get(), &LoadSession::linkEvent, [this](const LinkEvent &event) {
            events.append(event.kind);
        });
        QObject::connect(session.get(), &LoadSession::waiting, [this](TerminalWait wait) {
            waits.append(wait);
            if (onWaiting)
                onWaiting(wait);
        });
        QObject::connect(session.get(), &LoadSession::runFinished, [this](const LoadRun &run) {
            runs.append(run);
        });
        QSignalSpy finished(session.get(), &LoadSession::finished);
        session->start();
        if (!finished.wait(20000))
            return std::nullopt;
        return finished.first().first().value<LoadOutcome>();
    }

    LinkLimits limits() const { return LinkLimits{.clock = clock.get()}; }

    int headersSent() const { return Test::headersSent(*terminal); }

    bool portClosed() const
    {
        const QList<SimulatedTerminal::Event> events = terminal->events();
        return events.isEmpty() || events.last().kind == SimulatedTerminal::Event::Kind::Closed;
    }

    static Options onClock(Options options, const std::shared_ptr<VirtualClock> &clock)
    {
        if (clock)
            options.clock = clock;
        return options;
    }

    Workspace workspace;
    std::shared_ptr<VirtualClock> clock;
    std::shared_ptr<SimulatedTerminal> terminal;
    SimulatedPorts ports;
    ScriptedPrompts prompts;
    LoadRequest request;
    std::unique_ptr<LoadSession> session;
    // The link's events, as the session told them.
    QList<LinkEvent::Kind> events;
    // The session's waits for its terminal, and what happens on the cable as each begins.
    QList<TerminalWait> waits;
    std::function<void(TerminalWait)> onWaiting;
    QList<LoadRun> runs;
};

} // namespace

class LoadSessionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void messagesAndOutcomes_data();
    void messagesAndOutcomes();
    void checksBeforeTheFirstRun_data();
    void checksBeforeTheFirstRun();
    void cableMissingReadsTheFileAgain();
    void wrongChecksumsNameTheirLines();
    void stopWhileAMessageIsOpen_data();
    void stopWhileAMessageIsOpen();
    void stopBeforeTheStart();
    void nextTerminalIsWaitedFor();
    void firstRunWaitsForItsTerminal_data();
    void firstRunWaitsForItsTerminal();
    void stopWhileWaitingForTheTerminal_data();
    void stopWhileWaitingForTheTerminal();
    void nextTerminalIsLoadedAsItComes_data();
    void nextTerminalIsLoadedAsItComes();
    void runsNameTheBytesTheySent();
    void repeatedRunSendsOnlyTheReleasedBytes();
    void cableTriedAgainIsOneRun();
    void runEndsWhenItsLinkEnds_data();
    void runEndsWhenItsLinkEnds();
};

void LoadSessionTest::messagesAndOutcomes_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<QList<MessageAnswer>>("answers");
    QTest::addColumn<QList<Kind>>("expected");
    QTest::addColumn<LoadOutcome>("outcome");
    QTest::addColumn<int>("headers");

    QTest::newRow("clean run, no repeat")
        << Options() << 3 << QList{Ok, Ok, No}
        << QList{Kind::CheckCable, Kind::LoadCompleted, Kind::RepeatLoad} << LoadOutcome::Ended
        << 1;
    QTest::newRow("repeat once") << Options() << 2 << QList{Ok, Ok, Yes, Ok, No}
                                 << QList{Kind::CheckCable,
                                          Kind::LoadCompleted,
                                          Kind::RepeatLoad,
                                          Kind::LoadCompleted,
                                          Kind::RepeatLoad}
                                 << LoadOutcome::Ended << 2;
    Options flash;
    flash.flashErrorAt = 3;
    QTest::newRow("flash error: no success message")
        << flash << 12 << QList{Ok, Ok, No}
        << QList{Kind::CheckCable, Kind::FlashWriteError, Kind::RepeatLoad} << LoadOutcome::Ended
        << 1;
    QTest::newRow("port failure: no repeat question")
        << rejecting(2, 10) << 4 << QList{Ok, Ok} << QList{Kind::CheckCable, Kind::PortOutOfOrder}
        << LoadOutcome::Ended << 1;
    Options cable;
    cable.cableConnected = false;
    QTest::newRow("no cable, Cancel")
        << cable << 2 << QList{Ok, Cancel} << QList{Kind::CheckCable, Kind::CableNotConnected}
        << LoadOutcome::CableCancelled << 0;
    Options silent;
    silent.silentFrom = SimulatedTerminal::SilentFrom{1, SimulatedTerminal::Silence::NoEcho};
    QTest::newRow("silent terminal")
        << silent << 3 << QList{Ok, Ok} << QList{Kind::CheckCable, Kind::TerminalNotAnswering}
        << LoadOutcome::Ended << 1;
    Options refused;
    refused.openRefused = PortOpenFailure::Kind::NoModemLines;
    QTest::newRow("port without modem lines")
        << refused << 1 << QList{Ok, Ok} << QList{Kind::CheckCable, Kind::PortNotOpened}
        << LoadOutcome::Ended << 0;
}

void LoadSessionTest::messagesAndOutcomes()
{
    QFETCH(Options, options);
    QFETCH(int, blocks);
    QFETCH(QList<MessageAnswer>, answers);
    QFETCH(QList<Kind>, expected);
    QFETCH(LoadOutcome, outcome);
    QFETCH(int, headers);

    Rig rig(options);
    rig.writeBlocks(blocks);
    QCOMPARE(rig.run(answers), outcome);
    QCOMPARE(rig.prompts.kinds(), expected);
    QVERIFY(rig.prompts.answers.isEmpty());
    QCOMPARE(rig.prompts.unscripted, 0);
    QCOMPARE(rig.headersSent(), headers);
    QVERIFY(rig.portClosed());
    QCOMPARE(rig.terminal->violations(), QStringList());
    // Every question asked was answered, none withdrawn.
    QCOMPARE(rig.prompts.withdrawn, 0);
}

void LoadSessionTest::checksBeforeTheFirstRun_data()
{
    QTest::addColumn<QString>("dataFile");
    QTest::addColumn<bool>("port");
    QTest::addColumn<QList<Kind>>("expected");

    QTest::newRow("missing data file")
        << "MISSING.S28" << true << QList{Kind::CheckCable, Kind::DataFileUnusable};
    QTest::newRow("no port") << "DATA.S28" << false
                             << QList{Kind::CheckCable, Kind::NoPortSelected};
}

void LoadSessionTest::checksBeforeTheFirstRun()
{
    QFETCH(QString, dataFile);
    QFETCH(bool, port);
    QFETCH(QList<Kind>, expected);

    Rig rig;
    rig.writeBlocks(1);
    rig.request.dataFile = dataFile;
    if (!port)
        rig.request.port.reset();
    QCOMPARE(rig.run(QList{Ok, Ok}.mid(0, expected.size())), LoadOutcome::Refused);
    QCOMPARE(rig.prompts.kinds(), expected);
    // Nothing reached the terminal, and the link was never run.
    QVERIFY(rig.terminal->events().isEmpty());
    QVERIFY(rig.events.isEmpty());
}

void LoadSessionTest::cableMissingReadsTheFileAgain()
{
    Options options;
    options.cableConnected = false;
    Rig rig(options);
    rig.writeBlocks(3);
    int cableQuestions = 0;
    rig.prompts.onAsk = [&](LoadSession *, const LoadMessage &message) {
        if (message.kind == Kind::CableNotConnected && ++cableQuestions == 2) {
            rig.writeBlocks(2);
            rig.terminal->setCableConnected(true);
        }
        return false;
    };
    QCOMPARE(rig.run({Ok, Ok, Ok, Ok, No}), LoadOutcome::Ended);
    QCOMPARE(rig.prompts.kinds(),
             (QList{Kind::CheckCable,
                    Kind::CableNotConnected,
                    Kind::CableNotConnected,
                    Kind::LoadCompleted,
                    Kind::RepeatLoad}));
    // The runs without cable told only that; the run that found the cable read the file anew.
    QCOMPARE(rig.events.mid(0, 3),
             (QList{LinkEvent::Kind::CableNotConnected,
                    LinkEvent::Kind::CableNotConnected,
                    LinkEvent::Kind::CableConnected}));
    QCOMPARE(rig.terminal->announcedBlocks(), 2);
}

void LoadSessionTest::wrongChecksumsNameTheirLines()
{
    Rig rig;
    QByteArray text;
    const QByteArray data = imageData(1);
    for (int i = 0; i < 16; ++i)
        text += Test::s2Record(0x300000 + i * 16, data.mid(i * 16, 16), i % 4 == 1 ? 1 : 0) + "\n";
    rig.workspace.writeFile("DATA.S28", text);
    QCOMPARE(rig.run({Ok, Ok, Ok, Ok, Ok, No}), LoadOutcome::Refused);
    QCOMPARE(rig.prompts.kinds(),
             (QList{Kind::CheckCable,
                    Kind::WrongChecksum,
                    Kind::WrongChecksum,
                    Kind::WrongChecksum,
                    Kind::WrongChecksum,
                    Kind::WrongChecksumQuestion}));
    const LoadMessage question = rig.prompts.asked.last();
    QCOMPARE(question.count, 4);
    QCOMPARE(question.lines, (QList<qint64>{2, 6, 10, 14}));
    QCOMPARE(question.buttons, MessageButtons::YesNo);
    QCOMPARE(question.defaultAnswer, No);
    QVERIFY(rig.terminal->events().isEmpty());
}

void LoadSessionTest::stopWhileAMessageIsOpen_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<Kind>("open");

    QTest::newRow("the reminder") << Options() << Kind::CheckCable;
    Options cable;
    cable.cableConnected = false;
    QTest::newRow("the cable question") << cable << Kind::CableNotConnected;
    QTest::newRow("the success message") << Options() << Kind::LoadCompleted;
    QTest::newRow("the repeat question") << Options() << Kind::RepeatLoad;
    QTest::newRow("the port failure") << rejecting(1, 10) << Kind::PortOutOfOrder;
}

// The user is reading a message when the load must end (Stop, closing, the system shutting
// down): the load ends at once, the message is withdrawn, the port is closed, nothing follows.
void LoadSessionTest::stopWhileAMessageIsOpen()
{
    QFETCH(Options, options);
    QFETCH(Kind, open);

    Rig rig(options);
    rig.writeBlocks(3);
    rig.prompts.onAsk = [&](LoadSession *session, const LoadMessage &message) {
        if (message.kind != open)
            return false;
        QTimer::singleShot(20, session, &LoadSession::stop);
        return true;
    };
    QCOMPARE(rig.run({}), LoadOutcome::Stopped);
    QCOMPARE(rig.prompts.kinds().last(), open);
    QCOMPARE(rig.prompts.withdrawn, 1);
    QVERIFY(rig.portClosed());
    // A late answer is dropped.
    rig.session->answer(Ok);
    QCOMPARE(rig.headersSent(), open == Kind::CheckCable || open == Kind::CableNotConnected ? 0 : 1);
}

void LoadSessionTest::stopBeforeTheStart()
{
    Rig rig;
    rig.writeBlocks(1);
    rig.session = std::make_unique<LoadSession>(rig.request, rig.ports, rig.prompts, rig.limits());
    QSignalSpy finished(rig.session.get(), &LoadSession::finished);
    rig.session->stop();
    rig.session->start();
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.first().first().value<LoadOutcome>(), LoadOutcome::Stopped);
    QVERIFY(rig.prompts.asked.isEmpty());
    QVERIFY(rig.terminal->events().isEmpty());
}

// A production line: after a load the port waits for the terminal to go and the next to come.
void LoadSessionTest::nextTerminalIsWaitedFor()
{
    Rig rig({}, Time::Real);
    rig.writeBlocks(2);
    rig.request.waitForNextTerminal = true;
    int repeats = 0;
    rig.prompts.onAsk = [&](LoadSession *, const LoadMessage &message) {
        if (message.kind == Kind::RepeatLoad && ++repeats == 1) {
            // The loaded terminal is unplugged, then the next one plugged in.
            QTimer::singleShot(100, [&] { rig.terminal->setCableConnected(false); });
            QTimer::singleShot(300, [&] {
                QCOMPARE(rig.headersSent(), 1);
                rig.terminal->setCableConnected(true);
            });
        }
        return false;
    };
    QCOMPARE(rig.run({Ok, Ok, Yes, Ok, No}), LoadOutcome::Ended);
    QCOMPARE(rig.headersSent(), 2);
    QCOMPARE(rig.prompts.kinds(),
             (QList{Kind::CheckCable,
                    Kind::LoadCompleted,
                    Kind::RepeatLoad,
                    Kind::LoadCompleted,
                    Kind::RepeatLoad}));
}

void LoadSessionTest::firstRunWaitsForItsTerminal_data()
{
    QTest::addColumn<TerminalWait>("wait");
    QTest::addColumn<Options>("options");
    QTest::addColumn<QList<TerminalWait>>("waits");
    QTest::addColumn<QList<Kind>>("expected");
    QTest::addColumn<LinkOutcome>("outcome");

    const QList<Kind> loaded{Kind::CheckCable, Kind::LoadCompleted, Kind::RepeatLoad};
    Options noCable;
    noCable.cableConnected = false;
    QTest::newRow("present: none on the cable until one is plugged in")
        << TerminalWait::Present << noCable << QList{TerminalWait::Present} << loaded
        << LinkOutcome::Completed;
    QTest::newRow("present: one already on the cable")
        << TerminalWait::Present << Options() << QList{TerminalWait::Present} << loaded
        << LinkOutcome::Completed;
    QTest::newRow("next: the loaded one goes, the next one comes")
        << TerminalWait::Next << Options() << QList{TerminalWait::Next, TerminalWait::Present}
        << loaded << LinkOutcome::Completed;
    QTest::newRow("next: the cable already empty")
        << TerminalWait::Next << noCable << QList{TerminalWait::Next, TerminalWait::Present}
        << loaded << LinkOutcome::Completed;
    // The port cannot be held open for the wait: the run tells why, as any run does.
    Options refused;
    refused.openRefused = PortOpenFailure::Kind::InUse;
    QTest::newRow("port that does not open")
        << TerminalWait::Present << refused << QList<TerminalWait>()
        << QList{Kind::CheckCable, Kind::PortNotOpened} << LinkOutcome::PortNotOpened;
}

// A station's session: the first run waits, the port held open and nothing asked, until a
// terminal is on the cable, and never sends while CTS is low.
void LoadSessionTest::firstRunWaitsForItsTerminal()
{
    QFETCH(TerminalWait, wait);
    QFETCH(Options, options);
    QFETCH(QList<TerminalWait>, waits);
    QFETCH(QList<Kind>, expected);
    QFETCH(LinkOutcome, outcome);

    Rig rig(options);
    rig.writeBlocks(2);
    rig.request.firstWait = wait;
    // The headers sent by the time a terminal was plugged into the empty cable.
    std::optional<int> headersWhileWaiting;
    bool cableOut = !options.cableConnected;
    rig.onWaiting = [&](TerminalWait stage) {
        // The wait goes on for a while; then the terminal on the cable is pulled out, or the next
        // one is plugged in.
        QTimer::singleShot(50, [&rig, &headersWhileWaiting, &cableOut, stage] {
            if (stage == TerminalWait::Next) {
                cableOut = true;
                rig.terminal->setCableConnected(false);
            } else if (cableOut) {
                headersWhileWaiting = rig.headersSent();
                rig.terminal->setCableConnected(true);
            }
        });
    };
    QCOMPARE(rig.run({Ok, Ok, No}), LoadOutcome::Ended);
    QCOMPARE(rig.waits, waits);
    QCOMPARE(rig.prompts.kinds(), expected);
    QCOMPARE(rig.prompts.unscripted, 0);
    if (headersWhileWaiting)
        QCOMPARE(*headersWhileWaiting, 0);
    QCOMPARE(rig.runs.size(), 1);
    QCOMPARE(rig.runs.first().outcome, outcome);
    QVERIFY(rig.portClosed());
    QCOMPARE(rig.terminal->violations(), QStringList());
}

void LoadSessionTest::stopWhileWaitingForTheTerminal_data()
{
    QTest::addColumn<TerminalWait>("wait");
    QTest::addColumn<bool>("cable");

    QTest::newRow("for one to come") << TerminalWait::Present << false;
    QTest::newRow("for the loaded one to go") << TerminalWait::Next << true;
}

// Only Stop ends a wait for the terminal: no run, nothing sent, the port closed.
void LoadSessionTest::stopWhileWaitingForTheTerminal()
{
    QFETCH(TerminalWait, wait);
    QFETCH(bool, cable);

    Options options;
    options.cableConnected = cable;
    Rig rig(options);
    rig.writeBlocks(2);
    rig.request.firstWait = wait;
    rig.onWaiting = [&](TerminalWait) {
        QTimer::singleShot(50, rig.session.get(), &LoadSession::stop);
    };
    QCOMPARE(rig.run({Ok}), LoadOutcome::Stopped);
    QCOMPARE(rig.waits, QList{wait});
    QCOMPARE(rig.prompts.kinds(), QList{Kind::CheckCable});
    QVERIFY(rig.runs.isEmpty());
    QVERIFY(rig.events.isEmpty());
    QCOMPARE(rig.headersSent(), 0);
    QVERIFY(rig.portClosed());
}

void LoadSessionTest::nextTerminalIsLoadedAsItComes_data()
{
    QTest::addColumn<std::chrono::milliseconds>("away");

    QTest::newRow("a second") << std::chrono::milliseconds(1s);
    // Between two terminals no limit of the link applies: only Stop ends that wait.
    QTest::newRow("longer than CTS may stay low in a load")
        << std::chrono::milliseconds(Link::CtsLowLimit + 3min);
}

// The loaded terminal drops CTS as it is unplugged, the next one raises it: the next load
// starts the moment it does, however long the line stood empty.
void LoadSessionTest::nextTerminalIsLoadedAsItComes()
{
    QFETCH(std::chrono::milliseconds, away);

    Options options;
    options.awayAfterLoad = away;
    Rig rig(options);
    rig.writeBlocks(2);
    rig.request.waitForNextTerminal = true;
    QCOMPARE(rig.run({Ok, Ok, Yes, Ok, No}), LoadOutcome::Ended);
    QCOMPARE(rig.headersSent(), 2);
    QCOMPARE(rig.terminal->violations(), QStringList());
    QCOMPARE(rig.waits, (QList{TerminalWait::Next, TerminalWait::Present}));

    using Event = SimulatedTerminal::Event;
    const QList<Event> events = rig.terminal->events();
    const auto secondHeader = std::find_if(events.rbegin(), events.rend(), [](const Event &e) {
        return e.kind == Event::Kind::PcSent && e.bytes.size() == Link::HeaderSize;
    });
    const auto lastStatus = std::find_if(secondHeader, events.rend(), [](const Event &e) {
        return e.kind == Event::Kind::TerminalSent;
    });
    QVERIFY(lastStatus != events.rend());
    QCOMPARE(lastStatus->bytes.size(), Link::StatusSize);
    QCOMPARE(secondHeader->at - lastStatus->at, away);
}

// The file is replaced while the repeat question is open: each run hashes what it read itself.
void LoadSessionTest::runsNameTheBytesTheySent()
{
    Rig rig;
    rig.writeBlocks(3);
    const QByteArray first = Test::fileHash(rig.workspace.filePath("DATA.S28"));
    rig.prompts.onAsk = [&](LoadSession *, const LoadMessage &message) {
        if (message.kind == Kind::RepeatLoad && rig.prompts.answers.size() == 3)
            rig.writeBlocks(2);
        return false;
    };
    rig.session = nullptr;
    QList<LoadRun> runs;
    rig.prompts.answers = QQueue<MessageAnswer>(QList{Ok, Ok, Yes, Ok, No});
    rig.session = std::make_unique<LoadSession>(rig.request, rig.ports, rig.prompts, rig.limits());
    connect(rig.session.get(), &LoadSession::runFinished, this, [&](const LoadRun &run) {
        runs.append(run);
    });
    QSignalSpy finished(rig.session.get(), &LoadSession::finished);
    rig.session->start();
    QVERIFY(finished.wait(20000));

    const QByteArray second = Test::fileHash(rig.workspace.filePath("DATA.S28"));
    QVERIFY(first != second);
    QCOMPARE(runs.size(), 2);
    QCOMPARE(runs.at(0).sha256, QString::fromLatin1(first.toHex()));
    QCOMPARE(runs.at(0).counters.blockCount, 3);
    QCOMPARE(runs.at(1).sha256, QString::fromLatin1(second.toHex()));
    QCOMPARE(runs.at(1).counters.blockCount, 2);
    QCOMPARE(runs.at(1).dataFile, rig.workspace.filePath("DATA.S28"));
}

// A load from a signed bundle: a file changed after the first run makes the repeated run refuse
// it before anything is sent, as a data file that is not the one released.
void LoadSessionTest::repeatedRunSendsOnlyTheReleasedBytes()
{
    Rig rig;
    rig.writeBlocks(3);
    rig.request.releasedSha256 = QString::fromLatin1(
        Test::fileHash(rig.workspace.filePath("DATA.S28")).toHex());
    rig.prompts.onAsk = [&](LoadSession *, const LoadMessage &message) {
        if (message.kind == Kind::RepeatLoad)
            rig.writeBlocks(2);
        return false;
    };
    QCOMPARE(rig.run({Ok, Ok, Yes, Ok}), LoadOutcome::Refused);
    QCOMPARE(rig.headersSent(), 1);
    QCOMPARE(rig.runs.size(), 1);
    const LoadMessage &refusal = rig.prompts.asked.last();
    QCOMPARE(refusal.kind, Kind::DataFileUnusable);
    QCOMPARE(refusal.problem, DataFileProblem::NotAsReleased);
    QVERIFY(loadMessageText(refusal, Language::English)
                .endsWith("the file is not the one the signed bundle released: it was changed"));
}

// OK at the cable question tries again: the load is one run, from the first try to its end.
void LoadSessionTest::cableTriedAgainIsOneRun()
{
    Options options;
    options.cableConnected = false;
    Rig rig(options);
    rig.writeBlocks(2);
    int cableQuestions = 0;
    QDateTime firstAsked;
    rig.prompts.onAsk = [&](LoadSession *, const LoadMessage &message) {
        if (message.kind != Kind::CableNotConnected)
            return false;
        if (++cableQuestions == 1)
            firstAsked = QDateTime::currentDateTime();
        if (cableQuestions == 3)
            rig.terminal->setCableConnected(true);
        QTest::qWait(20);
        return false;
    };
    QList<LoadRun> runs;
    rig.prompts.answers = QQueue<MessageAnswer>(QList{Ok, Ok, Ok, Ok, Ok, No});
    rig.session = std::make_unique<LoadSession>(rig.request, rig.ports, rig.prompts, rig.limits());
    connect(rig.session.get(), &LoadSession::runFinished, this, [&](const LoadRun &run) {
        runs.append(run);
    });
    QSignalSpy finished(rig.session.get(), &LoadSession::finished);
    rig.session->start();
    QVERIFY(finished.wait(20000));

    QCOMPARE(cableQuestions, 3);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.first().outcome, LinkOutcome::Completed);
    // The load began with the first of the three tries that found no cable; the fourth loaded.
    QVERIFY(runs.first().started <= firstAsked);
    const QList<SimulatedTerminal::Event> events = rig.terminal->events();
    QCOMPARE(std::count_if(events.begin(),
                           events.end(),
                           [](const SimulatedTerminal::Event &e) {
                               return e.kind == SimulatedTerminal::Event::Kind::Opened;
                           }),
             4);
}

void LoadSessionTest::runEndsWhenItsLinkEnds_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<Kind>("lingering");
    QTest::addColumn<LinkOutcome>("outcome");

    QTest::newRow("success message") << Options() << Kind::LoadCompleted << LinkOutcome::Completed;
    Options flash;
    flash.flashErrorAt = 1;
    QTest::newRow("flash write error")
        << flash << Kind::FlashWriteError << LinkOutcome::FlashWriteError;
    Options cable;
    cable.cableConnected = false;
    QTest::newRow("no cable") << cable << Kind::CableNotConnected << LinkOutcome::CableNotConnected;
}

// The run's end is when its link ended, however long the user takes to read the message.
void LoadSessionTest::runEndsWhenItsLinkEnds()
{
    QFETCH(Options, options);
    QFETCH(Kind, lingering);
    QFETCH(LinkOutcome, outcome);

    Rig rig(options);
    rig.writeBlocks(3);
    QDateTime answered;
    rig.prompts.onAsk = [&](LoadSession *session, const LoadMessage &message) {
        if (message.kind != lingering)
            return false;
        QTimer::singleShot(1000, session, [&answered, session, message] {
            answered = QDateTime::currentDateTime();
            session->answer(message.kind == Kind::CableNotConnected ? Cancel : Ok);
        });
        return true;
    };
    QList<LoadRun> runs;
    rig.prompts.answers = QQueue<MessageAnswer>(QList{Ok, Ok, No});
    rig.session = std::make_unique<LoadSession>(rig.request, rig.ports, rig.prompts, rig.limits());
    connect(rig.session.get(), &LoadSession::runFinished, this, [&](const LoadRun &run) {
        runs.append(run);
    });
    QSignalSpy finished(rig.session.get(), &LoadSession::finished);
    rig.session->start();
    QVERIFY(finished.wait(20000));

    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.first().outcome, outcome);
    QVERIFY(answered.isValid());
    QVERIFY2(runs.first().ended.msecsTo(answered) >= 900,
             qPrintable(runs.first().ended.toString(Qt::ISODateWithMs) + " "
                        + answered.toString(Qt::ISODateWithMs)));
    // N is known from the image, also when the header was never sent.
    QCOMPARE(runs.first().counters.blockCount, 3);
}

QTEST_GUILESS_MAIN(LoadSessionTest)
#include "tst_load_session.moc"
