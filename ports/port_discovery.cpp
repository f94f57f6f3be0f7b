#include "ports/port_discovery.h"

#include "ports/serial_port.h"

namespace Kv402 {

namespace {

// The line settings with which each port is tried.
constexpr LineSettings DiscoverySettings{9600, LineSettings::Parity::None, 8,
                                         LineSettings::StopBits::One};

} // namespace

PortDiscovery discoverPorts(SerialPortFactory &factory)
{
    PortDiscovery found;
    for (int n = PortNames::First; n <= PortNames::Last; ++n) {
        const PortAddress address = portAddress(n);
        const std::unique_ptr<SerialPort> port = factory.makePort(address);
        PortOpenFailure failure;
        const bool opened = port->open(DiscoverySettings, &failure);
        // Kept for Send: a list without ports says why when this user may not open them.
        if (!opened && failure.kind == PortOpenFailure::Kind::AccessDenied) {
            found.deniedPorts.append(
                failure.device.isEmpty()
                    ? portName(n)
                    : QStringLiteral("%1 (%2)").arg(portName(n), failure.device));
        }
        if (opened || failure.kind == PortOpenFailure::Kind::NoModemLines)
            found.ports.append({address, factory.describe(address)});
        port->close();
    }
    return found;
}

} // namespace Kv402
