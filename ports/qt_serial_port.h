#pragma once

#include "ports/serial_port.h"

#include <QElapsedTimer>
#include <QSerialPort>


namespace Kv402 {

// A serial device of the platform, through QSerialPort. It is used without an event loop of its
// own: the waits drive the reading and the writing. Create and use it on a QThread (the main
// thread or a worker), whose event dispatcher QSerialPort's notifiers need. On Linux the device
// runs in low-latency mode while it is open (see low_latency.h); a driver that refuses it works
// as it is.
class QtSerialPort : public SerialPort
{
public:
    // Whether a device without RTS and CTS opens. The terminal link needs them; tests of the data
    // path alone run on pseudo-terminals, which have none.
    enum class ModemLines { Required, Optional };

    explicit QtSerialPort(PortAddress address, ModemLines modemLines = ModemLines::Required);
    ~QtSerialPort() override;

    bool open(const LineSettings &settings, PortOpenFailure *failure) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }

    bool cts() override;
    void setRts(bool high) override;
    bool rts() const override { return m_rts; }

    bool write(const QByteArray &bytes) override;
    qint64 bytesToWrite() override { return m_port.bytesToWrite(); }
    qint64 bytesAvailable() override { return m_port.bytesAvailable(); }
    QByteArray readAll() override { return m_port.readAll(); }

    bool waitForAvailable(qint64 count, int msecs) override;
    bool waitForWritten(int msecs) override;
    bool waitForCts(int msecs) override;

    QString failure() const override { return m_failure; }

private:
    bool checkFailure();
    void enterLowLatency();
    void leaveLowLatency();

    PortAddress m_address;
    ModemLines m_modemLines;
    QSerialPort m_port;
    bool m_rts = false;
    // Since when CTS has been read low without a break; invalid while it is high.
    QElapsedTimer m_ctsLowSince;
    QString m_failure;
    // The low-latency flag was set on opening and goes back off before closing.
    bool m_clearLowLatency = false;
};

// What a failed QSerialPort::open() means for the user. QSerialPort reports a device that
// another program holds (its lock file, or the exclusive mode of the device) as a permission
// error too: only a device the user may not read and write calls for the group dialout.
PortOpenFailure::Kind openFailureKind(QSerialPort::SerialPortError error, bool accessible);
// Whether this user may read and write the device, as far as its permissions tell.
bool deviceAccessible(const QString &device);

// Every port number is the platform's device of that name.
class QtSerialPortFactory : public SerialPortFactory
{
public:
    std::unique_ptr<SerialPort> makePort(const PortAddress &address) override;
    // The device, with the adapter's description and serial number where the system knows them.
    QString describe(const PortAddress &address) const override;
};

} // namespace Kv402
