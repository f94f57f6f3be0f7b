#pragma once

#include "bundle/bundle_check.h"
#include "load/load_record.h"
#include "load/load_run.h"
#include "ports/serial_port.h"
#include "simulator/simulated_terminal.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <variant>
#include <vector>

namespace Kv402::Tool {

// The command's name, as its messages and the load record give it.
inline constexpr char SendCommandName[] = "kv402 send";

// One port of a send: its name in the output and the device behind it, or a simulated terminal.
struct SendTarget
{
    PortAddress address;
    std::optional<SimulatedTerminal::Options> simulated;

    const QString &name() const { return address.name; }
    // The device as the output names it.
    QString device() const;
};

// What kv402 send is to do, checked: the data file, the ports, and the answers to a load's
// questions.
struct SendOptions
{
    QString dataFile;
    // The catalogue's revision, version and language; all empty for --file.
    LoadChoice choice;
    // In the order given.
    std::vector<SendTarget> targets;
    bool acceptBadChecksums = false;
    // How long a port without cable is tried again.
    std::chrono::milliseconds cableWait{0};
    bool again = false;
    bool json = false;
    // Simulated terminals without wire time, a silent one given up soon.
    bool fast = false;
    QString recordFile;
    // The signed bundle the data file comes from; none without one.
    std::optional<VerifiedBundle> bundle;
};

// The options of kv402 send, the data file found in the catalogue when it is chosen there. Returns
// the exit status instead when the command ends here: Success after the help, Usage after telling
// what is wrong, NothingSent when the catalogue cannot be used or names no data file.
std::variant<SendOptions, int> sendOptions(const QStringList &arguments);

} // namespace Kv402::Tool
