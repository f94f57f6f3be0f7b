// The demo program: the real window, with simulated terminals behind COM1 to COM5 and the
// platform's ports behind the other numbers, in the demo workspace.

#include "demo/demo_folder.h"
#include "simulator/demo_terminals.h"
#include "ports/qt_serial_port.h"
#include "shell/main_window.h"
#include "shell/message_box.h"
#include "shell/session_end.h"
#include "simulator/simulated_terminal.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // A load record at the file-size limit fails with a logged error; the window stays.
    Kv402::ignoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    // Started where there is no catalogue (from the desktop's menu: the home folder), the demo
    // works in a demo folder of its own, set up from the installed demo workspace.
    Kv402::useDemoFolderUnlessCatalogueHere();
    Kv402::QtMessageBoxes messages;
    Kv402::SimulatedPorts ports(std::make_shared<Kv402::QtSerialPortFactory>());
    Kv402::attachDemoTerminals(ports);
    Kv402::frmMain window({&messages, &ports});
    // A failure at start-up ends the program once its message has been answered.
    if (!window.Form_Load())
        return window.isShowingMessage() ? app.exec() : 1;
    window.show();
    Kv402::SessionEnd sessionEnd(&window);
    return app.exec();
}
