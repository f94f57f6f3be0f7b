#include "cli/output.h"

#include "cli/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Kv402::Tool {

namespace {

OutputState state = OutputState::Good;
// The errno of the write that failed.
int failure = 0;
// Whether anything was handed to standard output at all.
bool written = false;
bool finished = false;
// A closed pipe does not fail the command.
bool closingTolerated = false;

void noteFailure(int error)
{
    if (state != OutputState::Good)
        return;
    state = error == EPIPE ? OutputState::Closed : OutputState::Failed;
    failure = error;
}

} // namespace

bool printOut(const QString &text)
{
    if (state != OutputState::Good || finished)
        return false;
    const QByteArray bytes = text.toUtf8();
    written = written || !bytes.isEmpty();
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size())) {
        noteFailure(errno);
        return false;
    }
    return true;
}

bool flushOut()
{
    if (state != OutputState::Good || finished)
        return false;
    errno = 0;
    if (std::fflush(stdout) != 0) {
        noteFailure(errno);
        return false;
    }
    return true;
}

void printError(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

OutputState outputState()
{
    return state;
}

int finishOutput(int status, const QString &command)
{
    if (!finished) {
        // Output written past printOut() (directly through stdio) counts as well.
        if (std::ferror(stdout))
            noteFailure(0);
        flushOut();
        finished = true;
        errno = 0;
        // Closing reports what some file systems only find out then (NFS, a full quota). A
        // standard output that was closed from the start matters only when something was
        // printed.
        if (std::fclose(stdout) != 0 && !(errno == EBADF && !written))
            noteFailure(errno);
        if (state == OutputState::Failed) {
            const QString reason = failure != 0 ? QString::fromLocal8Bit(std::strerror(failure))
                                                : QStringLiteral("a write failed");
            printError(QStringLiteral("%1: cannot write the output: %2\n").arg(command, reason));
        }
    }
    const bool failed = state == OutputState::Failed
                        || (state == OutputState::Closed && !closingTolerated);
    return failed && status == Success ? Failure : status;
}

void tolerateClosedOutput()
{
    closingTolerated = true;
}

QCommandLineOption addHelpOption(QCommandLineParser &parser)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    return help;
}

int printHelp(const char *usage, const QCommandLineParser &parser)
{
    // The parser's own help begins with a usage line of its making; the options follow it.
    const QString text = parser.helpText();
    const qsizetype options = text.indexOf(QLatin1String("\nOptions:\n"));
    printOut(QString::fromUtf8(usage) + (options < 0 ? QString() : text.mid(options)));
    return Success;
}

} // namespace Kv402::Tool
