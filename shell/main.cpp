#include "shell/main_window.h"
#include "shell/message_box.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Kv402::QtMessageBoxes messages;
    Kv402::frmMain window({&messages});
    if (!window.Form_Load())
        return 1;
    window.show();
    return app.exec();
}
