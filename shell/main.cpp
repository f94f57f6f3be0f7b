#include "ports/qt_serial_port.h"
#include "shell/main_window.h"
#include "shell/message_box.h"
#include "shell/session_end.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // A load record at the file-size limit fails with a logged error; the window stays.
    Kv402::ignoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    Kv402::QtMessageBoxes messages;
    Kv402::QtSerialPortFactory ports;
    Kv402::frmMain window({&messages, &ports});
    // A failure at start-up ends the program once its message has been answered.
    if (!window.Form_Load())
        return window.isShowingMessage() ? app.exec() : 1;
    window.show();
    Kv402::SessionEnd sessionEnd(&window);
    return app.exec();
}
