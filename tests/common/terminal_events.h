#pragma once

#include "link/link_constants.h"
#include "simulator/simulated_terminal.h"

namespace Kv402::Test {

// How many headers the PC sent the terminal: one for every run that found the cable.
inline int headersSent(const SimulatedTerminal &terminal)
{
    int headers = 0;
    for (const SimulatedTerminal::Event &event : terminal.events()) {
        if (event.kind == SimulatedTerminal::Event::Kind::PcSent
            && event.bytes.size() == Link::HeaderSize) {
            ++headers;
        }
    }
    return headers;
}

} // namespace Kv402::Test
