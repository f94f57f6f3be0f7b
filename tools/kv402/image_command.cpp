#include "tools/kv402/commands.h"

#include "loader/srecord_image.h"

#include <QSaveFile>

#include <algorithm>

namespace Kv402::Tool {

namespace {

// How many lines with a wrong checksum are named; the count covers them all.
constexpr int ListedChecksumLines = 10;

const char ImageUsage[] = "usage: kv402 image DATAFILE -o OUT.bin\n";

QString wrongChecksumSummary(const QList<qint64> &lines)
{
    QString summary = QString::number(lines.size());
    if (lines.isEmpty())
        return summary;
    QStringList listed;
    for (qint64 line : lines.first(std::min<qsizetype>(lines.size(), ListedChecksumLines)))
        listed.append(QString::number(line));
    if (lines.size() > ListedChecksumLines)
        listed.append(QStringLiteral("..."));
    return summary + QStringLiteral(" (lines %1)").arg(listed.join(QStringLiteral(", ")));
}

int usage()
{
    printError(QString::fromLatin1(ImageUsage));
    return Usage;
}

int writeImage(const QString &source, const QString &target)
{
    const DataFileReading reading = readDataFile(source);
    if (!reading.ok()) {
        printError(QStringLiteral("kv402: %1\n").arg(reading.failure));
        return Failure;
    }
    const MemoryImage &image = reading.image;
    const int blocks = image.blockCount();
    if (blocks == 0) {
        printError(
            QStringLiteral("kv402: The data file \"%1\" holds no data to load.\n").arg(source));
        return Failure;
    }

    // The blocks are the first N * 256 bytes of the image, as the terminal receives them.
    QSaveFile out(target);
    const qint64 length = qint64(blocks) * Image::BlockSize;
    if (!out.open(QIODevice::WriteOnly) || out.write(image.bytes.constData(), length) != length
        || !out.commit()) {
        printError(
            QStringLiteral("kv402: cannot write \"%1\": %2\n").arg(target, out.errorString()));
        return Failure;
    }
    printOut(QStringLiteral("blocks: %1\nhighest index: 0x%2\nwrong checksums: %3\n")
                 .arg(QString::number(blocks),
                      QString::number(image.lngImageEnd, 16).toUpper(),
                      wrongChecksumSummary(reading.wrongChecksumLines)));
    return Success;
}

} // namespace

int imageCommand(const QStringList &arguments)
{
    QString source;
    QString target;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("-o") && target.isEmpty() && i + 1 < arguments.size()) {
            target = arguments.at(++i);
            continue;
        }
        if (argument.startsWith(QLatin1Char('-')) || !source.isEmpty())
            return usage();
        source = argument;
    }
    if (source.isEmpty() || target.isEmpty())
        return usage();
    return writeImage(source, target);
}

} // namespace Kv402::Tool
