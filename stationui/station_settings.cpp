#include "stationui/station_settings.h"

#include <QFileInfo>
#include <QSettings>

#include <functional>

namespace Kv402 {

namespace {

const char Organisation[] = "KV402Master";
const char Application[] = "station";
const char Group[] = "Station";
const char PinKey[] = "PinHash";
const char LockedKey[] = "Locked";
const char GeometryKey[] = "WindowGeometry";

QSettings openSettings()
{
    return QSettings(QSettings::NativeFormat,
                     QSettings::UserScope,
                     QLatin1String(Organisation),
                     QLatin1String(Application));
}

// A FIFO, a device or a folder in the file's place would block the window or be replaced: such
// settings are neither read nor written.
bool usable(const QSettings &settings)
{
    const QFileInfo info(settings.fileName());
    return !info.exists() || info.isFile();
}

QVariant value(const char *key)
{
    QSettings settings = openSettings();
    // The organisation's file belongs to the main window.
    settings.setFallbacksEnabled(false);
    if (!usable(settings))
        return {};
    settings.beginGroup(QLatin1String(Group));
    return settings.value(QLatin1String(key));
}

bool write(const std::function<void(QSettings &)> &change, QString *error)
{
    QSettings settings = openSettings();
    if (!usable(settings)) {
        if (error)
            *error = QStringLiteral("%1 is not a regular file").arg(settings.fileName());
        return false;
    }
    settings.beginGroup(QLatin1String(Group));
    change(settings);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        if (error)
            *error = QStringLiteral("%1 cannot be written").arg(settings.fileName());
        return false;
    }
    return true;
}

} // namespace

QString StationSettings::fileName()
{
    return openSettings().fileName();
}

QString StationSettings::pinHash() const
{
    return value(PinKey).toString();
}

bool StationSettings::locked() const
{
    // Locked without a PIN could never be unlocked.
    return value(LockedKey).toBool() && !pinHash().isEmpty();
}

QByteArray StationSettings::windowGeometry() const
{
    return value(GeometryKey).toByteArray();
}

bool StationSettings::setPin(const QString &hash, bool locked, QString *error)
{
    return write(
        [&](QSettings &settings) {
            settings.setValue(QLatin1String(PinKey), hash);
            settings.setValue(QLatin1String(LockedKey), locked);
        },
        error);
}

bool StationSettings::setLocked(bool locked, QString *error)
{
    return write([&](QSettings &settings) { settings.setValue(QLatin1String(LockedKey), locked); },
                 error);
}

bool StationSettings::setWindowGeometry(const QByteArray &geometry, QString *error)
{
    return write([&](QSettings
                         &settings) { settings.setValue(QLatin1String(GeometryKey), geometry); },
                 error);
}

} // namespace Kv402
