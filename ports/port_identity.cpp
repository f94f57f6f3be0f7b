#include "ports/port_identity.h"

#include "ports/qt_serial_port.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <algorithm>

namespace Kv402 {

namespace {

// The device a path leads to, links followed; the path itself where it cannot be followed (a
// device that does not exist, a Windows device name).
QString realDevice(const QString &path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

std::optional<int> portNumberOfDevice(const QString &device)
{
    const QString real = realDevice(device);
    for (int n = PortNames::First; n <= PortNames::Last; ++n) {
        const QString candidate = portDevice(n);
        if (candidate == device || realDevice(candidate) == real)
            return n;
    }
    return std::nullopt;
}

QString stablePathOf(const QString &device, const QString &stableFolder)
{
    const QString real = realDevice(device);
    const QFileInfoList links = QDir(stableFolder)
                                    .entryInfoList(QDir::Files | QDir::System, QDir::Name);
    for (const QFileInfo &link : links) {
        if (link.isSymLink() && link.canonicalFilePath() == real)
            return link.absoluteFilePath();
    }
    return {};
}

PortIdentity identify(const QString &device,
                      const QList<QSerialPortInfo> &known,
                      const QString &stableFolder)
{
    PortIdentity identity;
    identity.device = device;
    if (const std::optional<int> number = portNumberOfDevice(device))
        identity.name = portName(*number);
    identity.stablePath = stablePathOf(device, stableFolder);
    const QString real = realDevice(device);
    const auto info = std::find_if(known.begin(), known.end(), [&](const QSerialPortInfo &port) {
        return port.systemLocation() == device || realDevice(port.systemLocation()) == real;
    });
    if (info == known.end())
        return identity;
    identity.description = info->description();
    identity.manufacturer = info->manufacturer();
    identity.serialNumber = info->serialNumber();
    if (info->hasVendorIdentifier())
        identity.vendorId = info->vendorIdentifier();
    if (info->hasProductIdentifier())
        identity.productId = info->productIdentifier();
    return identity;
}

PortState stateOf(PortOpenFailure::Kind kind)
{
    switch (kind) {
    case PortOpenFailure::Kind::Missing:
        return PortState::Missing;
    case PortOpenFailure::Kind::AccessDenied:
        return PortState::NoPermission;
    case PortOpenFailure::Kind::InUse:
        return PortState::InUse;
    case PortOpenFailure::Kind::NoModemLines:
    case PortOpenFailure::Kind::Other:
        break;
    }
    return PortState::Other;
}

} // namespace

PortIdentity identifyDevice(const QString &device, const QString &stableFolder)
{
    return identify(device, QSerialPortInfo::availablePorts(), stableFolder);
}

QString describePort(const PortIdentity &identity)
{
    QStringList details;
    if (!identity.description.isEmpty())
        details.append(identity.description);
    if (!identity.serialNumber.isEmpty())
        details.append(QStringLiteral("serial number %1").arg(identity.serialNumber));
    if (details.isEmpty())
        return identity.device;
    return QStringLiteral("%1 (%2)").arg(identity.device, details.join(QStringLiteral(", ")));
}

NamedDevice resolveDevicePath(const QString &path)
{
    NamedDevice named;
    const std::optional<int> comNumber = portNumberOf(path);
    const QString device = comNumber ? portDevice(*comNumber) : path;
    const QFileInfo info(device);
    if (!info.exists())
        return named;
    named.device = info.canonicalFilePath();
    named.portNumber = comNumber ? comNumber : portNumberOfDevice(named.device);
    return named;
}

PortListing probePort(const PortIdentity &identity)
{
    PortListing listing{identity, PortState::Free, {}};
    // QSerialPort takes the same lock file and exclusive hold as a load would, so a device that a
    // load could not open is seen as such. No setting is given: the port's own are restored on
    // closing.
    QSerialPort port;
    port.setPortName(identity.device);
    if (port.open(QIODevice::ReadWrite)) {
        port.close();
        return listing;
    }
    listing.state = stateOf(openFailureKind(port.error(), deviceAccessible(identity.device)));
    listing.reason = port.errorString();
    return listing;
}

QList<PortListing> listPorts()
{
    const QList<QSerialPortInfo> known = QSerialPortInfo::availablePorts();
    QList<PortListing> listings;
    QStringList listed;
    for (int n = PortNames::First; n <= PortNames::Last; ++n) {
        const QString device = portDevice(n);
        PortIdentity identity = identify(device, known, StableDeviceFolder);
        identity.name = portName(n);
        listings.append(probePort(identity));
        listed.append(realDevice(device));
    }
    QStringList others;
    for (const QSerialPortInfo &port : known) {
        if (!listed.contains(realDevice(port.systemLocation())))
            others.append(port.systemLocation());
    }
    others.sort();
    others.removeDuplicates();
    for (const QString &device : std::as_const(others))
        listings.append(probePort(identify(device, known, StableDeviceFolder)));
    return listings;
}

} // namespace Kv402
