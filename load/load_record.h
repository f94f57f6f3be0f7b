#pragma once

#include "link/link_event.h"
#include "load/load_run.h"
#include "ports/serial_port.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace Kv402 {

// The signed release bundle a load's data file came from: its name, revision and the SHA-256 of
// its manifest. Empty for a folder without a bundle.
struct BundleOrigin
{
    QString name;
    qint64 revision = 0;
    QString manifestSha256;

    bool isSet() const { return !name.isEmpty(); }
};

// One load as the record keeps it: what was loaded where, by whom, and how it ended.
struct LoadRecordEntry
{
    // The line's identity, a UUID given when the line is written; empty in lines of older
    // versions. A record pushed to a server is pushed once by it.
    QString id;
    QDateTime started;
    QDateTime ended;
    QString user;
    QString host;
    // The program that made the load: "kv402master", "kv402 send", "kv402station".
    QString program;
    // "COM3", or the device path a load was given.
    QString port;
    // The device, with the USB serial number where it is known.
    QString device;
    QString revision;
    QString version;
    QString language;
    // The data file as an absolute path, and the SHA-256 of its bytes in hex.
    QString dataFile;
    QString sha256;
    int blocks = 0;
    int of = 0;
    int errors = 0;
    // The unit's serial number, where the technician gave one (the station); empty otherwise.
    QString unitSerial;
    // One of the names outcomeName() gives.
    QString outcome;
    // Written only for a load from a bundle.
    BundleOrigin bundle;

    QJsonObject toJson() const;
    static LoadRecordEntry fromJson(const QJsonObject &object);

private:
    // The fields of every line; the bundle's come only with a load from a bundle.
    QJsonObject everyLineFields() const;
};

// The name of a run's outcome in the record and in the command line's output.
QString outcomeName(LinkOutcome outcome);

// The record of a run: what it sent where, for which choice, and how it ended. Every front makes
// its entries here, so that a load reads the same in the record whichever front made it. device
// is what the port factory tells of the port (the device, with the adapter's serial number).
LoadRecordEntry recordEntry(const LoadRun &run,
                            const LoadChoice &choice,
                            const PortAddress &port,
                            const QString &device);

// The user and host a record names.
QString currentUser();
QString currentHost();

// The record of every load: one JSON object a line. Lines are appended whole, each in one write
// to a file opened for appending under an exclusive lock, so loads that end together never mix
// their lines, from one process or several. A line cut short (a full disk) is taken back, and a
// line always starts on a line of its own, so one damaged line never hides the next.
class LoadRecord
{
public:
    explicit LoadRecord(QString fileName = defaultFileName());

    // loads.jsonl in the application's data folder.
    static QString defaultFileName();

    const QString &fileName() const { return m_fileName; }

    // False, with the reason, when the line could not be written; a load goes on regardless. An
    // entry without an id is given a new one.
    bool append(const LoadRecordEntry &entry, QString *error = nullptr) const;
    // Every entry, oldest first. Lines that are not entries are passed over; their numbers,
    // counted from 1, go to skippedLines (blank lines hold nothing and are not counted as such).
    // A record that does not exist is an error.
    QList<LoadRecordEntry> read(QString *error = nullptr, QList<int> *skippedLines = nullptr) const;

private:
    QString m_fileName;
};

} // namespace Kv402
