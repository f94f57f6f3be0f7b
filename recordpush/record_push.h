#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace Kv402 {

// How long a push waits for the server to answer its connection.
inline constexpr std::chrono::seconds PushConnectTimeout{10};
// Lines sent in one transaction: a push cut off keeps the batches committed before.
inline constexpr int PushBatchLines = 10000;

// What a push did.
struct PushResult
{
    // Lines the server did not have and now has, and lines it had already.
    int pushed = 0;
    int alreadyThere = 0;
    // Lines that are not on the server, unreadable ones included.
    int notPushed = 0;
    // Why lines could not be pushed, one sentence each ("line 3 could not be read: ...").
    QStringList problems;
    // Why the record could not be read at all; nothing was pushed.
    QString recordError;

    bool complete() const { return recordError.isEmpty() && problems.isEmpty(); }
};

// Why the server's address cannot be used, empty when it can: an address libpq cannot read, or
// one carrying a password, which belongs in ~/.pgpass or PGPASSWORD instead, where other users
// of the PC cannot read it.
QString serverRefusal(const QString &server);

// Pushes the lines of the record the server does not have yet to its table kv402_loads, which
// is made with its views when it is missing. server is a libpq connection URI.
PushResult pushRecord(const QString &recordFile,
                      const QString &server,
                      std::chrono::seconds connectTimeout = PushConnectTimeout);

} // namespace Kv402
