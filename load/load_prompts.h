#pragma once

#include "ports/serial_port.h"
#include "srecord/srecord_core.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace Kv402 {

enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// Something a load has to tell the user or ask. It carries what happened and its arguments; its
// words are loadMessageText()'s (load/load_texts.h), in the window's language or, on the command
// line, in English.
struct LoadMessage
{
    enum class Kind {
        // The reminder before the first run.
        CheckCable,
        // A record of the data file has a wrong checksum; told for the first ones only.
        WrongChecksum,
        // After the checksum messages: count records, the first at lines; load anyway?
        WrongChecksumQuestion,
        // The data file is missing, unreadable or malformed: file, problem, line, column, reason.
        DataFileUnusable,
        // The data file holds nothing to load: file.
        NoDataToLoad,
        // No port is chosen.
        NoPortSelected,
        // The port would not open: port, openFailure.
        PortNotOpened,
        CableNotConnected,
        PortOutOfOrder,
        FlashWriteError,
        LoadCompleted,
        RepeatLoad,
        TerminalNotAnswering,
        // The open port stopped working: port, reason (empty: it took no more bytes).
        PortStoppedWorking,
    };

    Kind kind = Kind::CheckCable;
    MessageButtons buttons = MessageButtons::Ok;
    // The button that Enter presses.
    MessageAnswer defaultAnswer = MessageAnswer::Ok;

    // The data file, as an absolute path.
    QString file = {};
    DataFileProblem problem = DataFileProblem::None;
    qint64 line = 0;
    int column = 0;
    // The system's reason: why a file could not be read, or why a port stopped working.
    QString reason = {};
    // WrongChecksumQuestion: how many records, and the lines of the first ones.
    qsizetype count = 0;
    QList<qint64> lines = {};
    // The port's name, as the technician chose it.
    QString port = {};
    PortOpenFailure openFailure = {};
};

class LoadSession;

// Where a load session's messages go. Both calls come in the thread the session lives in.
class LoadPrompts
{
public:
    virtual ~LoadPrompts() = default;

    // Tells or asks. The run waits, its port as it is, until LoadSession::answer() gives the
    // answer, at once from inside this call or at any time later, or until it is stopped.
    virtual void ask(LoadSession *session, const LoadMessage &message) = 0;
    // The message last asked no longer wants an answer: its run was stopped.
    virtual void withdraw(LoadSession *session) = 0;
};

} // namespace Kv402

Q_DECLARE_METATYPE(Kv402::LoadMessage)
