#include "link/srecord_image.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace Kv402 {

namespace {

// Small enough to stay in the cache, large enough for few reads.
constexpr qsizetype FilePieceSize = 64 * 1024;

DataFileReading fileFailure(DataFileProblem problem, const QString &why = {})
{
    DataFileReading reading;
    reading.problem = problem;
    reading.fileError = why;
    return reading;
}

} // namespace

DataTextReader::DataTextReader()
    : m_records({m_reading.image.bytes.data(), size_t(m_reading.image.bytes.size())})
{}

bool DataTextReader::add(QByteArrayView piece)
{
    return m_records.add(std::string_view(piece.data(), size_t(piece.size())));
}

DataFileReading DataTextReader::finish()
{
    m_records.finish();
    const RecordReading &records = m_records.reading();
    m_reading.image.imageEnd = records.imageEnd;
    m_reading.image.anythingWritten = records.anythingWritten;
    m_reading.wrongChecksumCount = records.wrongChecksumCount;
    m_reading.wrongChecksumLines = QList<qint64>(records.wrongChecksumLines.begin(),
                                                 records.wrongChecksumLines.end());
    m_reading.problem = records.problem;
    m_reading.failureLine = records.failureLine;
    m_reading.failureColumn = records.failureColumn;
    return std::move(m_reading);
}

DataFileReading readDataText(QByteArrayView text)
{
    DataTextReader reader;
    reader.add(text);
    DataFileReading reading = reader.finish();
    if (reading.ok()) {
        reading.sha256 = QString::fromLatin1(
            QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
    }
    return reading;
}

DataFileReading readDataFile(const QString &fileName, const std::atomic<bool> *stop)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return fileFailure(DataFileProblem::FileMissing);
    // A device or a pipe could hold the reading for ever.
    if (!info.isFile())
        return fileFailure(DataFileProblem::FileUnreadable, QString::fromUtf8(NotRegularFile));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fileFailure(DataFileProblem::FileUnreadable, file.errorString());

    DataTextReader reader;
    // The hash is of the very bytes the image is made of: the file may change meanwhile.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray piece(FilePieceSize, Qt::Uninitialized);
    qint64 got = 0;
    while ((got = file.read(piece.data(), piece.size())) > 0) {
        if (stop && stop->load()) {
            DataFileReading stopped;
            stopped.stopped = true;
            return stopped;
        }
        const QByteArrayView bytes(piece.constData(), got);
        hash.addData(bytes);
        if (!reader.add(bytes))
            break;
    }
    if (got < 0)
        return fileFailure(DataFileProblem::FileUnreadable, file.errorString());
    DataFileReading reading = reader.finish();
    if (reading.ok())
        reading.sha256 = QString::fromLatin1(hash.result().toHex());
    return reading;
}

} // namespace Kv402
