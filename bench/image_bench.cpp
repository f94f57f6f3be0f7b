// Times `kv402 image` as a whole process against srec_cat on the same data file: a 1 MiB image
// as S2 records of 32 data bytes. Both programs run alternately, several times each; the medians
// of wall-clock and CPU time are shown side by side. It also checks that both wrote the same
// bytes.
//
// usage: bench_image [RUNS]    (srec_cat comes from the Debian package srecord)

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr std::uint32_t BaseAddress = 0x300000;
constexpr std::size_t ImageBytes = 0x100000;
constexpr std::size_t RecordBytes = 32;
constexpr int DefaultRuns = 21;
constexpr int WarmUpRuns = 2;
// kv402 is one program linked against Qt, SQLCipher and libmdb: loading them is most of its
// start-up, and the image command must stay at least this much faster than srec_cat all the same.
constexpr double GoalRatio = 2.0;

struct Timing
{
    double wallMs = 0;
    double cpuMs = 0;
    int exitCode = -1;
};

std::string hexByte(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

// One S2 record; its checksum is the one's complement of the low byte of the sum of the count,
// address and data bytes.
std::string s2Record(std::uint32_t address, const std::uint8_t *data, std::size_t size)
{
    const unsigned count = unsigned(size) + 4;
    unsigned sum = count + (address >> 16) + ((address >> 8) & 0xFF) + (address & 0xFF);
    std::string line = "S2" + hexByte(count) + hexByte(address >> 16) + hexByte(address >> 8)
                       + hexByte(address);
    for (std::size_t i = 0; i < size; ++i) {
        line += hexByte(data[i]);
        sum += data[i];
    }
    return line + hexByte(~sum & 0xFF) + "\r\n";
}

std::vector<std::uint8_t> imageData()
{
    // A fixed pseudo-random sequence (xorshift32), the same in every run.
    std::vector<std::uint8_t> data(ImageBytes);
    std::uint32_t state = 0x402402;
    for (std::uint8_t &byte : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = std::uint8_t(state >> 24);
    }
    return data;
}

bool writeDataFile(const std::string &path, const std::vector<std::uint8_t> &data)
{
    std::ofstream out(path, std::ios::binary);
    out << "S00600004844521B\r\n";
    for (std::size_t offset = 0; offset < data.size(); offset += RecordBytes)
        out << s2Record(BaseAddress + std::uint32_t(offset), data.data() + offset, RecordBytes);
    out << "S804300000CB\r\n";
    return bool(out);
}

std::vector<std::uint8_t> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double milliseconds(const timeval &time)
{
    return double(time.tv_sec) * 1e3 + double(time.tv_usec) / 1e3;
}

double now()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return double(time.tv_sec) * 1e3 + double(time.tv_nsec) / 1e6;
}

// Runs a program to its end with its output discarded; the CPU time is the child's own.
Timing run(const std::vector<std::string> &command)
{
    std::vector<char *> argv;
    for (const std::string &argument : command)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    Timing timing;
    const double start = now();
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return timing;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return timing;
    timing.wallMs = now() - start;
    timing.cpuMs = milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime);
    timing.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return timing;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Series
{
    const char *name;
    std::vector<std::string> command;
    std::vector<double> wall;
    std::vector<double> cpu;
};

} // namespace

int main(int argc, char *argv[])
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : DefaultRuns;

    char folder[] = "/tmp/kv402-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        std::fprintf(stderr, "bench_image: cannot make a temporary folder: %s\n", strerror(errno));
        return 1;
    }
    const std::string dir = folder;
    const std::string dataFile = dir + "/IMAGE.S28";
    const std::string kv402Out = dir + "/kv402.bin";
    const std::string srecOut = dir + "/srec_cat.bin";

    const std::vector<std::uint8_t> data = imageData();
    if (!writeDataFile(dataFile, data)) {
        std::fprintf(stderr, "bench_image: cannot write %s\n", dataFile.c_str());
        return 1;
    }

    std::vector<Series> series{
        {"kv402 image", {KV402_TOOL, "image", dataFile, "-o", kv402Out}, {}, {}},
        {"srec_cat",
         {"srec_cat", dataFile, "-offset", "-0x300000", "-o", srecOut, "-binary"},
         {},
         {}},
        // The program's start-up and a usage message: what no image work can go below.
        {"kv402 start-up only", {KV402_TOOL, "image"}, {}, {}},
    };
    const int expectedExit[] = {0, 0, 2};

    for (std::size_t s = 0; s < series.size(); ++s) {
        for (int i = 0; i < WarmUpRuns; ++i) {
            const Timing timing = run(series[s].command);
            if (timing.exitCode != expectedExit[s]) {
                std::fprintf(stderr,
                             "bench_image: %s failed (exit %d)%s\n",
                             series[s].name,
                             timing.exitCode,
                             s == 1 ? "; is the Debian package srecord installed?" : "");
                return 1;
            }
        }
    }
    // Alternating runs share whatever else the machine is doing.
    for (int i = 0; i < runs; ++i) {
        for (Series &one : series) {
            const Timing timing = run(one.command);
            one.wall.push_back(timing.wallMs);
            one.cpu.push_back(timing.cpuMs);
        }
    }

    const std::vector<std::uint8_t> fromKv402 = readFile(kv402Out);
    const std::vector<std::uint8_t> fromSrec = readFile(srecOut);
    const std::size_t overlap = std::min(fromKv402.size(), fromSrec.size());
    const bool same = fromKv402.size() == data.size() && overlap > 0
                      && std::equal(fromKv402.begin(),
                                    fromKv402.begin() + long(overlap),
                                    fromSrec.begin())
                      && fromKv402 == data;

    std::printf("data file: %ld bytes, %zu S2 records of %zu data bytes (a 1 MiB image)\n",
                long(readFile(dataFile).size()),
                ImageBytes / RecordBytes,
                RecordBytes);
    std::printf("kv402 build: %s; %d runs each, alternating; medians\n\n", KV402_BUILD_TYPE, runs);
    std::printf("%-22s %10s %10s\n", "", "wall ms", "CPU ms");
    for (const Series &one : series)
        std::printf("%-22s %10.1f %10.1f\n", one.name, median(one.wall), median(one.cpu));
    std::printf("\nsrec_cat / kv402 image: wall %.1f x, CPU %.1f x (goal %.0f x)\n",
                median(series[1].wall) / median(series[0].wall),
                median(series[1].cpu) / median(series[0].cpu),
                GoalRatio);
    std::printf("same bytes: %s (kv402 %zu bytes, srec_cat %zu bytes, %zu compared)\n",
                same ? "yes" : "NO",
                fromKv402.size(),
                fromSrec.size(),
                overlap);

    for (const std::string &file : {dataFile, kv402Out, srecOut})
        std::remove(file.c_str());
    rmdir(folder);
    return same ? 0 : 1;
}
