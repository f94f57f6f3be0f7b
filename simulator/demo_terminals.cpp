#include "simulator/demo_terminals.h"

#include "simulator/terminal_profiles.h"

namespace Kv402 {

void attachDemoTerminals(SimulatedPorts &ports, bool paced)
{
    // COM1 to COM5; the other ports stay the platform's.
    const QStringList profiles{QStringLiteral("healthy"),
                               QStringLiteral("no-cable"),
                               QStringLiteral("noisy"),
                               QStringLiteral("flash-error"),
                               QStringLiteral("silent")};
    int port = 1;
    for (const QString &name : profiles) {
        SimulatedTerminal::Options options = *terminalProfile(name);
        options.paced = paced;
        ports.attach(port++, std::make_shared<SimulatedTerminal>(options));
    }
}

} // namespace Kv402
