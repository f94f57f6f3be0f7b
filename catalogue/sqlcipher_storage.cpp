#include "catalogue/sqlcipher_storage.h"

#include "catalogue/catalogue_error.h"

#include <QFile>
#include <QFileInfo>

#define SQLITE_HAS_CODEC 1
#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace Kv402 {

namespace {

// SQLCipher 4 changed its default cipher settings; pinning the version 3 format keeps a catalogue
// readable by whichever SQLCipher opens it. SQLCipher 3 does not know the pragma and ignores it.
const char PinCipherFormat[] = "PRAGMA cipher_compatibility = 3;";

QString displayName(const QString &fileName)
{
    return QFileInfo(fileName).absoluteFilePath();
}

// What SQLite leaves beside a database while a change is being written: the rollback journal or
// the write-ahead log. Either one left with content means that a change never finished.
const QLatin1StringView ChangeJournalSuffixes[] = {QLatin1StringView("-journal"),
                                                   QLatin1StringView("-wal")};

// A read-only connection cannot roll an unfinished change back, and SQLite then refuses the
// file as if it were no database. The file is named before that.
const QString &withoutUnfinishedChange(const QString &fileName)
{
    const QString path = displayName(fileName);
    for (const QLatin1StringView suffix : ChangeJournalSuffixes) {
        const QFileInfo journal(path + suffix);
        if (journal.isFile() && journal.size() > 0)
            throw unfinishedChange(path, journal.fileName());
    }
    return fileName;
}

QString quotedIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

SqlCipherConnection::SqlCipherConnection(const QString &fileName, Mode mode, const QByteArray &key)
    : m_fileName(fileName)
{
    const int flags = mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY
                                             : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const QByteArray path = QFile::encodeName(fileName);
    const int rc = sqlite3_open_v2(path.constData(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason = m_db ? lastError() : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw CatalogueError(QStringLiteral("Cannot open the catalogue \"%1\": %2.")
                                 .arg(displayName(fileName), reason));
    }
    // An empty key leaves the database unencrypted.
    if (!key.isEmpty() && sqlite3_key(m_db, key.constData(), int(key.size())) != SQLITE_OK) {
        const QString reason = lastError();
        sqlite3_close(m_db);
        m_db = nullptr;
        throw CatalogueError(QStringLiteral("Cannot set the key of the catalogue \"%1\": %2.")
                                 .arg(displayName(fileName), reason));
    }
    sqlite3_exec(m_db, PinCipherFormat, nullptr, nullptr, nullptr);
}

SqlCipherConnection::~SqlCipherConnection()
{
    sqlite3_close(m_db);
}

void SqlCipherConnection::exec(const QString &sql)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString reason = QString::fromUtf8(message ? message : sqlite3_errmsg(m_db));
        sqlite3_free(message);
        throw CatalogueError(
            QStringLiteral("Catalogue \"%1\": %2.").arg(displayName(m_fileName), reason));
    }
}

QString SqlCipherConnection::lastError() const
{
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

SqlStatement::SqlStatement(const SqlCipherConnection &connection, const QString &sql)
    : m_connection(connection)
{
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(connection.handle(),
                           text.constData(),
                           int(text.size()),
                           &m_statement,
                           nullptr)
        != SQLITE_OK) {
        throw CatalogueError(QStringLiteral("Cannot read the catalogue \"%1\": %2.")
                                 .arg(displayName(connection.fileName()), connection.lastError()));
    }
}

SqlStatement::~SqlStatement()
{
    sqlite3_finalize(m_statement);
}

void SqlStatement::bind(int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

bool SqlStatement::next()
{
    switch (sqlite3_step(m_statement)) {
    case SQLITE_ROW:
        return true;
    case SQLITE_DONE:
        return false;
    default:
        throw CatalogueError(
            QStringLiteral("Cannot read the catalogue \"%1\": %2.")
                .arg(displayName(m_connection.fileName()), m_connection.lastError()));
    }
}

int SqlStatement::columnCount() const
{
    return sqlite3_column_count(m_statement);
}

QString SqlStatement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_statement, column));
}

FieldValue SqlStatement::value(int column) const
{
    if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
        return std::nullopt;
    const auto text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(m_statement, column));
}

SqlCipherStorage::SqlCipherStorage(const QString &fileName, const QByteArray &key)
    : m_connection(withoutUnfinishedChange(fileName), SqlCipherConnection::Mode::ReadOnly, key)
{
    // The key is only tried on the first read: a wrong key and a file that is no database fail
    // alike here.
    try {
        SqlStatement probe(m_connection, QStringLiteral("SELECT count(*) FROM sqlite_master"));
        probe.next();
    } catch (const CatalogueError &) {
        throw notACatalogue(fileName);
    }
}

QStringList SqlCipherStorage::tableNames() const
{
    SqlStatement query(m_connection,
                       QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' "
                                      "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid"));
    QStringList names;
    while (query.next())
        names.append(query.value(0).value_or(QString()));
    return names;
}

TableData SqlCipherStorage::readTable(const QString &table) const
{
    // Table names compare without regard to case, as SQLite itself does.
    SqlStatement lookup(m_connection,
                        QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' "
                                       "AND name = ?1 COLLATE NOCASE"));
    lookup.bind(1, table);
    if (!lookup.next())
        throw missingTable(m_connection.fileName(), table);
    TableData data;
    data.name = lookup.value(0).value_or(table);

    // A plain table scan delivers the rows in stored (rowid) order.
    SqlStatement rows(m_connection, QStringLiteral("SELECT * FROM ") + quotedIdentifier(data.name));
    for (int c = 0; c < rows.columnCount(); ++c)
        data.columns.append(rows.columnName(c));
    while (rows.next()) {
        QList<FieldValue> row;
        row.reserve(data.columns.size());
        for (int c = 0; c < data.columns.size(); ++c)
            row.append(rows.value(c));
        data.rows.append(std::move(row));
    }
    return data;
}

namespace {

// Runs a script statement by statement, so that a failure can name the line it is on.
void execScript(const SqlCipherConnection &connection, const QString &sqlText)
{
    const QByteArray script = sqlText.toUtf8();
    const char *start = script.constData();
    const char *const end = start + script.size();
    while (start < end) {
        // The statement's line: that of its first character after leading blanks.
        const char *first = start + std::strspn(start, " \t\r\n");
        const int line = 1 + int(std::count(script.constData(), first, '\n'));
        sqlite3_stmt *statement = nullptr;
        const char *tail = nullptr;
        int rc = sqlite3_prepare_v2(connection.handle(), start, int(end - start), &statement, &tail);
        if (rc == SQLITE_OK && statement) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
            }
            rc = sqlite3_finalize(statement);
        }
        if (rc != SQLITE_OK)
            throw CatalogueError(
                QStringLiteral("line %1: %2.").arg(line).arg(connection.lastError()));
        if (!tail || tail == start)
            break;
        start = tail;
    }
}

} // namespace

void buildSqlCipherCatalogue(const QString &sqlText, const QString &fileName, const QByteArray &key)
{
    const QString target = QFileInfo(fileName).absoluteFilePath();
    const QString partial = target + QStringLiteral(".partial");
    QFile::remove(partial);
    try {
        SqlCipherConnection connection(partial, SqlCipherConnection::Mode::Create, key);
        connection.exec(QStringLiteral("BEGIN;"));
        execScript(connection, sqlText);
        connection.exec(QStringLiteral("COMMIT;"));
    } catch (const CatalogueError &error) {
        QFile::remove(partial);
        throw CatalogueError(
            QStringLiteral("Cannot build the catalogue \"%1\": %2").arg(target, error.message()));
    }
    QFile::remove(target);
    if (!QFile::rename(partial, target)) {
        QFile::remove(partial);
        throw CatalogueError(QStringLiteral("Cannot write the catalogue \"%1\".").arg(target));
    }
}

} // namespace Kv402
