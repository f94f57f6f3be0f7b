#include "shell/session_end.h"

#include "shell/main_window.h"

#include <QApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif

#include <array>
#include <cerrno>
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace Kv402 {

namespace {

constexpr std::array EndingSignals{SIGTERM, SIGHUP, SIGINT};

// A signal handler may only write to a descriptor; the event loop reads the other end.
int signalSockets[2] = {-1, -1};
std::array<struct sigaction, EndingSignals.size()> previousActions;

extern "C" void writeSignalByte(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

void ignoreFileSizeLimitSignal()
{
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGXFSZ, &action, nullptr);
}

SessionEnd::SessionEnd(frmMain *window)
    : SessionEnd(Window{
        window,
        [window] { return window->isLoading(); },
        [window] { return window->isShowingMessage(); },
        [window] { window->endSession(); },
        [window](QObject *context, std::function<void()> answered) {
            QObject::connect(window, &frmMain::exitQuestionAnswered, context, std::move(answered));
        },
    })
{}

SessionEnd::SessionEnd(Window window)
    : m_window(std::move(window))
{
    Q_ASSERT(signalSockets[0] < 0);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSockets) == 0) {
        m_notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SessionEnd::signalled);
        struct sigaction action = {};
        action.sa_handler = writeSignalByte;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < EndingSignals.size(); ++i)
            ::sigaction(EndingSignals[i], &action, &previousActions[i]);
    }

#if QT_CONFIG(sessionmanager)
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        // Leaving a terminal half written is the user's call, when the session lets us ask and
        // no other question is waiting for an answer.
        if (m_window.isLoading() && !m_window.isShowingMessage() && manager.allowsInteraction()) {
            // The session manager takes the answer when this handler returns, so the question's
            // answer is awaited here, as the session manager itself awaits its turn to ask.
            QEventLoop answering;
            bool answered = false;
            m_window.onExitQuestionAnswered(&answering, [&] {
                answered = true;
                answering.quit();
            });
            bool closed = m_window.widget->close();
            if (!closed && !answered) {
                answering.exec();
                closed = !m_window.widget->isVisible();
            }
            manager.release();
            if (!closed)
                manager.cancel();
            return;
        }
        m_window.endSession();
    });
#endif
}

SessionEnd::~SessionEnd()
{
    if (signalSockets[0] < 0)
        return;
    for (std::size_t i = 0; i < EndingSignals.size(); ++i)
        ::sigaction(EndingSignals[i], &previousActions[i], nullptr);
    delete m_notifier;
    ::close(signalSockets[0]);
    ::close(signalSockets[1]);
    signalSockets[0] = signalSockets[1] = -1;
}

void SessionEnd::signalled()
{
    char bytes[16];
    while (::read(signalSockets[1], bytes, sizeof bytes) > 0) {
    }
    m_window.endSession();
}

} // namespace Kv402
