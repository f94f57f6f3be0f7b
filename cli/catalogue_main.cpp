// kv402-catalogue: the commands of the kv402 tool that need Qt. kv402 runs the image command
// itself and starts this program, with the same arguments, for every other one.

#include "cli/catalogue_command.h"
#include "cli/output.h"
#include "cli/ports_command.h"
#include "cli/send_command.h"

#include <QCoreApplication>

#include <csignal>

using namespace Kv402::Tool;

namespace {

int runCommand(const QString &command, const QStringList &arguments)
{
    if (command == QLatin1String("catalogue"))
        return catalogueCommand(arguments);
    if (command == QLatin1String("send"))
        return sendCommand(arguments);
    if (command == QLatin1String("record"))
        return recordCommand(arguments);
    if (command == QLatin1String("ports"))
        return portsCommand(arguments);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        printOut(QString::fromStdString(Kv402::toolUsage()));
        return Success;
    }
    printError(QString::fromStdString(Kv402::toolUsage()));
    return Usage;
}

} // namespace

int main(int argc, char *argv[])
{
    // A reader that goes away (kv402 record | head -1) ends the output, not the program: the
    // write fails with EPIPE and the command stops printing.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    const int status = runCommand(command, arguments);
    const bool known = QStringList{QStringLiteral("catalogue"),
                                   QStringLiteral("send"),
                                   QStringLiteral("record"),
                                   QStringLiteral("ports")}
                           .contains(command);
    return finishOutput(status,
                        known ? QStringLiteral("kv402 ") + command : QStringLiteral("kv402"));
}
