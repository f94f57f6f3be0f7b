#include "ports/qt_serial_port.h"
#include "stationui/station_program.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Kv402::QtSerialPortFactory ports;
    return Kv402::runStation(app, {&ports});
}
