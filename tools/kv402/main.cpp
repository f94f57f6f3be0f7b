#include "tools/kv402/commands.h"

#include <QCoreApplication>

#include <cstring>

using namespace Kv402::Tool;

namespace {

const char UsageText[] = "usage: kv402 catalogue build SOURCE.sql CATALOGUE\n"
                         "       kv402 catalogue dump CATALOGUE\n"
                         "       kv402 image DATAFILE -o OUT.bin\n";

} // namespace

int main(int argc, char *argv[])
{
    // The image command needs no application object; without one the tool starts in a fraction
    // of the time, which counts when a build script turns many data files into images.
    if (argc > 1 && std::strcmp(argv[1], "image") == 0) {
        QStringList arguments;
        for (int i = 2; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        return imageCommand(arguments);
    }
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (command == QLatin1String("catalogue"))
        return catalogueCommand(arguments);
    if (command == QLatin1String("image"))
        return imageCommand(arguments);
    printError(QString::fromLatin1(UsageText));
    return Usage;
}
