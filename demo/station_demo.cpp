#include "demo/station_demo.h"

#include "demo/demo_folder.h"
#include "ports/qt_serial_port.h"
#include "simulator/demo_line.h"
#include "stationui/station_program.h"
#include "stationui/station_services.h"
#include "stationui/station_window.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QSet>
#include <QTimer>

#include <cstdio>

namespace Kv402 {

namespace {

constexpr int DemoPorts = 8;
// The picture's line: the same terminals every time.
constexpr quint32 PictureSeed = 27;
// The picture waits for this many different states on its tiles, one of them a load running;
// it is taken after PictureLimitMs whatever they show.
constexpr int PictureStates = 5;
constexpr int PictureLimitMs = 150'000;
constexpr int PictureCheckMs = 250;
// A silent terminal is given up sooner in the picture, and faults are more frequent on its line,
// so that the tiles show them in time.
constexpr std::chrono::seconds PictureSilence{6};
constexpr DemoLineMix PictureMix{20, 25, 15};

// Chooses revision 4, version 4.0 in English (32 blocks), as a technician would.
void choosePictureVersion(StationWindow &window)
{
    window.revision->setCurrentText(QStringLiteral("4"));
    window.chooseRevision();
    window.version->setCurrentText(QStringLiteral("4.0"));
    window.softwareLanguage->setCurrentText(QStringLiteral("English"));
    window.useCatalogueChoice();
}

void takePicture(StationWindow &window, const QString &file)
{
    window.resize(1240, 900);
    choosePictureVersion(window);
    for (int port = 1; port <= DemoPorts; ++port)
        window.armPort(portName(port));

    auto *clock = new QElapsedTimer;
    clock->start();
    auto *check = new QTimer(&window);
    check->setInterval(PictureCheckMs);
    QObject::connect(check, &QTimer::timeout, &window, [&window, file, clock, check] {
        QSet<TileView::State> states;
        for (int port = 1; port <= DemoPorts; ++port) {
            if (window.tile(portName(port)))
                states.insert(window.loads().tile(portName(port)).state);
        }
        const bool varied = states.size() >= PictureStates
                            && states.contains(TileView::State::Loading);
        if (!varied && clock->elapsed() < PictureLimitMs)
            return;
        check->stop();
        delete clock;
        window.drawAll();
        const bool saved = window.grab().save(file, "PNG");
        if (!saved)
            std::fprintf(stderr, "kv402station-demo: %s cannot be written\n", qPrintable(file));
        window.stopAll();
        QCoreApplication::exit(saved ? 0 : 1);
    });
    check->start();
}

} // namespace

int runStationDemo(QApplication &app)
{
    QCommandLineParser options;
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("The demo line's terminals."),
                                        QStringLiteral("N"));
    QCommandLineOption pictureOption(QStringLiteral("picture"),
                                     QStringLiteral("Saves a picture of the station."),
                                     QStringLiteral("FILE"));
    pictureOption.setFlags(QCommandLineOption::HiddenFromHelp);
    options.addOption(seedOption);
    options.addOption(pictureOption);
    options.addHelpOption();
    options.process(app);
    const QString picture = options.value(pictureOption);

    // Started where there is no catalogue (from the desktop's menu: the home folder), the demo
    // works in a demo folder of its own, set up from the installed demo workspace.
    useDemoFolderUnlessCatalogueHere();
    SimulatedPorts ports(std::make_shared<QtSerialPortFactory>());
    bool seeded = false;
    const quint32 seed = picture.isEmpty() ? options.value(seedOption).toUInt(&seeded)
                                           : PictureSeed;
    QList<int> numbers;
    for (int port = 1; port <= DemoPorts; ++port)
        numbers.append(port);
    DemoLine line(ports,
                  numbers,
                  picture.isEmpty() && !seeded ? QRandomGenerator::global()->generate() : seed,
                  picture.isEmpty() ? DemoLineMix() : PictureMix);
    FactoryPortLister lister(ports);

    StationProgram program{&ports, &lister};
    if (!picture.isEmpty())
        program.linkLimits.silence = PictureSilence;
    program.started = [&](StationWindow &window) {
        line.start();
        if (!picture.isEmpty())
            takePicture(window, picture);
    };
    return runStation(app, program);
}

} // namespace Kv402
