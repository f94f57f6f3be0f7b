#include "loader/qt_serial_port.h"

#include "loader/link_constants.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

#include <algorithm>

namespace Kv402 {

namespace {

const char DialoutHint[] = "The user must be a member of the group dialout to use serial ports "
                           "(sudo adduser $USER dialout, then log in again).";

QSerialPort::Parity qtParity(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::None:
        return QSerialPort::NoParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits qtStopBits(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
    case LineSettings::StopBits::One:
        return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

// QSerialPort reports a busy device as a permission error too; only a device the user may not
// open calls for the dialout group.
bool accessDenied(const QString &device)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES;
#else
    Q_UNUSED(device)
    return false;
#endif
}

int remainingMsecs(const QDeadlineTimer &deadline)
{
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

} // namespace

QtSerialPort::QtSerialPort(DeviceMap deviceOf)
    : m_deviceOf(deviceOf ? std::move(deviceOf)
                          : [](int portNumber) { return portDevice(portNumber); })
{}

QtSerialPort::~QtSerialPort()
{
    close();
}

bool QtSerialPort::open(int portNumber, const QString &settings, QString *reason)
{
    close();
    QString why;
    const std::optional<LineSettings> line = LineSettings::parse(settings, &why);
    const QString device = m_deviceOf(portNumber);
    if (line && device.isEmpty())
        why = QStringLiteral("%1 names no serial port.").arg(portName(portNumber));
    if (!line || device.isEmpty()) {
        if (reason)
            *reason = why;
        return false;
    }

    m_port.setPortName(device);
    m_port.setBaudRate(line->baudRate);
    m_port.setParity(qtParity(line->parity));
    m_port.setDataBits(QSerialPort::DataBits(line->dataBits));
    m_port.setStopBits(qtStopBits(line->stopBits));
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        why = QStringLiteral("%1 (%2).").arg(m_port.errorString(), device);
        if (m_port.error() == QSerialPort::PermissionError && accessDenied(device))
            why += QLatin1Char(' ') + QLatin1StringView(DialoutHint);
        if (reason)
            *reason = why;
        m_port.clearError();
        return false;
    }
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(false);
    m_rts = false;
    // Devices without modem lines refuse the two calls above; that is no reason to fail here.
    m_port.clearError();
    m_failure.clear();
    return true;
}

void QtSerialPort::close()
{
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
    m_rts = false;
}

bool QtSerialPort::cts()
{
    const bool high = m_port.pinoutSignals().testFlag(QSerialPort::ClearToSendSignal);
    checkFailure();
    return high;
}

void QtSerialPort::setRts(bool high)
{
    m_port.setRequestToSend(high);
    m_rts = high;
    checkFailure();
}

bool QtSerialPort::write(const QByteArray &bytes)
{
    if (m_port.write(bytes) == bytes.size())
        return true;
    if (!checkFailure())
        m_failure = m_port.errorString();
    return false;
}

bool QtSerialPort::waitForAvailable(qint64 count, int msecs)
{
    const QDeadlineTimer deadline(msecs);
    while (m_port.bytesAvailable() < count) {
        if (!m_failure.isEmpty() || deadline.hasExpired())
            return false;
        if (!m_port.waitForReadyRead(remainingMsecs(deadline)) && checkFailure())
            return false;
    }
    return true;
}

bool QtSerialPort::waitForWritten(int msecs)
{
    const QDeadlineTimer deadline(msecs);
    while (m_port.bytesToWrite() > 0) {
        if (!m_failure.isEmpty() || deadline.hasExpired())
            return false;
        if (!m_port.waitForBytesWritten(remainingMsecs(deadline)) && checkFailure())
            return false;
    }
    return true;
}

bool QtSerialPort::waitForCts(int msecs)
{
    const QDeadlineTimer deadline(msecs);
    while (!cts()) {
        if (!m_failure.isEmpty() || deadline.hasExpired())
            return false;
        const qint64 pause = std::min<qint64>(Link::CtsPollInterval.count(),
                                              deadline.remainingTime());
        QThread::msleep(std::max<qint64>(pause, 0));
    }
    return true;
}

bool QtSerialPort::checkFailure()
{
    if (!m_failure.isEmpty())
        return true;
    switch (m_port.error()) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        m_failure = m_port.errorString();
        return true;
    default:
        break;
    }
    // Time-outs of the waits and modem-line requests a device does not support are no failure.
    m_port.clearError();
    if (!m_port.isOpen()) {
        m_failure = QStringLiteral("The serial port was closed.");
        return true;
    }
    return false;
}

QtSerialPortFactory::QtSerialPortFactory(QtSerialPort::DeviceMap deviceOf)
    : m_deviceOf(std::move(deviceOf))
{}

std::unique_ptr<SerialPort> QtSerialPortFactory::makePort(int portNumber)
{
    Q_UNUSED(portNumber)
    return std::make_unique<QtSerialPort>(m_deviceOf);
}

QString QtSerialPortFactory::describe(int portNumber) const
{
    return m_deviceOf ? m_deviceOf(portNumber) : portDevice(portNumber);
}

} // namespace Kv402
