#include "cli/commands.h"
#include "cli/output.h"

#include "load/load_record.h"

#include <QCommandLineParser>
#include <QJsonDocument>

namespace Kv402::Tool {

namespace {

constexpr char Command[] = "kv402 record";

// --since: a date and time, or a date from its midnight on; invalid when it is neither.
QDateTime sinceDate(const QString &text)
{
    const QDateTime from = QDateTime::fromString(text, Qt::ISODate);
    if (from.isValid())
        return from;
    return QDateTime(QDate::fromString(text, Qt::ISODate), QTime(0, 0));
}

// The columns after the file came later: they follow it, so that scripts find the earlier ones
// where they always were.
QString tableLine(const QString &start,
                  const QString &port,
                  const QString &version,
                  const QString &outcome,
                  const QString &blocks,
                  const QString &file,
                  const QString &program,
                  const QString &unitSerial)
{
    return QStringLiteral("%1 %2 %3 %4 %5 %6  %7  %8\n")
        .arg(start, -25)
        .arg(port, -8)
        .arg(version, -10)
        .arg(outcome, -24)
        .arg(blocks, 11)
        .arg(file)
        .arg(program)
        .arg(unitSerial);
}

// An empty field as the table shows it.
QString shown(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : printable(text);
}

} // namespace

int recordCommand(const QStringList &arguments)
{
    if (arguments.value(0) == QLatin1StringView("push"))
        return recordPushCommand(arguments.mid(1));
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("The record as it is."));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Loads from this date on."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("The load record."),
                                    QStringLiteral("FILE"));
    parser.addOptions({json, since, record});
    if (const std::optional<int> status = parseOptions(parser, Command, arguments, RecordUsage))
        return *status;
    QDateTime from;
    if (parser.isSet(since)) {
        from = sinceDate(parser.value(since));
        if (!from.isValid())
            return usageError(Command,
                              QStringLiteral("--since takes a date, YYYY-MM-DD"),
                              RecordUsage);
    }
    const LoadRecord loadRecord(parser.isSet(record) ? parser.value(record)
                                                     : LoadRecord::defaultFileName());
    QString why;
    QList<int> unreadable;
    const QList<LoadRecordEntry> entries = loadRecord.read(&why, &unreadable);
    if (!why.isEmpty()) {
        printError(QStringLiteral("kv402 record: cannot read \"%1\": %2\n")
                       .arg(printable(loadRecord.fileName()), why));
        return Failure;
    }
    if (!unreadable.isEmpty()) {
        // A line cut short or garbled: the table goes on without it, but not unnoticed.
        QStringList numbers;
        for (const int number : std::as_const(unreadable))
            numbers.append(QString::number(number));
        printError(QStringLiteral("kv402 record: \"%1\": %2 %3 could not be read and %4 left out\n")
                       .arg(printable(loadRecord.fileName()),
                            numbers.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"),
                            numbers.join(QStringLiteral(", ")),
                            numbers.size() == 1 ? QStringLiteral("is") : QStringLiteral("are")));
    }
    if (!parser.isSet(json)) {
        printOut(tableLine(QStringLiteral("START"),
                           QStringLiteral("PORT"),
                           QStringLiteral("VERSION"),
                           QStringLiteral("OUTCOME"),
                           QStringLiteral("BLOCKS"),
                           QStringLiteral("FILE"),
                           QStringLiteral("PROGRAM"),
                           QStringLiteral("SERIAL")));
    }
    for (const LoadRecordEntry &entry : entries) {
        // Once the output has failed, the rest would be dropped anyway.
        if (outputState() != OutputState::Good)
            break;
        if (from.isValid() && entry.started < from)
            continue;
        if (parser.isSet(json)) {
            printOut(QString::fromUtf8(QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact))
                     + QLatin1Char('\n'));
            continue;
        }
        // The record is text that anyone may have written: its names reach the terminal as text.
        printOut(tableLine(entry.started.toString(Qt::ISODate),
                           printable(entry.port),
                           shown(entry.version),
                           printable(entry.outcome),
                           QStringLiteral("%1/%2").arg(entry.blocks).arg(entry.of),
                           printable(entry.dataFile),
                           shown(entry.program),
                           shown(entry.unitSerial)));
    }
    return Success;
}

} // namespace Kv402::Tool
