#pragma once

#include "srecord/srecord_core.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <atomic>

namespace Kv402 {

// The image of a data file as the window and the terminal link hand it on (see Image).
struct MemoryImage
{
    // Image::Size bytes, 0xFF wherever no record wrote.
    QByteArray bytes = QByteArray(Image::Size, Image::Blank);
    // The highest index written, 0 when nothing was.
    qint32 imageEnd = 0;
    bool anythingWritten = false;

    // N, the number of blocks to send.
    int blockCount() const { return Image::blockCount(anythingWritten, imageEnd); }

    // Block b: image indices 256 b to 256 b + 255.
    QByteArray block(int b) const
    {
        return bytes.mid(qsizetype(b) * Image::BlockSize, Image::BlockSize);
    }
};

// The outcome of reading a data file, by the rules of RecordReader (srecord_core.h).
struct DataFileReading
{
    // Valid only when ok(); all blank otherwise.
    MemoryImage image;
    // How many records at 0x300000 or above have a wrong checksum, and the 1-based lines of the
    // first ListedWrongChecksums of them, in file order. Their data are in the image.
    qint64 wrongChecksumCount = 0;
    QList<qint64> wrongChecksumLines{};
    // The SHA-256 of the bytes read, in lower-case hex: what the image was made of, whatever the
    // file holds by the time anyone looks again. Empty unless the whole file was read.
    QString sha256{};

    // What is wrong, where, and why; the load's messages word it (load/load_texts.h).
    DataFileProblem problem = DataFileProblem::None;
    // The 1-based line of the malformed record; 0 when the failure is not about a line.
    qint64 failureLine = 0;
    // The 1-based column of the character that is not a hex digit; 0 for the other problems.
    int failureColumn = 0;
    // The system's reason when the file cannot be opened or read.
    QString fileError{};
    // The reading was stopped before its end; nothing else holds.
    bool stopped = false;

    bool ok() const { return problem == DataFileProblem::None && !stopped; }
};

// Reads data-file text handed over in pieces of any size, as they come from the file: a line
// end may fall across two pieces (a CR at the end of one and an LF at the start of the next are
// one line end).
class DataTextReader
{
public:
    DataTextReader();

    // Reads the next piece. Returns false once the reading has failed; later pieces are ignored.
    bool add(QByteArrayView piece);
    // Reads what is left of the last line and hands over the reading; the reader then reads
    // nothing more.
    DataFileReading finish();

private:
    DataFileReading m_reading;
    // Reads into m_reading.image.
    RecordReader m_records;
};

// Reads the data file, its name used as it is: a name without a directory is found in the
// current directory. A stop request, when given, ends the reading between two pieces of the file:
// a file of gigabytes takes seconds.
DataFileReading readDataFile(const QString &fileName, const std::atomic<bool> *stop = nullptr);
// Reads the text of a data file held in memory.
DataFileReading readDataText(QByteArrayView text);

} // namespace Kv402
