#include "cli/output.h"

#include "cli/commands.h"

#include "srecord/srecord_core.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>

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

bool printOut(std::string_view bytes)
{
    if (state != OutputState::Good || finished)
        return false;
    written = written || !bytes.empty();
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
        noteFailure(errno);
        return false;
    }
    return true;
}

bool printOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return printOut(std::string_view(bytes.constData(), size_t(bytes.size())));
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

void printError(std::string_view bytes)
{
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

void printError(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    printError(std::string_view(bytes.constData(), size_t(bytes.size())));
}

OutputState outputState()
{
    return state;
}

int finishOutput(int status, std::string_view command)
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
            const char *reason = failure != 0 ? std::strerror(failure) : "a write failed";
            printError(std::string(command) + ": cannot write the output: " + reason + '\n');
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

std::string outputRefusal(const std::string &input, const std::string &output)
{
    struct stat existing;
    if (stat(output.c_str(), &existing) != 0)
        return {};
    if (!S_ISREG(existing.st_mode))
        return std::string(NotRegularFile);
    // The same file under another name, through a link or a hard link, has the same identity.
    struct stat source;
    if (stat(input.c_str(), &source) == 0 && source.st_dev == existing.st_dev
        && source.st_ino == existing.st_ino) {
        return "it is the input file";
    }
    return {};
}

QString printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0))
            shown += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        else if (c == QLatin1Char('\\'))
            shown += QStringLiteral("\\\\");
        else
            shown += c;
    }
    return shown;
}

int usageError(const char *command, const QString &why, const char *usage)
{
    printError(QString::fromUtf8(command) + QStringLiteral(": ") + printable(why)
               + QLatin1Char('\n') + QString::fromUtf8(usage));
    return Usage;
}

std::optional<int> parseOptions(QCommandLineParser &parser,
                                const char *command,
                                const QStringList &arguments,
                                const char *usage,
                                bool positionalAllowed)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    if (!parser.parse(QStringList{QString::fromUtf8(command)} + arguments))
        return usageError(command, parser.errorText(), usage);
    if (parser.isSet(help)) {
        // The parser's own help begins with a usage line of its making; the options follow it.
        const QString text = parser.helpText();
        const qsizetype options = text.indexOf(QLatin1String("\nOptions:\n"));
        printOut(QString::fromUtf8(usage) + (options < 0 ? QString() : text.mid(options)));
        return Success;
    }
    if (!positionalAllowed && !parser.positionalArguments().isEmpty()) {
        return usageError(command,
                          QStringLiteral("unexpected \"%1\"")
                              .arg(parser.positionalArguments().first()),
                          usage);
    }
    return std::nullopt;
}

} // namespace Kv402::Tool
