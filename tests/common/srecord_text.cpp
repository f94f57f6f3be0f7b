#include "srecord_text.h"

namespace Kv402::Test {

QByteArray s2Record(qint32 address, const QByteArray &data, int checksumError)
{
    // The count covers the three address bytes, the data and the checksum.
    QByteArray body;
    body.append(char(data.size() + 4));
    body.append(char(address >> 16));
    body.append(char(address >> 8));
    body.append(char(address));
    body.append(data);
    int sum = 0;
    for (char byte : body)
        sum += quint8(byte);
    body.append(char(~sum + checksumError));
    return "S2" + body.toHex().toUpper();
}

QByteArray s2Records(qint32 address, const QByteArray &data, int recordSize)
{
    QByteArray text;
    for (qsizetype offset = 0; offset < data.size(); offset += recordSize)
        text += s2Record(address + qint32(offset), data.mid(offset, recordSize)) + "\r\n";
    return text;
}

} // namespace Kv402::Test
