#pragma once

#include <QObject>

class QSocketNotifier;

namespace Kv402 {

class frmMain;

// The end of the desktop session (logging off) and a request from the system to terminate
// (SIGTERM when it shuts down, SIGHUP, SIGINT) close the main window the way its close box does,
// so that the usual shutdown runs. Nobody is there to answer questions: a message on screen gets
// the answer of its Escape key, and a load in progress is stopped. One at a time.
class SessionEnd : public QObject
{
    Q_OBJECT

public:
    explicit SessionEnd(frmMain *window);
    ~SessionEnd() override;

private:
    void signalled();
    void endSession();

    frmMain *m_window;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace Kv402
