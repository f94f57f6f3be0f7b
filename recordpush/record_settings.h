#pragma once

#include <QString>

namespace Kv402 {

// The system's settings folder, /etc/kv402master; KV402_SYSTEM_DIR names another (for tests and
// packagers).
QString systemFolder();

// The system's record settings, record.conf in the system's folder: "key = value" lines, "#"
// starting a comment. server names the PostgreSQL server that every load is pushed to.
struct RecordSettings
{
    QString server;
};

// The settings; none at all (no server) when the file does not exist. False, with the reason,
// when it exists and cannot be read.
bool readRecordSettings(RecordSettings *settings, QString *error);

QString recordSettingsFile();

} // namespace Kv402
