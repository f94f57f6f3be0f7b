#include "cli/commands.h"
#include "cli/output.h"

#include "load/load_texts.h"
#include "srecord/srecord_core.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Kv402::Tool {

namespace {

// The image and the piece of the data file being read share one huge page where the system
// offers them: on a virtual machine a page fault can cost 10 microseconds, and the image alone
// spans 257 small pages, which would take longer than the whole reading.
constexpr size_t HugePage = 2 * 1024 * 1024;
constexpr size_t SmallPage = 4096;
// The piece starts at the first small page after the image; it is large enough for few reads.
constexpr size_t PieceOffset = (size_t(Image::Size) + SmallPage - 1) / SmallPage * SmallPage;
constexpr size_t PieceSize = 256 * 1024;
static_assert(PieceOffset + PieceSize <= HugePage);

struct Memory
{
    std::span<char> image;
    std::span<char> piece;
};

// The image, blank, and room for a piece; empty when the system has no memory to give.
Memory reserveMemory()
{
    // Twice the size, for a huge page boundary within. Not given back: the process ends soon.
    void *const mapping
        = mmap(nullptr, 2 * HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return {};
    const auto address = reinterpret_cast<std::uintptr_t>(mapping);
    char *const start = reinterpret_cast<char *>((address + HugePage - 1) & ~(HugePage - 1));
    // A hint only: without a huge page the memory is the same, just slower to fill.
    madvise(start, HugePage, MADV_HUGEPAGE);
    std::fill_n(start, Image::Size, Image::Blank);
    return {{start, size_t(Image::Size)}, {start + PieceOffset, PieceSize}};
}

std::string wrongChecksumSummary(const RecordReading &reading)
{
    std::string summary = std::to_string(reading.wrongChecksumCount);
    if (reading.wrongChecksumLines.empty())
        return summary;
    summary += " (lines ";
    for (size_t i = 0; i < reading.wrongChecksumLines.size(); ++i)
        summary += (i > 0 ? ", " : "") + std::to_string(reading.wrongChecksumLines[i]);
    if (reading.wrongChecksumCount > std::int64_t(reading.wrongChecksumLines.size()))
        summary += ", ...";
    return summary + ')';
}

int usage()
{
    printError(ImageUsage);
    return Usage;
}

// Why a data file was not read: the problem, and the system's reason for a file that could not
// be read.
struct ReadFailure
{
    DataFileProblem problem = DataFileProblem::None;
    std::string reason;
};

// Reads the data file as readDataFile() does, with the same failures; a malformed record is the
// reader's.
ReadFailure readDataFile(const std::string &source, RecordReader &reader, std::span<char> piece)
{
    struct stat info;
    if (stat(source.c_str(), &info) != 0)
        return {DataFileProblem::FileMissing, {}};
    // A device or a pipe could hold the reading for ever.
    if (!S_ISREG(info.st_mode))
        return {DataFileProblem::FileUnreadable, std::string(NotRegularFile)};
    const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {DataFileProblem::FileUnreadable, std::strerror(errno)};

    ssize_t got = 0;
    while ((got = read(fd, piece.data(), piece.size())) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || !reader.add(std::string_view(piece.data(), size_t(got))))
            break;
    }
    const std::string why = got < 0 ? std::strerror(errno) : std::string();
    close(fd);
    if (!why.empty())
        return {DataFileProblem::FileUnreadable, why};
    reader.finish();
    return {reader.reading().problem, {}};
}

// A data file that cannot be loaded, in the words of a load's message.
void tellUnusable(const std::string &source,
                  const ReadFailure &failure,
                  const RecordReading &reading)
{
    const QString problem = dataFileProblemText(failure.problem,
                                                reading.failureLine,
                                                reading.failureColumn,
                                                QString::fromLocal8Bit(failure.reason),
                                                Language::English);
    printError(QStringLiteral("kv402: ")
               + LoadTexts::DataFileUnusable.in(Language::English)
                     .arg(QFile::decodeName(source.c_str()), problem)
               + QLatin1Char('\n'));
}

// Replaces target by bytes, whole or not at all: they go into a new file in the same folder, which
// reaches the disk before it is renamed over target. A symbolic link is followed, and an existing
// file keeps its permissions. Empty on success, otherwise why not.
std::string save(const std::string &target, std::span<const char> bytes)
{
    QSaveFile file(QFile::decodeName(target.c_str()));
    // Unbuffered: the image goes to the file in one write, not copied into a buffer first.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        && file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size())
        && file.commit()) {
        return {};
    }
    return file.errorString().toStdString();
}

int cannotWrite(const std::string &target, const std::string &why)
{
    printError("kv402: cannot write \"" + target + "\": " + why + '\n');
    return Failure;
}

int writeImage(const std::string &source, const std::string &target)
{
    const std::string refusal = outputRefusal(source, target);
    if (!refusal.empty())
        return cannotWrite(target, refusal);
    const Memory memory = reserveMemory();
    if (memory.image.empty()) {
        printError("kv402: no memory for the image: " + std::string(std::strerror(errno)) + '\n');
        return Failure;
    }
    RecordReader reader(memory.image);
    const ReadFailure failure = readDataFile(source, reader, memory.piece);
    const RecordReading &reading = reader.reading();
    if (failure.problem != DataFileProblem::None) {
        tellUnusable(source, failure, reading);
        return Failure;
    }
    const int blocks = Image::blockCount(reading.anythingWritten, reading.imageEnd);
    if (blocks == 0) {
        printError(
            QStringLiteral("kv402: ")
            + LoadTexts::NoDataToLoad.in(Language::English).arg(QFile::decodeName(source.c_str()))
            + QLatin1Char('\n'));
        return Failure;
    }

    // The blocks are the first N * 256 bytes of the image, as the terminal receives them.
    const std::string why = save(target, memory.image.first(size_t(blocks) * Image::BlockSize));
    if (!why.empty())
        return cannotWrite(target, why);
    char highest[16];
    std::snprintf(highest, sizeof highest, "0x%X", unsigned(reading.imageEnd));
    printOut("blocks: " + std::to_string(blocks) + "\nhighest index: " + highest
             + "\nwrong checksums: " + wrongChecksumSummary(reading) + '\n');
    return Success;
}

} // namespace

int imageCommand(std::span<const char *const> arguments)
{
    std::string source;
    std::string target;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "-o" && target.empty() && i + 1 < arguments.size()) {
            target = arguments[++i];
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            printOut(ImageUsage);
            return Success;
        }
        if (argument.starts_with('-') || !source.empty())
            return usage();
        source = argument;
    }
    if (source.empty() || target.empty())
        return usage();
    return writeImage(source, target);
}

} // namespace Kv402::Tool
