// libFuzzer harness for the S-record reading (kv402srec). Besides crashes and sanitizer reports
// it stops on any reading that breaks the image's rules, or that changes when the text comes in
// pieces: cut in three, or a character at a time - then every line is read only once its end is
// known, where the whole text lets most records be read before.

#include "srecord/srecord_core.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

using namespace Kv402;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// An image kept from run to run and made blank again after each reading: a fresh megabyte each
// time would cost more than the reading itself.
class SpareImage
{
public:
    std::span<char> bytes() { return m_bytes; }

    // Only the indices up to the highest written can have been written.
    void makeBlank(const RecordReading &reading)
    {
        if (reading.anythingWritten)
            std::fill_n(m_bytes.begin(), reading.imageEnd + 1, Image::Blank);
    }

private:
    std::vector<char> m_bytes = std::vector<char>(size_t(Image::Size), Image::Blank);
};

void checkRules(const RecordReading &reading, std::span<const char> image)
{
    // The reading finds what is wrong with the records; a file that is missing or unreadable is
    // no matter of its text.
    require(reading.problem != DataFileProblem::FileMissing
            && reading.problem != DataFileProblem::FileUnreadable);
    // Nothing is written beyond the highest index.
    static const std::vector<char> blank(size_t(Image::Size), Image::Blank);
    const size_t firstUnwritten = reading.anythingWritten ? size_t(reading.imageEnd) + 1 : 0;
    require(std::memcmp(image.data() + firstUnwritten,
                        blank.data(),
                        size_t(Image::Size) - firstUnwritten)
            == 0);
    if (!reading.ok()) {
        require(reading.failureLine > 0);
        require((reading.problem == DataFileProblem::NotHexDigit) == (reading.failureColumn > 0));
        require(!reading.anythingWritten && reading.imageEnd == 0);
        require(reading.wrongChecksumLines.empty());
        return;
    }
    const int blocks = Image::blockCount(reading.anythingWritten, reading.imageEnd);
    require(blocks >= 0 && blocks <= Image::MaxBlocks);
    require(reading.imageEnd >= 0 && reading.imageEnd < Image::SendableEnd);
    require(reading.anythingWritten || reading.imageEnd == 0);
    for (size_t i = 0; i < reading.wrongChecksumLines.size(); ++i)
        require(reading.wrongChecksumLines[i] > (i == 0 ? 0 : reading.wrongChecksumLines[i - 1]));
}

void requireSame(const RecordReading &a, const RecordReading &b)
{
    require(a.problem == b.problem);
    require(a.failureLine == b.failureLine);
    require(a.failureColumn == b.failureColumn);
    require(a.failureIndex == b.failureIndex);
    require(a.imageEnd == b.imageEnd);
    require(a.anythingWritten == b.anythingWritten);
    require(a.wrongChecksumLines == b.wrongChecksumLines);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static SpareImage spare[3];
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    const auto read = [](SpareImage &image, const auto &pieces) {
        RecordReader reader(image.bytes());
        for (std::string_view piece : pieces)
            reader.add(piece);
        reader.finish();
        const RecordReading reading = reader.reading();
        checkRules(reading, image.bytes());
        return reading;
    };

    const RecordReading whole = read(spare[0], std::vector<std::string_view>{text});

    // The file is read in pieces; where the cuts fall must not matter.
    const size_t first = size == 0 ? 0 : size_t(data[0]) * size / 256;
    const size_t second = size < 2 ? size : first + size_t(data[1]) * (size - first) / 256;
    const RecordReading cut = read(spare[1],
                                   std::vector<std::string_view>{text.substr(0, first),
                                                                 text.substr(first, second - first),
                                                                 text.substr(second)});
    std::vector<std::string_view> characters;
    for (size_t i = 0; i < size; ++i)
        characters.push_back(text.substr(i, 1));
    const RecordReading single = read(spare[2], characters);

    requireSame(cut, whole);
    requireSame(single, whole);
    const size_t written = whole.anythingWritten ? size_t(whole.imageEnd) + 1 : 0;
    for (SpareImage *other : {&spare[1], &spare[2]})
        require(std::memcmp(spare[0].bytes().data(), other->bytes().data(), written) == 0);

    spare[0].makeBlank(whole);
    spare[1].makeBlank(cut);
    spare[2].makeBlank(single);
    return 0;
}
