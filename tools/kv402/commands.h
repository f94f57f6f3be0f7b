#pragma once

#include <QStringList>

// The subcommands of the kv402 tool. Each takes the arguments after its name and returns the
// process's exit status: 0 on success, 1 on failure, 2 on wrong usage.
namespace Kv402::Tool {

inline constexpr int Success = 0;
inline constexpr int Failure = 1;
inline constexpr int Usage = 2;

int catalogueCommand(const QStringList &arguments);
// kv402 image DATAFILE -o OUT.bin: the blocks a load run would send, as one binary file.
int imageCommand(const QStringList &arguments);

// Prints to the standard streams.
void printOut(const QString &text);
void printError(const QString &text);

} // namespace Kv402::Tool
