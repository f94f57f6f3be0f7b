#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace Kv402::Test {

// One S2 record in upper-case hex, without a line end. checksumError is added to the correct
// checksum byte, so any value but 0 (mod 256) makes the checksum wrong.
QByteArray s2Record(qint32 address, const QByteArray &data, int checksumError = 0);

// S2 records of recordSize data bytes each (the last may be shorter) that write data from
// address on, each line ended by CR LF.
QByteArray s2Records(qint32 address, const QByteArray &data, int recordSize = 32);

} // namespace Kv402::Test
