#pragma once

#include "load/load_record.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

namespace Kv402 {

// One line of the record as a server receives it: where it stands and its identity. Its fields
// are read again when it is sent: a record of many lines is mostly known to the server already,
// and keeping every load's fields in memory costs more than reading them twice.
struct RecordLine
{
    // Counted from 1, as kv402 record names them.
    int number = 0;
    // The line's bytes in the record's content, without the line end.
    qsizetype offset = 0;
    qsizetype length = 0;
    QUuid id;
};

// A line that cannot be pushed, and why.
struct UnreadableLine
{
    int number = 0;
    QString why;
};

struct RecordLines
{
    // The record's bytes as they were read.
    QByteArray content;
    QList<RecordLine> lines;
    QList<UnreadableLine> unreadable;
    // Why the record could not be read at all; empty when it was.
    QString error;

    // The line exactly as it stands in the file.
    QByteArray bytes(const RecordLine &line) const
    {
        return QByteArray::fromRawData(content.constData() + line.offset, line.length);
    }
    // The load a line holds.
    LoadRecordEntry entry(const RecordLine &line) const;
};

// The lines of the record as they stand while no line is being appended (the appenders' lock is
// shared for the reading): a line written meanwhile is taken by the next push. Blank lines hold
// nothing.
RecordLines readRecordLines(const QString &fileName);

// The identity of a line written before lines had one: derived from its exact bytes, so that
// the same line pushed again, from any copy of the record, is known as the same load.
QUuid derivedLineId(const QByteArray &bytes);

} // namespace Kv402
