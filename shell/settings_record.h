#pragma once

namespace Kv402 {

// The window's place and outer size in twips (1/1440 inch), as the settings record holds them.
struct WindowGeometryTwips
{
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;

    friend bool operator==(const WindowGeometryTwips &, const WindowGeometryTwips &) = default;
};

// The per-user settings record: application "KV402Master", group "Settings", keys "MainLeft",
// "MainTop", "MainWidth" and "MainHeight" as decimal text. It is the program's only saved state.
namespace SettingsRecord {

// What start-up assigns before the fixed geometry, and the defaults of absent keys.
inline constexpr WindowGeometryTwips Defaults{1000, 1000, 6500, 6500};

// Reads the four keys in their order. An absent key, or one whose text is not a number, gives its
// default: a stray value must not keep the program from starting. A record that is not a regular
// file (a FIFO, a device, a folder) is not read: every key takes its default.
WindowGeometryTwips readGeometry();

// Writes the four keys in their order; not into a record that is not a regular file.
void writeGeometry(const WindowGeometryTwips &geometry);

} // namespace SettingsRecord

} // namespace Kv402
