#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

// The standard streams of the commands. A write that fails is a failure of the command: a dump to
// a full disk must not end as if the file were whole. The byte forms need no Qt object, for
// kv402 image.
namespace Kv402::Tool {

enum class OutputState {
    Good,
    // The reader went away (EPIPE); what is left to print is dropped without a word.
    Closed,
    Failed,
};

// Writes to standard output; false once any write to it has failed (later writes are dropped).
bool printOut(std::string_view bytes);
inline bool printOut(const char *text)
{
    return printOut(std::string_view(text));
}
bool printOut(const QString &text);
// Hands what was printed to the reader now, for progress that must not wait in the buffer; false
// once any write to standard output has failed.
bool flushOut();
void printError(std::string_view bytes);
inline void printError(const char *text)
{
    printError(std::string_view(text));
}
void printError(const QString &text);

OutputState outputState();

// Flushes and closes standard output, and returns the exit status to use: status as it is when
// all output was written. When the reader went away it returns Failure in place of Success,
// without a message, unless tolerateClosedOutput() was called; when a write failed it prints
// "<command>: cannot write the output: <reason>" on standard error and returns Failure in place
// of Success. Later calls return the same without printing again.
int finishOutput(int status, std::string_view command);

// For a command whose output only accompanies its work (kv402 send, whose loads end as they
// end): a reader that goes away no longer makes finishOutput() fail it.
void tolerateClosedOutput();

// Why a command that reads input must not write output, in a few words; empty when it may. An
// output that exists must be a regular file, through any symbolic links (a device node or a FIFO
// would be replaced by a plain file), and must not be the input itself under any name.
std::string outputRefusal(const std::string &input, const std::string &output);

// A name as a terminal shows it: control characters, which could move the cursor or end the
// line, are written as \xHH, and a backslash is doubled so that the escapes stay unambiguous.
QString printable(const QString &text);

// Prints "<command>: <why>" and the command's usage on standard error; returns Usage.
int usageError(const char *command, const QString &why, const char *usage);

// Parses a command's options; positional arguments are wrong usage unless allowed. Adds -h and
// --help (QCommandLineParser::addHelpOption() adds --help-all too, which lists Qt's own options,
// of no use to a command). Returns the exit status when the command ends here: Usage after
// telling what is wrong, Success after printing the help (the usage, then the options as the
// parser describes them); nothing when the command goes on.
std::optional<int> parseOptions(QCommandLineParser &parser,
                                const char *command,
                                const QStringList &arguments,
                                const char *usage,
                                bool positionalAllowed = false);

} // namespace Kv402::Tool
