#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace Kv402 {

// The memory image of a data file: the bytes for load addresses 0x300000 to 0x400000, sent to
// the terminal in blocks of 256 bytes.
namespace Image {
inline constexpr qint32 BaseAddress = 0x300000;
// Indices 0 to 0x100000.
inline constexpr qsizetype Size = 0x100001;
inline constexpr int BlockSize = 256;
// Only the first 0x100000 bytes can be sent: the terminal's memory ends there.
inline constexpr int MaxBlocks = 0x100000 / BlockSize;
inline constexpr char Blank = char(0xFF);
} // namespace Image

struct MemoryImage
{
    // Image::Size bytes, 0xFF wherever no record wrote.
    QByteArray bytes = QByteArray(Image::Size, Image::Blank);
    // lngImageEnd: the highest index written, 0 when nothing was.
    qint32 lngImageEnd = 0;
    bool anythingWritten = false;

    // N, the number of blocks to send: every written index is covered, so N = E div 256 + 1
    // when anything was written, else 0.
    int blockCount() const { return anythingWritten ? lngImageEnd / Image::BlockSize + 1 : 0; }

    // Block b: image indices 256 b to 256 b + 255.
    QByteArray block(int b) const
    {
        return bytes.mid(qsizetype(b) * Image::BlockSize, Image::BlockSize);
    }
};

} // namespace Kv402
