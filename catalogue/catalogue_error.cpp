#include "catalogue/catalogue_error.h"

#include <QFileInfo>

namespace Kv402 {

CatalogueError::CatalogueError(const QString &message)
    : m_message(message)
    , m_utf8(message.toUtf8())
{}

CatalogueError::CatalogueError(Kind kind, const QString &message, const QStringList &arguments)
    : m_kind(kind)
    , m_message(message)
    , m_arguments(arguments)
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

CatalogueError damagedCatalogue(const QString &fileName)
{
    const QString path = QFileInfo(fileName).absoluteFilePath();
    return CatalogueError(CatalogueError::Kind::Damaged,
                          QString::fromUtf8(CatalogueTexts::Damaged).arg(path),
                          {path});
}

CatalogueError unfinishedChange(const QString &fileName, const QString &journal)
{
    const QString path = QFileInfo(fileName).absoluteFilePath();
    return CatalogueError(CatalogueError::Kind::UnfinishedChange,
                          QString::fromUtf8(CatalogueTexts::UnfinishedChange).arg(path, journal),
                          {path, journal});
}

} // namespace Kv402
