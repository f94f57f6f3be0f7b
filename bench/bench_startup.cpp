// Start-up of the main window until it is shown: the catalogue opened, the revision list filled
// and the first revision chosen, on the demo workspace, offscreen. Prints the median of repeated
// start-ups in one process (the first, which loads fonts and plugins, is reported apart).

#include "loader/qt_serial_port.h"
#include "shell/main_window.h"
#include "shell/message_box.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Runs = 25;

// Refuses every message: a start-up that shows one is not the start-up being measured.
class NoMessages : public Kv402::MessageBoxes
{
public:
    Kv402::MessageAnswer show(QWidget *, const Kv402::Message &message) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(message.text));
        std::exit(1);
    }
};

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
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    const QString workspace = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                       : QStringLiteral(KV402_DEMO_WORKSPACE);
    if (!QDir::setCurrent(workspace)) {
        std::fprintf(stderr, "no workspace at %s\n", qPrintable(workspace));
        return 1;
    }

    NoMessages messages;
    const double first = startOnce(messages);
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i)
        times.push_back(startOnce(messages));
    std::sort(times.begin(), times.end());
    std::printf("start-up until shown (offscreen, demo catalogue)\n");
    std::printf("  first run: %.1f ms\n", first);
    std::printf("  median of %d further runs: %.1f ms (min %.1f, max %.1f)\n",
                Runs,
                times[times.size() / 2],
                times.front(),
                times.back());
    return 0;
}
