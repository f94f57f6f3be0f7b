#pragma once

#include "cli/usage.h"

#include <QStringList>

#include <span>

// The commands of the kv402 program and its exit statuses. Each command takes the arguments
// after its name and returns the process's exit status.
namespace Kv402::Tool {

inline constexpr int Success = 0;
// The command failed; kv402 send: some port ended otherwise than completed.
inline constexpr int Failure = 1;
inline constexpr int Usage = 2;
// kv402 send: the data file or the catalogue could not be used; nothing was sent on any port.
// kv402 record push: the record could not be read; nothing was pushed.
inline constexpr int NothingSent = 3;
// kv402 send, ended by a signal: this plus the signal's number, as a shell reports it.
inline constexpr int SignalBase = 128;

// kv402 image DATAFILE -o OUT.bin: the blocks a load run would send, as one binary file. It runs
// before any Qt object is made, with the arguments as the system gave them.
int imageCommand(std::span<const char *const> arguments);

// kv402 catalogue build SOURCE.sql CATALOGUE, kv402 catalogue dump CATALOGUE.
int catalogueCommand(const QStringList &arguments);

// kv402 send: loads terminals on several ports at once, one load session each.
int sendCommand(const QStringList &arguments);

// kv402 record: the load record as a table, or as it is (--json); --since DATE.
int recordCommand(const QStringList &arguments);

// kv402 record push --to URL [--record FILE]: the lines of the record that the PostgreSQL server
// does not have yet, pushed to it.
int recordPushCommand(const QStringList &arguments);

// kv402 ports [--json]: COM1 to COM16 and every other serial device, with what the system knows
// of each adapter and whether it can be opened now.
int portsCommand(const QStringList &arguments);

// kv402 bundle make|sign|verify|install: signed release bundles. verify: Success when sound,
// Failure when refused, Usage, NothingSent when the bundle cannot be read.
int bundleCommand(const QStringList &arguments);

} // namespace Kv402::Tool
