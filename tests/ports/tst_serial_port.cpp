#include "ports/low_latency.h"
#include "ports/port_identity.h"
#include "ports/qt_serial_port.h"
#include "ports/serial_port.h"

#include "pseudo_terminal.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Kv402;

Q_DECLARE_METATYPE(LineSettings::Parity)
Q_DECLARE_METATYPE(LineSettings::StopBits)
Q_DECLARE_METATYPE(PortOpenFailure::Kind)
Q_DECLARE_METATYPE(PortState)

namespace {

constexpr int WaitMsecs = 5000;

// Every byte value once, NUL and 0xFF included.
QByteArray allByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}

using Kv402::Test::PseudoTerminal;

// COM1 standing for a device of the test's choosing.
PortAddress deviceAt(const QString &path)
{
    return {QStringLiteral("COM1"), path};
}

LineSettings settingsOf(const QString &text)
{
    return *LineSettings::parse(text);
}

// A descriptor of a device, opened without waiting for a carrier and closed with the object.
class Descriptor
{
public:
    explicit Descriptor(const QString &device)
        : m_fd(::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// A COM port whose driver takes the low-latency requests (the PC's own serial ports do,
// pseudo-terminals do not); empty when there is none this user may open.
QString deviceWithLowLatency()
{
    for (int n = PortNames::First; n <= PortNames::Last; ++n) {
        const Descriptor device(portDevice(n));
        if (device.fd() >= 0 && lowLatency(device.fd()))
            return portDevice(n);
    }
    return {};
}

// Turns the port category's debug messages on for the life of the object.
class PortTrace
{
public:
    PortTrace() { QLoggingCategory::setFilterRules(QStringLiteral("kv402.port.debug=true")); }
    ~PortTrace() { QLoggingCategory::setFilterRules(QString()); }
};

} // namespace

class SerialPortTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void portDevices_data();
    void portDevices();
    void portNumbers_data();
    void portNumbers();
    void lineSettings_data();
    void lineSettings();
    void invalidLineSettings_data();
    void invalidLineSettings();
    void characterTime_data();
    void characterTime();

    void openFailures_data();
    void openFailures();
    void missingComPortGivesReason();
    void permissionDeniedIsTold();
    void openFailureKinds_data();
    void openFailureKinds();
    void bytesPassUnchangedBothWays();
    void closingTwiceIsHarmless();
    void deviceWithoutModemLinesIsRefused();
    void deviceHeldByAnotherIsInUse();

    void lowLatencyIsSetAndRestored_data();
    void lowLatencyIsSetAndRestored();
    void deviceWithoutLowLatencyStillOpens();
    void portDescriptions_data();
    void portDescriptions();
    void devicePathsAreResolved_data();
    void devicePathsAreResolved();
    void probeTellsState_data();
    void probeTellsState();
    void listsTheMachinesPorts();
};

void SerialPortTest::portDevices_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("linuxDevice");
    QTest::addColumn<QString>("windows");

    QTest::newRow("COM1") << 1 << "/dev/ttyS0"
                          << "\\\\.\\COM1";
    QTest::newRow("COM4") << 4 << "/dev/ttyS3"
                          << "\\\\.\\COM4";
    QTest::newRow("COM5") << 5 << "/dev/ttyUSB0"
                          << "\\\\.\\COM5";
    QTest::newRow("COM12") << 12 << "/dev/ttyUSB7"
                           << "\\\\.\\COM12";
    QTest::newRow("COM13") << 13 << "/dev/ttyACM0"
                           << "\\\\.\\COM13";
    QTest::newRow("COM16") << 16 << "/dev/ttyACM3"
                           << "\\\\.\\COM16";
    QTest::newRow("0") << 0 << ""
                       << "";
    QTest::newRow("17") << 17 << ""
                        << "";
    QTest::newRow("-1") << -1 << ""
                        << "";
}

void SerialPortTest::portDevices()
{
    QFETCH(int, number);
    QFETCH(QString, linuxDevice);
    QFETCH(QString, windows);

    QCOMPARE(portDevice(number, Platform::Linux), linuxDevice);
    QCOMPARE(portDevice(number, Platform::Windows), windows);
}

void SerialPortTest::portNumbers_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number"); // 0: not a port name

    QTest::newRow("COM1") << "COM1" << 1;
    QTest::newRow("COM9") << "COM9" << 9;
    QTest::newRow("COM10") << "COM10" << 10;
    QTest::newRow("COM16") << "COM16" << 16;
    QTest::newRow("COM0") << "COM0" << 0;
    QTest::newRow("COM17") << "COM17" << 0;
    QTest::newRow("COM01") << "COM01" << 0;
    QTest::newRow("com1") << "com1" << 0;
    QTest::newRow("COM 1") << "COM 1" << 0;
    QTest::newRow("COM1 blank") << "COM1 " << 0;
    QTest::newRow("COM+1") << "COM+1" << 0;
    QTest::newRow("COM-1") << "COM-1" << 0;
    QTest::newRow("COM") << "COM" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("XCOM1") << "XCOM1" << 0;
    QTest::newRow("COM100") << "COM100" << 0;
    QTest::newRow("/dev/ttyS0") << "/dev/ttyS0" << 0;
}

void SerialPortTest::portNumbers()
{
    QFETCH(QString, name);
    QFETCH(int, number);

    const std::optional<int> parsed = portNumberOf(name);
    QCOMPARE(parsed.value_or(0), number);
    if (parsed)
        QCOMPARE(portName(*parsed), name);
}

void SerialPortTest::lineSettings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<LineSettings::Parity>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<LineSettings::StopBits>("stopBits");

    using P = LineSettings::Parity;
    using S = LineSettings::StopBits;
    QTest::newRow("loading") << "19200,o,8,1" << 19200 << P::Odd << 8 << S::One;
    QTest::newRow("discovery") << "9600,N,8,1" << 9600 << P::None << 8 << S::One;
    QTest::newRow("upper odd") << "19200,O,8,1" << 19200 << P::Odd << 8 << S::One;
    QTest::newRow("lower none") << "9600,n,8,1" << 9600 << P::None << 8 << S::One;
    QTest::newRow("even") << "4800,e,7,2" << 4800 << P::Even << 7 << S::Two;
    QTest::newRow("mark") << "115200,M,6,1.5" << 115200 << P::Mark << 6 << S::OneAndHalf;
    QTest::newRow("space") << "300,s,5,1" << 300 << P::Space << 5 << S::One;
}

void SerialPortTest::lineSettings()
{
    QFETCH(QString, text);
    QFETCH(int, baudRate);
    QFETCH(LineSettings::Parity, parity);
    QFETCH(int, dataBits);
    QFETCH(LineSettings::StopBits, stopBits);

    QString reason;
    const std::optional<LineSettings> settings = LineSettings::parse(text, &reason);
    QVERIFY2(settings, qPrintable(reason));
    QCOMPARE(*settings, (LineSettings{baudRate, parity, dataBits, stopBits}));
}

void SerialPortTest::invalidLineSettings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("empty") << ""
                           << "four fields";
    QTest::newRow("three fields") << "19200,o,8"
                                  << "four fields";
    QTest::newRow("five fields") << "19200,o,8,1,1"
                                 << "four fields";
    QTest::newRow("no baud") << ",o,8,1"
                             << "baud rate";
    QTest::newRow("zero baud") << "0,o,8,1"
                               << "baud rate";
    QTest::newRow("negative baud") << "-9600,o,8,1"
                                   << "baud rate";
    QTest::newRow("signed baud") << "+9600,o,8,1"
                                 << "baud rate";
    QTest::newRow("huge baud") << "99999999999,o,8,1"
                               << "baud rate";
    QTest::newRow("blank") << "19200, o,8,1"
                           << "parity";
    QTest::newRow("parity x") << "19200,x,8,1"
                              << "parity";
    QTest::newRow("parity word") << "19200,odd,8,1"
                                 << "parity";
    QTest::newRow("4 data bits") << "19200,o,4,1"
                                 << "data bits";
    QTest::newRow("9 data bits") << "19200,o,9,1"
                                 << "data bits";
    QTest::newRow("3 stop bits") << "19200,o,8,3"
                                 << "stop bits";
    QTest::newRow("0 stop bits") << "19200,o,8,0"
                                 << "stop bits";
}

void SerialPortTest::invalidLineSettings()
{
    QFETCH(QString, text);
    QFETCH(QString, complaint);

    QString reason;
    QVERIFY(!LineSettings::parse(text, &reason));
    QVERIFY2(reason.contains(complaint), qPrintable(reason));
    QVERIFY2(reason.contains(QLatin1Char('"') + text + QLatin1Char('"')), qPrintable(reason));
}

void SerialPortTest::characterTime_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("nanoseconds");

    // 11 bits at 19200 baud.
    QTest::newRow("loading") << "19200,o,8,1" << qint64(572'916);
    QTest::newRow("no parity") << "9600,N,8,1" << qint64(1'041'666);
    QTest::newRow("1.5 stop bits") << "9600,N,8,1.5" << qint64(1'093'750);
    QTest::newRow("7E2") << "1200,E,7,2" << qint64(9'166'666);
}

void SerialPortTest::characterTime()
{
    QFETCH(QString, text);
    QFETCH(qint64, nanoseconds);

    QCOMPARE(LineSettings::parse(text)->characterTime().count(), nanoseconds);
}

void SerialPortTest::openFailures_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("complaint");
    QTest::addColumn<PortOpenFailure::Kind>("kind");

    using Kind = PortOpenFailure::Kind;
    QTest::newRow("missing device") << "/dev/kv402-no-such-device"
                                    << "19200,o,8,1"
                                    << "/dev/kv402-no-such-device" << Kind::Missing;
    QTest::newRow("no device for the number") << ""
                                              << "19200,o,8,1"
                                              << "COM1 names no serial port" << Kind::Missing;
    QTest::newRow("not a serial device") << "/dev/null"
                                         << "19200,o,8,1"
                                         << "it is not a serial device" << Kind::Other;
}

void SerialPortTest::openFailures()
{
    QFETCH(QString, device);
    QFETCH(QString, settings);
    QFETCH(QString, complaint);

    QFETCH(PortOpenFailure::Kind, kind);

    QtSerialPort port(deviceAt(device));
    PortOpenFailure failure;
    QVERIFY(!port.open(settingsOf(settings), &failure));
    QVERIFY(!port.isOpen());
    const QString reason = failure.reason + QLatin1Char(' ') + failure.device;
    QVERIFY2(reason.contains(complaint), qPrintable(reason));
    QCOMPARE(failure.kind, kind);
}

void SerialPortTest::missingComPortGivesReason()
{
    int missing = 0;
    for (int number = PortNames::Last; number >= PortNames::First && !missing; --number) {
        if (!QFile::exists(portDevice(number)))
            missing = number;
    }
    if (!missing)
        QSKIP("every COM port has a device on this machine");

    QtSerialPort port(portAddress(missing));
    PortOpenFailure failure;
    QVERIFY(!port.open(settingsOf(QStringLiteral("9600,N,8,1")), &failure));
    QCOMPARE(failure.kind, PortOpenFailure::Kind::Missing);
    QCOMPARE(failure.device, portDevice(missing));
    QVERIFY(!failure.reason.isEmpty());
}

void SerialPortTest::permissionDeniedIsTold()
{
    if (::geteuid() == 0)
        QSKIP("file permissions do not hold for root");
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyLOCKED"));
    QFile file(device);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(::chmod(QFile::encodeName(device).constData(), 0) == 0);

    QtSerialPort port(deviceAt(device));
    PortOpenFailure failure;
    QVERIFY(!port.open(settingsOf(QStringLiteral("19200,o,8,1")), &failure));
    QCOMPARE(failure.kind, PortOpenFailure::Kind::AccessDenied);
}

void SerialPortTest::bytesPassUnchangedBothWays()
{
    PseudoTerminal terminal;
    if (!terminal.isValid())
        QSKIP("no pseudo-terminals here");

    QtSerialPort port(deviceAt(terminal.slavePath()), QtSerialPort::ModemLines::Optional);
    PortOpenFailure failure;
    QVERIFY2(port.open(settingsOf(QStringLiteral("19200,o,8,1")), &failure), qPrintable(failure.reason));

    const QByteArray bytes = allByteValues();
    QVERIFY(port.write(bytes));
    QVERIFY(port.waitForWritten(WaitMsecs));
    QCOMPARE(port.bytesToWrite(), 0);
    QCOMPARE(terminal.read(bytes.size(), WaitMsecs), bytes);

    QVERIFY(terminal.write(bytes));
    QVERIFY(port.waitForAvailable(bytes.size(), WaitMsecs));
    QCOMPARE(port.bytesAvailable(), bytes.size());
    QCOMPARE(port.readAll(), bytes);
    QCOMPARE(port.bytesAvailable(), 0);
    QVERIFY(port.failure().isEmpty());

    // Nothing more arrives: the wait gives up.
    QVERIFY(!port.waitForAvailable(1, 20));
    QVERIFY(port.failure().isEmpty());
}

void SerialPortTest::closingTwiceIsHarmless()
{
    PseudoTerminal terminal;
    if (!terminal.isValid())
        QSKIP("no pseudo-terminals here");

    QtSerialPort port(deviceAt(terminal.slavePath()), QtSerialPort::ModemLines::Optional);
    port.close();
    PortOpenFailure failure;
    QVERIFY2(port.open(settingsOf(QStringLiteral("9600,N,8,1")), &failure), qPrintable(failure.reason));
    QVERIFY(port.isOpen());
    port.close();
    port.close();
    QVERIFY(!port.isOpen());
    // The device can be opened again.
    QVERIFY2(port.open(settingsOf(QStringLiteral("9600,N,8,1")), &failure), qPrintable(failure.reason));
}

// A pseudo-terminal has no modem lines, like some adapters and virtual ports: CTS would read low
// for ever and the cable question come back at every OK.
void SerialPortTest::deviceWithoutModemLinesIsRefused()
{
    PseudoTerminal terminal;
    if (!terminal.isValid())
        QSKIP("no pseudo-terminals here");

    QtSerialPort port(deviceAt(terminal.slavePath()));
    PortOpenFailure failure;
    QVERIFY(!port.open(settingsOf(QStringLiteral("19200,o,8,1")), &failure));
    QVERIFY(!port.isOpen());
    QCOMPARE(failure.kind, PortOpenFailure::Kind::NoModemLines);
    QCOMPARE(failure.device, terminal.slavePath());
    // Nothing holds the device afterwards.
    QtSerialPort dataOnly(deviceAt(terminal.slavePath()), QtSerialPort::ModemLines::Optional);
    QVERIFY2(dataOnly.open(settingsOf(QStringLiteral("19200,o,8,1")), &failure), qPrintable(failure.reason));
}

void SerialPortTest::openFailureKinds_data()
{
    QTest::addColumn<QSerialPort::SerialPortError>("error");
    QTest::addColumn<bool>("accessible");
    QTest::addColumn<PortOpenFailure::Kind>("kind");

    using Kind = PortOpenFailure::Kind;
    QTest::newRow("no device") << QSerialPort::DeviceNotFoundError << true << Kind::Missing;
    QTest::newRow("not in dialout") << QSerialPort::PermissionError << false << Kind::AccessDenied;
    // Qt's lock file, or another program's exclusive open, on a device the user may use.
    QTest::newRow("locked by another program")
        << QSerialPort::PermissionError << true << Kind::InUse;
    QTest::newRow("anything else") << QSerialPort::OpenError << true << Kind::Other;
}

void SerialPortTest::openFailureKinds()
{
    QFETCH(QSerialPort::SerialPortError, error);
    QFETCH(bool, accessible);
    QFETCH(PortOpenFailure::Kind, kind);
    QCOMPARE(openFailureKind(error, accessible), kind);
}

// Another program holding the device is told as such, not as a permission problem.
void SerialPortTest::deviceHeldByAnotherIsInUse()
{
    PseudoTerminal terminal;
    if (!terminal.isValid())
        QSKIP("no pseudo-terminals here");

    QtSerialPort holder(deviceAt(terminal.slavePath()), QtSerialPort::ModemLines::Optional);
    PortOpenFailure failure;
    QVERIFY2(holder.open(settingsOf(QStringLiteral("19200,o,8,1")), &failure), qPrintable(failure.reason));
    QtSerialPort second(deviceAt(terminal.slavePath()), QtSerialPort::ModemLines::Optional);
    QVERIFY(!second.open(settingsOf(QStringLiteral("19200,o,8,1")), &failure));
    QCOMPARE(failure.kind, PortOpenFailure::Kind::InUse);
}

void SerialPortTest::lowLatencyIsSetAndRestored_data()
{
    QTest::addColumn<bool>("before");

    QTest::newRow("off before") << false;
    QTest::newRow("on before") << true;
}

void SerialPortTest::lowLatencyIsSetAndRestored()
{
    QFETCH(bool, before);

    const QString device = deviceWithLowLatency();
    if (device.isEmpty())
        QSKIP("no COM port here takes the low-latency requests that this user may open "
              "(pseudo-terminals refuse TIOCGSERIAL with ENOTTY)");
    // A descriptor of our own sees the flags of the port the link opens.
    const Descriptor watcher(device);
    const std::optional<bool> original = lowLatency(watcher.fd());
    QVERIFY(original);
    QVERIFY(setLowLatency(watcher.fd(), before));

    QtSerialPort port(deviceAt(device), QtSerialPort::ModemLines::Optional);
    PortOpenFailure failure;
    const bool opened = port.open(settingsOf(QStringLiteral("19200,o,8,1")), &failure);
    if (!opened && failure.kind == PortOpenFailure::Kind::InUse) {
        setLowLatency(watcher.fd(), *original);
        QSKIP(qPrintable(device + QStringLiteral(" is held by another program")));
    }
    QVERIFY2(opened, qPrintable(failure.reason));
    const std::optional<bool> whileOpen = lowLatency(watcher.fd());
    port.close();
    const std::optional<bool> afterwards = lowLatency(watcher.fd());
    setLowLatency(watcher.fd(), *original);

    QCOMPARE(whileOpen, std::optional<bool>(true));
    QCOMPARE(afterwards, std::optional<bool>(before));
}

// A pseudo-terminal, like some adapters, has no low-latency mode: the port works without it and
// the link's trace says so.
void SerialPortTest::deviceWithoutLowLatencyStillOpens()
{
    PseudoTerminal terminal;
    if (!terminal.isValid())
        QSKIP("no pseudo-terminals here");
    const Descriptor slave(terminal.slavePath());
    QString reason;
    QCOMPARE(lowLatency(slave.fd(), &reason), std::nullopt);
    QVERIFY(!reason.isEmpty());
    QVERIFY(!setLowLatency(slave.fd(), true));

    const PortTrace trace;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("has no low-latency mode")));
    QtSerialPort port(deviceAt(terminal.slavePath()), QtSerialPort::ModemLines::Optional);
    PortOpenFailure failure;
    QVERIFY2(port.open(settingsOf(QStringLiteral("19200,o,8,1")), &failure), qPrintable(failure.reason));
    QVERIFY(port.write(QByteArray("\x00\xFF", 2)));
    QVERIFY(port.waitForWritten(WaitMsecs));
    QCOMPARE(terminal.read(2, WaitMsecs), QByteArray("\x00\xFF", 2));
    port.close();
}

void SerialPortTest::portDescriptions_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<QString>("shown");

    QTest::newRow("port of the PC") << ""
                                    << ""
                                    << "/dev/ttyUSB0";
    QTest::newRow("adapter") << "FT232R USB UART"
                             << "A50285BI"
                             << "/dev/ttyUSB0 (FT232R USB UART, serial number A50285BI)";
    QTest::newRow("no serial number") << "USB-Serial Controller"
                                      << ""
                                      << "/dev/ttyUSB0 (USB-Serial Controller)";
    QTest::newRow("serial number alone") << ""
                                         << "0001"
                                         << "/dev/ttyUSB0 (serial number 0001)";
}

void SerialPortTest::portDescriptions()
{
    QFETCH(QString, description);
    QFETCH(QString, serialNumber);
    QFETCH(QString, shown);

    PortIdentity identity;
    identity.name = QStringLiteral("COM5");
    identity.device = QStringLiteral("/dev/ttyUSB0");
    identity.manufacturer = QStringLiteral("FTDI");
    identity.description = description;
    identity.serialNumber = serialNumber;
    QCOMPARE(describePort(identity), shown);
}

void SerialPortTest::devicePathsAreResolved_data()
{
    QTest::addColumn<QString>("target"); // "pty": a pseudo-terminal; "" no link, path as it is
    QTest::addColumn<QString>("path");   // "link": a link under a stable folder to the target
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("portNumber"); // 0: none

    QTest::newRow("link to a device without COM name") << "pty"
                                                       << "link" << true << 0;
    QTest::newRow("device without COM name") << "pty"
                                             << "pty" << true << 0;
    QTest::newRow("link to COM1's device") << portDevice(1) << "link" << true << 1;
    QTest::newRow("COM1's device") << portDevice(1) << portDevice(1) << true << 1;
    QTest::newRow("COM1") << portDevice(1) << "COM1" << true << 1;
    QTest::newRow("missing device") << ""
                                    << "/dev/kv402-no-such-device" << false << 0;
    QTest::newRow("dangling link") << "/dev/kv402-no-such-device"
                                   << "link" << false << 0;
}

void SerialPortTest::devicePathsAreResolved()
{
    QFETCH(QString, target);
    QFETCH(QString, path);
    QFETCH(bool, exists);
    QFETCH(int, portNumber);

    PseudoTerminal terminal;
    if (target == QLatin1String("pty") || path == QLatin1String("pty")) {
        if (!terminal.isValid())
            QSKIP("no pseudo-terminals here");
        target = terminal.slavePath();
        path = path == QLatin1String("pty") ? target : path;
    }
    if (exists && !QFile::exists(target))
        QSKIP(qPrintable(target + QStringLiteral(" does not exist here")));
    QTemporaryDir stableFolder;
    const QString link = stableFolder.filePath(
        QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    if (path == QLatin1String("link")) {
        QVERIFY(QFile::link(target, link));
        path = link;
    }

    const NamedDevice named = resolveDevicePath(path);
    QCOMPARE(named.device, exists ? target : QString());
    QCOMPARE(named.portNumber.value_or(0), portNumber);
    // The device's identity names the link that leads to it.
    if (exists) {
        const PortIdentity identity = identifyDevice(named.device, stableFolder.path());
        QCOMPARE(identity.device, target);
        QCOMPARE(identity.stablePath, path == link ? link : QString());
        QCOMPARE(identity.name, portNumber ? portName(portNumber) : QString());
    }
}

void SerialPortTest::probeTellsState_data()
{
    QTest::addColumn<QString>("device"); // "pty": a pseudo-terminal
    QTest::addColumn<bool>("held");      // by another port object while probed
    QTest::addColumn<PortState>("state");

    QTest::newRow("free") << "pty" << false << PortState::Free;
    QTest::newRow("in use") << "pty" << true << PortState::InUse;
    QTest::newRow("missing") << "/dev/kv402-no-such-device" << false << PortState::Missing;
}

void SerialPortTest::probeTellsState()
{
    QFETCH(QString, device);
    QFETCH(bool, held);
    QFETCH(PortState, state);

    PseudoTerminal terminal;
    if (device == QLatin1String("pty")) {
        if (!terminal.isValid())
            QSKIP("no pseudo-terminals here");
        device = terminal.slavePath();
    }
    QtSerialPort holder(deviceAt(device), QtSerialPort::ModemLines::Optional);
    if (held)
        QVERIFY(holder.open(settingsOf(QStringLiteral("19200,o,8,1")), nullptr));
    // The probe leaves the line settings as it found them.
    const Descriptor watcher(device);
    termios before{};
    const bool watched = watcher.fd() >= 0 && ::tcgetattr(watcher.fd(), &before) == 0;

    PortIdentity identity;
    identity.device = device;
    const PortListing listing = probePort(identity);
    QCOMPARE(listing.state, state);
    QCOMPARE(listing.identity, identity);
    QCOMPARE(listing.reason.isEmpty(), state == PortState::Free);
    if (watched) {
        termios after{};
        QVERIFY(::tcgetattr(watcher.fd(), &after) == 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&after), sizeof after),
                 QByteArray(reinterpret_cast<const char *>(&before), sizeof before));
    }
}

void SerialPortTest::listsTheMachinesPorts()
{
    const QList<PortListing> ports = listPorts();
    QVERIFY(ports.size() >= PortNames::Last);
    for (int n = PortNames::First; n <= PortNames::Last; ++n) {
        const PortListing &port = ports.at(n - PortNames::First);
        QCOMPARE(port.identity.name, portName(n));
        QCOMPARE(port.identity.device, portDevice(n));
        QCOMPARE(port.state == PortState::Missing, !QFile::exists(portDevice(n)));
    }
    // Every serial device the system lists is there once, COM port or not.
    QStringList devices;
    for (const PortListing &port : ports)
        devices.append(QFileInfo(port.identity.device).canonicalFilePath());
    const QList<QSerialPortInfo> known = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : known) {
        const QString device = QFileInfo(info.systemLocation()).canonicalFilePath();
        QVERIFY2(devices.count(device) == 1, qPrintable(device));
    }
    for (const PortListing &port : ports.mid(PortNames::Last)) {
        QVERIFY(port.identity.name.isEmpty());
        QVERIFY(port.state != PortState::Missing);
    }
}

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serial_port.moc"
