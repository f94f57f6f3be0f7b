#pragma once

#include "cli/commands.h"

#include <QStringList>

namespace Kv402::Tool {

// kv402 ports [--json]: COM1 to COM16 and every other serial device, with what the system knows
// of each adapter and whether it can be opened now.
int portsCommand(const QStringList &arguments);

} // namespace Kv402::Tool
