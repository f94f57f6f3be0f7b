#include "load/load_record.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
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

// Closes a descriptor when it goes out of scope.
struct FileDescriptor
{
    int fd;
    ~FileDescriptor() { ::close(fd); }
};

bool lockExclusive(int fd)
{
    int locked = -1;
    do {
        locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    return locked == 0;
}

// Whether the file's last byte is not a line end: a line cut short that could not be taken back.
bool endsInsideLine(int fd)
{
    struct stat st = {};
    char last = '\n';
    return ::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1
           && last != '\n';
}

QString isoTime(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

QJsonObject LoadRecordEntry::toJson() const
{
    QJsonObject object = everyLineFields();
    if (bundle.isSet()) {
        object.insert(QStringLiteral("bundle"), bundle.name);
        object.insert(QStringLiteral("bundleRevision"), bundle.revision);
        object.insert(QStringLiteral("bundleManifest"), bundle.manifestSha256);
    }
    return object;
}

QJsonObject LoadRecordEntry::everyLineFields() const
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("start"), isoTime(started)},
            {QStringLiteral("end"), isoTime(ended)},
            {QStringLiteral("user"), user},
            {QStringLiteral("host"), host},
            {QStringLiteral("program"), program},
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
            {QStringLiteral("unitSerial"), unitSerial},
            {QStringLiteral("outcome"), outcome}};
}

LoadRecordEntry LoadRecordEntry::fromJson(const QJsonObject &object)
{
    LoadRecordEntry entry;
    const auto text = [&](const char *key) {
        return object.value(QLatin1StringView(key)).toString();
    };
    // Lines of older versions have none: it reads as empty.
    entry.id = text("id");
    entry.started = QDateTime::fromString(text("start"), Qt::ISODate);
    entry.ended = QDateTime::fromString(text("end"), Qt::ISODate);
    entry.user = text("user");
    entry.host = text("host");
    // Lines of older programs name neither: they read as empty.
    entry.program = text("program");
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
    entry.unitSerial = text("unitSerial");
    entry.outcome = text("outcome");
    entry.bundle.name = text("bundle");
    entry.bundle.revision = qint64(object.value(QLatin1StringView("bundleRevision")).toDouble());
    entry.bundle.manifestSha256 = text("bundleManifest");
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

LoadRecordEntry recordEntry(const LoadRun &run,
                            const LoadChoice &choice,
                            const PortAddress &port,
                            const QString &device)
{
    LoadRecordEntry entry;
    entry.started = run.started;
    entry.ended = run.ended;
    entry.user = currentUser();
    entry.host = currentHost();
    entry.port = port.name;
    entry.device = device;
    entry.revision = choice.revision;
    entry.version = choice.version;
    entry.language = choice.language;
    entry.dataFile = run.dataFile;
    entry.sha256 = run.sha256;
    entry.blocks = run.counters.blocksWritten();
    entry.of = run.counters.blockCount;
    entry.errors = run.counters.errors;
    entry.outcome = outcomeName(run.outcome);
    return entry;
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
    // Read and write: the last byte tells whether the record ends with a whole line. A FIFO in
    // the record's place must not hold the load up.
    const int fd = ::open(QFile::encodeName(m_fileName).constData(),
                          O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK,
                          FileMode);
    if (fd < 0)
        return fail(errnoText());
    const FileDescriptor file{fd};
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(QStringLiteral("it is not a regular file"));
    // Writers take turns, so that a line cut short is taken back before another one follows it.
    if (!lockExclusive(fd))
        return fail(errnoText());

    LoadRecordEntry identified = entry;
    if (identified.id.isEmpty())
        identified.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QByteArray line = QJsonDocument(identified.toJson()).toJson(QJsonDocument::Compact) + '\n';
    if (endsInsideLine(fd))
        line.prepend('\n');
    // The whole line in one write: appends of one line each never interleave.
    ssize_t written = -1;
    do {
        written = ::write(fd, line.constData(), size_t(line.size()));
    } while (written < 0 && errno == EINTR);
    if (written == line.size())
        return true;
    if (written < 0)
        return fail(errnoText());

    // Cut short, as on a full disk: the part written is taken back, as long as it still ends the
    // file (a writer that ignores the lock may have appended behind it; its line must stay).
    const QString cutShort = QStringLiteral("the line was cut short");
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end < written || ::fstat(fd, &st) != 0 || st.st_size != end)
        return fail(cutShort);
    if (::ftruncate(fd, end - written) != 0)
        return fail(cutShort + QStringLiteral(" and could not be taken back: ") + errnoText());
    return fail(cutShort);
}

QList<LoadRecordEntry> LoadRecord::read(QString *error, QList<int> *skippedLines) const
{
    QList<LoadRecordEntry> entries;
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
    };
    const QFileInfo info(m_fileName);
    if (info.exists() && !info.isFile()) {
        fail(QStringLiteral("it is not a regular file"));
        return entries;
    }
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(file.errorString());
        return entries;
    }
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        // Nothing at all, not even a line end: the file could not be read further.
        if (line.isEmpty())
            break;
        ++number;
        if (line.trimmed().isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            entries.append(LoadRecordEntry::fromJson(document.object()));
        else if (skippedLines)
            skippedLines->append(number);
    }
    if (file.error() != QFileDevice::NoError)
        fail(file.errorString());
    return entries;
}

} // namespace Kv402
