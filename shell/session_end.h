#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;
class QWidget;

namespace Kv402 {

class frmMain;

// A write beyond the file-size limit (ulimit -f) raises SIGXFSZ, which ends the process by
// default: a load record growing past the limit would kill the window in the middle of a load.
// Ignored, the write fails with EFBIG and the record logs it. Call once, at the start of a window
// program.
void ignoreFileSizeLimitSignal();

// The end of the desktop session (logging off) and a request from the system to terminate
// (SIGTERM when it shuts down, SIGHUP, SIGINT) close the program's window (the main window, the
// station) the way its close box does, so that the usual shutdown runs. Nobody is there to answer
// questions: a message on screen or waiting its turn gets the answer of its Escape key, and a
// load in progress is stopped.
class SessionEnd : public QObject
{
    Q_OBJECT

public:
    // What the session's end needs of a window.
    struct Window
    {
        QWidget *widget = nullptr;
        // A load is in progress: closing asks first.
        std::function<bool()> isLoading;
        // A message is on screen or waits its turn.
        std::function<bool()> isShowingMessage;
        // Closes the window with nobody there to answer.
        std::function<void()> endSession;
        // Calls back, in the context's lifetime, once the window's exit question has been
        // answered (the window has closed or not by then).
        std::function<void(QObject *context, std::function<void()> answered)> onExitQuestionAnswered;
    };

    explicit SessionEnd(frmMain *window);
    explicit SessionEnd(Window window);
    ~SessionEnd() override;

private:
    void signalled();

    Window m_window;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace Kv402
