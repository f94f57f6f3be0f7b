#pragma once

#include "ports/serial_port.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Kv402 {

// A port that the discovery lists.
struct FoundPort
{
    PortAddress address;
    // What stands behind it, for the technician to tell the ports apart.
    QString description;

    bool operator==(const FoundPort &) const = default;
};

struct PortDiscovery
{
    // In ascending order.
    QList<FoundPort> ports;
    // Ports that exist but that this user may not open, as "COM3 (/dev/ttyS2)".
    QStringList deniedPorts;
};

// Tries COM1 to COM16 in turn and closes each again; nothing is sent or received. A port is
// listed when it opens, and also when it lacks only the modem lines: a load through it says what
// it lacks. A port that is missing, busy or fails in any other way is passed over in silence.
PortDiscovery discoverPorts(SerialPortFactory &factory);

} // namespace Kv402
