#pragma once

#include <QByteArray>

namespace Kv402::Bench {

// A data file of S2 records of 32 bytes from 0x300000 on, with their checksums: blocks whole
// blocks of 256 bytes for the terminal.
inline QByteArray dataFile(int blocks)
{
    constexpr int RecordBytes = 32;
    const auto hex = [](quint8 byte) {
        return QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
    };
    QByteArray text;
    for (int address = 0x300000; address < 0x300000 + blocks * 256; address += RecordBytes) {
        QByteArray record;
        const int count = RecordBytes + 4;
        quint32 sum = count + (address >> 16 & 0xFF) + (address >> 8 & 0xFF) + (address & 0xFF);
        record += "S2" + hex(quint8(count)) + hex(quint8(address >> 16)) + hex(quint8(address >> 8))
                  + hex(quint8(address));
        for (int i = 0; i < RecordBytes; ++i) {
            const quint8 byte = quint8(address + i * 13);
            sum += byte;
            record += hex(byte);
        }
        text += record + hex(quint8(~sum)) + "\r\n";
    }
    return text;
}

} // namespace Kv402::Bench
