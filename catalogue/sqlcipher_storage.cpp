#include "catalogue/sqlcipher_storage.h"

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_error.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#define SQLITE_HAS_CODEC 1
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace Kv402 {

namespace {

QString displayName(const QString &fileName)
{
    return QFileInfo(fileName).absoluteFilePath();
}

// The file that fileName names, through any symbolic links, even one that does not exist yet.
QString finalFileName(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.isSymLink())
        return info.absoluteFilePath();
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
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
        throw catalogueFailure(CatalogueError::Kind::CannotOpen, fileName, reason);
    }
    // An empty key leaves the database unencrypted.
    if (!key.isEmpty() && sqlite3_key(m_db, key.constData(), int(key.size())) != SQLITE_OK) {
        const QString reason = lastError();
        sqlite3_close(m_db);
        m_db = nullptr;
        throw catalogueFailure(CatalogueError::Kind::CannotSetKey, fileName, reason);
    }
    sqlite3_exec(m_db, Catalogue::PinCipherFormat.data(), nullptr, nullptr, nullptr);
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
        throw catalogueFailure(CatalogueError::Kind::StatementFailed, m_fileName, reason);
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
        throw catalogueFailure(CatalogueError::Kind::CannotRead,
                               connection.fileName(),
                               connection.lastError());
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
        throw catalogueFailure(CatalogueError::Kind::CannotRead,
                               m_connection.fileName(),
                               m_connection.lastError());
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

// The pragmas that set the key or the cipher settings, besides those named cipher... . The build
// sets the key and pins the format itself; a script that changed them would build a file that
// the program cannot open.
const char *const KeyPragmas[] = {"key",
                                  "rekey",
                                  "hexkey",
                                  "hexrekey",
                                  "textkey",
                                  "textrekey",
                                  "kdf_iter",
                                  "fast_kdf_iter",
                                  "rekey_cipher",
                                  "rekey_kdf_iter"};
const char CipherPragmaPrefix[] = "cipher";

bool setsKeyOrCipher(const char *pragma)
{
    return qstrnicmp(pragma, CipherPragmaPrefix, qstrlen(CipherPragmaPrefix)) == 0
           || std::any_of(std::begin(KeyPragmas), std::end(KeyPragmas), [&](const char *name) {
                  return qstricmp(pragma, name) == 0;
              });
}

// What SQLite's authorizer refused in the statement being prepared; SQLite itself only says
// "not authorized".
struct ScriptGuard
{
    QString refusal;
};

// Sees every statement of the script as it is prepared: a pragma comes here by its name, without
// its schema and whatever its case or quotes.
int authorize(void *context, int action, const char *first, const char *, const char *, const char *)
{
    auto *guard = static_cast<ScriptGuard *>(context);
    switch (action) {
    case SQLITE_PRAGMA:
        if (!first || !setsKeyOrCipher(first))
            return SQLITE_OK;
        guard->refusal = QStringLiteral("PRAGMA %1 is refused: the build sets the key and the "
                                        "cipher settings itself")
                             .arg(QString::fromUtf8(first));
        return SQLITE_DENY;
    case SQLITE_ATTACH:
        // With ATTACH ... KEY a script could also write another file under a key of its own.
        guard->refusal = QStringLiteral("ATTACH is refused: a catalogue is built in one file");
        return SQLITE_DENY;
    case SQLITE_TRANSACTION:
        // The build is one transaction: the script's own BEGIN and COMMIT change nothing in it,
        // but a ROLLBACK would silently undo what came before.
        if (qstricmp(first, "ROLLBACK") != 0)
            return SQLITE_IGNORE;
        guard->refusal = QStringLiteral("ROLLBACK is refused: the build runs in one transaction");
        return SQLITE_DENY;
    default:
        return SQLITE_OK;
    }
}

// Refuses a script that cannot be read as SQL text, naming the first line at fault. A NUL would
// end the script there and quietly drop the rest.
void checkText(const QByteArray &script)
{
    if (script.isValidUtf8() && !script.contains('\0'))
        return;
    // A line end never lies within a UTF-8 sequence, so the lines can be checked one by one.
    qsizetype from = 0;
    for (int line = 1; from <= script.size(); ++line) {
        qsizetype to = script.indexOf('\n', from);
        if (to < 0)
            to = script.size();
        const QByteArrayView text(script.constData() + from, to - from);
        if (!text.isValidUtf8())
            throw CatalogueError(CatalogueError::Kind::ScriptNotUtf8, {QString::number(line)});
        if (text.contains('\0'))
            throw CatalogueError(CatalogueError::Kind::ScriptHoldsNul, {QString::number(line)});
        from = to + 1;
    }
}

// Runs a script statement by statement, so that a failure can name the line it is on. The script
// is walked once: the line number is carried from one statement to the next.
void execScript(const SqlCipherConnection &connection, const QByteArray &script)
{
    const char *start = script.constData();
    const char *const end = start + script.size();
    const char *counted = start;
    int line = 1;
    ScriptGuard guard;
    sqlite3_set_authorizer(connection.handle(), authorize, &guard);
    const auto releaseGuard = qScopeGuard(
        [&] { sqlite3_set_authorizer(connection.handle(), nullptr, nullptr); });
    while (start < end) {
        // The statement's line: that of its first character after leading blanks.
        const char *const first = start + std::strspn(start, " \t\r\n");
        line += int(std::count(counted, first, '\n'));
        counted = first;
        sqlite3_stmt *statement = nullptr;
        const char *tail = nullptr;
        guard.refusal.clear();
        // Read up to the terminating NUL: given a length instead, SQLite copies the whole rest of
        // the script for every statement.
        int rc = sqlite3_prepare_v2(connection.handle(), start, -1, &statement, &tail);
        if (rc == SQLITE_OK && statement) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
            }
            rc = sqlite3_finalize(statement);
        }
        if (rc != SQLITE_OK) {
            const QString reason = guard.refusal.isEmpty() ? connection.lastError() : guard.refusal;
            throw CatalogueError(CatalogueError::Kind::ScriptLineRefused,
                                 {QString::number(line), reason});
        }
        if (!tail || tail == start)
            break;
        start = tail;
    }
}

} // namespace

void buildSqlCipherCatalogue(const QString &sqlText, const QString &fileName, const QByteArray &key)
{
    buildSqlCipherCatalogue(sqlText.toUtf8(), fileName, key);
}

void buildSqlCipherCatalogue(const QByteArray &script,
                             const QString &fileName,
                             const QByteArray &key)
{
    const QString target = finalFileName(fileName);
    const QFileInfo existing(target);
    // A device or a folder must not be replaced by a catalogue.
    if (existing.exists() && !existing.isFile()) {
        throw CatalogueError(CatalogueError::Kind::BuildTargetNotRegularFile, {target});
    }
    const QString partial = target + QStringLiteral(".partial");
    QFile::remove(partial);
    try {
        checkText(script);
        SqlCipherConnection connection(partial, SqlCipherConnection::Mode::Create, key);
        connection.exec(QStringLiteral("BEGIN;"));
        execScript(connection, script);
        connection.exec(QStringLiteral("COMMIT;"));
    } catch (const CatalogueError &error) {
        QFile::remove(partial);
        throw CatalogueError(CatalogueError::Kind::BuildFailed, {target, error.message()});
    }
    // Renamed over the target in one step, so that it is never missing.
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData())
        != 0) {
        QFile::remove(partial);
        throw CatalogueError(CatalogueError::Kind::CannotWrite, {target});
    }
}

} // namespace Kv402
