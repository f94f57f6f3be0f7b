#pragma once

#include <QStringList>

namespace Kv402::Tool {

// kv402 send: loads terminals on several ports at once, one load session each. Exit status 0
// when every port completed, 1 when some port ended otherwise, 2 on wrong usage, 3 when the data
// file or the catalogue could not be used (nothing was sent), 130 / 143 after SIGINT / SIGTERM.
int sendCommand(const QStringList &arguments);

// kv402 record: the load record as a table, or as it is (--json); --since DATE.
int recordCommand(const QStringList &arguments);

inline constexpr int NothingSent = 3;

} // namespace Kv402::Tool
