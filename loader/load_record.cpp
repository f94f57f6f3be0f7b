#include "loader/load_record.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QSysInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402 {

namespace {

const QLatin1StringView RecordFile{"loads.jsonl"};
// The folder of the record below the data folder: the application's own.
const QLatin1StringView ApplicationName{"KV402Master"};
constexpr int FileMode = 0644;

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString isoTime(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

QJsonObject LoadRecordEntry::toJson() const
{
    return {{QStringLiteral("start"), isoTime(started)},
            {QStringLiteral("end"), isoTime(ended)},
            {QStringLiteral("user"), user},
            {QStringLiteral("host"), host},
            {QStringLiteral("port"), port},
            {QStringLiteral("device"), device},
            {QStringLiteral("revision"), revision},
            {QStringLiteral("version"), version},
            {QStringLiteral("language"), language},
            {QStringLiteral("file"), dataFile},
            {QStringLiteral("sha256"), sha256},
            {QStringLiteral("blocks"), blocks},
            {QStringLiteral("of"), of},
            {QStringLiteral("errors"), errors},
            {QStringLiteral("outcome"), outcome}};
}

LoadRecordEntry LoadRecordEntry::fromJson(const QJsonObject &object)
{
    LoadRecordEntry entry;
    const auto text = [&](const char *key) {
        return object.value(QLatin1StringView(key)).toString();
    };
    entry.started = QDateTime::fromString(text("start"), Qt::ISODate);
    entry.ended = QDateTime::fromString(text("end"), Qt::ISODate);
    entry.user = text("user");
    entry.host = text("host");
    entry.port = text("port");
    entry.device = text("device");
    entry.revision = text("revision");
    entry.version = text("version");
    entry.language = text("language");
    entry.dataFile = text("file");
    entry.sha256 = text("sha256");
    entry.blocks = object.value(QLatin1StringView("blocks")).toInt();
    entry.of = object.value(QLatin1StringView("of")).toInt();
    entry.errors = object.value(QLatin1StringView("errors")).toInt();
    entry.outcome = text("outcome");
    return entry;
}

QString outcomeName(LinkOutcome outcome)
{
    switch (outcome) {
    case LinkOutcome::Completed:
        return QStringLiteral("completed");
    case LinkOutcome::FlashWriteError:
        return QStringLiteral("flash-write-error");
    case LinkOutcome::CableNotConnected:
        return QStringLiteral("cable-not-connected");
    case LinkOutcome::PortFailure:
        return QStringLiteral("port-failure");
    case LinkOutcome::TerminalNotAnswering:
        return QStringLiteral("terminal-not-answering");
    case LinkOutcome::Stopped:
        return QStringLiteral("stopped");
    case LinkOutcome::PortNotOpened:
        return QStringLiteral("port-not-opened");
    case LinkOutcome::PortError:
        return QStringLiteral("port-error");
    case LinkOutcome::ImageNotSendable:
        return QStringLiteral("image-not-sendable");
    }
    return QStringLiteral("unknown");
}

QString currentUser()
{
    if (const passwd *entry = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(::geteuid());
}

QString currentHost()
{
    return QSysInfo::machineHostName();
}

QString fileSha256(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

LoadRecord::LoadRecord(QString fileName)
    : m_fileName(std::move(fileName))
{}

QString LoadRecord::defaultFileName()
{
    // The application data folder of KV402Master, whichever program (the window, the demo, the
    // command line) does the load: they share one record.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/')
           + ApplicationName + QLatin1Char('/') + RecordFile;
}

bool LoadRecord::append(const LoadRecordEntry &entry, QString *error) const
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QDir().mkpath(QFileInfo(m_fileName).absolutePath());
    // A FIFO in the record's place must not hold the load up.
    const int fd = ::open(QFile::encodeName(m_fileName).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK,
                          FileMode);
    if (fd < 0)
        return fail(errnoText());
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(QStringLiteral("it is not a regular file"));
    }
    // The whole line in one write: appends of one line each never interleave.
    const QByteArray line = QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n';
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    const QString why = written < 0 ? errnoText() : QString();
    ::close(fd);
    if (written != line.size())
        return fail(why.isEmpty() ? QStringLiteral("the line was cut short") : why);
    return true;
}

QList<LoadRecordEntry> LoadRecord::read(QString *error) const
{
    QList<LoadRecordEntry> entries;
    const QFileInfo info(m_fileName);
    if (info.exists() && !info.isFile()) {
        if (error)
            *error = QStringLiteral("it is not a regular file");
        return entries;
    }
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error && info.exists())
            *error = file.errorString();
        return entries;
    }
    while (!file.atEnd()) {
        const QJsonDocument document = QJsonDocument::fromJson(file.readLine());
        if (document.isObject())
            entries.append(LoadRecordEntry::fromJson(document.object()));
    }
    return entries;
}

} // namespace Kv402
