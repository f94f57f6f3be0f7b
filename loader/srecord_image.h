#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

namespace Kv402 {

// The memory image of a data file: the bytes for load addresses 0x300000 to 0x400000, sent to
// the terminal in blocks of 256 bytes.
namespace Image {
inline constexpr qint32 BaseAddress = 0x300000;
// Indices 0 to 0x100000.
inline constexpr qsizetype Size = 0x100001;
inline constexpr int BlockSize = 256;
// Only the first 0x100000 bytes can be sent: the terminal's memory ends there.
inline constexpr int MaxBlocks = 0x100000 / BlockSize;
inline constexpr char Blank = char(0xFF);
// The first index that no record may write: data there could never be sent.
inline constexpr qint32 SendableEnd = MaxBlocks * BlockSize;
} // namespace Image

struct MemoryImage
{
    // Image::Size bytes, 0xFF wherever no record wrote.
    QByteArray bytes = QByteArray(Image::Size, Image::Blank);
    // lngImageEnd: the highest index written, 0 when nothing was.
    qint32 lngImageEnd = 0;
    bool anythingWritten = false;

    // N, the number of blocks to send: every written index is covered, so N = E div 256 + 1
    // when anything was written, else 0.
    int blockCount() const { return anythingWritten ? lngImageEnd / Image::BlockSize + 1 : 0; }

    // Block b: image indices 256 b to 256 b + 255.
    QByteArray block(int b) const
    {
        return bytes.mid(qsizetype(b) * Image::BlockSize, Image::BlockSize);
    }
};

// The value of one hex digit, 0-9, A-F and a-f; -1 for any other character.
inline constexpr std::array<qint8, 256> HexDigitValues = [] {
    std::array<qint8, 256> values{};
    values.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        values[c] = qint8(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        values[c] = qint8(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        values[c] = qint8(c - 'a' + 10);
    return values;
}();

inline int hexDigitValue(char c)
{
    return HexDigitValues[uchar(c)];
}

// Decodes the hex digit pairs of one S2 record and keeps its running checksum.
class RecordChecksum
{
public:
    // A record's sum starts at 1 and, with 256 taken off whenever it goes above 256, stays
    // within 1 to 256. A correct record (its checksum byte is the one's complement of the low
    // byte of the sum of count, address and data) ends at exactly 256.
    static constexpr qint16 Start = 1;
    static constexpr qint16 Modulus = 256;
    static constexpr qint16 Correct = Modulus;
    static constexpr int NotHex = -1;

    qint16 intChecksum = Start;

    // The byte that two hex digits spell, added into intChecksum. NotHex when either character
    // is not a hex digit; intChecksum is then unchanged.
    int HexByte(char high, char low)
    {
        const int h = hexDigitValue(high);
        const int l = hexDigitValue(low);
        if (h < 0 || l < 0)
            return NotHex;
        const int byte = h * 16 + l;
        intChecksum = qint16(intChecksum + byte);
        if (intChecksum > Modulus)
            intChecksum = qint16(intChecksum - Modulus);
        return byte;
    }

    bool isCorrect() const { return intChecksum == Correct; }
};

// Why a data file cannot be loaded.
enum class DataFileProblem {
    None,
    FileMissing,
    // The file exists but cannot be opened or read; DataFileReading::fileError says why.
    FileUnreadable,
    // A character of an S2 record is not a hex digit; failureColumn names it.
    NotHexDigit,
    // An S2 line ends before the record its count announces (or before its count or address).
    LineTooShort,
    // The count is below 4, too small for the address and the checksum.
    CountBelowFour,
    // The record has data at image index 0x100000 or beyond (address above 0x3FFFFF).
    BeyondMemory,
};

// The outcome of reading a data file.
//
// Lines end with CR LF, LF or a CR alone; only lines that start with "S2" are records. Of every
// record the count and the address (characters 3 to 10) must be there and be hex digits; a record
// below 0x300000 is then dropped with no further test. A record at 0x300000 or above must also
// have a count of at least 4, every character up to its checksum, hex digits only, and no data at
// index 0x100000 or beyond; its data go into the image (later records overwrite earlier ones)
// and, if its checksum is wrong, its line is listed. Characters after the checksum are not read.
// The first malformed record ends the reading. A file that writes nothing into the image is no
// failure of the reading; its image has no blocks to send.
struct DataFileReading
{
    // Valid only when ok(); all blank otherwise.
    MemoryImage image;
    // 1-based line numbers of the records at 0x300000 or above whose checksum is wrong, in file
    // order. Their data are in the image.
    QList<qint64> wrongChecksumLines{};

    // Empty on success; otherwise one English sentence that names the file, the line and what is
    // wrong. The window words its own message from the fields below.
    QString failure{};
    DataFileProblem problem = DataFileProblem::None;
    // The 1-based line of the malformed record; 0 when the failure is not about a line.
    qint64 failureLine = 0;
    // The 1-based column of the character that is not a hex digit; 0 for the other problems.
    int failureColumn = 0;
    // The system's reason when the file cannot be opened or read.
    QString fileError{};

    bool ok() const { return problem == DataFileProblem::None; }
};

// Reads data-file text handed over in pieces of any size, as they come from the file: a line
// end may fall across two pieces (a CR at the end of one and an LF at the start of the next are
// one line end).
class DataTextReader
{
public:
    // fileName only names the file in the failure sentence.
    explicit DataTextReader(const QString &fileName);
    // The same, filling the image of an earlier reading, made blank first: this spares
    // allocating a new one.
    DataTextReader(const QString &fileName, MemoryImage recycled);

    // Reads the next piece. Returns false once the reading has failed; later pieces are ignored.
    bool add(QByteArrayView piece);
    // Reads what is left of the last line and hands over the reading; the reader then reads
    // nothing more.
    DataFileReading finish();

private:
    void endLine(QByteArrayView line);
    void readRecord(QByteArrayView line);
    void fail(DataFileProblem problem, int column = 0, qint32 index = 0);

    QString m_fileName;
    DataFileReading m_reading;
    qint64 m_line = 0;
    // The start of a line that the last piece left unfinished, cut after the characters that
    // are ever read.
    QByteArray m_pending;
    bool m_afterCr = false;
    bool m_failed = false;
    bool m_finished = false;
};

// Reads the file named by strDataFile, used as it is: a name without a directory is found in the
// current directory.
DataFileReading readDataFile(const QString &strDataFile);
// Reads the text of a data file held in memory; fileName only names it in the failure sentence.
DataFileReading readDataText(QByteArrayView text, const QString &fileName);

} // namespace Kv402
