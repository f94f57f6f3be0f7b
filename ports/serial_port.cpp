#include "ports/serial_port.h"

#include <QList>

namespace Kv402 {

namespace {

const QLatin1StringView PortPrefix{"COM"};

// Linux device families, in the order of the COM numbers they take.
struct DeviceFamily
{
    QLatin1StringView prefix;
    int count;
};
const DeviceFamily LinuxDevices[] = {
    {QLatin1StringView("/dev/ttyS"), 4},
    {QLatin1StringView("/dev/ttyUSB"), 8},
    {QLatin1StringView("/dev/ttyACM"), 4},
};

const QLatin1StringView WindowsDevicePrefix{"\\\\.\\COM"};

bool isDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

std::optional<LineSettings> invalid(QStringView text, const char *detail, QString *reason)
{
    if (reason) {
        *reason = QStringLiteral("Invalid line settings \"%1\": %2.")
                      .arg(text.toString(), QLatin1StringView(detail));
    }
    return std::nullopt;
}

} // namespace

QString portName(int portNumber)
{
    return PortPrefix + QString::number(portNumber);
}

std::optional<int> portNumberOf(QStringView name)
{
    if (!name.startsWith(PortPrefix))
        return std::nullopt;
    const QStringView digits = name.mid(PortPrefix.size());
    if (!isDigits(digits) || digits.startsWith(QLatin1Char('0')) || digits.size() > 2)
        return std::nullopt;
    const int number = digits.toInt();
    if (number < PortNames::First || number > PortNames::Last)
        return std::nullopt;
    return number;
}

Platform hostPlatform()
{
#ifdef Q_OS_WIN
    return Platform::Windows;
#else
    return Platform::Linux;
#endif
}

QString portDevice(int portNumber, Platform platform)
{
    if (portNumber < PortNames::First || portNumber > PortNames::Last)
        return {};
    if (platform == Platform::Windows)
        return WindowsDevicePrefix + QString::number(portNumber);
    int index = portNumber - PortNames::First;
    for (const DeviceFamily &family : LinuxDevices) {
        if (index < family.count)
            return family.prefix + QString::number(index);
        index -= family.count;
    }
    return {};
}

PortAddress portAddress(int portNumber)
{
    return {portName(portNumber), portDevice(portNumber)};
}

std::optional<LineSettings> LineSettings::parse(QStringView text, QString *reason)
{
    const QList<QStringView> fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return invalid(text,
                       "four fields are needed: baud rate, parity, data bits, stop bits",
                       reason);

    LineSettings settings;
    bool ok = false;
    settings.baudRate = fields[0].toInt(&ok);
    if (!isDigits(fields[0]) || !ok || settings.baudRate <= 0)
        return invalid(text, "the baud rate must be a positive whole number", reason);

    if (fields[1].size() != 1)
        return invalid(text, "the parity must be one of N, O, E, M, S", reason);
    switch (fields[1].front().toUpper().unicode()) {
    case 'N':
        settings.parity = Parity::None;
        break;
    case 'O':
        settings.parity = Parity::Odd;
        break;
    case 'E':
        settings.parity = Parity::Even;
        break;
    case 'M':
        settings.parity = Parity::Mark;
        break;
    case 'S':
        settings.parity = Parity::Space;
        break;
    default:
        return invalid(text, "the parity must be one of N, O, E, M, S", reason);
    }

    if (fields[2].size() != 1 || fields[2].front() < QLatin1Char('5')
        || fields[2].front() > QLatin1Char('8')) {
        return invalid(text, "the data bits must be 5 to 8", reason);
    }
    settings.dataBits = fields[2].toInt();

    if (fields[3] == QLatin1StringView("1"))
        settings.stopBits = StopBits::One;
    else if (fields[3] == QLatin1StringView("1.5"))
        settings.stopBits = StopBits::OneAndHalf;
    else if (fields[3] == QLatin1StringView("2"))
        settings.stopBits = StopBits::Two;
    else
        return invalid(text, "the stop bits must be 1, 1.5 or 2", reason);

    return settings;
}

std::chrono::nanoseconds LineSettings::characterTime() const
{
    // Counted in half bits, for the 1.5 stop bits: start bit, data bits, parity bit, stop bits.
    const int parityBits = parity == Parity::None ? 0 : 1;
    const int stopHalfBits = stopBits == StopBits::One          ? 2
                             : stopBits == StopBits::OneAndHalf ? 3
                                                                : 4;
    const qint64 halfBits = 2 * (1 + dataBits + parityBits) + stopHalfBits;
    using namespace std::chrono;
    return nanoseconds(halfBits * duration_cast<nanoseconds>(seconds(1)).count() / (2 * baudRate));
}

} // namespace Kv402
