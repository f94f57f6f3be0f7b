#include "loader/link_run.h"

#include <QThread>

namespace Kv402 {

// Carries the link's observer calls over to the run's own thread.
class LinkRun::Relay : public LinkObserver
{
public:
    explicit Relay(LinkRun *run)
        : m_run(run)
    {}

    void cableConnected() override
    {
        post([](LinkRun *run) { Q_EMIT run->cableConnected(); });
    }
    void headerAccepted(int blockCount) override
    {
        post([=](LinkRun *run) { Q_EMIT run->headerAccepted(blockCount); });
    }
    void blockStarting(const LinkCounters &c) override
    {
        post([=](LinkRun *run) { Q_EMIT run->blockStarting(c); });
    }
    void blockAccepted(const LinkCounters &c) override
    {
        post([=](LinkRun *run) { Q_EMIT run->blockAccepted(c); });
    }
    void echoRejected(const LinkCounters &c) override
    {
        post([=](LinkRun *run) { Q_EMIT run->echoRejected(c); });
    }
    void blockWritten(const LinkCounters &c) override
    {
        post([=](LinkRun *run) { Q_EMIT run->blockWritten(c); });
    }

    void cableNotConnected() override
    {
        deliver([](LinkRun *run) { Q_EMIT run->cableNotConnected(); });
    }
    void portFailure(const LinkCounters &c) override
    {
        deliver([=](LinkRun *run) { Q_EMIT run->portFailure(c); });
    }
    void flashWriteError(const LinkCounters &c) override
    {
        deliver([=](LinkRun *run) { Q_EMIT run->flashWriteError(c); });
    }
    void allBlocksDone(const LinkCounters &c) override
    {
        deliver([=](LinkRun *run) { Q_EMIT run->allBlocksDone(c); });
    }
    void terminalNotAnswering() override
    {
        deliver([](LinkRun *run) { Q_EMIT run->terminalNotAnswering(); });
    }
    void portError(const QString &reason) override
    {
        deliver([=](LinkRun *run) { Q_EMIT run->portError(reason); });
    }
    // The outcome says these; finished() carries them.
    void portNotOpened(const PortOpenFailure &failure) override { m_run->m_openFailure = failure; }
    void stopped() override {}

private:
    template<typename Emit>
    void post(Emit emit)
    {
        QMetaObject::invokeMethod(
            m_run, [run = m_run, emit] { emit(run); }, Qt::QueuedConnection);
    }

    template<typename Emit>
    void deliver(Emit emit)
    {
        QMetaObject::invokeMethod(
            m_run, [run = m_run, emit] { emit(run); }, Qt::BlockingQueuedConnection);
    }

    LinkRun *m_run;
};

LinkRun::LinkRun(
    SerialPortFactory &ports, MemoryImage image, int portNumber, LinkLimits limits, QObject *parent)
    : QObject(parent)
    , m_ports(ports)
    , m_image(std::move(image))
    , m_portNumber(portNumber)
    , m_limits(limits)
    , m_relay(std::make_unique<Relay>(this))
    , m_link(std::make_unique<TerminalLink>(m_ports, *m_relay, m_limits))
{
    qRegisterMetaType<LinkCounters>();
    qRegisterMetaType<LinkOutcome>();
}

LinkRun::~LinkRun()
{
    if (m_thread) {
        // The thread has ended by now; wait() only reaps it.
        m_thread->wait();
        delete m_thread;
    }
}

void LinkRun::start()
{
    Q_ASSERT(!m_thread);
    // A QThread rather than a plain thread: the platform's serial port needs Qt's event
    // dispatcher in the thread that uses it.
    m_thread = QThread::create([this] { m_outcome = m_link->run(m_image, m_portNumber); });
    m_thread->setObjectName(QStringLiteral("terminal link"));
    connect(m_thread, &QThread::finished, this, [this] {
        m_finished = true;
        Q_EMIT finished(m_outcome);
    });
    m_thread->start();
}

void LinkRun::requestStop()
{
    m_link->requestStop();
}

bool LinkRun::isRunning() const
{
    return m_thread && !m_finished;
}

} // namespace Kv402
