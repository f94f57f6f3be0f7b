#include "cli/commands.h"
#include "cli/output.h"

#include "catalogue/catalogue_db.h"
#include "catalogue/catalogue_error.h"
#include "catalogue/catalogue_sql.h"
#include "srecord/srecord_core.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402::Tool {

namespace {

const char ReadFailure[] = "kv402: cannot read \"%1\": %2\n";

// The bytes of a source, which must be a regular file: a FIFO or a device such as /dev/zero could
// be read for ever. It is opened without waiting, so that a FIFO without a writer cannot hold the
// opening either. On failure the result is empty and why says what failed.
std::optional<QByteArray> readSource(const QString &source, QString &why)
{
    const int fd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    struct stat info;
    const bool statted = fstat(fd, &info) == 0;
    if (!statted || !S_ISREG(info.st_mode)) {
        why = statted ? QString::fromUtf8(NotRegularFile)
                      : QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        why = file.errorString();
        ::close(fd);
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        why = file.errorString();
        return std::nullopt;
    }
    return bytes;
}

int build(const QString &source, const QString &target)
{
    const std::string refusal = outputRefusal(QFile::encodeName(source).toStdString(),
                                              QFile::encodeName(target).toStdString());
    if (!refusal.empty()) {
        printError(QStringLiteral("kv402: cannot write \"%1\": %2\n")
                       .arg(target, QString::fromStdString(refusal)));
        return Failure;
    }
    QString why;
    const std::optional<QByteArray> script = readSource(source, why);
    if (!script) {
        printError(QString::fromLatin1(ReadFailure).arg(source, why));
        return Failure;
    }
    try {
        buildCatalogue(*script, target);
    } catch (const CatalogueError &error) {
        printError(QStringLiteral("kv402: %1 (source \"%2\")\n").arg(error.message(), source));
        return Failure;
    }
    return Success;
}

int dump(const QString &fileName)
{
    try {
        const auto catalogue = CatalogueDatabase::open(fileName);
        QStringList notes;
        printOut(dumpCatalogue(*catalogue, &notes));
        for (const QString &note : std::as_const(notes))
            printError(QStringLiteral("kv402: %1\n").arg(note));
    } catch (const CatalogueError &error) {
        printError(QStringLiteral("kv402: %1\n").arg(error.message()));
        return Failure;
    }
    return Success;
}

} // namespace

int catalogueCommand(const QStringList &arguments)
{
    const QString verb = arguments.value(0);
    const bool help = std::any_of(arguments.begin(), arguments.end(), [](const QString &argument) {
        return argument == QLatin1String("--help") || argument == QLatin1String("-h");
    });
    if (help) {
        printOut(QString::fromLatin1(CatalogueUsage));
        return Success;
    }
    if (verb == QLatin1String("build") && arguments.size() == 3)
        return build(arguments.at(1), arguments.at(2));
    if (verb == QLatin1String("dump") && arguments.size() == 2)
        return dump(arguments.at(1));
    printError(QString::fromLatin1(CatalogueUsage));
    return Usage;
}

} // namespace Kv402::Tool
