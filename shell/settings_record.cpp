#include "shell/settings_record.h"

#include "shell/texts.h"

#include <QLocale>
#include <QSettings>

namespace Kv402::SettingsRecord {

namespace {

const char Group[] = "Settings";
const char LeftKey[] = "MainLeft";
const char TopKey[] = "MainTop";
const char WidthKey[] = "MainWidth";
const char HeightKey[] = "MainHeight";

QSettings openRecord()
{
    return QSettings(QSettings::NativeFormat,
                     QSettings::UserScope,
                     Texts::programTitle(),
                     Texts::programTitle());
}

float readKey(QSettings &settings, const char *key, float fallback)
{
    const QString text = settings.value(QLatin1String(key), QString::number(fallback)).toString();
    // The user's number format first, as the text was meant to be read; then the plain C form
    // in which the program writes it.
    bool ok = false;
    float value = QLocale::system().toFloat(text, &ok);
    if (!ok)
        value = QLocale::c().toFloat(text, &ok);
    return ok ? value : fallback;
}

} // namespace

WindowGeometryTwips readGeometry()
{
    QSettings settings = openRecord();
    settings.beginGroup(QLatin1String(Group));
    WindowGeometryTwips geometry;
    geometry.left = readKey(settings, LeftKey, Defaults.left);
    geometry.top = readKey(settings, TopKey, Defaults.top);
    geometry.width = readKey(settings, WidthKey, Defaults.width);
    geometry.height = readKey(settings, HeightKey, Defaults.height);
    return geometry;
}

void writeGeometry(const WindowGeometryTwips &geometry)
{
    QSettings settings = openRecord();
    settings.beginGroup(QLatin1String(Group));
    settings.setValue(QLatin1String(LeftKey), QString::number(geometry.left));
    settings.setValue(QLatin1String(TopKey), QString::number(geometry.top));
    settings.setValue(QLatin1String(WidthKey), QString::number(geometry.width));
    settings.setValue(QLatin1String(HeightKey), QString::number(geometry.height));
    settings.sync();
}

} // namespace Kv402::SettingsRecord
