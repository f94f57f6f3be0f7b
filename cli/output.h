#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

// The standard streams of the commands that need Qt. A write that fails is a failure of the
// command: a dump to a full disk must not end as if the file were whole.
namespace Kv402::Tool {

enum class OutputState {
    Good,
    // The reader went away (EPIPE); what is left to print is dropped without a word.
    Closed,
    Failed,
};

// Writes to standard output; false once any write to it has failed (later writes are dropped).
bool printOut(const QString &text);
// Hands what was printed to the reader now, for progress that must not wait in the buffer; false
// once any write to standard output has failed.
bool flushOut();
void printError(const QString &text);

OutputState outputState();

// Flushes and closes standard output, and returns the exit status to use: status as it is when
// all output was written. When the reader went away it returns Failure in place of Success,
// without a message, unless tolerateClosedOutput() was called; when a write failed it prints "<command>: cannot write the output:
// <reason>" on standard error and returns Failure in place of Success. Later calls return the
// same without printing again.
int finishOutput(int status, const QString &command);

// For a command whose output only accompanies its work (kv402 send, whose loads end as they
// end): a reader that goes away no longer makes finishOutput() fail it.
void tolerateClosedOutput();

// Adds -h and --help alone: QCommandLineParser::addHelpOption() adds --help-all too, which lists
// Qt's own options, of no use to a command.
QCommandLineOption addHelpOption(QCommandLineParser &parser);
// Prints a command's help, its usage and then its options as the parser describes them, and
// returns Success.
int printHelp(const char *usage, const QCommandLineParser &parser);

} // namespace Kv402::Tool
