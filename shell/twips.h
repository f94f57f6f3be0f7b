#pragma once

#include <QRect>

namespace Kv402 {

// Places and sizes are laid down in twips, 1/1440 inch: 15 of them make a pixel at 96 dots per
// inch.
inline constexpr int TwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return twips / TwipsPerPixel;
}

constexpr int pixelsToTwips(int pixels)
{
    return pixels * TwipsPerPixel;
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left),
                 twipsToPixels(top),
                 twipsToPixels(width),
                 twipsToPixels(height));
}

} // namespace Kv402
