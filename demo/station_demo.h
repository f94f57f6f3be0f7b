#pragma once

class QApplication;

namespace Kv402 {

// The station's demo program: the station window with simulated terminals behind COM1 to COM8,
// plugged in and out by a demo line, and the platform's ports behind the other numbers, in the
// demo workspace. --seed N chooses the line's terminals; --picture FILE (for the README's
// picture) chooses a version, arms the eight ports, lets the line run until the tiles show
// several states, saves the window as PNG and ends.
int runStationDemo(QApplication &app);

} // namespace Kv402
