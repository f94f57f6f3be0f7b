#pragma once

#include <QString>

namespace Kv402 {

// Holds a file for this process's exclusive use until the process ends: a descriptor of it stays
// open with an exclusive flock(). Holding a file that this process already holds succeeds, so the
// catalogue can be opened again and again. Throws CatalogueError when another process holds it, it
// cannot be opened, or it is not a regular file with content (see CatalogueFile).
void holdExclusively(const QString &fileName);

} // namespace Kv402
