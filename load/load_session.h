#pragma once

#include "link/srecord_image.h"
#include "link/terminal_link.h"
#include "load/load_prompts.h"
#include "load/load_run.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

namespace Kv402 {

// How the first run of a session waits for its terminal.
enum class TerminalWait {
    // Not at all: the link looks at CTS and tells when there is no cable.
    None,
    // Until a terminal is on the cable (CTS high), the port held open; nothing is asked.
    Present,
    // Until the terminal on the cable has gone (CTS low), then until the next one has come.
    Next,
};

// What a load needs: the data file and the port. The questions of a load are answered by the
// LoadPrompts the session is given: a person in the window, the options on the command line.
struct LoadRequest
{
    // A name without a folder is found in the current folder.
    QString dataFile;
    // The port chosen; nothing when none is (the load says so after reading the file).
    std::optional<PortAddress> port;
    // Before a repeated run, wait for the loaded terminal to go (CTS low) and the next to come
    // (CTS high): a production line loads one terminal after another on the same port.
    bool waitForNextTerminal = false;
    // Before the first run: a station loads whatever terminal is plugged in, without a question.
    TerminalWait firstWait = TerminalWait::None;
    // The data file as already read and checked, for the first run: loads on many ports share
    // one reading. Every later run reads the file again, as a run without it does.
    std::shared_ptr<const DataFileReading> firstReading = {};
    // The SHA-256 the file's bytes must have, from a signed bundle's manifest: every run, the
    // repeated ones too, refuses a reading of other bytes before anything is sent. Empty: any.
    QString releasedSha256 = {};
};

// How a load session ended, as far as its callers tell endings apart.
enum class LoadOutcome {
    // Its last run ended and no further one was wanted: completed, failed, or ended by the
    // terminal. Its LoadRun says how.
    Ended,
    // Cancel at the cable question.
    CableCancelled,
    // The data file could not be loaded (unusable, refused for wrong checksums, nothing in it),
    // or no port was chosen. Nothing was sent.
    Refused,
    Stopped,
};

// One load from the cable reminder to its end, for one port: the data file read into the image,
// the wrong-checksum question, the link run, every outcome with its message, the repeat question
// and the runs again. The work runs on a thread of its own, so that the thread the session lives
// in (the window's) stays free; messages go through LoadPrompts and the run waits for their
// answers, its port as the protocol wants it meanwhile. Stop acts at every moment, while a
// message waits for its answer too.
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

Q_SIGNALS:
    // The session waits for its terminal: for the one on the cable to go (Next), then for one to
    // come (Present). Before the first run as the request asks, and before every repeated run.
    void waiting(Kv402::TerminalWait wait);
    // A run begins: the data file is read next. After the reminder, and again for every run.
    void runStarting();
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
    // How a wait for the terminal ended: it came, Stop, or the port could not be held open (the
    // run that follows tells why).
    enum class TerminalWaitEnd { Arrived, Stopped, PortUnusable };
    TerminalWaitEnd waitForTerminal(TerminalWait wait);

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
    QString m_dataFile;
    // Made only when a run reads the file: a blank image is a whole memory's worth of bytes, and
    // a station makes a session for every terminal on its window's thread.
    std::optional<DataFileReading> m_reading;
    bool m_firstRun = true;
    MessageAnswer m_cableAnswer = MessageAnswer::Cancel;
    MessageAnswer m_repeatAnswer = MessageAnswer::No;
    LoadOutcome m_outcome = LoadOutcome::Stopped;
    LinkCounters m_counters;
    // When the link of the current run ended; when the first of the runs that met no cable and
    // were tried again started.
    QDateTime m_linkEnded;
    QDateTime m_retriedSince;

    // The owner thread's own: a message has gone to the prompts and waits for its answer.
    bool m_delivered = false;
};

} // namespace Kv402

Q_DECLARE_METATYPE(Kv402::LoadOutcome)
Q_DECLARE_METATYPE(Kv402::TerminalWait)
