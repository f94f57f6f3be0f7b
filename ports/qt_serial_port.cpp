#include "ports/qt_serial_port.h"

#include "ports/low_latency.h"
#include "ports/port_constants.h"
#include "ports/port_identity.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>

Q_LOGGING_CATEGORY(portLog, "kv402.port", QtWarningMsg)

namespace Kv402 {

namespace {

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

// Ptys, some adapters and some virtual ports have no modem lines: the driver refuses to report
// them. Without CTS the link would wait for a cable that is there.
bool hasModemLines(QSerialPort &port)
{
#ifdef Q_OS_UNIX
    int lines = 0;
    if (::ioctl(port.handle(), TIOCMGET, &lines) == -1 && (errno == ENOTTY || errno == EINVAL))
        return false;
    return true;
#else
    port.pinoutSignals();
    return port.error() != QSerialPort::UnsupportedOperationError;
#endif
}

// A device that opens but is no terminal (a regular file, /dev/null) is named for what it is:
// the system's "Inappropriate ioctl for device" tells a technician nothing.
bool isSerialDevice(const QString &device)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(device).constData(),
                          O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal;
#else
    Q_UNUSED(device)
    return true;
#endif
}

int remainingMsecs(const QDeadlineTimer &deadline)
{
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

} // namespace

bool deviceAccessible(const QString &device)
{
#ifdef Q_OS_UNIX
    return !(::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES);
#else
    Q_UNUSED(device)
    return true;
#endif
}

PortOpenFailure::Kind openFailureKind(QSerialPort::SerialPortError error, bool accessible)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortOpenFailure::Kind::Missing;
    case QSerialPort::PermissionError:
        return accessible ? PortOpenFailure::Kind::InUse : PortOpenFailure::Kind::AccessDenied;
    default:
        return PortOpenFailure::Kind::Other;
    }
}

QtSerialPort::QtSerialPort(PortAddress address, ModemLines modemLines)
    : m_address(std::move(address))
    , m_modemLines(modemLines)
{}

QtSerialPort::~QtSerialPort()
{
    close();
}

bool QtSerialPort::open(const LineSettings &settings, PortOpenFailure *failure)
{
    close();
    PortOpenFailure why;
    why.device = m_address.device;
    if (why.device.isEmpty()) {
        why.kind = PortOpenFailure::Kind::Missing;
        why.reason = QStringLiteral("%1 names no serial port.").arg(m_address.name);
        if (failure)
            *failure = why;
        return false;
    }

    m_port.setPortName(why.device);
    m_port.setBaudRate(settings.baudRate);
    m_port.setParity(qtParity(settings.parity));
    m_port.setDataBits(QSerialPort::DataBits(settings.dataBits));
    m_port.setStopBits(qtStopBits(settings.stopBits));
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        why.kind = openFailureKind(m_port.error(), deviceAccessible(why.device));
        why.reason = m_port.errorString();
        if (why.kind == PortOpenFailure::Kind::Other && !isSerialDevice(why.device))
            why.reason = QStringLiteral("it is not a serial device");
        if (failure)
            *failure = why;
        m_port.clearError();
        return false;
    }
    if (m_modemLines == ModemLines::Required && !hasModemLines(m_port)) {
        m_port.close();
        m_port.clearError();
        why.kind = PortOpenFailure::Kind::NoModemLines;
        why.reason.clear();
        if (failure)
            *failure = why;
        return false;
    }
    enterLowLatency();
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(false);
    m_rts = false;
    m_port.clearError();
    m_failure.clear();
    return true;
}

void QtSerialPort::close()
{
    if (m_port.isOpen()) {
        leaveLowLatency();
        m_port.close();
    }
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
        if (!m_ctsLowSince.isValid())
            m_ctsLowSince.start();
        const qint64 interval = m_ctsLowSince.elapsed() < Port::CtsFastPollPeriod.count()
                                    ? Port::CtsPollInterval.count()
                                    : Port::CtsSlowPollInterval.count();
        const qint64 pause = std::min<qint64>(interval, deadline.remainingTime());
        QThread::msleep(std::max<qint64>(pause, 0));
    }
    m_ctsLowSince.invalidate();
    return true;
}

void QtSerialPort::enterLowLatency()
{
    m_clearLowLatency = false;
    QString reason;
    const std::optional<bool> found = lowLatency(int(m_port.handle()), &reason);
    if (found == false && setLowLatency(int(m_port.handle()), true, &reason))
        m_clearLowLatency = true;
    if (found == true)
        qCDebug(portLog) << m_port.portName() << "was in low-latency mode already";
    else if (m_clearLowLatency)
        qCDebug(portLog) << m_port.portName() << "set to low-latency mode";
    else
        qCDebug(portLog) << m_port.portName() << "has no low-latency mode:" << reason;
}

void QtSerialPort::leaveLowLatency()
{
    if (!m_clearLowLatency)
        return;
    m_clearLowLatency = false;
    // A device that went away has no flags to restore.
    if (QString reason; !setLowLatency(int(m_port.handle()), false, &reason))
        qCDebug(portLog) << m_port.portName() << "low-latency mode not cleared:" << reason;
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

std::unique_ptr<SerialPort> QtSerialPortFactory::makePort(const PortAddress &address)
{
    return std::make_unique<QtSerialPort>(address);
}

QString QtSerialPortFactory::describe(const PortAddress &address) const
{
    return describePort(identifyDevice(address.device));
}

} // namespace Kv402
