#pragma once

#include "cli/usage.h"

#include <span>

// The subcommands of the kv402 tool. Each takes the arguments after its name and returns the
// process's exit status: 0 on success, 1 on failure, 2 on wrong usage.
namespace Kv402::Tool {

inline constexpr int Success = 0;
inline constexpr int Failure = 1;
inline constexpr int Usage = 2;

// kv402 image DATAFILE -o OUT.bin: the blocks a load run would send, as one binary file. Needs
// no Qt: kv402 runs it itself.
int imageCommand(std::span<const char *const> arguments);

} // namespace Kv402::Tool
