// kv402: the command line of KV402 Master. The commands are looked up in one table; kv402 image,
// the help and the version run before any Qt object is made, since build scripts start the
// image command many times over and Qt's application object would cost more than the image.

#include "cli/commands.h"
#include "cli/output.h"

#include "kv402_version.h"

#include <QCoreApplication>

#include <csignal>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

using namespace Kv402::Tool;

namespace {

struct Command
{
    std::string_view name;
    // Runs with the arguments as the system gave them, before any Qt object is made.
    int (*plain)(std::span<const char *const> arguments);
    // Runs inside the application object.
    int (*inApplication)(const QStringList &arguments);
};

constexpr Command Commands[] = {
    {"catalogue", nullptr, catalogueCommand},
    {"image", imageCommand, nullptr},
    {"send", nullptr, sendCommand},
    {"record", nullptr, recordCommand},
    {"ports", nullptr, portsCommand},
    {"bundle", nullptr, bundleCommand},
};

const Command *findCommand(std::string_view name)
{
    for (const Command &command : Commands) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

int runPlain(int argc, char *argv[])
{
    const std::string_view name = argc > 1 ? argv[1] : "";
    if (name == "--help" || name == "-h") {
        printOut(Kv402::toolUsage());
        return Success;
    }
    if (name == "--version" && argc == 2) {
        printOut("kv402 " KV402_VERSION "\n");
        return Success;
    }
    const Command *command = findCommand(name);
    if (!command) {
        printError(Kv402::toolUsage());
        return Usage;
    }
    return command->plain({argv + 2, size_t(argc - 2)});
}

} // namespace

int main(int argc, char *argv[])
{
    // A reader that goes away (kv402 record | head -1) ends the output, not the program: the
    // write fails with EPIPE and the command stops printing.
    std::signal(SIGPIPE, SIG_IGN);
    const Command *command = argc > 1 ? findCommand(argv[1]) : nullptr;
    if (!command || command->plain) {
        const std::string name = command ? "kv402 " + std::string(command->name) : "kv402";
        return finishOutput(runPlain(argc, argv), name);
    }
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(2);
    return finishOutput(command->inApplication(arguments), "kv402 " + std::string(command->name));
}
