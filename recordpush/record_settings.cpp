#include "recordpush/record_settings.h"

#include <QFile>
#include <QFileInfo>

namespace Kv402 {

namespace {

const QLatin1StringView SystemFolder{"/etc/kv402master"};
const char SystemFolderVariable[] = "KV402_SYSTEM_DIR";
const QLatin1StringView SettingsFile{"record.conf"};
const QLatin1StringView ServerKey{"server"};

} // namespace

QString systemFolder()
{
    const QString folder = qEnvironmentVariable(SystemFolderVariable);
    return folder.isEmpty() ? QString(SystemFolder) : folder;
}

QString recordSettingsFile()
{
    return systemFolder() + QLatin1Char('/') + SettingsFile;
}

bool readRecordSettings(RecordSettings *settings, QString *error)
{
    *settings = {};
    QFile file(recordSettingsFile());
    if (!file.exists())
        return true;
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QFileInfo(file).isFile() ? file.errorString()
                                          : QStringLiteral("it is not a regular file");
        return false;
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        if (line.left(equals).trimmed() == ServerKey)
            settings->server = line.mid(equals + 1).trimmed();
    }
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace Kv402
