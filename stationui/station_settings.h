#pragma once

#include <QByteArray>
#include <QString>

namespace Kv402 {

// The station's own settings, apart from the main window's record: on Linux
// ~/.config/KV402Master/station.conf, group "Station". It keeps the supervisor's PIN as a salted
// hash, whether the station was locked, and the window's place.
class StationSettings
{
public:
    // The file as QSettings names it.
    static QString fileName();

    // The stored PIN hash; empty when no PIN was ever set.
    QString pinHash() const;
    bool locked() const;
    QByteArray windowGeometry() const;

    // Each write reaches the file before it returns; false, with the reason, when it did not.
    bool setPin(const QString &hash, bool locked, QString *error = nullptr);
    bool setLocked(bool locked, QString *error = nullptr);
    bool setWindowGeometry(const QByteArray &geometry, QString *error = nullptr);
};

} // namespace Kv402
