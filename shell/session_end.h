#pragma once

#include <QObject>

class QSocketNotifier;

namespace Kv402 {

class frmMain;

// A write beyond the file-size limit (ulimit -f) raises SIGXFSZ, which ends the process by
// default: a load record growing past the limit would kill the window in the middle of a load.
// Ignored, the write fails with EFBIG and the record logs it. Call once, at the start of a window
// program.
void ignoreFileSizeLimitSignal();

// The end of the desktop session (logging off) and a request from the system to terminate
// (SIGTERM when it shuts down, SIGHUP, SIGINT) close the main window the way its close box does,
// so that the usual shutdown runs. Nobody is there to answer questions: a message on screen or
// waiting its turn gets the answer of its Escape key, and a load in progress is stopped.
class SessionEnd : public QObject
{
    Q_OBJECT

public:
    explicit SessionEnd(frmMain *window);
    ~SessionEnd() override;

private:
    void signalled();

    frmMain *m_window;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace Kv402
