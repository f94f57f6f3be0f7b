#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace Kv402::Test {

// A throwaway PostgreSQL server for the tests and the benchmark: its own cluster in a temporary
// folder, reached on a Unix socket there only. The server will not run as root: under root it
// runs as the user postgres, which owns the folder.
class PgCluster
{
public:
    // fast: without fsync, for tests; a benchmark keeps the server's usual durability.
    explicit PgCluster(bool fast = true);
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // Why no server can be started here (binaries or the user postgres missing); empty when one
    // can. KV402_PG_BIN names the folder of initdb and pg_ctl; otherwise the newest of
    // /usr/lib/postgresql/*/bin.
    QString unavailable() const { return m_unavailable; }

    // Makes the cluster the first time, then starts the server and waits until it takes
    // connections. False, with the reason.
    bool start(QString *why = nullptr);
    // For a test's start: starts the server where one can run here, and says in a warning why
    // none can otherwise (the tests that need it skip then). False only for a server that is
    // there and does not start.
    bool startIfAvailable(QString *why);
    bool stop(QString *why = nullptr);

    // The connection URI of the database postgres, as the superuser kv402.
    QString uri() const;

    // Runs SQL text of the test's own; the rows, each a list of values (NULL as a null QString),
    // or nothing with the reason.
    std::optional<QList<QStringList>> query(const QString &sql, QString *why = nullptr) const;
    // A single value, as text.
    QString value(const QString &sql) const;

private:
    bool run(const QString &program, const QStringList &arguments, QString *why);

    QTemporaryDir m_dir;
    QString m_bin;
    QString m_runAs;
    QString m_unavailable;
    bool m_fast;
    bool m_made = false;
    bool m_running = false;
};

} // namespace Kv402::Test
