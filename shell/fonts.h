#pragma once

#include <QFont>

namespace Kv402 {

// The window's fonts: MS Sans Serif where the desktop has it, else the plain sans-serif face of
// the desktop at the same point size.
QFont programFont(qreal pointSize, bool bold = false);

inline constexpr qreal DefaultPointSize = 8;
inline constexpr qreal LargePointSize = 9.75;

} // namespace Kv402
