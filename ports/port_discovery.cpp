#include "ports/port_discovery.h"

#include "ports/serial_port.h"

namespace Kv402 {

namespace {

// The line settings with which each port is tried.
const QString DiscoverySettings = QStringLiteral("9600,N,8,1");

} // namespace

PortDiscovery discoverPorts(SerialPortFactory &factory)
{
    PortDiscovery found;
    for (int n = PortNames::First; n <= PortNames::Last; ++n) {
        const std::unique_ptr<SerialPort> port = factory.makePort(n);
        PortOpenFailure failure;
        const bool opened = port->open(n, DiscoverySettings, &failure);
        // Kept for Send: a list without ports says why when this user may not open them.
        if (!opened && failure.kind == PortOpenFailure::Kind::AccessDenied) {
            found.deniedPorts.append(
                failure.device.isEmpty()
                    ? portName(n)
                    : QStringLiteral("%1 (%2)").arg(portName(n), failure.device));
        }
        if (opened || failure.kind == PortOpenFailure::Kind::NoModemLines)
            found.ports.append({n, factory.describe(n)});
        port->close();
    }
    return found;
}

} // namespace Kv402
