#pragma once

#include "catalogue/catalogue_db.h"

#include <memory>

namespace Kv402 {

// The catalogue stored as an Access (Jet 3 or Jet 4) database, read through libmdb and never
// written. libmdb ignores the database password, so the file's password is checked here.
class JetStorage : public CatalogueStorage
{
public:
    // Throws CatalogueError when the file is not a Jet database or its password differs from the
    // given one; a file without a password opens whatever password is given.
    JetStorage(const QString &fileName, const QString &password);
    ~JetStorage() override;

    JetStorage(const JetStorage &) = delete;
    JetStorage &operator=(const JetStorage &) = delete;

    // Every field is read as text. Columns of pictures and other binary data have no text and are
    // left out.
    TableData readTable(const QString &table) const override;
    // The user tables, without the engine's own MSys tables, in the order of its catalog.
    QStringList tableNames() const override;

private:
    struct Database;

    QString m_fileName;
    std::unique_ptr<Database> m_db;
};

} // namespace Kv402
