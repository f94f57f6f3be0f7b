#include "demo/demo_terminals.h"

#include "loader/srecord_image.h"
#include "simulator/simulated_terminal.h"

namespace Kv402 {

namespace {

enum DemoPort { Healthy = 1, NoCable, NoisyLine, FlashFault, FallsSilent };

// The noisy line: every seventh block's first echo is garbled, and every thirteenth block's
// first three; no block needs more than four attempts.
std::set<SimulatedTerminal::Attempt> noisyEchoes()
{
    std::set<SimulatedTerminal::Attempt> garbled;
    for (int block = 0; block < Image::MaxBlocks; ++block) {
        if (block % 7 == 3)
            garbled.insert({block, 1});
        if (block % 13 == 5) {
            for (int attempt = 1; attempt <= 3; ++attempt)
                garbled.insert({block, attempt});
        }
    }
    return garbled;
}

// The fourth block, counted from 0.
constexpr int FlashFaultBlock = 3;
// Silent from its sixth block on.
constexpr int SilentFromBlock = 5;

} // namespace

void attachDemoTerminals(SimulatedPorts &ports, bool paced)
{
    auto attach = [&](DemoPort port, SimulatedTerminal::Options options) {
        options.paced = paced;
        ports.attach(port, std::make_shared<SimulatedTerminal>(options));
    };

    attach(Healthy, {});

    SimulatedTerminal::Options noCable;
    noCable.cableConnected = false;
    attach(NoCable, noCable);

    SimulatedTerminal::Options noisy;
    noisy.corruptedEchoes = noisyEchoes();
    attach(NoisyLine, noisy);

    SimulatedTerminal::Options flashFault;
    flashFault.flashErrorAt = FlashFaultBlock;
    attach(FlashFault, flashFault);

    SimulatedTerminal::Options silent;
    silent.silentFrom = SimulatedTerminal::SilentFrom{SilentFromBlock,
                                                      SimulatedTerminal::Silence::NoEcho};
    attach(FallsSilent, silent);
}

} // namespace Kv402
