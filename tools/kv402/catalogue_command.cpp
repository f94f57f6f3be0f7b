#include "tools/kv402/catalogue_command.h"

#include "catalogue/catalogue_db.h"
#include "catalogue/catalogue_error.h"
#include "catalogue/catalogue_sql.h"

#include <QFile>

#include <cstdio>

namespace Kv402::Tool {

void printOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void printError(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

namespace {

int build(const QString &source, const QString &target)
{
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(
            QStringLiteral("kv402: cannot read \"%1\": %2\n").arg(source, file.errorString()));
        return Failure;
    }
    const QString sql = QString::fromUtf8(file.readAll());
    try {
        buildCatalogue(sql, target);
    } catch (const CatalogueError &error) {
        printError(QStringLiteral("kv402: %1 (source \"%2\")\n").arg(error.message(), source));
        return Failure;
    }
    return Success;
}

int dump(const QString &fileName)
{
    try {
        const auto catalogue = CatalogueDatabase::OpenDatabase(fileName);
        printOut(dumpCatalogue(*catalogue));
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
    if (verb == QLatin1String("build") && arguments.size() == 3)
        return build(arguments.at(1), arguments.at(2));
    if (verb == QLatin1String("dump") && arguments.size() == 2)
        return dump(arguments.at(1));
    printError(QStringLiteral("usage: kv402 catalogue build SOURCE.sql CATALOGUE\n"
                              "       kv402 catalogue dump CATALOGUE\n"));
    return Usage;
}

} // namespace Kv402::Tool
