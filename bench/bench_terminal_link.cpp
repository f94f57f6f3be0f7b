// A 64-block transfer against the simulated terminal paced at 19200 baud, on the real clock: the
// wall time against the time the characters need on the wire, and the processor time the whole
// process used. Once on a port of the PC's own, then through a USB adapter at its default latency
// timer and at the 1 ms of low-latency mode.
// Then the platform's port (QtSerialPort) with what can be measured without a terminal: the data
// path of the same exchanges on a pseudo-terminal, whose other end echoes at the wire's pace (a
// pseudo-terminal has no RTS and CTS, so one byte stands for the PC's answer), and the reading of
// CTS every millisecond, as a wait for it does, on COM1 where it can be opened.

#include "link/link_constants.h"
#include "ports/port_constants.h"
#include "ports/qt_serial_port.h"
#include "link/terminal_link.h"
#include "simulator/simulated_terminal.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

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

std::chrono::nanoseconds cpuTime(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

std::chrono::nanoseconds processCpuTime()
{
    return cpuTime(CLOCK_PROCESS_CPUTIME_ID);
}

// The calling thread's alone: the PC's side, without the echoing end of the pseudo-terminal.
std::chrono::nanoseconds threadCpuTime()
{
    return cpuTime(CLOCK_THREAD_CPUTIME_ID);
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
    image.imageEnd = Blocks * Image::BlockSize - 1;
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
    const LinkOutcome outcome = link.run(image, portAddress(Port));
    const std::chrono::nanoseconds wall = std::chrono::steady_clock::now() - wallStart;
    const std::chrono::nanoseconds cpu = processCpuTime() - cpuStart;

    const bool sent = outcome == LinkOutcome::Completed
                      && terminal->flash().left(Blocks * Image::BlockSize)
                             == image.bytes.left(Blocks * Image::BlockSize)
                      && terminal->violations().isEmpty();
    const double wallRatio = double(wall.count()) / double(wireTime.count());
    const double cpuShare = double(cpu.count()) / double(wall.count());
    std::printf("  %s%s\n", benchCase.name, sent ? "" : ": transfer FAILED");
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

void printCpu(const char *what, std::chrono::nanoseconds cpu, std::chrono::nanoseconds wall)
{
    const double share = double(cpu.count()) / double(wall.count());
    std::printf("  %s\n    wall time %9.1f ms, CPU time %7.1f ms = %.3f %% (goal < %.0f %%) %s\n",
                what,
                msecs(wall),
                msecs(cpu),
                100 * share,
                100 * CpuGoal,
                share < CpuGoal ? "met" : "MISSED");
}

// The far end of a pseudo-terminal: echoes each transmission once its characters would have
// arrived, waits for the one-byte answer and sends the status reply.
void echoingTerminal(int master, std::chrono::nanoseconds character)
{
    const auto readExactly = [master](qsizetype count) {
        QByteArray bytes;
        while (bytes.size() < count) {
            pollfd fd{master, POLLIN, 0};
            if (::poll(&fd, 1, 5000) <= 0)
                return QByteArray();
            char buffer[512];
            const ssize_t got = ::read(master, buffer, size_t(count - bytes.size()));
            if (got <= 0)
                return QByteArray();
            bytes.append(buffer, got);
        }
        return bytes;
    };
    const auto send = [&](const QByteArray &bytes) {
        std::this_thread::sleep_for(bytes.size() * character);
        return ::write(master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    };
    for (int block = 0; block < Blocks; ++block) {
        const QByteArray received = readExactly(Link::BlockSize);
        if (received.isEmpty() || !send(received) || readExactly(1).isEmpty()
            || !send(QByteArray(Link::StatusSize, '\0'))) {
            return;
        }
    }
}

// The PC's side of the exchanges on a pseudo-terminal, through the platform's port as the link
// drives it: waits in slices, the bytes read once they have all come.
bool benchDataPath(const MemoryImage &image, std::chrono::nanoseconds character)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::printf("  data path: no pseudo-terminal here\n");
        return true;
    }
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    const QString slave = QString::fromLocal8Bit(::ptsname(master));
    QtSerialPort port({portName(Port), slave}, QtSerialPort::ModemLines::Optional);
    PortOpenFailure failure;
    if (!port.open(Link::Line, &failure)) {
        std::printf("  data path: %s\n", qPrintable(failure.reason));
        ::close(master);
        return false;
    }
    std::unique_ptr<QThread> terminal(
        QThread::create([master, character] { echoingTerminal(master, character); }));
    terminal->start();

    const int slice = int(Link::StopCheckInterval.count());
    const auto waitFor = [&](auto done, auto wait) {
        for (int slices = 0; !done(); ++slices) {
            if (slices * slice > 5000)
                return false;
            wait(slice);
        }
        return true;
    };
    bool sent = true;
    const auto cpuStart = threadCpuTime();
    const auto wallStart = std::chrono::steady_clock::now();
    for (int block = 0; block < Blocks && sent; ++block) {
        const QByteArray data = image.block(block);
        port.cts();
        sent = port.write(data)
               && waitFor([&] { return port.bytesToWrite() == 0; },
                          [&](int msecs) { port.waitForWritten(msecs); })
               && waitFor([&] { return port.bytesAvailable() >= data.size(); },
                          [&](int msecs) { port.waitForAvailable(data.size(), msecs); })
               && port.readAll() == data && port.write(QByteArray(1, '\x01'))
               && waitFor([&] { return port.bytesAvailable() >= Link::StatusSize; },
                          [&](int msecs) { port.waitForAvailable(Link::StatusSize, msecs); })
               && port.readAll().size() == Link::StatusSize;
    }
    const std::chrono::nanoseconds wall = std::chrono::steady_clock::now() - wallStart;
    const std::chrono::nanoseconds cpu = threadCpuTime() - cpuStart;
    terminal->wait();
    port.close();
    ::close(master);
    printCpu(sent ? "data path on a pseudo-terminal, the PC's thread"
                  : "data path on a pseudo-terminal: transfer FAILED",
             cpu,
             wall);
    return sent;
}

// A wait for CTS on COM1 for 5 s, as the link waits while the terminal holds CTS low: read every
// millisecond at first, then every 10 ms. Where CTS is high the wait ends at once.
void benchCtsPolling()
{
    constexpr auto Duration = 5s;
    QtSerialPort port(portAddress(Port));
    PortOpenFailure failure;
    if (!port.open(Link::Line, &failure)) {
        std::printf("  CTS polling: COM1 (%s) not measured: %s\n",
                    qPrintable(failure.device),
                    qPrintable(failure.reason));
        return;
    }
    const auto cpuStart = threadCpuTime();
    const auto wallStart = std::chrono::steady_clock::now();
    if (!port.cts()) {
        port.waitForCts(int(std::chrono::milliseconds(Duration).count()));
    } else {
        // CTS is high here, so a wait would end at once: its reading schedule is run by hand.
        for (auto elapsed = 0ms; elapsed < Duration;
             elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now() - wallStart)) {
            port.cts();
            QThread::msleep(elapsed < Port::CtsFastPollPeriod ? Port::CtsPollInterval.count()
                                                              : Port::CtsSlowPollInterval.count());
        }
    }
    const std::chrono::nanoseconds wall = std::chrono::steady_clock::now() - wallStart;
    const QByteArray what = QStringLiteral("a 5 s wait for CTS on COM1 (%1), read every %2 ms, "
                                           "after %3 ms every %4 ms")
                                .arg(portDevice(Port))
                                .arg(Port::CtsPollInterval.count())
                                .arg(Port::CtsFastPollPeriod.count())
                                .arg(Port::CtsSlowPollInterval.count())
                                .toUtf8();
    printCpu(what.constData(), threadCpuTime() - cpuStart, wall);
}

} // namespace

int main(int argc, char *argv[])
{
    // QSerialPort's notifiers need the thread's event dispatcher.
    QCoreApplication app(argc, argv);
    const MemoryImage image = benchImage();
    // Header, its echo and its status reply; then each block, its echo and its status reply.
    const qint64 characters = 2 * Link::HeaderSize + Link::StatusSize
                              + qint64(Blocks) * (2 * Link::BlockSize + Link::StatusSize);
    const std::chrono::nanoseconds wireTime
        = characters * Link::Line.characterTime();

    SimulatedTerminal::Adapter defaultTimer;
    SimulatedTerminal::Adapter lowLatency;
    lowLatency.latencyTimer = 1ms;
    const Case cases[] = {
        {"port of the PC", std::nullopt, 1.01},
        {"USB adapter, 16 ms", defaultTimer, std::nullopt},
        {"USB adapter, 1 ms", lowLatency, 1.02},
    };

    std::printf("terminal link, %d blocks at 19200,o,8,1, simulated terminal, real clock\n",
                Blocks);
    std::printf("  wire time %9.1f ms (%lld characters of 11 bits)\n",
                msecs(wireTime),
                static_cast<long long>(characters));
    bool sent = true;
    for (const Case &benchCase : cases)
        sent = run(benchCase, image, wireTime) && sent;

    std::printf("the platform's port (QtSerialPort)\n");
    sent = benchDataPath(image, Link::Line.characterTime())
           && sent;
    benchCtsPolling();
    return sent ? 0 : 1;
}
