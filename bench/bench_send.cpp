// kv402 send with 16 simulated terminals paced at 19200 baud, 64 blocks each, in one process: the
// wall time against one port's wire-time limit, the processor time of the whole process and its
// peak memory.

#include "bench_data.h"

#include "link/link_constants.h"
#include "ports/serial_port.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int Terminals = 16;
constexpr int Blocks = 64;
constexpr double WallGoal = 1.02;
constexpr double CpuGoal = 0.02;

} // namespace

int main()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("DATA.S28"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(Kv402::Bench::dataFile(Blocks)) < 0)
        return 1;
    out.close();

    std::vector<std::string> arguments{KV402_TOOL,
                                       "send",
                                       "--file",
                                       file.toStdString(),
                                       "--json",
                                       "--record",
                                       dir.filePath(QStringLiteral("loads.jsonl")).toStdString()};
    for (int n = 1; n <= Terminals; ++n) {
        arguments.push_back("--simulate");
        arguments.push_back("COM" + std::to_string(n) + "=healthy");
    }
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto wallStart = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return 1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return 1;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart)
                            .count();
    posix_spawn_file_actions_destroy(&actions);

    const qint64 characters = 2 * Kv402::Link::HeaderSize + Kv402::Link::StatusSize
                              + qint64(Blocks)
                                    * (2 * Kv402::Link::BlockSize + Kv402::Link::StatusSize);
    const double wire
        = std::chrono::duration<double>(characters * Kv402::Link::Line.characterTime()).count();
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                       + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("kv402 send: %d simulated terminals at 19200 baud, %d blocks each (exit %d)\n",
                Terminals,
                Blocks,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    std::printf("  one port's wire time %8.3f s\n", wire);
    std::printf("  wall time            %8.3f s = %.4f x wire time (goal <= %.2f) %s\n",
                wall,
                wall / wire,
                WallGoal,
                wall / wire <= WallGoal ? "met" : "MISSED");
    std::printf("  CPU time             %8.3f s = %.2f %% of wall (goal < %.0f %%) %s\n",
                cpu,
                100 * cpu / wall,
                100 * CpuGoal,
                cpu / wall < CpuGoal ? "met" : "MISSED");
    std::printf("  peak memory          %8.1f MiB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
