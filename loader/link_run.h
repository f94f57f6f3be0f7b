#pragma once

#include "loader/srecord_image.h"
#include "loader/terminal_link.h"

#include <QObject>

#include <memory>

class QThread;

namespace Kv402 {

// One run of the terminal link on a thread of its own, so that the window that started it stays
// responsive for the minutes a large image takes. The link's events arrive as this object's
// signals, in their order, in the thread this object lives in:
// - the display events are posted, and the link goes on meanwhile;
// - the events that end in a message (cable question, port failure, flash write error,
//   completion, silence, a port that broke) are delivered while the link waits: it goes on only
//   once the receivers have returned, so the port stays as it is while the user reads.
// finished() comes last, once the link has closed the port.
class LinkRun : public QObject
{
    Q_OBJECT

public:
    LinkRun(SerialPortFactory &ports,
            MemoryImage image,
            int portNumber,
            LinkLimits limits = {},
            QObject *parent = nullptr);
    // Only once finished() has come: the run's thread must have ended.
    ~LinkRun() override;

    void start();
    // From the thread this object lives in; the link ends its wait within a tenth of a second.
    void requestStop();
    bool isRunning() const;
    int portNumber() const { return m_portNumber; }
    // Why the port did not open, once the run has finished with PortNotOpened.
    const PortOpenFailure &openFailure() const { return m_openFailure; }

Q_SIGNALS:
    void cableConnected();
    void headerAccepted(int blockCount);
    void blockStarting(const Kv402::LinkCounters &counters);
    void blockAccepted(const Kv402::LinkCounters &counters);
    void echoRejected(const Kv402::LinkCounters &counters);
    void blockWritten(const Kv402::LinkCounters &counters);

    void cableNotConnected();
    void portFailure(const Kv402::LinkCounters &counters);
    void flashWriteError(const Kv402::LinkCounters &counters);
    void allBlocksDone(const Kv402::LinkCounters &counters);
    void terminalNotAnswering();
    void portError(const QString &reason);

    void finished(Kv402::LinkOutcome outcome);

private:
    class Relay;

    SerialPortFactory &m_ports;
    const MemoryImage m_image;
    const int m_portNumber;
    const LinkLimits m_limits;
    std::unique_ptr<Relay> m_relay;
    std::unique_ptr<TerminalLink> m_link;
    QThread *m_thread = nullptr;
    bool m_finished = false;
    LinkOutcome m_outcome = LinkOutcome::Stopped;
    PortOpenFailure m_openFailure;
};

} // namespace Kv402

Q_DECLARE_METATYPE(Kv402::LinkCounters)
Q_DECLARE_METATYPE(Kv402::LinkOutcome)
