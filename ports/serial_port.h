#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <chrono>
#include <memory>
#include <optional>

namespace Kv402 {

// The ports the user can choose are named "COM" followed by 1 to 16, without blank or leading
// zero, on every platform.
namespace PortNames {
inline constexpr int First = 1;
inline constexpr int Last = 16;
} // namespace PortNames

// "COM" followed by the number.
QString portName(int portNumber);
// The number of a port name ("COM7" gives 7); nothing for any other text ("COM0", "COM17",
// "COM01", "com1", "COM 1").
std::optional<int> portNumberOf(QStringView name);

enum class Platform { Linux, Windows };
Platform hostPlatform();

// The device that stands for COMn. Linux: COM1-COM4 are the PC's own serial ports /dev/ttyS0-3,
// COM5-COM12 the USB serial adapters /dev/ttyUSB0-7, COM13-COM16 the USB modem-class adapters
// /dev/ttyACM0-3. Windows: \\.\COMn. Empty for a number outside 1 to 16.
QString portDevice(int portNumber, Platform platform = hostPlatform());

// Where a port is: the name the technician reads ("COM3", or the path given on the command
// line) and the device that is opened for it.
struct PortAddress
{
    QString name;
    QString device;

    bool operator==(const PortAddress &) const = default;
};

// COMn: its name, and the device that stands for it on this platform (empty outside 1 to 16).
PortAddress portAddress(int portNumber);

// A settings text such as "19200,o,8,1": baud rate, parity letter (N none, O odd, E even,
// M mark, S space, in either case), data bits (5 to 8), stop bits (1, 1.5 or 2).
struct LineSettings
{
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // Nothing for a text that is not a valid settings text; *reason then says what is wrong.
    static std::optional<LineSettings> parse(QStringView text, QString *reason = nullptr);

    // How long one character takes on the wire: start bit, data bits, parity bit, stop bits.
    std::chrono::nanoseconds characterTime() const;

    bool operator==(const LineSettings &) const = default;
};

// Why a port could not be opened. The kind chooses the words the user reads; the system's own
// reason goes with it.
struct PortOpenFailure
{
    enum class Kind {
        // The settings text is not valid, or the system gave a reason of its own.
        Other,
        // The port number names no device, or the device does not exist.
        Missing,
        // The device exists, but this user may not open it (not in the group dialout, say).
        AccessDenied,
        // Another program holds the device.
        InUse,
        // The device has no RTS and CTS lines, which the link with the terminal needs.
        NoModemLines,
    };

    Kind kind = Kind::Other;
    // The device that stands for the port, where there is one.
    QString device;
    // The system's reason, as it gave it; may be empty.
    QString reason;
};

// A serial port as the terminal link uses it: raw 8-bit bytes both ways (0x00 included, nothing
// translated or dropped), no automatic flow control, CTS read and RTS driven by the caller.
// One port object is used by one thread only.
class SerialPort
{
public:
    virtual ~SerialPort() = default;

    // Opens the port the factory made it for, with these line settings. Once open, RTS is low
    // and DTR high. On failure the port stays closed and *failure says why. A device without
    // modem lines does not open: the link cannot run without them.
    virtual bool open(const LineSettings &settings, PortOpenFailure *failure) = 0;
    // Closing a closed port does nothing.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Whether CTS is high: the terminal is ready to receive.
    virtual bool cts() = 0;
    // Raises or lowers RTS, the PC's answer to an echo; takes effect at once.
    virtual void setRts(bool high) = 0;
    virtual bool rts() const = 0;

    // Queues the bytes for sending, in order. False when the port cannot take them.
    virtual bool write(const QByteArray &bytes) = 0;
    // How many bytes are queued and not yet sent.
    virtual qint64 bytesToWrite() = 0;
    // How many bytes have been received and not yet read.
    virtual qint64 bytesAvailable() = 0;
    // Takes every byte received and not yet read.
    virtual QByteArray readAll() = 0;

    // The waits block the calling thread, sleeping, until their condition holds (true) or msecs
    // have passed or the port failed (false).
    // At least count bytes are waiting to be read.
    virtual bool waitForAvailable(qint64 count, int msecs) = 0;
    // Every queued byte has been sent.
    virtual bool waitForWritten(int msecs) = 0;
    // CTS is high.
    virtual bool waitForCts(int msecs) = 0;

    // Why the open port stopped working (the device went away, a read or a write failed); empty
    // while it works.
    virtual QString failure() const = 0;
};

// Makes the port object for an address: the program, the tests and the demo each choose what
// stands behind "COM1". Safe to call from any thread.
class SerialPortFactory
{
public:
    virtual ~SerialPortFactory() = default;

    // A closed port for the address; never null. The port belongs to the thread that uses it.
    virtual std::unique_ptr<SerialPort> makePort(const PortAddress &address) = 0;

    // What stands behind the address, for the technician to tell the ports apart (the device,
    // with the adapter's serial number, say).
    virtual QString describe(const PortAddress &address) const { return address.device; }
};

} // namespace Kv402
