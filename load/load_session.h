#pragma once

#include "load/load_prompts.h"
#include "link/srecord_image.h"
#include "link/terminal_link.h"

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

namespace Kv402 {

// What the display of a load shows: the counters as text and the two bars.
struct LoadDisplay
{
    // Blocks done of N, and errors of N (" 3  of   12").
    QString blocksText;
    QString errorsText;
    int blocks = 0;
    int blocksMaximum = 0;
    int errors = 0;
    int errorsMaximum = 0;

    friend bool operator==(const LoadDisplay &, const LoadDisplay &) = default;
};

// A count as the display writes it: a blank in the place of the sign, "  of  ", then N.
QString countOf(int count, int blockCount);

// What Send hands to a load: the choice as the window shows it.
struct LoadRequest
{
    // The firmware revision's text; "Version" is no revision.
    QString revision;
    // A version and a language are chosen.
    bool versionChosen = false;
    // They have a catalogue row, so dataFile names its data file.
    bool versionFound = false;
    // A name without a folder is found in the current folder.
    QString dataFile;
    // The port shown in the port list; nothing when none is.
    std::optional<int> portNumber;
    // Ports that exist but that this user may not open.
    QStringList deniedPorts;
    // The display as it is when Send is pressed: a load changes it from there.
    LoadDisplay display;
    // Before a repeated run, wait for the loaded terminal to go (CTS low) and the next to come
    // (CTS high): a production line loads one terminal after another on the same port.
    bool waitForNextTerminal = false;
};

// One run of the link within a load: how it ended, its counters, when it started and when the
// link ended (before any message about it), and what it sent. Runs that met no cable and were
// tried again are part of the run that followed them: it starts when the first of them did.
struct LoadRun
{
    LinkOutcome outcome = LinkOutcome::Stopped;
    // After a flash write error blocksDone counts the blocks written before the failing one.
    LinkCounters counters;
    QDateTime started;
    QDateTime ended;
    // The data file as an absolute path, and the SHA-256 of the bytes this run read from it.
    QString dataFile;
    QString sha256;
};

// How a load session ended.
enum class LoadOutcome {
    // A check before the first run stopped it (its message has been given).
    NotStarted,
    // The last run completed and no further one was wanted.
    Completed,
    // The last run met a flash write error and no further one was wanted.
    FlashWriteError,
    // Cancel at the cable question.
    CableCancelled,
    // The data file could not be loaded (unusable, refused for wrong checksums, nothing in it),
    // or no port was chosen. Nothing was sent.
    Refused,
    // The link failed: the port would not open, failed or broke, or the terminal fell silent.
    Failed,
    Stopped,
};

// One load from Send to its end, for one port: the checks of the choice, the cable reminder,
// the data file read into the image, the wrong-checksum question, the link run, every outcome
// with its message, the repeat question and the runs again. The work runs on a thread of its
// own, so that the thread the session lives in (the window's) stays free; messages go through
// LoadPrompts and the run waits for their answers, its port as the protocol wants it meanwhile.
// Stop acts at every moment, while a message waits for its answer too.
class LoadSession : public QObject
{
    Q_OBJECT

public:
    LoadSession(LoadRequest request,
                SerialPortFactory &ports,
                LoadPrompts &prompts,
                LinkLimits limits = {},
                QObject *parent = nullptr);
    // Stops a session still running and waits for its thread, which ends within a stop-check
    // interval: it never waits for this thread.
    ~LoadSession() override;

    void start();
    // Waits for the session's thread to end; call after stop().
    void wait();
    // Ends the session as soon as it can: a reading, a wait for the terminal, a wait for an
    // answer. A message still open is withdrawn. finished(Stopped) follows.
    void stop();
    // The answer to the message last asked; an answer nobody waits for is dropped.
    void answer(MessageAnswer answer);

    bool isRunning() const { return m_started && !m_finished; }
    bool stopRequested() const { return m_stopRequested.load(); }
    // The display as the last displayChanged() gave it.
    const LoadDisplay &display() const { return m_display; }
    const LoadRequest &request() const { return m_request; }

Q_SIGNALS:
    // A run begins: the data file is read next. After the reminder, and again for every run.
    void runStarting();
    void displayChanged(const Kv402::LoadDisplay &display);
    // Every event of the link, as it happens.
    void linkEvent(const Kv402::LinkEvent &event);
    // A run of the link has ended, its port closed (a run refused before the link is none).
    void runFinished(const Kv402::LoadRun &run);
    // Last: the session's thread has ended, and the port is closed.
    void finished(Kv402::LoadOutcome outcome);

private:
    class Observer;

    // On the session's thread.
    LoadOutcome work();
    LoadOutcome oneRun(bool *again);
    std::optional<MessageAnswer> ask(const LoadMessage &message);
    void tell(const LoadMessage &message) { ask(message); }
    void onLinkEvent(const LinkEvent &event);
    void showDisplay();
    void clearDisplay();
    bool waitForNextTerminal();

    const LoadRequest m_request;
    SerialPortFactory &m_ports;
    LoadPrompts &m_prompts;
    const LinkLimits m_limits;
    std::unique_ptr<Observer> m_observer;
    std::unique_ptr<TerminalLink> m_link;
    QThread *m_thread = nullptr;

    std::atomic<bool> m_stopRequested{false};
    std::mutex m_mutex;
    std::condition_variable m_answered;
    // Guarded by m_mutex: a question waits, and its answer once given.
    bool m_waiting = false;
    std::optional<MessageAnswer> m_answer;

    // The session's thread's own.
    LoadDisplay m_workingDisplay;
    QString m_dataFile;
    bool m_flashWriteError = false;
    MessageAnswer m_cableAnswer = MessageAnswer::Cancel;
    MessageAnswer m_repeatAnswer = MessageAnswer::No;
    LoadOutcome m_outcome = LoadOutcome::Stopped;
    LinkCounters m_counters;
    // When the link of the current run ended; when the first of the runs that met no cable and
    // were tried again started.
    QDateTime m_linkEnded;
    QDateTime m_retriedSince;

    // The owner thread's own.
    LoadDisplay m_display;
    bool m_started = false;
    bool m_finished = false;
    // A message has gone to the prompts and waits for its answer.
    bool m_delivered = false;
};

} // namespace Kv402

Q_DECLARE_METATYPE(Kv402::LoadDisplay)
Q_DECLARE_METATYPE(Kv402::LoadOutcome)
Q_DECLARE_METATYPE(Kv402::LoadRun)
