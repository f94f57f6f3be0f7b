#pragma once

#include <QString>

namespace Kv402 {

// How a process holds the catalogue. The window holds it for its exclusive use while it runs;
// command-line loads share it with each other for the moment they look their data file up.
enum class CatalogueHold { Exclusive, Shared };

// Holds a file for this process until the process ends or releaseHold(): a descriptor of it stays
// open with a flock() of the kind asked. Holding a file that this process already holds succeeds,
// so the catalogue can be opened again and again. Throws CatalogueError when another process holds
// it in a way that excludes this hold, it cannot be opened, or it is not a regular file with
// content (see CatalogueFile).
void holdFile(const QString &fileName, CatalogueHold hold = CatalogueHold::Exclusive);
// Lets the file go, if this process holds it: other processes may hold it from now on.
void releaseHold(const QString &fileName);

} // namespace Kv402
