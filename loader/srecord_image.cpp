#include "loader/srecord_image.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
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
// Small enough to stay in the cache, large enough for few reads.
constexpr qsizetype FilePieceSize = 64 * 1024;

// The 1-based column of the first character of body byte k.
constexpr int bodyColumn(int k)
{
    return 2 * k + 5;
}

QString hexAddress(qint32 address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper();
}

DataFileReading fileFailure(const QString &fileName, DataFileProblem problem, const QString &why)
{
    DataFileReading reading;
    reading.problem = problem;
    if (problem == DataFileProblem::FileMissing) {
        reading.failure = QStringLiteral("The data file \"%1\" does not exist.").arg(fileName);
    } else {
        reading.fileError = why;
        reading.failure = QStringLiteral("The data file \"%1\" cannot be read: %2.")
                              .arg(fileName, why);
    }
    return reading;
}

void makeBlank(MemoryImage &image)
{
    image.bytes.resize(Image::Size);
    image.bytes.fill(Image::Blank);
    image.lngImageEnd = 0;
    image.anythingWritten = false;
}

} // namespace

DataTextReader::DataTextReader(const QString &fileName)
    : m_fileName(fileName)
{}

DataTextReader::DataTextReader(const QString &fileName, MemoryImage recycled)
    : m_fileName(fileName)
    , m_reading{.image = std::move(recycled)}
{
    makeBlank(m_reading.image);
}

bool DataTextReader::add(QByteArrayView piece)
{
    if (m_finished)
        return false;
    const char *p = piece.data();
    const char *const end = p + piece.size();
    while (p < end && !m_failed) {
        // CR LF is one line end: the CR has ended the line already.
        if (m_afterCr) {
            m_afterCr = false;
            if (*p == '\n') {
                ++p;
                continue;
            }
        }
        const char *eol = std::find_if(p, end, [](char c) { return c == '\r' || c == '\n'; });
        const qsizetype room = LongestRecord - m_pending.size();
        if (eol == end) {
            m_pending.append(p, std::min<qsizetype>(eol - p, room));
            break;
        }
        if (m_pending.isEmpty()) {
            endLine(QByteArrayView(p, eol));
        } else {
            m_pending.append(p, std::min<qsizetype>(eol - p, room));
            endLine(m_pending);
            m_pending.clear();
        }
        m_afterCr = *eol == '\r';
        p = eol + 1;
    }
    return !m_failed;
}

DataFileReading DataTextReader::finish()
{
    if (!m_failed && !m_pending.isEmpty()) {
        endLine(m_pending);
        m_pending.clear();
    }
    if (m_failed) {
        // A reading that failed must never be sent, not even in part.
        makeBlank(m_reading.image);
        m_reading.wrongChecksumLines.clear();
    }
    m_finished = true;
    return std::move(m_reading);
}

void DataTextReader::endLine(QByteArrayView line)
{
    ++m_line;
    if (line.size() >= 2 && line[0] == 'S' && line[1] == '2')
        readRecord(line);
}

void DataTextReader::readRecord(QByteArrayView line)
{
    RecordChecksum sum;
    // The record buffer: the decoded body bytes.
    std::array<quint8, MaxCount> body;

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
            body[size_t(k)] = quint8(byte);
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
    const qint32 address = (body[0] * 256 + body[1]) * 256 + body[2];
    const qint32 index = address - Image::BaseAddress;
    // Records below the image are not the terminal's: dropped unread, checksum included.
    if (index < 0)
        return;

    if (count < CountWithoutData) {
        fail(DataFileProblem::CountBelowFour);
        return;
    }
    if (line.size() < bodyColumn(count) - 1) {
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
        std::memcpy(m_reading.image.bytes.data() + index, body.data() + AddressBytes, dataBytes);
        MemoryImage &image = m_reading.image;
        image.lngImageEnd = std::max(image.lngImageEnd, index + dataBytes - 1);
        image.anythingWritten = true;
    }
    if (!sum.isCorrect())
        m_reading.wrongChecksumLines.append(m_line);
}

void DataTextReader::fail(DataFileProblem problem, int column, qint32 index)
{
    m_failed = true;
    m_reading.problem = problem;
    m_reading.failureLine = m_line;
    m_reading.failureColumn = column;
    const QString file = m_fileName;
    const QString line = QString::number(m_line);
    switch (problem) {
    case DataFileProblem::NotHexDigit:
        m_reading.failure
            = QStringLiteral(
                  "The data file \"%1\" has a character that is not a hex digit at line %2, "
                  "column %3.")
                  .arg(file, line, QString::number(column));
        break;
    case DataFileProblem::LineTooShort:
        m_reading.failure = QStringLiteral(
                                "The data file \"%1\" has a record at line %2 that ends before its "
                                "count says it should.")
                                .arg(file, line);
        break;
    case DataFileProblem::CountBelowFour:
        m_reading.failure = QStringLiteral("The data file \"%1\" has a record at line %2 whose "
                                           "count is below 4.")
                                .arg(file, line);
        break;
    case DataFileProblem::BeyondMemory:
        m_reading.failure
            = QStringLiteral("The data file \"%1\" has data at line %2 for address %3, beyond the "
                             "terminal's memory, which ends at %4.")
                  .arg(file,
                       line,
                       hexAddress(Image::BaseAddress + index),
                       hexAddress(Image::BaseAddress + Image::SendableEnd - 1));
        break;
    case DataFileProblem::None:
    case DataFileProblem::FileMissing:
    case DataFileProblem::FileUnreadable:
        break;
    }
}

DataFileReading readDataText(QByteArrayView text, const QString &fileName)
{
    DataTextReader reader(fileName);
    reader.add(text);
    return reader.finish();
}

DataFileReading readDataFile(const QString &strDataFile)
{
    const QFileInfo info(strDataFile);
    if (!info.exists())
        return fileFailure(strDataFile, DataFileProblem::FileMissing, {});
    // A device or a pipe could hold the reading for ever.
    if (!info.isFile())
        return fileFailure(strDataFile,
                           DataFileProblem::FileUnreadable,
                           QStringLiteral("it is not a regular file"));
    QFile file(strDataFile);
    if (!file.open(QIODevice::ReadOnly))
        return fileFailure(strDataFile, DataFileProblem::FileUnreadable, file.errorString());

    DataTextReader reader(strDataFile);
    QByteArray piece(FilePieceSize, Qt::Uninitialized);
    qint64 got = 0;
    while ((got = file.read(piece.data(), piece.size())) > 0) {
        if (!reader.add(QByteArrayView(piece.constData(), got)))
            break;
    }
    if (got < 0)
        return fileFailure(strDataFile, DataFileProblem::FileUnreadable, file.errorString());
    return reader.finish();
}

} // namespace Kv402
