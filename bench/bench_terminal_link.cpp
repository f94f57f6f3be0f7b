// A 64-block transfer against the simulated terminal paced at 19200 baud, on the real clock: the
// wall time against the time the characters need on the wire, and the processor time the whole
// process used. Once on a port of the PC's own, then through a USB adapter at its default latency
// timer and at the 1 ms of low-latency mode.

#include "loader/link_constants.h"
#include "loader/terminal_link.h"
#include "simulator/simulated_terminal.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

using namespace Kv402;
using namespace std::chrono_literals;

namespace {

constexpr int Blocks = 64;
constexpr int Port = 1;
// Goals: the wire sets the pace, and waiting costs next to nothing.
constexpr double CpuGoal = 0.01;

struct Case
{
    const char *name;
    std::optional<SimulatedTerminal::Adapter> adapter;
    // Wall time against wire time; nothing where the figure only shows a cost.
    std::optional<double> wallGoal;
};

std::chrono::nanoseconds processCpuTime()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

double msecs(std::chrono::nanoseconds duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

MemoryImage benchImage()
{
    MemoryImage image;
    for (qsizetype i = 0; i < qsizetype(Blocks) * Image::BlockSize; ++i)
        image.bytes[i] = char(i * 31 + 7);
    image.lngImageEnd = Blocks * Image::BlockSize - 1;
    image.anythingWritten = true;
    return image;
}

// One transfer; false when it did not deliver the image.
bool run(const Case &benchCase, const MemoryImage &image, std::chrono::nanoseconds wireTime)
{
    // On the real steady clock, the terminal's default: the characters take their true time.
    SimulatedTerminal::Options options;
    options.paced = true;
    options.adapter = benchCase.adapter;
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPorts ports;
    ports.attach(Port, terminal);
    LinkObserver observer;
    TerminalLink link(ports, observer);

    const auto cpuStart = processCpuTime();
    const auto wallStart = std::chrono::steady_clock::now();
    const LinkOutcome outcome = link.run(image, Port);
    const std::chrono::nanoseconds wall = std::chrono::steady_clock::now() - wallStart;
    const std::chrono::nanoseconds cpu = processCpuTime() - cpuStart;

    const bool sent = outcome == LinkOutcome::Completed
                      && terminal->flash().left(Blocks * Image::BlockSize)
                             == image.bytes.left(Blocks * Image::BlockSize)
                      && terminal->violations().isEmpty();
    const double wallRatio = double(wall.count()) / double(wireTime.count());
    const double cpuShare = double(cpu.count()) / double(wall.count());
    std::printf("  %-22s %s\n", benchCase.name, sent ? "" : "transfer FAILED");
    if (benchCase.wallGoal) {
        std::printf("    wall time %9.1f ms = %.4f x wire time (goal <= %.2f) %s\n",
                    msecs(wall),
                    wallRatio,
                    *benchCase.wallGoal,
                    wallRatio <= *benchCase.wallGoal ? "met" : "MISSED");
    } else {
        std::printf("    wall time %9.1f ms = %.4f x wire time (+%.1f ms a block)\n",
                    msecs(wall),
                    wallRatio,
                    msecs(wall - wireTime) / Blocks);
    }
    std::printf("    CPU time  %9.1f ms = %.3f %% of wall time (goal < %.0f %%) %s\n",
                msecs(cpu),
                100 * cpuShare,
                100 * CpuGoal,
                cpuShare < CpuGoal ? "met" : "MISSED");
    return sent;
}

} // namespace

int main()
{
    const MemoryImage image = benchImage();
    // Header, its echo and its status reply; then each block, its echo and its status reply.
    const qint64 characters = 2 * Link::HeaderSize + Link::StatusSize
                              + qint64(Blocks) * (2 * Link::BlockSize + Link::StatusSize);
    const std::chrono::nanoseconds wireTime
        = characters * LineSettings::parse(QString(Link::LineSettings))->characterTime();

    SimulatedTerminal::Adapter defaultTimer;
    SimulatedTerminal::Adapter lowLatency;
    lowLatency.latencyTimer = 1ms;
    const Case cases[] = {
        {"port of the PC", std::nullopt, 1.01},
        {"USB adapter, 16 ms", defaultTimer, std::nullopt},
        {"USB adapter, 1 ms", lowLatency, 1.02},
    };

    std::printf("terminal link, %d blocks at %s, simulated terminal, real clock\n",
                Blocks,
                Link::LineSettings.data());
    std::printf("  wire time %9.1f ms (%lld characters of 11 bits)\n",
                msecs(wireTime),
                static_cast<long long>(characters));
    bool sent = true;
    for (const Case &benchCase : cases)
        sent = run(benchCase, image, wireTime) && sent;
    return sent ? 0 : 1;
}
