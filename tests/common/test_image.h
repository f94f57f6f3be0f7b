#pragma once

#include "link/srecord_image.h"

namespace Kv402::Test {

// An image of whole blocks whose bytes differ from block to block and take every value.
inline MemoryImage imageOf(int blocks)
{
    MemoryImage image;
    const qsizetype size = qsizetype(blocks) * Image::BlockSize;
    for (qsizetype i = 0; i < size; ++i)
        image.bytes[i] = char((i * 7 + i / Image::BlockSize) & 0xFF);
    image.imageEnd = qint32(size - 1);
    image.anythingWritten = true;
    return image;
}

} // namespace Kv402::Test
