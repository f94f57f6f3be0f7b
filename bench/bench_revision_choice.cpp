// A firmware-revision choice as the user makes it: the catalogue opened again, the version and
// language lists filled, the devices listed and the sixteen serial ports tried, on the demo
// workspace with the platform's ports. Prints the median of repeated choices.

#include "ports/qt_serial_port.h"
#include "shell/editable_list.h"
#include "shell/main_window.h"
#include "shell/message_box.h"

#include "window_bench.h"

#include <QApplication>
#include <QElapsedTimer>

namespace {

constexpr int Choices = 40;

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Kv402::Bench::WindowBench bench(argc, argv);

    Kv402::QtSerialPortFactory ports;
    Kv402::frmMain window({&bench.messages, &ports});
    if (!window.Form_Load())
        return 1;
    window.show();

    // Revisions "1", "2", "4" and "5" of the demo catalogue offer software, so every choice
    // ends with the port search.
    const QStringList revisions = {QStringLiteral("1"),
                                   QStringLiteral("2"),
                                   QStringLiteral("4"),
                                   QStringLiteral("5")};
    std::vector<double> times;
    for (int i = 0; i < Choices; ++i) {
        const int index = window.Combo1->findText(revisions.at(i % revisions.size()));
        window.Combo1->setCurrentIndex(index);
        QElapsedTimer timer;
        timer.start();
        Q_EMIT window.Combo1->activated(index);
        times.push_back(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
    }
    std::printf("firmware-revision choice (catalogue, lists, devices, 16 ports)\n");
    std::printf("  ports found: %d\n", window.Combo_SerialPort->count());
    Kv402::Bench::printMedian("choices", times);
    return 0;
}
