#pragma once

#include "catalogue/catalogue_db.h"

namespace Kv402 {

// The catalogue stored as an Access (Jet 3 or Jet 4) database, read through libmdb and never
// written. libmdb ignores the database password, so the file's password is checked here.
//
// libmdb follows a file's pages without checks, so a damaged file can crash it or keep it
// reading for ever. The whole file is therefore read at once, in a process of its own with a
// time limit, which hands the rows back; any trouble there makes the catalogue damaged.
class JetStorage : public CatalogueStorage
{
public:
    // Reads every table. Throws CatalogueError when the file is not a Jet database or its
    // password differs from the given one (a file without a password opens whatever password is
    // given), and one of kind Damaged when it cannot be read whole.
    JetStorage(const QString &fileName, const QString &password);

    // Every field is read as text. Columns of pictures and other binary data have no text and are
    // left out.
    TableData readTable(const QString &table) const override;
    // The user tables, without the engine's own MSys tables, in the order of its catalog.
    QStringList tableNames() const override;

private:
    QString m_fileName;
    QList<TableData> m_tables;
};

} // namespace Kv402
