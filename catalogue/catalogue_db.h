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
// and the recordset operations then work the same over every backend.
class CatalogueStorage
{
public:
    virtual ~CatalogueStorage() = default;

    // Throws CatalogueError when the table does not exist or cannot be read.
    virtual TableData readTable(const QString &table) const = 0;
    // Every table of the file, in the order the storage keeps them.
    virtual QStringList tableNames() const = 0;
};

// The search criterion of the version and language selection: the rows whose Versione and Lingua
// equal these texts exactly. It is matched as data and never pasted into a query, so quotes in the
// texts do no harm.
struct Criterion
{
    QString version;
    QString language;
};

// A recordset over all rows of one catalogue table, with a current row.
class Recordset
{
public:
    Recordset(TableData table, QString fileName);

    // Makes the first row current; throws CatalogueError on a table without rows.
    void MoveFirst();
    // True once the current position has passed the last row. (EOF itself is a C macro.)
    bool Eof() const { return m_row >= m_table.rows.size(); }
    void MoveNext();

    // The value of a field of the current row as text. Throws CatalogueError when the field does
    // not exist, is null, or there is no current row.
    QString Fields(const QString &field) const;

    void FindFirst(const Criterion &criterion);
    void FindNext(const Criterion &criterion);
    bool NoMatch() const { return m_noMatch; }

    const QString &tableName() const { return m_table.name; }
    const TableData &table() const { return m_table; }

private:
    void findFrom(qsizetype row, const Criterion &criterion);
    int requireColumn(const QString &field) const;

    TableData m_table;
    QString m_fileName;
    qsizetype m_row = 0;
    bool m_noMatch = false;
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

    // A recordset over all rows of the table; throws CatalogueError when the table is missing.
    std::unique_ptr<Recordset> OpenRecordset(const QString &table) const;
    // All rows of the table, in stored order; throws CatalogueError when the table is missing.
    TableData readTable(const QString &table) const { return m_storage->readTable(table); }

    QStringList tableNames() const { return m_storage->tableNames(); }
    const QString &fileName() const { return m_fileName; }

private:
    QString m_fileName;
    std::shared_ptr<CatalogueStorage> m_storage;
};

} // namespace Kv402
