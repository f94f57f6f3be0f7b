#pragma once

#include "catalogue/catalogue_db.h"

#include <QByteArray>

struct sqlite3;
struct sqlite3_stmt;

namespace Kv402 {

// A connection to an SQLCipher database, closed when destroyed.
class SqlCipherConnection
{
public:
    enum class Mode { ReadOnly, Create };

    // Opens the file and sets the key. Throws CatalogueError naming the file.
    SqlCipherConnection(const QString &fileName, Mode mode, const QByteArray &key);
    ~SqlCipherConnection();

    SqlCipherConnection(const SqlCipherConnection &) = delete;
    SqlCipherConnection &operator=(const SqlCipherConnection &) = delete;

    // Runs SQL text of one or more statements; throws CatalogueError with SQLite's reason.
    void exec(const QString &sql);

    sqlite3 *handle() const { return m_db; }
    const QString &fileName() const { return m_fileName; }
    QString lastError() const;

private:
    sqlite3 *m_db = nullptr;
    QString m_fileName;
};

// One prepared statement, finalized when destroyed.
class SqlStatement
{
public:
    SqlStatement(const SqlCipherConnection &connection, const QString &sql);
    ~SqlStatement();

    SqlStatement(const SqlStatement &) = delete;
    SqlStatement &operator=(const SqlStatement &) = delete;

    void bind(int index, const QString &text);
    // Steps to the next row: true while there is one. Throws CatalogueError on failure.
    bool next();

    int columnCount() const;
    QString columnName(int column) const;
    FieldValue value(int column) const;

private:
    const SqlCipherConnection &m_connection;
    sqlite3_stmt *m_statement = nullptr;
};

// The catalogue stored as an SQLite database encrypted with SQLCipher, opened read-only.
class SqlCipherStorage : public CatalogueStorage
{
public:
    // Throws CatalogueError when the file is not an SQLCipher database under this key, and one of
    // kind UnfinishedChange when a journal with content lies beside it.
    SqlCipherStorage(const QString &fileName, const QByteArray &key);

    TableData readTable(const QString &table) const override;
    QStringList tableNames() const override;

private:
    SqlCipherConnection m_connection;
};

// Writes a new catalogue from SQL text, in one transaction; the text's own BEGIN and COMMIT are
// passed over. The file is built beside the target and then renamed over it, so a failed build
// leaves the target as it was; a symbolic link is followed, and a target that is not a regular
// file is refused. Throws CatalogueError, naming the line for a failure within the text: text that
// is not UTF-8 or holds a NUL, a statement that sets the key or the cipher settings, ATTACH and
// ROLLBACK are refused.
void buildSqlCipherCatalogue(const QByteArray &script,
                             const QString &fileName,
                             const QByteArray &key);
void buildSqlCipherCatalogue(const QString &sqlText, const QString &fileName, const QByteArray &key);

} // namespace Kv402
