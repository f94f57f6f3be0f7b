#include "pg_cluster.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QVersionNumber>

#include <libpq-fe.h>

#include <pwd.h>
#include <unistd.h>

namespace Kv402::Test {

namespace {

const QString SuperUser = QStringLiteral("kv402");
const QString ServerUser = QStringLiteral("postgres");
constexpr int Port = 5432;

QString newestBin()
{
    const QString variable = qEnvironmentVariable("KV402_PG_BIN");
    if (!variable.isEmpty())
        return variable;
    QString newest;
    QVersionNumber newestVersion;
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    for (const QString &name : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QVersionNumber version = QVersionNumber::fromString(name);
        const QString bin = versions.filePath(name + QStringLiteral("/bin"));
        if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable()
            && QFileInfo(bin + QStringLiteral("/pg_ctl")).isExecutable()
            && version > newestVersion) {
            newest = bin;
            newestVersion = version;
        }
    }
    return newest;
}

} // namespace

PgCluster::PgCluster(bool fast)
    : m_dir(QDir::tempPath() + QStringLiteral("/kv402-pg-XXXXXX"))
    , m_fast(fast)
{
    m_bin = newestBin();
    if (m_bin.isEmpty() || !QFileInfo(m_bin + QStringLiteral("/initdb")).isExecutable()) {
        m_unavailable = QStringLiteral("no PostgreSQL server binaries found (initdb, pg_ctl in "
                                       "/usr/lib/postgresql/*/bin; Debian package postgresql)");
        return;
    }
    if (!m_dir.isValid()) {
        m_unavailable = QStringLiteral("no temporary folder: %1").arg(m_dir.errorString());
        return;
    }
    if (::geteuid() == 0) {
        const passwd *user = ::getpwnam(ServerUser.toLocal8Bit().constData());
        if (!user) {
            m_unavailable = QStringLiteral("running as root without the user postgres to run "
                                           "the server as");
            return;
        }
        m_runAs = ServerUser;
        if (::chown(QFile::encodeName(m_dir.path()).constData(), user->pw_uid, user->pw_gid) != 0) {
            m_unavailable = QStringLiteral("the folder cannot be given to the user postgres");
            return;
        }
    }
}

PgCluster::~PgCluster()
{
    if (m_running)
        stop();
}

bool PgCluster::run(const QString &program, const QStringList &arguments, QString *why)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString path = m_bin + QLatin1Char('/') + program;
    if (m_runAs.isEmpty())
        process.start(path, arguments);
    else
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), m_runAs, QStringLiteral("--"), path}
                          + arguments);
    const bool done = process.waitForFinished(120000)
                      && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!done && why)
        *why = QStringLiteral("%1 failed: %2")
                   .arg(program, QString::fromLocal8Bit(process.readAll()));
    return done;
}

bool PgCluster::startIfAvailable(QString *why)
{
    if (!m_unavailable.isEmpty()) {
        qWarning("No PostgreSQL server: %s", qPrintable(m_unavailable));
        return true;
    }
    return start(why);
}

bool PgCluster::start(QString *why)
{
    if (!m_unavailable.isEmpty()) {
        if (why)
            *why = m_unavailable;
        return false;
    }
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!m_made) {
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"),
                  data,
                  QStringLiteral("-U"),
                  SuperUser,
                  QStringLiteral("--auth=trust"),
                  QStringLiteral("--encoding=UTF8"),
                  QStringLiteral("--locale=C"),
                  QStringLiteral("--no-sync")},
                 why))
            return false;
        m_made = true;
    }
    QString options
        = QStringLiteral("-k %1 -p %2 -c listen_addresses=''").arg(m_dir.path()).arg(Port);
    if (m_fast)
        options += QStringLiteral(" -F");
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"),
              data,
              QStringLiteral("-l"),
              m_dir.filePath(QStringLiteral("server.log")),
              QStringLiteral("-o"),
              options,
              QStringLiteral("-w"),
              QStringLiteral("start")},
             why))
        return false;
    m_running = true;
    return true;
}

bool PgCluster::stop(QString *why)
{
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"),
              m_dir.filePath(QStringLiteral("data")),
              QStringLiteral("-m"),
              QStringLiteral("fast"),
              QStringLiteral("-w"),
              QStringLiteral("stop")},
             why))
        return false;
    m_running = false;
    return true;
}

QString PgCluster::uri() const
{
    return QStringLiteral("postgresql://%1@/postgres?host=%2&port=%3")
        .arg(SuperUser, m_dir.path())
        .arg(Port);
}

std::optional<QList<QStringList>> PgCluster::query(const QString &sql, QString *why) const
{
    PGconn *connection = PQconnectdb(
        QStringLiteral("%1&client_encoding=UTF8").arg(uri()).toUtf8().constData());
    PQsetNoticeProcessor(
        connection, [](void *, const char *) {}, nullptr);
    std::optional<QList<QStringList>> rows;
    if (PQstatus(connection) != CONNECTION_OK) {
        if (why)
            *why = QString::fromUtf8(PQerrorMessage(connection));
        PQfinish(connection);
        return rows;
    }
    PGresult *result = PQexec(connection, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
        rows.emplace();
        for (int row = 0; row < PQntuples(result); ++row) {
            QStringList values;
            for (int column = 0; column < PQnfields(result); ++column)
                values.append(PQgetisnull(result, row, column)
                                  ? QString()
                                  : QString::fromUtf8(PQgetvalue(result, row, column)));
            rows->append(values);
        }
    } else if (why) {
        *why = QString::fromUtf8(PQerrorMessage(connection));
    }
    PQclear(result);
    PQfinish(connection);
    return rows;
}

QString PgCluster::value(const QString &sql) const
{
    QString why;
    const std::optional<QList<QStringList>> rows = query(sql, &why);
    if (!rows)
        return QStringLiteral("(error: %1)").arg(why);
    return rows->isEmpty() || rows->first().isEmpty() ? QString() : rows->first().first();
}

} // namespace Kv402::Test
