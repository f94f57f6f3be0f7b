#pragma once

#include "ports/serial_port.h"

#include <QString>

#include <memory>

namespace Kv402::Test {

// A USB adapter pulled out in the middle of a load: after the writes it is allowed the port takes
// no more bytes, its waits end at once, and it gives the system's reason.
class PulledPort : public SerialPort
{
public:
    PulledPort(std::unique_ptr<SerialPort> port, int writes, QString reason)
        : m_port(std::move(port))
        , m_writesLeft(writes)
        , m_reason(std::move(reason))
    {}

    bool open(const LineSettings &settings, PortOpenFailure *failure) override
    {
        return m_port->open(settings, failure);
    }
    void close() override { m_port->close(); }
    bool isOpen() const override { return m_port->isOpen(); }
    bool cts() override { return m_port->cts(); }
    void setRts(bool high) override { m_port->setRts(high); }
    bool rts() const override { return m_port->rts(); }
    bool write(const QByteArray &bytes) override
    {
        if (m_writesLeft-- <= 0)
            m_pulled = true;
        return !m_pulled && m_port->write(bytes);
    }
    qint64 bytesToWrite() override { return m_port->bytesToWrite(); }
    qint64 bytesAvailable() override { return m_port->bytesAvailable(); }
    QByteArray readAll() override { return m_port->readAll(); }
    bool waitForAvailable(qint64 count, int msecs) override
    {
        return !m_pulled && m_port->waitForAvailable(count, msecs);
    }
    bool waitForWritten(int msecs) override { return !m_pulled && m_port->waitForWritten(msecs); }
    bool waitForCts(int msecs) override { return !m_pulled && m_port->waitForCts(msecs); }
    QString failure() const override { return m_pulled ? m_reason : QString(); }

private:
    std::unique_ptr<SerialPort> m_port;
    int m_writesLeft;
    QString m_reason;
    bool m_pulled = false;
};

} // namespace Kv402::Test
