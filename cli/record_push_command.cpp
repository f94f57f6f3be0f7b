#include "cli/commands.h"
#include "cli/output.h"

#include "load/load_record.h"
#include "recordpush/record_push.h"

#include <QCommandLineParser>

namespace Kv402::Tool {

namespace {

constexpr char Command[] = "kv402 record push";

} // namespace

int recordPushCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("The PostgreSQL server, as a libpq connection URI."),
                                QStringLiteral("URL"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("The load record."),
                                    QStringLiteral("FILE"));
    parser.addOptions({to, record});
    if (const std::optional<int> status = parseOptions(parser, Command, arguments, RecordPushUsage))
        return *status;
    if (!parser.isSet(to) || parser.value(to).isEmpty())
        return usageError(Command, QStringLiteral("--to names the server"), RecordPushUsage);
    // Refused before anything is read: a password given here is seen by every user of the PC.
    if (const QString refusal = serverRefusal(parser.value(to)); !refusal.isEmpty())
        return usageError(Command, QStringLiteral("--to: %1").arg(refusal), RecordPushUsage);
    if (parser.isSet(record) && parser.value(record).isEmpty())
        return usageError(Command, QStringLiteral("--record names a file"), RecordPushUsage);
    const QString fileName = parser.isSet(record) ? parser.value(record)
                                                  : LoadRecord::defaultFileName();

    const PushResult result = pushRecord(fileName, parser.value(to));
    if (!result.recordError.isEmpty()) {
        printError(QStringLiteral("%1: cannot read \"%2\": %3\n")
                       .arg(QLatin1StringView(Command), printable(fileName), result.recordError));
        return NothingSent;
    }
    for (const QString &problem : result.problems)
        printError(QStringLiteral("%1: \"%2\": %3\n")
                       .arg(QLatin1StringView(Command), printable(fileName), printable(problem)));
    QString counts
        = QStringLiteral("%1 pushed, %2 already there").arg(result.pushed).arg(result.alreadyThere);
    if (result.notPushed > 0)
        counts += QStringLiteral(", %1 not pushed").arg(result.notPushed);
    printOut(counts + QLatin1Char('\n'));
    return result.complete() ? Success : Failure;
}

} // namespace Kv402::Tool
