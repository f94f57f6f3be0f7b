// A 64-block transfer against the simulated terminal paced at 19200 baud: the wall time against
// the time the characters need on the wire, and the processor time the whole process used.

#include "loader/link_constants.h"
#include "loader/terminal_link.h"
#include "simulator/simulated_terminal.h"

#include <chrono>
#include <cstdio>
#include <ctime>

using namespace Kv402;

namespace {

constexpr int Blocks = 64;
constexpr int Port = 1;
// Goals: the wire sets the pace, and waiting costs next to nothing.
constexpr double WallGoal = 1.01;
constexpr double CpuGoal = 0.01;

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

} // namespace

int main()
{
    MemoryImage image;
    for (qsizetype i = 0; i < qsizetype(Blocks) * Image::BlockSize; ++i)
        image.bytes[i] = char(i * 31 + 7);
    image.imageEnd = Blocks * Image::BlockSize - 1;
    image.anythingWritten = true;

    // On the real steady clock, the terminal's default: the characters take their true time.
    SimulatedTerminal::Options options;
    options.paced = true;
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPorts ports;
    ports.attach(Port, terminal);
    LinkObserver observer;
    TerminalLink link(ports, observer);

    // Header, its echo and its status reply; then each block, its echo and its status reply.
    const qint64 characters = 2 * Link::HeaderSize + Link::StatusSize
                              + qint64(Blocks) * (2 * Link::BlockSize + Link::StatusSize);
    const std::chrono::nanoseconds wireTime
        = characters * LineSettings::parse(QString(Link::LineSettings))->characterTime();

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
    std::printf("terminal link, %d blocks at %s, simulated terminal\n",
                Blocks,
                Link::LineSettings.data());
    std::printf("  transfer    %s\n", sent ? "complete, flash equal to the image" : "FAILED");
    std::printf("  wire time   %9.1f ms (%lld characters of 11 bits)\n",
                msecs(wireTime),
                static_cast<long long>(characters));
    std::printf("  wall time   %9.1f ms = %.4f x wire time (goal <= %.2f) %s\n",
                msecs(wall),
                wallRatio,
                WallGoal,
                wallRatio <= WallGoal ? "met" : "MISSED");
    std::printf("  CPU time    %9.1f ms = %.3f %% of wall time (goal < %.0f %%) %s\n",
                msecs(cpu),
                100 * cpuShare,
                100 * CpuGoal,
                cpuShare < CpuGoal ? "met" : "MISSED");
    return sent ? 0 : 1;
}
