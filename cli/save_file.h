#pragma once

#include <span>
#include <string>

namespace Kv402::Tool {

// Replaces the file fileName by bytes, whole or not at all, as QSaveFile does: the bytes go into
// a new file in the same folder, which reaches the disk before it is renamed over fileName. A
// symbolic link is followed; an existing file keeps its permissions. On failure fileName is left
// as it was and the result says why, in QSaveFile's words; it is empty on success.
std::string saveFile(const std::string &fileName, std::span<const char> bytes);

// Why a command that reads input must not write output, in a few words; empty when it may. An
// output that exists must be a regular file, through any symbolic links (a device node or a FIFO
// would be replaced by a plain file), and must not be the input itself under any name.
std::string outputRefusal(const std::string &input, const std::string &output);

} // namespace Kv402::Tool
