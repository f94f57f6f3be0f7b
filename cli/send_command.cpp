// kv402 send: its options are read and checked (send_options), the data file is checked once
// before any port is touched, then the loads run (send_run) and are told (send_output).

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/send_options.h"
#include "cli/send_output.h"
#include "cli/send_run.h"

#include "load/load_texts.h"

namespace Kv402::Tool {

namespace {

// Why a load would refuse the data file, in the words of its message; empty when it is sent.
QString refusal(const QString &dataFile, const DataFileReading &reading, bool acceptBadChecksums)
{
    using Kind = LoadMessage::Kind;
    LoadMessage message{.file = dataFile};
    if (!reading.ok()) {
        message.kind = Kind::DataFileUnusable;
        message.problem = reading.problem;
        message.line = reading.failureLine;
        message.column = reading.failureColumn;
        message.reason = reading.fileError;
    } else if (reading.image.blockCount() < 1) {
        message.kind = Kind::NoDataToLoad;
    } else if (reading.wrongChecksumCount > 0 && !acceptBadChecksums) {
        // The question the load would ask, and how the command line answers it.
        message.kind = Kind::WrongChecksumQuestion;
        message.count = reading.wrongChecksumCount;
        message.lines = reading.wrongChecksumLines;
        return loadMessageText(message, Language::English)
               + QStringLiteral(" --accept-bad-checksums answers yes.");
    } else {
        return {};
    }
    return loadMessageText(message, Language::English);
}

} // namespace

int sendCommand(const QStringList &arguments)
{
    const std::variant<SendOptions, int> parsed = sendOptions(arguments);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const SendOptions &options = std::get<SendOptions>(parsed);

    const auto checked = std::make_shared<const DataFileReading>(readDataFile(options.dataFile));
    if (const QString refused = refusal(options.dataFile, *checked, options.acceptBadChecksums);
        !refused.isEmpty()) {
        printError(QStringLiteral("kv402 send: %1\n").arg(printable(refused)));
        return NothingSent;
    }
    // The bytes every port's first load sends are the ones the bundle was released with.
    if (options.bundle && checked->ok()) {
        if (const std::optional<BundleProblem> changed = checkBundleFile(*options.bundle,
                                                                         options.dataFile,
                                                                         checked->sha256)) {
            printError(
                QStringLiteral("kv402 send: %1\n").arg(printable(changed->text(Language::English))));
            return NothingSent;
        }
    }

    // The loads go on without a reader: their outcomes make the exit status.
    tolerateClosedOutput();
    const std::unique_ptr<SendOutput> output = sendOutput(options.targets, options.json);
    SendRun run(options, checked, *output);
    return run.exec();
}

} // namespace Kv402::Tool
