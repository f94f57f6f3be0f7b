#pragma once

#include <QString>

namespace Kv402 {

// The demo program's own working folder. Started in a folder without a catalogue (from the
// desktop's menu, in the home folder), the demo program works in a folder of its own, set up from
// the demo workspace that the package installs: the demo catalogue, its data files and the help
// files.

// The installed demo workspace: share/kv402master/demo beside the program's bin/ folder, else the
// first kv402master/demo in the system's data folders, else the demo workspace of a build folder
// (bin/../demo-workspace). Empty when there is none.
QString installedDemoFiles();

// The demo program's own folder: KV402Master/demo in the user's data folder
// (~/.local/share/KV402Master/demo).
QString demoFolder();

// Puts into folder every file of the installed demo workspace that it lacks or holds otherwise;
// files that are the same are left as they are, and so are other files. False, with the reason,
// when a file could not be copied.
bool setUpDemoFolder(const QString &installed, const QString &folder, QString *error = nullptr);

// For the demo program's start: when the working folder holds no catalogue, sets up the demo
// folder and makes it the working folder. Returns the folder the program then works in; a failure
// is logged and leaves the working folder as it was.
QString useDemoFolderUnlessCatalogueHere();

} // namespace Kv402
