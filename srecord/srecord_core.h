#pragma once

// The reading of S-record data files in plain C++, without Qt: the program's reader
// (srecord_image.h) wraps it, and kv402 image reads with it before any Qt object is made. It tells
// what is wrong with a file; the words are the load layer's (load/load_texts.h).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Kv402 {

// The memory image of a data file: the bytes for load addresses 0x300000 to 0x400000, sent to
// the terminal in blocks of 256 bytes.
namespace Image {
inline constexpr std::int32_t BaseAddress = 0x300000;
// Indices 0 to 0x100000.
inline constexpr std::ptrdiff_t Size = 0x100001;
inline constexpr int BlockSize = 256;
// Only the first 0x100000 bytes can be sent: the terminal's memory ends there.
inline constexpr int MaxBlocks = 0x100000 / BlockSize;
inline constexpr char Blank = char(0xFF);
// The first index that no record may write: data there could never be sent.
inline constexpr std::int32_t SendableEnd = MaxBlocks * BlockSize;

// N, the number of blocks to send: every written index is covered, so N = E div 256 + 1 when
// anything was written, else 0.
constexpr int blockCount(bool anythingWritten, std::int32_t imageEnd)
{
    return anythingWritten ? imageEnd / BlockSize + 1 : 0;
}
} // namespace Image

// The value of one hex digit, 0-9, A-F and a-f; -1 for any other character.
inline constexpr std::array<std::int8_t, 256> HexDigitValues = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        values[c] = std::int8_t(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        values[c] = std::int8_t(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        values[c] = std::int8_t(c - 'a' + 10);
    return values;
}();

inline int hexDigitValue(char c)
{
    return HexDigitValues[static_cast<unsigned char>(c)];
}

// Decodes the hex digit pairs of one S2 record and keeps its running checksum.
class RecordChecksum
{
public:
    // A record's sum starts at 1 and, with 256 taken off whenever it goes above 256, stays
    // within 1 to 256. A correct record (its checksum byte is the one's complement of the low
    // byte of the sum of count, address and data) ends at exactly 256.
    static constexpr std::int16_t Start = 1;
    static constexpr std::int16_t Modulus = 256;
    static constexpr std::int16_t Correct = Modulus;
    static constexpr int NotHex = -1;

    std::int16_t runningSum = Start;

    // The byte that two hex digits spell, added into runningSum. NotHex when either character
    // is not a hex digit; runningSum is then unchanged.
    int readByte(char high, char low)
    {
        const int h = hexDigitValue(high);
        const int l = hexDigitValue(low);
        if (h < 0 || l < 0)
            return NotHex;
        const int byte = h * 16 + l;
        runningSum = std::int16_t(runningSum + byte);
        if (runningSum > Modulus)
            runningSum = std::int16_t(runningSum - Modulus);
        return byte;
    }

    // What readByte does, for count digit pairs in a row, decoded into bytes. Returns how many
    // pairs are hex digits: count, or the index of the first pair that is not, which is left out.
    int readBytes(const char *digits, int count, std::uint8_t *bytes)
    {
        // Summed apart, then added once: taking 256 off whenever runningSum goes above 256
        // keeps runningSum - 1 the remainder of its sum mod 256. This spares a chain of
        // dependent steps per byte.
        int sum = 0;
        int k = 0;
        for (; k < count; ++k) {
            const int h = hexDigitValue(digits[2 * k]);
            const int l = hexDigitValue(digits[2 * k + 1]);
            if ((h | l) < 0)
                break;
            bytes[k] = std::uint8_t(h * 16 + l);
            sum += h * 16 + l;
        }
        runningSum = std::int16_t((runningSum - 1 + sum) % Modulus + 1);
        return k;
    }

    bool isCorrect() const { return runningSum == Correct; }
};

// Why a data file cannot be loaded.
enum class DataFileProblem {
    None,
    FileMissing,
    // The file exists but cannot be opened or read; the system says why.
    FileUnreadable,
    // A character of an S2 record is not a hex digit; the failure's column names it.
    NotHexDigit,
    // An S2 line ends before the record its count announces (or before its count or address).
    LineTooShort,
    // The count is below 4, too small for the address and the checksum.
    CountBelowFour,
    // The record has data at image index 0x100000 or beyond (address above 0x3FFFFF).
    BeyondMemory,
    // The file read well, but its bytes are not those a signed bundle released (the load's, not
    // the reader's, finding).
    NotAsReleased,
};

// What reading the records of a data file found, besides the image bytes.
struct RecordReading
{
    // The highest index written, 0 when nothing was.
    std::int32_t imageEnd = 0;
    bool anythingWritten = false;
    // How many records at 0x300000 or above have a wrong checksum. Their data are in the image.
    std::int64_t wrongChecksumCount = 0;
    // The 1-based line numbers of the first of them (ListedWrongChecksums at most), in file order:
    // only these are ever shown, and a file of millions of bad records must not cost their lines.
    std::vector<std::int64_t> wrongChecksumLines{};

    DataFileProblem problem = DataFileProblem::None;
    // The 1-based line of the malformed record.
    std::int64_t failureLine = 0;
    // The 1-based column of the character that is not a hex digit; 0 for the other problems.
    int failureColumn = 0;
    // For BeyondMemory: the first index beyond the terminal's memory that the record writes.
    std::int32_t failureIndex = 0;

    bool ok() const { return problem == DataFileProblem::None; }
};

// How many lines of wrong checksums a reading keeps and the user is shown.
inline constexpr std::size_t ListedWrongChecksums = 10;

// The reason given for a data file that is not a regular file.
inline constexpr std::string_view NotRegularFile = "it is not a regular file";

// Reads data-file text handed over in pieces of any size, as they come from the file, into a
// memory image: a line end may fall across two pieces (a CR at the end of one and an LF at the
// start of the next are one line end).
//
// Lines end with CR LF, LF or a CR alone; only lines that start with "S2" are records. Of every
// record the count and the address (characters 3 to 10) must be there and be hex digits; a record
// below 0x300000 is then dropped with no further test. A record at 0x300000 or above must also
// have a count of at least 4, every character up to its checksum, hex digits only, and no data at
// index 0x100000 or beyond; its data go into the image (later records overwrite earlier ones)
// and, if its checksum is wrong, its line is listed. Characters after the checksum are not read.
// The first malformed record ends the reading. A file that writes nothing into the image is no
// failure of the reading; its image has no blocks to send.
class RecordReader
{
public:
    // image: Image::Size bytes, all blank; it must outlive the reader.
    explicit RecordReader(std::span<char> image);
    RecordReader(const RecordReader &) = delete;
    RecordReader &operator=(const RecordReader &) = delete;

    // Reads the next piece. Returns false once the reading has failed; later pieces are ignored.
    bool add(std::string_view piece);
    // Reads what is left of the last line; the reader then reads nothing more. A reading that
    // failed leaves the image blank and lists no wrong checksum: it must never be sent, not even
    // in part.
    void finish();

    const RecordReading &reading() const { return m_reading; }

private:
    // One S2 record as read from the start of its line.
    struct Record;

    void endLine(std::string_view line);
    static Record readRecord(std::string_view text);
    void take(const Record &record);
    void fail(DataFileProblem problem, int column = 0, std::int32_t index = 0);

    std::span<char> m_image;
    RecordReading m_reading;
    std::int64_t m_line = 0;
    // The start of a line that the last piece left unfinished, cut after the characters that
    // are ever read.
    std::string m_pending;
    bool m_afterCr = false;
    bool m_finished = false;
};

} // namespace Kv402
