// Start-up of the main window until it is shown: the catalogue opened, the revision list filled
// and the first revision chosen, on the demo workspace, offscreen. Prints the median of repeated
// start-ups in one process (the first, which loads fonts and plugins, is reported apart).

#include "loader/qt_serial_port.h"
#include "shell/main_window.h"
#include "shell/message_box.h"

#include "window_bench.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>

namespace {

constexpr int Runs = 25;

double startOnce(Kv402::MessageBoxes &messages)
{
    QElapsedTimer timer;
    timer.start();
    Kv402::QtSerialPortFactory ports;
    Kv402::frmMain window({&messages, &ports});
    if (!window.Form_Load())
        std::exit(1);
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const double ms = timer.nsecsElapsed() / 1e6;
    window.close();
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Kv402::Bench::WindowBench bench(argc, argv);

    const double first = startOnce(bench.messages);
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i)
        times.push_back(startOnce(bench.messages));
    std::printf("start-up until shown (offscreen, demo catalogue)\n");
    std::printf("  first run: %.1f ms\n", first);
    Kv402::Bench::printMedian("further runs", times);
    return 0;
}
