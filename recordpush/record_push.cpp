#include "recordpush/record_push.h"

#include "recordpush/record_lines.h"
#include "recordpush/record_schema.h"

#include <QSet>

#include <libpq-fe.h>

#include <memory>

namespace Kv402 {

namespace {

// libpq's own message, on one line.
QString serverMessage(const char *message)
{
    QStringList lines = QString::fromUtf8(message).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString &line : lines)
        line = line.trimmed();
    return lines.join(QStringLiteral("; "));
}

struct ResultDeleter
{
    void operator()(PGresult *result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// One connection to the server, with the statements a push runs on it. A failed statement
// leaves its reason in error().
class Connection
{
public:
    Connection(const QString &server, std::chrono::seconds connectTimeout)
    {
        const QByteArray timeout = QByteArray::number(qlonglong(connectTimeout.count()));
        const QByteArray address = server.toUtf8();
        // The address's own settings come after the defaults and take their place; the text
        // always travels as UTF-8, whatever the PC's locale.
        const char *const keywords[] = {"connect_timeout",
                                        "fallback_application_name",
                                        "dbname",
                                        "client_encoding",
                                        nullptr};
        const char *const values[] = {timeout.constData(),
                                      "kv402",
                                      address.constData(),
                                      "UTF8",
                                      nullptr};
        m_connection = PQconnectdbParams(keywords, values, 1);
        // CREATE ... IF NOT EXISTS and the like tell notices the user has no use for.
        PQsetNoticeProcessor(
            m_connection, [](void *, const char *) {}, nullptr);
    }
    ~Connection() { PQfinish(m_connection); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool connected() const { return m_connection && PQstatus(m_connection) == CONNECTION_OK; }
    QString error() const
    {
        return m_connection ? serverMessage(PQerrorMessage(m_connection))
                            : QStringLiteral("out of memory");
    }

    // A statement without parameters: the program's own text, never the record's.
    Result run(const char *statement, ExecStatusType expected = PGRES_COMMAND_OK)
    {
        Result result(PQexec(m_connection, statement));
        if (!result || PQresultStatus(result.get()) != expected)
            return {};
        return result;
    }
    bool execute(const char *statement) { return bool(run(statement)); }

    // The rows go to the server as COPY data, which the server reads as values only.
    bool copy(const QByteArray &statement, const QByteArray &rows)
    {
        Result started(PQexec(m_connection, statement.constData()));
        if (!started || PQresultStatus(started.get()) != PGRES_COPY_IN)
            return false;
        constexpr qsizetype Chunk = 1 << 20;
        bool sent = true;
        for (qsizetype at = 0; sent && at < rows.size(); at += Chunk)
            sent = PQputCopyData(m_connection,
                                 rows.constData() + at,
                                 int(std::min(Chunk, rows.size() - at)))
                   == 1;
        sent = PQputCopyEnd(m_connection, sent ? nullptr : "the rows could not be sent") == 1
               && sent;
        bool done = sent;
        while (PGresult *result = PQgetResult(m_connection)) {
            if (PQresultStatus(result) != PGRES_COMMAND_OK)
                done = false;
            PQclear(result);
        }
        return done;
    }

    // After a failed statement: the transaction is ended so the connection can be used again.
    void rollBack()
    {
        if (PQtransactionStatus(m_connection) != PQTRANS_IDLE)
            Result(PQexec(m_connection, "ROLLBACK"));
    }

private:
    PGconn *m_connection = nullptr;
};

// COPY's text form: a backslash, a tab and the line ends are escaped, everything else is taken
// as it is.
void appendText(QByteArray &row, const QString &text)
{
    QString storable = text;
    // PostgreSQL's text cannot hold NUL; the line column keeps the character itself.
    storable.replace(QChar(u'\0'), QChar(0xFFFD));
    const QByteArray bytes = storable.toUtf8();
    for (const char c : bytes) {
        switch (c) {
        case '\\':
            row.append("\\\\");
            break;
        case '\t':
            row.append("\\t");
            break;
        case '\n':
            row.append("\\n");
            break;
        case '\r':
            row.append("\\r");
            break;
        default:
            row.append(c);
        }
    }
    row.append('\t');
}

void appendTime(QByteArray &row, const QDateTime &time)
{
    // A time that could not be read is no time at all.
    if (time.isValid())
        row.append(
            time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1());
    else
        row.append("\\N");
    row.append('\t');
}

void appendNumber(QByteArray &row, int number)
{
    row.append(QByteArray::number(number)).append('\t');
}

void appendRow(QByteArray &rows, const RecordLines &record, const RecordLine &line)
{
    const LoadRecordEntry entry = record.entry(line);
    rows.append(line.id.toByteArray(QUuid::WithoutBraces)).append('\t');
    appendTime(rows, entry.started);
    appendTime(rows, entry.ended);
    for (const QString *text : {&entry.user,
                                &entry.host,
                                &entry.program,
                                &entry.port,
                                &entry.device,
                                &entry.revision,
                                &entry.version,
                                &entry.language,
                                &entry.dataFile,
                                &entry.sha256}) {
        appendText(rows, *text);
    }
    appendNumber(rows, entry.blocks);
    appendNumber(rows, entry.of);
    appendNumber(rows, entry.errors);
    appendText(rows, entry.unitSerial);
    appendText(rows, entry.outcome);
    appendText(rows, entry.bundle.name);
    if (entry.bundle.isSet())
        rows.append(QByteArray::number(entry.bundle.revision)).append('\t');
    else
        rows.append("\\N\t");
    appendText(rows, entry.bundle.manifestSha256);
    // bytea in hex, its backslash escaped for COPY.
    rows.append("\\\\x").append(record.bytes(line).toHex()).append('\n');
}

// Makes the table and its views unless the server has them; one PC at a time.
bool ensureTable(Connection &connection)
{
    if (!connection.execute("BEGIN"))
        return false;
    if (!connection.run(RecordSchema::CreationLock, PGRES_TUPLES_OK))
        return false;
    const Result exists = connection.run(RecordSchema::TableExists, PGRES_TUPLES_OK);
    if (!exists)
        return false;
    if (QByteArray(PQgetvalue(exists.get(), 0, 0)) != "t") {
        for (const char *statement : {RecordSchema::CreateTable,
                                      RecordSchema::CreateLoadsPerDay,
                                      RecordSchema::CreateLastLoadPerUnit,
                                      RecordSchema::CreateFailuresPerStation}) {
            if (!connection.execute(statement))
                return false;
        }
    }
    return connection.execute("COMMIT");
}

// The identities among the lines' that the server has already.
bool knownIds(Connection &connection, const QList<RecordLine> &lines, QSet<QUuid> *known)
{
    QByteArray ids;
    ids.reserve(lines.size() * 37);
    for (const RecordLine &line : lines)
        ids.append(line.id.toByteArray(QUuid::WithoutBraces)).append('\n');
    if (!connection.execute("BEGIN") || !connection.copy(RecordSchema::CopyIds, ids))
        return false;
    const Result result = connection.run(RecordSchema::KnownIds, PGRES_TUPLES_OK);
    if (!result)
        return false;
    for (int row = 0; row < PQntuples(result.get()); ++row)
        known->insert(QUuid::fromString(QLatin1StringView(PQgetvalue(result.get(), row, 0))));
    return connection.execute("COMMIT");
}

// One transaction: the lines are on the server, or none of them is. Returns how many were new
// to it, or -1.
int pushBatch(Connection &connection,
              const RecordLines &record,
              const QList<const RecordLine *> &batch)
{
    QByteArray rows;
    for (const RecordLine *line : batch)
        appendRow(rows, record, *line);
    static const QByteArray copy = QByteArray(RecordSchema::CopyIncomingInto) + " ("
                                   + RecordSchema::Columns + ") FROM STDIN";
    static const QByteArray insert = QByteArray(RecordSchema::InsertFromIncoming) + " ("
                                     + RecordSchema::Columns + ") SELECT " + RecordSchema::Columns
                                     + " FROM kv402_incoming " + RecordSchema::ConflictIgnored;
    if (!connection.execute("BEGIN") || !connection.copy(copy, rows))
        return -1;
    const Result inserted = connection.run(insert.constData());
    if (!inserted || !connection.execute("COMMIT"))
        return -1;
    return QByteArray(PQcmdTuples(inserted.get())).toInt();
}

QString linesText(int count)
{
    return count == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(count);
}

} // namespace

QString serverRefusal(const QString &server)
{
    if (server.trimmed().isEmpty())
        return QStringLiteral("no server is named");
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(server.toUtf8().constData(), &error);
    if (!options) {
        const QString why = error ? serverMessage(error) : QStringLiteral("out of memory");
        PQfreemem(error);
        return why;
    }
    bool password = false;
    for (const PQconninfoOption *option = options; option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            password = true;
    }
    PQconninfoFree(options);
    if (password)
        return QStringLiteral("the address carries a password, which any user of this PC could "
                              "read; give it in ~/.pgpass or PGPASSWORD instead");
    return {};
}

PushResult pushRecord(const QString &recordFile,
                      const QString &server,
                      std::chrono::seconds connectTimeout)
{
    PushResult result;
    const RecordLines record = readRecordLines(recordFile);
    if (!record.error.isEmpty()) {
        result.recordError = record.error;
        return result;
    }
    for (const UnreadableLine &line : record.unreadable)
        result.problems.append(
            QStringLiteral("line %1 could not be read: %2").arg(line.number).arg(line.why));
    result.notPushed = int(record.unreadable.size());

    const auto failAll = [&](const QString &why, int lines) {
        result.notPushed += lines;
        result.problems.append(why);
        return result;
    };
    const int lineCount = int(record.lines.size());
    if (const QString refusal = serverRefusal(server); !refusal.isEmpty())
        return failAll(QStringLiteral("the server cannot be used: %1").arg(refusal), lineCount);
    Connection connection(server, connectTimeout);
    if (!connection.connected())
        return failAll(QStringLiteral("the server could not be reached: %1").arg(connection.error()),
                       lineCount);
    if (!ensureTable(connection))
        return failAll(QStringLiteral("the server refused the table kv402_loads: %1")
                           .arg(connection.error()),
                       lineCount);
    QSet<QUuid> known;
    if (!connection.execute(RecordSchema::CreateIncoming)
        || !connection.execute(RecordSchema::CreateIncomingIds)
        || !knownIds(connection, record.lines, &known)) {
        return failAll(QStringLiteral("the server refused the lines: %1").arg(connection.error()),
                       lineCount);
    }

    QList<const RecordLine *> missing;
    for (const RecordLine &line : record.lines) {
        if (known.contains(line.id))
            ++result.alreadyThere;
        else
            missing.append(&line);
    }
    for (qsizetype first = 0; first < missing.size(); first += PushBatchLines) {
        const QList<const RecordLine *> batch = missing.mid(first, PushBatchLines);
        const int inserted = pushBatch(connection, record, batch);
        if (inserted < 0) {
            // The batches before are on the server; this one and those after are not.
            const QString why = connection.error();
            connection.rollBack();
            const int left = int(missing.size() - first);
            return failAll(QStringLiteral("%1, from line %2 on, could not be pushed: %3")
                               .arg(linesText(left))
                               .arg(batch.first()->number)
                               .arg(why),
                           left);
        }
        result.pushed += inserted;
        // Lines another push gave the server meanwhile, and a line that stands twice.
        result.alreadyThere += int(batch.size()) - inserted;
    }
    return result;
}

} // namespace Kv402
