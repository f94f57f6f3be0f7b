#include "simulator/terminal_profiles.h"

#include "link/srecord_image.h"

namespace Kv402 {

namespace {

const QLatin1StringView Healthy{"healthy"};
const QLatin1StringView NoCable{"no-cable"};
const QLatin1StringView Noisy{"noisy"};
const QLatin1StringView FlashError{"flash-error"};
const QLatin1StringView Silent{"silent"};
const QLatin1StringView Returning{"returning"};

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
// The time a technician takes to unplug a loaded terminal and plug in the next.
constexpr std::chrono::milliseconds TerminalChange{1000};

} // namespace

QStringList terminalProfileNames()
{
    return {Healthy, NoCable, Noisy, FlashError, Silent, Returning};
}

std::optional<SimulatedTerminal::Options> terminalProfile(QStringView name)
{
    SimulatedTerminal::Options options;
    if (name == Healthy)
        return options;
    if (name == NoCable) {
        options.cableConnected = false;
        return options;
    }
    if (name == Noisy) {
        options.corruptedEchoes = noisyEchoes();
        return options;
    }
    if (name == FlashError) {
        options.flashErrorAt = FlashFaultBlock;
        return options;
    }
    if (name == Silent) {
        options.silentFrom = SimulatedTerminal::SilentFrom{SilentFromBlock,
                                                           SimulatedTerminal::Silence::NoEcho};
        return options;
    }
    if (name == Returning) {
        options.awayAfterLoad = TerminalChange;
        return options;
    }
    return std::nullopt;
}

} // namespace Kv402
