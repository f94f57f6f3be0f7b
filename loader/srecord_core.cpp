#include "loader/srecord_core.h"

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

std::string hexAddress(std::int32_t address)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), Digits[address % 16]);
        address /= 16;
    } while (address > 0);
    return "0x" + digits;
}

std::string quoted(std::string_view fileName)
{
    return "The data file \"" + std::string(fileName) + '"';
}

} // namespace

std::string RecordReading::failure(std::string_view fileName) const
{
    const std::string file = quoted(fileName);
    const std::string line = std::to_string(failureLine);
    switch (problem) {
    case DataFileProblem::NotHexDigit:
        return file + " has a character that is not a hex digit at line " + line + ", column "
               + std::to_string(failureColumn) + '.';
    case DataFileProblem::LineTooShort:
        return file + " has a record at line " + line
               + " that ends before its count says it should.";
    case DataFileProblem::CountBelowFour:
        return file + " has a record at line " + line + " whose count is below 4.";
    case DataFileProblem::BeyondMemory:
        return file + " has data at line " + line + " for address "
               + hexAddress(Image::BaseAddress + failureIndex)
               + ", beyond the terminal's memory, which ends at "
               + hexAddress(Image::BaseAddress + Image::SendableEnd - 1) + '.';
    case DataFileProblem::None:
    case DataFileProblem::FileMissing:
    case DataFileProblem::FileUnreadable:
        break;
    }
    return {};
}

std::string fileFailure(std::string_view fileName, DataFileProblem problem, std::string_view why)
{
    if (problem == DataFileProblem::FileMissing)
        return quoted(fileName) + " does not exist.";
    return quoted(fileName) + " cannot be read: " + std::string(why) + '.';
}

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
        const char *eol = std::find_if(p, end, [](char c) { return c == '\r' || c == '\n'; });
        const size_t room = LongestRecord - m_pending.size();
        if (eol == end) {
            m_pending.append(p, std::min(size_t(eol - p), room));
            break;
        }
        if (m_pending.empty()) {
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
        std::fill(m_image.begin(), m_image.end(), Image::Blank);
        m_reading.lngImageEnd = 0;
        m_reading.anythingWritten = false;
        m_reading.wrongChecksumLines.clear();
    }
    m_finished = true;
}

void RecordReader::endLine(std::string_view line)
{
    ++m_line;
    if (line.size() >= 2 && line[0] == 'S' && line[1] == '2')
        readRecord(line);
}

void RecordReader::readRecord(std::string_view line)
{
    RecordChecksum sum;
    // The record buffer: the decoded body bytes.
    std::array<std::uint8_t, MaxCount> body;

    // Decodes body bytes first to last - 1 (body byte k is in characters 2k + 5 and 2k + 6).
    const auto decode = [&](int first, int last) {
        for (int k = first; k < last; ++k) {
            const int column = bodyColumn(k);
            const int byte = sum.HexByte(line[column - 1], line[column]);
            if (byte == RecordChecksum::NotHex) {
                fail(DataFileProblem::NotHexDigit,
                     hexDigitValue(line[column - 1]) < 0 ? column : column + 1);
                return false;
            }
            body[size_t(k)] = std::uint8_t(byte);
        }
        return true;
    };

    if (line.size() < HeaderChars) {
        fail(DataFileProblem::LineTooShort);
        return;
    }
    const int count = sum.HexByte(line[2], line[3]);
    if (count == RecordChecksum::NotHex) {
        fail(DataFileProblem::NotHexDigit, hexDigitValue(line[2]) < 0 ? 3 : 4);
        return;
    }
    if (!decode(0, AddressBytes))
        return;
    const std::int32_t address = (body[0] * 256 + body[1]) * 256 + body[2];
    const std::int32_t index = address - Image::BaseAddress;
    // Records below the image are not the terminal's: dropped unread, checksum included.
    if (index < 0)
        return;

    if (count < CountWithoutData) {
        fail(DataFileProblem::CountBelowFour);
        return;
    }
    if (line.size() < size_t(bodyColumn(count) - 1)) {
        fail(DataFileProblem::LineTooShort);
        return;
    }
    if (!decode(AddressBytes, count))
        return;

    const int dataBytes = count - CountWithoutData;
    if (dataBytes > 0) {
        if (index + dataBytes > Image::SendableEnd) {
            fail(DataFileProblem::BeyondMemory, 0, std::max(index, Image::SendableEnd));
            return;
        }
        std::memcpy(m_image.data() + index, body.data() + AddressBytes, size_t(dataBytes));
        m_reading.lngImageEnd = std::max(m_reading.lngImageEnd, index + dataBytes - 1);
        m_reading.anythingWritten = true;
    }
    if (!sum.isCorrect())
        m_reading.wrongChecksumLines.push_back(m_line);
}

void RecordReader::fail(DataFileProblem problem, int column, std::int32_t index)
{
    m_reading.problem = problem;
    m_reading.failureLine = m_line;
    m_reading.failureColumn = column;
    m_reading.failureIndex = index;
}

} // namespace Kv402
