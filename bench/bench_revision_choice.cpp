// A firmware-revision choice as the user makes it: the catalogue opened again, the version and
// language lists filled, the devices listed and the sixteen serial ports tried, on the demo
// workspace with the platform's ports. Prints the median of repeated choices.

#include "loader/qt_serial_port.h"
#include "shell/editable_list.h"
#include "shell/main_window.h"
#include "shell/message_box.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Choices = 40;

class NoMessages : public Kv402::MessageBoxes
{
public:
    Kv402::MessageAnswer show(QWidget *, const Kv402::Message &message) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(message.text));
        std::exit(1);
    }
};

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
    Kv402::QtSerialPortFactory ports;
    Kv402::frmMain window({&messages, &ports});
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
    std::sort(times.begin(), times.end());
    std::printf("firmware-revision choice (catalogue, lists, devices, 16 ports)\n");
    std::printf("  ports found: %d\n", window.Combo_SerialPort->count());
    std::printf("  median of %d choices: %.2f ms (min %.2f, max %.2f)\n",
                Choices,
                times[times.size() / 2],
                times.front(),
                times.back());
    return 0;
}
