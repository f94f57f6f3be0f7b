#pragma once

#include <QStringList>

namespace Kv402 {

// The devices a version supports, as the five fixed-position columns of its Devices text
// (characters 1-33, 36-69, 70-109, 120-159, 160-199). Columns beyond the end of the text are
// cut short or empty; nothing is trimmed, and the characters between the columns are never shown.
QStringList devicesColumns(const QString &devices);

} // namespace Kv402
