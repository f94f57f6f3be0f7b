// The station window, offscreen, with 16 armed simulated terminals paced at 19200 baud, 64 blocks
// each, plugged in together: each load's time against the wire time, the longest stall of the
// window's event loop while they run, and the processor time of the whole process against the
// wall time.

#include "bench_data.h"

#include "link/link_constants.h"
#include "load/load_record.h"
#include "simulator/simulated_terminal.h"
#include "station/station_loads.h"
#include "stationui/station_services.h"
#include "stationui/station_window.h"
#include "window_bench.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <sys/resource.h>

namespace {

constexpr int Terminals = 16;
constexpr int Blocks = 64;
constexpr double LoadGoal = 1.02;
constexpr qint64 StallGoalMs = 50;
constexpr double CpuGoal = 0.03;
// The beat whose lateness shows the event loop's stalls.
constexpr int BeatMs = 5;
constexpr int IdleMs = 3000;

double processSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());
    QApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("DATA.S28"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(Kv402::Bench::dataFile(Blocks)) < 0)
        return 1;
    out.close();
    QDir::setCurrent(dir.path());

    Kv402::SimulatedPorts ports;
    QList<std::shared_ptr<Kv402::SimulatedTerminal>> terminals;
    for (int n = 1; n <= Terminals; ++n) {
        Kv402::SimulatedTerminal::Options options;
        options.paced = true;
        options.cableConnected = false;
        terminals.append(std::make_shared<Kv402::SimulatedTerminal>(options));
        ports.attach(n, terminals.last());
    }
    Kv402::FactoryPortLister lister(ports);
    Kv402::Bench::NoMessages messages;
    const QString record = dir.filePath(QStringLiteral("loads.jsonl"));
    Kv402::StationWindow window(
        {&messages, &ports, &lister, nullptr, nullptr, {}, record, QStringLiteral("bench")});
    window.start();
    window.show();
    window.chooseFile(file, {});
    for (int n = 1; n <= Terminals; ++n) {
        if (!window.armPort(Kv402::portName(n))) {
            std::fprintf(stderr, "COM%d could not be armed\n", n);
            return 1;
        }
    }

    // The event loop's beat: how late each one comes is how long the loop was held up.
    QElapsedTimer wall;
    double wallSeconds = 0;
    double cpu = 0;
    QElapsedTimer sinceBeat;
    qint64 longestStall = 0;
    qint64 longestStallAt = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(BeatMs);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 stall = sinceBeat.restart() - BeatMs;
        if (stall > longestStall) {
            longestStall = stall;
            longestStallAt = wall.elapsed();
        }
    });

    // Each load's time, from the moment its tile shows it loading to the moment it shows the
    // outcome: the record keeps whole seconds only.
    QHash<QString, qint64> loadStarted;
    QHash<QString, qint64> loadTime;
    QObject::connect(&window.loads(), &Kv402::StationLoads::tileChanged, [&](const QString &port) {
        if (!wall.isValid())
            return;
        const auto state = window.loads().tile(port).state;
        if (state == Kv402::TileView::State::Loading && !loadStarted.contains(port))
            loadStarted.insert(port, wall.elapsed());
        else if (state != Kv402::TileView::State::Loading && loadStarted.contains(port)
                 && !loadTime.contains(port))
            loadTime.insert(port, wall.elapsed() - loadStarted.value(port));
    });

    double cpuStart = 0;
    // First the station idle, its ports armed and waiting, with the beat: what the measurement
    // itself and waiting cost.
    QElapsedTimer idle;
    double idleCpuStart = 0;
    double idleShare = 0;
    QTimer::singleShot(500, [&] {
        idle.start();
        idleCpuStart = processSeconds();
        sinceBeat.start();
        beat.start();
    });
    QTimer::singleShot(500 + IdleMs, [&] {
        idleShare = (processSeconds() - idleCpuStart) / (idle.elapsed() / 1000.0);
        longestStall = 0;
        // Every terminal is plugged in at once.
        wall.start();
        cpuStart = processSeconds();
        for (const auto &terminal : terminals)
            terminal->setCableConnected(true);
    });
    QTimer done;
    done.setInterval(100);
    QObject::connect(&done, &QTimer::timeout, [&] {
        // Every run has ended, and been recorded.
        if (!wall.isValid() || window.isLoading())
            return;
        for (int n = 1; n <= Terminals; ++n) {
            const auto state = window.loads().tile(Kv402::portName(n)).state;
            if (state == Kv402::TileView::State::Loading
                || state == Kv402::TileView::State::WaitingForTerminal)
                return;
        }
        // The measurement ends with the loads; quitting closes the window, which is no part of it.
        beat.stop();
        wallSeconds = wall.elapsed() / 1000.0;
        cpu = processSeconds() - cpuStart;
        app.quit();
    });
    done.start();
    app.exec();
    window.stopAll();

    const qint64 characters = 2 * Kv402::Link::HeaderSize + Kv402::Link::StatusSize
                              + qint64(Blocks)
                                    * (2 * Kv402::Link::BlockSize + Kv402::Link::StatusSize);
    const double wire
        = std::chrono::duration<double>(characters * Kv402::Link::Line.characterTime()).count();

    std::printf("kv402station: %d armed simulated terminals at 19200 baud, %d blocks each, "
                "offscreen\n",
                Terminals,
                Blocks);
    std::printf("  one load's wire time %8.3f s\n", wire);
    const QList<Kv402::LoadRecordEntry> loads = Kv402::LoadRecord(record).read();
    double worst = 0;
    for (const Kv402::LoadRecordEntry &load : loads) {
        const double seconds = loadTime.value(load.port) / 1000.0;
        worst = std::max(worst, seconds / wire);
        std::printf("  %-5s %-10s %8.3f s = %.4f x wire time\n",
                    qPrintable(load.port),
                    qPrintable(load.outcome),
                    seconds,
                    seconds / wire);
    }
    const bool allTimed = loads.size() == Terminals && loadTime.size() == Terminals;
    std::printf("  loads recorded       %8lld of %d\n", qint64(loads.size()), Terminals);
    std::printf("  slowest load         %.4f x wire time (goal <= %.2f) %s\n",
                worst,
                LoadGoal,
                allTimed && worst <= LoadGoal ? "met" : "MISSED");
    std::printf(
        "  longest stall        %8lld ms of the event loop, %.1f s after the plug-in (goal < "
        "%lld ms) %s\n",
        longestStall,
        longestStallAt / 1000.0,
        StallGoalMs,
        longestStall < StallGoalMs ? "met" : "MISSED");
    std::printf("  CPU time             %8.3f s over %.3f s = %.2f %% of one core (goal < %.0f %%) "
                "%s\n",
                cpu,
                wallSeconds,
                100 * cpu / wallSeconds,
                100 * CpuGoal,
                cpu / wallSeconds < CpuGoal ? "met" : "MISSED");
    std::printf("  idle, armed, beating %8.2f %% of one core before the plug-in\n", 100 * idleShare);
    return 0;
}
