#include "catalogue/devices.h"

namespace Kv402 {

namespace {

struct Column
{
    int first; // 1-based position of the first character
    int length;
};

constexpr Column DeviceColumns[] = {{1, 33}, {36, 34}, {70, 40}, {120, 40}, {160, 40}};

} // namespace

QStringList devicesColumns(const QString &devices)
{
    QStringList columns;
    for (const Column &column : DeviceColumns)
        columns.append(devices.mid(column.first - 1, column.length));
    return columns;
}

} // namespace Kv402
