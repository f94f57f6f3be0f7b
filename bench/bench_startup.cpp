// Start-up of the main window until it is shown: the catalogue opened, the revision list filled
// and the first revision chosen, on the demo workspace, offscreen. Prints the median of repeated
// start-ups in one process (the first, which loads fonts and plugins, is reported apart). Then
// the same on a large catalogue: 20,000 distinct revisions, and 20,000 version rows in the first
// revision's table.

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_sql.h"
#include "ports/qt_serial_port.h"
#include "shell/main_window.h"
#include "shell/message_box.h"

#include "window_bench.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWindow>

namespace {

constexpr int Runs = 25;
constexpr int LargeRuns = 7;
constexpr int LargeRows = 20'000;

// Revisions "1", then 2 to 20,000; Versioni1 with 20,000 distinct versions in two languages.
QString largeCatalogueSql()
{
    QString sql = QStringLiteral("CREATE TABLE num (numeri TEXT);\n"
                                 "CREATE TABLE Versioni1 (Versione TEXT, Lingua TEXT, File TEXT, "
                                 "Devices TEXT);\nBEGIN;\n");
    for (int i = 1; i <= LargeRows; ++i) {
        sql += QStringLiteral("INSERT INTO num VALUES ('%1');\n").arg(i);
        sql += QStringLiteral("INSERT INTO Versioni1 VALUES ('%1.%2', '%3', 'V%1.S28', 'KV402');\n")
                   .arg(i / 100)
                   .arg(i % 100)
                   .arg(i % 2 ? QStringLiteral("English") : QStringLiteral("Italiano"));
    }
    return sql + QStringLiteral("COMMIT;\n");
}

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

    QTemporaryDir large;
    if (!large.isValid() || !QDir::setCurrent(large.path()))
        return 1;
    Kv402::buildCatalogue(largeCatalogueSql(), QString(Kv402::Catalogue::FileName));
    std::vector<double> largeTimes;
    for (int i = 0; i < LargeRuns; ++i)
        largeTimes.push_back(startOnce(bench.messages));
    std::printf("start-up until shown (offscreen, %d revisions, %d version rows)\n",
                LargeRows,
                LargeRows);
    Kv402::Bench::printMedian("runs", largeTimes);
    return 0;
}
