#pragma once

#include "simulator/simulated_terminal.h"

#include <QStringList>
#include <QStringView>

#include <optional>

namespace Kv402 {

// The simulated terminals that the demo program shows and that `kv402 send --simulate` loads:
// "healthy" accepts every block; "no-cable" holds CTS low; "noisy" sends some echoes back
// corrupted, but every block is accepted within ten attempts; "flash-error" cannot write its
// fourth block; "silent" stops answering at its sixth block; "returning" is healthy and, after a
// completed load, drops CTS for about a second as the next terminal is plugged in.
std::optional<SimulatedTerminal::Options> terminalProfile(QStringView name);
QStringList terminalProfileNames();

} // namespace Kv402
