#pragma once

#include "catalogue/exclusive_hold.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace Kv402 {

// A field value as stored: std::nullopt is a null field, which is not the empty text.
using FieldValue = std::optional<QString>;

// One table as the storage delivers it: its columns, and its rows in stored order.
struct TableData
{
    QString name;
    QStringList columns;
    QList<QList<FieldValue>> rows;
    // The columns the storage has but cannot read as text, and so leaves out.
    QStringList omittedColumns;

    // Index of a column by name (names compare without regard to case), or -1.
    int columnIndex(const QString &column) const;
};

// The storage engine behind a catalogue file. Backends read whole tables: catalogues are small,
// and what is made of the rows then works the same over every backend.
class CatalogueStorage
{
public:
    virtual ~CatalogueStorage() = default;

    // Throws CatalogueError when the table does not exist or cannot be read.
    virtual TableData readTable(const QString &table) const = 0;
    // Every table of the file, in the order the storage keeps them.
    virtual QStringList tableNames() const = 0;
};

// An open catalogue. Opening holds the file for this process's exclusive use until
// the process ends, so a second running copy of the program cannot open it.
class CatalogueDatabase
{
public:
    // Opens the catalogue read-only with the catalogue password; picks the backend by the file's
    // content. Throws CatalogueError naming the file and the reason. Opening a file that this
    // process has open already, unchanged since, shares that connection: the key derivation of
    // an encrypted catalogue takes tens of milliseconds, and the file is held exclusively anyway.
    static std::unique_ptr<CatalogueDatabase> open(const QString &fileName,
                                                   CatalogueHold hold = CatalogueHold::Exclusive);

    explicit CatalogueDatabase(QString fileName, std::shared_ptr<CatalogueStorage> storage);
    ~CatalogueDatabase();

    // All rows of the table, in stored order; throws CatalogueError when the table is missing.
    TableData readTable(const QString &table) const { return m_storage->readTable(table); }

    QStringList tableNames() const { return m_storage->tableNames(); }
    const QString &fileName() const { return m_fileName; }

private:
    QString m_fileName;
    std::shared_ptr<CatalogueStorage> m_storage;
};

} // namespace Kv402
