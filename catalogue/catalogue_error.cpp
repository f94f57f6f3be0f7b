#include "catalogue/catalogue_error.h"

#include <QFileInfo>

namespace Kv402 {

CatalogueError::CatalogueError(const QString &message)
    : m_message(message)
    , m_utf8(message.toUtf8())
{}

CatalogueError notACatalogue(const QString &fileName)
{
    return CatalogueError(
        QStringLiteral("Cannot open the catalogue \"%1\": the file is not a catalogue "
                       "database, or the catalogue password does not open it.")
            .arg(QFileInfo(fileName).absoluteFilePath()));
}

CatalogueError missingTable(const QString &fileName, const QString &table)
{
    return CatalogueError(QStringLiteral("The catalogue \"%1\" has no table \"%2\".")
                              .arg(QFileInfo(fileName).absoluteFilePath(), table));
}

} // namespace Kv402
