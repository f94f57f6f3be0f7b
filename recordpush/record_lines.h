#pragma once

#include "load/load_record.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

namespace Kv402 {

// One line of the record as a server receives it: its exact bytes, its identity and its fields.
struct RecordLine
{
    // Counted from 1, as kv402 record names them.
    int number = 0;
    // The line as it stands in the file, without its line end.
    QByteArray bytes;
    QUuid id;
    LoadRecordEntry entry;
};

// A line that cannot be pushed, and why.
struct UnreadableLine
{
    int number = 0;
    QString why;
};

struct RecordLines
{
    QList<RecordLine> lines;
    QList<UnreadableLine> unreadable;
    // Why the record could not be read at all; empty when it was.
    QString error;
};

// The lines of the record as they stand while no line is being appended (the appenders' lock is
// shared for the reading): a line written meanwhile is taken by the next push. Blank lines hold
// nothing.
RecordLines readRecordLines(const QString &fileName);

// The identity of a line written before lines had one: derived from its exact bytes, so that
// the same line pushed again, from any copy of the record, is known as the same load.
QUuid derivedLineId(const QByteArray &bytes);

} // namespace Kv402
