#include "shell/settings_record.h"

#include "shell/texts.h"

#include <QFileInfo>
#include <QLocale>
#include <QSettings>

namespace Kv402::SettingsRecord {

namespace {

const char Group[] = "Settings";
const char LeftKey[] = "MainLeft";
const char TopKey[] = "MainTop";
const char WidthKey[] = "MainWidth";
const char HeightKey[] = "MainHeight";

// Where QSettings keeps the records of one scope, asked of a record that does not exist: making a
// QSettings reads its files at once.
QString recordFolder(QSettings::Scope scope)
{
    const QSettings probe(QSettings::NativeFormat,
                          scope,
                          QStringLiteral("kv402-location-probe"),
                          QStringLiteral("probe"));
    // <folder>/kv402-location-probe/probe.conf
    return QFileInfo(QFileInfo(probe.fileName()).path()).path();
}

// A FIFO, a device or a folder in the place of one of the record's files would block start-up or
// be replaced by a file: such a record is neither read nor written.
bool recordIsUsable()
{
#ifdef Q_OS_WIN
    // The record lives in the registry.
    return true;
#else
    const QString name = Texts::programTitle();
    for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope}) {
        const QString folder = recordFolder(scope);
        // The application's file, and the organisation's, which QSettings reads as a fallback.
        for (const QString &file : {QStringLiteral("%1/%2/%2.conf").arg(folder, name),
                                    QStringLiteral("%1/%2.conf").arg(folder, name)}) {
            const QFileInfo info(file);
            if (info.exists() && !info.isFile())
                return false;
        }
    }
    return true;
#endif
}

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
    if (!recordIsUsable())
        return Defaults;
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
    if (!recordIsUsable())
        return;
    QSettings settings = openRecord();
    settings.beginGroup(QLatin1String(Group));
    settings.setValue(QLatin1String(LeftKey), QString::number(geometry.left));
    settings.setValue(QLatin1String(TopKey), QString::number(geometry.top));
    settings.setValue(QLatin1String(WidthKey), QString::number(geometry.width));
    settings.setValue(QLatin1String(HeightKey), QString::number(geometry.height));
    settings.sync();
}

} // namespace Kv402::SettingsRecord
