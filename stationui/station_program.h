#pragma once

#include "link/terminal_link.h"
#include "shell/session_end.h"

#include <functional>

class QApplication;

namespace Kv402 {

class PortLister;
class SerialPortFactory;
class StationWindow;

// What a station program runs on: the ports behind the names, and what the demo changes.
struct StationProgram
{
    SerialPortFactory *ports = nullptr;
    // Null: the system's ports.
    PortLister *lister = nullptr;
    LinkLimits linkLimits = {};
    // Runs once the window is shown (the demo drives it from there).
    std::function<void(StationWindow &)> started = {};
};

// What the end of the desktop session and the shutdown signals need of the station's window.
SessionEnd::Window sessionEndWindow(StationWindow &station);

// The station program around its window: the real message boxes, file dialog and PIN entry, the
// window started and shown, the session's end and the shutdown signals heard; runs until the
// window closes.
int runStation(QApplication &app, const StationProgram &program);

} // namespace Kv402
