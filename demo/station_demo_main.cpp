// The station's demo program: the station window with a line of simulated terminals behind COM1
// to COM8, in the demo workspace.

#include "demo/station_demo.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    return Kv402::runStationDemo(app);
}
