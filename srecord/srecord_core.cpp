#include "srecord/srecord_core.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace Kv402 {

namespace {

// The count is one byte, so a record body holds at most 255 bytes.
constexpr int MaxCount = 255;
// "S2", the count, then two characters per body byte: no character beyond is ever read.
constexpr int LongestRecord = 4 + 2 * MaxCount;
// "S2", the count and the six digits of the address.
constexpr int HeaderChars = 10;
// Body bytes before the data: the three of the address.
constexpr int AddressBytes = 3;
// Count, address and checksum: a record with a count of 4 has no data.
constexpr int CountWithoutData = 4;

// The 1-based column of the first character of body byte k.
constexpr int bodyColumn(int k)
{
    return 2 * k + 5;
}

bool startsRecord(std::string_view text)
{
    return text.size() >= 2 && text[0] == 'S' && text[1] == '2';
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

} // namespace

struct RecordReader::Record
{
    // None also for a record below the image, which is dropped.
    DataFileProblem problem = DataFileProblem::None;
    // For NotHexDigit: the 1-based column of the character.
    int column = 0;
    // The image index of the first data byte; for BeyondMemory the first index beyond the
    // terminal's memory.
    std::int32_t index = 0;
    int dataBytes = 0;
    bool checksumCorrect = true;
    // How many characters from the line's start were read, all hex digits, to come to this
    // outcome: the line is at least that long. 0 when the outcome may change with where the line
    // ends.
    size_t decided = 0;
    // The decoded body bytes: address, data, checksum.
    std::array<std::uint8_t, MaxCount> body;
};

RecordReader::RecordReader(std::span<char> image)
    : m_image(image)
{
    assert(image.size() == size_t(Image::Size));
}

bool RecordReader::add(std::string_view piece)
{
    if (m_finished)
        return false;
    const char *p = piece.data();
    const char *const end = p + piece.size();
    while (p < end && m_reading.ok()) {
        // CR LF is one line end: the CR has ended the line already.
        if (m_afterCr) {
            m_afterCr = false;
            if (*p == '\n') {
                ++p;
                continue;
            }
        }
        // A record whose line starts in this piece is read before its line's end is known: hex
        // digits are no line end, so the search for it starts after them. Only a record that
        // runs into another character, or out of the piece, waits for its line's end: the line
        // may be too short for it.
        const std::string_view rest(p, end);
        const Record record = m_pending.empty() && startsRecord(rest) ? readRecord(rest) : Record{};
        const char *eol = std::find_if(p + record.decided, end, isLineEnd);
        const size_t room = LongestRecord - m_pending.size();
        if (eol == end) {
            m_pending.append(p, std::min(size_t(eol - p), room));
            break;
        }
        if (record.decided > 0) {
            ++m_line;
            take(record);
        } else if (m_pending.empty()) {
            endLine(std::string_view(p, eol));
        } else {
            m_pending.append(p, std::min(size_t(eol - p), room));
            endLine(m_pending);
            m_pending.clear();
        }
        m_afterCr = *eol == '\r';
        p = eol + 1;
    }
    return m_reading.ok();
}

void RecordReader::finish()
{
    if (m_finished)
        return;
    if (m_reading.ok() && !m_pending.empty()) {
        endLine(m_pending);
        m_pending.clear();
    }
    if (!m_reading.ok()) {
        // The image was blank: only the indices up to the highest written can differ.
        if (m_reading.anythingWritten)
            std::fill_n(m_image.begin(), m_reading.imageEnd + 1, Image::Blank);
        m_reading.imageEnd = 0;
        m_reading.anythingWritten = false;
        m_reading.wrongChecksumLines.clear();
        m_reading.wrongChecksumCount = 0;
    }
    m_finished = true;
}

void RecordReader::endLine(std::string_view line)
{
    ++m_line;
    if (startsRecord(line))
        take(readRecord(line));
}

// Reads the record at the start of text, which is its line or runs on past the line's end.
RecordReader::Record RecordReader::readRecord(std::string_view text)
{
    Record record;
    RecordChecksum sum;
    // The pair at column has a character that is not a hex digit.
    const auto notHexDigit = [&](int column) {
        record.problem = DataFileProblem::NotHexDigit;
        record.column = hexDigitValue(text[size_t(column - 1)]) < 0 ? column : column + 1;
    };
    // Body byte k is in characters 2k + 5 and 2k + 6.
    const auto decode = [&](int first, int count) {
        const int decoded = sum.readBytes(&text[size_t(bodyColumn(first) - 1)],
                                          count,
                                          &record.body[size_t(first)]);
        if (decoded < count)
            notHexDigit(bodyColumn(first + decoded));
        return decoded == count;
    };

    if (text.size() < HeaderChars) {
        record.problem = DataFileProblem::LineTooShort;
        return record;
    }
    const int count = sum.readByte(text[2], text[3]);
    if (count == RecordChecksum::NotHex) {
        notHexDigit(3);
        return record;
    }
    if (!decode(0, AddressBytes))
        return record;
    const std::int32_t address = (record.body[0] * 256 + record.body[1]) * 256 + record.body[2];
    const std::int32_t index = address - Image::BaseAddress;
    // Records below the image are not the terminal's: dropped unread, checksum included.
    if (index < 0) {
        record.decided = HeaderChars;
        return record;
    }

    if (count < CountWithoutData) {
        record.problem = DataFileProblem::CountBelowFour;
        record.decided = HeaderChars;
        return record;
    }
    const size_t length = size_t(bodyColumn(count) - 1);
    if (text.size() < length) {
        record.problem = DataFileProblem::LineTooShort;
        return record;
    }
    if (!decode(AddressBytes, count - AddressBytes))
        return record;

    record.decided = length;
    record.dataBytes = count - CountWithoutData;
    if (record.dataBytes > 0 && index + record.dataBytes > Image::SendableEnd) {
        record.problem = DataFileProblem::BeyondMemory;
        record.index = std::max(index, Image::SendableEnd);
        return record;
    }
    record.index = index;
    record.checksumCorrect = sum.isCorrect();
    return record;
}

void RecordReader::take(const Record &record)
{
    if (record.problem != DataFileProblem::None) {
        fail(record.problem, record.column, record.index);
        return;
    }
    if (record.dataBytes > 0) {
        std::memcpy(m_image.data() + record.index,
                    record.body.data() + AddressBytes,
                    size_t(record.dataBytes));
        m_reading.imageEnd = std::max(m_reading.imageEnd, record.index + record.dataBytes - 1);
        m_reading.anythingWritten = true;
    }
    if (!record.checksumCorrect) {
        if (m_reading.wrongChecksumLines.size() < ListedWrongChecksums)
            m_reading.wrongChecksumLines.push_back(m_line);
        ++m_reading.wrongChecksumCount;
    }
}

void RecordReader::fail(DataFileProblem problem, int column, std::int32_t index)
{
    m_reading.problem = problem;
    m_reading.failureLine = m_line;
    m_reading.failureColumn = column;
    m_reading.failureIndex = index;
}

} // namespace Kv402
