// libFuzzer harness for the data-file reader. Besides crashes and sanitizer reports it stops on
// any reading that breaks the image's rules, or that changes when the text comes in two pieces.

#include "loader/srecord_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace Kv402;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void checkRules(const DataFileReading &reading)
{
    const MemoryImage &image = reading.image;
    require(image.bytes.size() == Image::Size);
    require(reading.ok() == reading.failure.isEmpty());
    if (!reading.ok()) {
        require(reading.failureLine > 0);
        require(!image.anythingWritten && reading.wrongChecksumLines.isEmpty());
        return;
    }
    require(image.blockCount() >= 0 && image.blockCount() <= Image::MaxBlocks);
    require(image.lngImageEnd >= 0 && image.lngImageEnd < Image::SendableEnd);
    require(image.anythingWritten || image.lngImageEnd == 0);
    // Nothing is written beyond the highest index.
    static const QByteArray blank(Image::Size, Image::Blank);
    const qsizetype firstUnwritten = image.anythingWritten ? image.lngImageEnd + 1 : 0;
    require(std::memcmp(image.bytes.constData() + firstUnwritten,
                        blank.constData(),
                        size_t(Image::Size - firstUnwritten))
            == 0);
    for (qsizetype i = 1; i < reading.wrongChecksumLines.size(); ++i)
        require(reading.wrongChecksumLines[i - 1] < reading.wrongChecksumLines[i]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Two images recycled from run to run: fresh megabytes each time would cost more than the
    // reading itself.
    static MemoryImage spare[2];

    const QByteArrayView text(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString name = QStringLiteral("FUZZ.S28");
    DataTextReader once(name, std::move(spare[0]));
    once.add(text);
    DataFileReading whole = once.finish();
    checkRules(whole);

    // The file is read in pieces; where the cut falls must not matter.
    const qsizetype cut = size == 0 ? 0 : qsizetype(data[0]) * qsizetype(size) / 256;
    DataTextReader twice(name, std::move(spare[1]));
    twice.add(text.first(cut));
    twice.add(text.sliced(cut));
    DataFileReading pieces = twice.finish();
    require(pieces.failure == whole.failure);
    require(pieces.wrongChecksumLines == whole.wrongChecksumLines);
    require(pieces.image.lngImageEnd == whole.image.lngImageEnd);
    require(pieces.image.bytes == whole.image.bytes);

    spare[0] = std::move(whole.image);
    spare[1] = std::move(pieces.image);
    return 0;
}
