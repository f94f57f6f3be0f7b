#pragma once

#include <QString>

namespace Kv402 {

// Unpacks a tar archive into a folder that exists and is empty. Only regular files and folders
// are taken, from ustar and pax archives (GNU long names too); a path that is absolute or climbs
// out with "..", a link of either kind, a device, a FIFO, a file named twice and an archive cut
// short are refused. Returns why the archive was refused, naming the entry; empty when every
// file was written and has reached the disk.
QString extractTar(const QString &archive, const QString &destination);

} // namespace Kv402
