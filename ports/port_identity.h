#pragma once

#include "ports/serial_port.h"

#include <QList>
#include <QString>

#include <optional>

namespace Kv402 {

// What the system knows of a serial device, so that a technician can tell one USB adapter from
// another whatever order they were plugged in.
struct PortIdentity
{
    // "COM" and its number, where the device stands for one; empty otherwise.
    QString name;
    // The device, as the system names it now (/dev/ttyUSB0, \\.\COM5).
    QString device;
    // A path that names the same adapter after every plug-in: the link under /dev/serial/by-id
    // that leads to the device (it holds the adapter's serial number); empty where there is none.
    QString stablePath;
    // As the adapter reports itself; empty where it says nothing.
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;

    bool operator==(const PortIdentity &) const = default;
};

// Whether a device could be opened now.
enum class PortState { Free, InUse, NoPermission, Missing, Other };

struct PortListing
{
    PortIdentity identity;
    PortState state = PortState::Missing;
    // The system's reason when the device could not be opened.
    QString reason;
};

// Where the links that name adapters by their serial numbers live.
inline constexpr QLatin1StringView StableDeviceFolder{"/dev/serial/by-id"};

// What the system says of a device: the adapter's own data and its stable path; the COM name
// where it has one. Only the device is filled in for a device the system does not list.
PortIdentity identifyDevice(const QString &device, const QString &stableFolder = StableDeviceFolder);

// "COM5: /dev/ttyUSB0 (FT232R USB UART, serial number A50285BI)": the device, and the adapter's
// description and serial number where it has them, for the technician to tell ports apart.
QString describePort(const PortIdentity &identity);

// A device a command line names: a COM name, a link (such as the stable path) followed to the
// device it leads to, or a device path. The COM number is that of the device reached, where it
// stands for one. The device is empty when nothing exists under the path.
struct NamedDevice
{
    QString device;
    std::optional<int> portNumber;
};
NamedDevice resolveDevicePath(const QString &path);

// Tries to open the device for reading and writing as the loader would, and closes it again
// without sending, receiving or changing any setting: free, held by another program, not open to
// this user, missing.
PortListing probePort(const PortIdentity &identity);

// COM1 to COM16, then every other serial device the system lists, each with its state.
QList<PortListing> listPorts();

} // namespace Kv402
