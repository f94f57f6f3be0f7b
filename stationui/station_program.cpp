#include "stationui/station_program.h"

#include "shell/message_box.h"
#include "shell/session_end.h"
#include "stationui/station_services.h"
#include "stationui/station_window.h"

#include <QApplication>

namespace Kv402 {

SessionEnd::Window sessionEndWindow(StationWindow &station)
{
    return {
        &station,
        [&station] { return station.isLoading(); },
        [&station] { return station.isShowingMessage(); },
        [&station] { station.endSession(); },
        [&station](QObject *context, std::function<void()> answered) {
            QObject::connect(&station,
                             &StationWindow::exitQuestionAnswered,
                             context,
                             std::move(answered));
        },
    };
}

int runStation(QApplication &app, const StationProgram &program)
{
    // A load record at the file-size limit fails with a logged error; the window stays.
    ignoreFileSizeLimitSignal();
    QtMessageBoxes messages;
    QtFilePicker files;
    QtPinEntry pins;
    StationWindow *window = nullptr;
    SystemPortLister systemPorts(
        [&window] { return window ? window->language() : Language::English; });
    StationWindow station({&messages,
                           program.ports,
                           program.lister ? program.lister : &systemPorts,
                           &files,
                           &pins,
                           program.linkLimits});
    window = &station;
    station.start();
    station.show();
    SessionEnd sessionEnd(sessionEndWindow(station));
    if (program.started)
        program.started(station);
    return app.exec();
}

} // namespace Kv402
