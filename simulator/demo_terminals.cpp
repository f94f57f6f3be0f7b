#include "simulator/demo_terminals.h"

#include "simulator/terminal_profiles.h"

namespace Kv402 {

void attachDemoTerminals(SimulatedPorts &ports, bool paced)
{
    // COM1 to COM5, in the order of the profiles.
    int port = 1;
    for (const QString &name : terminalProfileNames()) {
        SimulatedTerminal::Options options = *terminalProfile(name);
        options.paced = paced;
        ports.attach(port++, std::make_shared<SimulatedTerminal>(options));
    }
}

} // namespace Kv402
