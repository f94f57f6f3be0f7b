#include "recordpush/record_lines.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402 {

namespace {

// The namespace of the identities derived from lines written without one; never to change, or
// lines pushed before would be pushed again under new identities.
const QUuid DerivedIdNamespace(QStringLiteral("0d7c273a-0bce-4b1b-a01b-4a1a17d1f597"));

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

struct FileDescriptor
{
    int fd;
    ~FileDescriptor() { ::close(fd); }
};

QJsonDocument parsed(const QByteArray &bytes, QJsonParseError *error = nullptr)
{
    return QJsonDocument::fromJson(bytes, error);
}

// The line's identity; a null one, with the reason, when the line cannot be read.
QUuid lineId(const QByteArray &bytes, QString *why)
{
    QJsonParseError parseError;
    const QJsonDocument document = parsed(bytes, &parseError);
    if (!document.isObject()) {
        *why = document.isNull() ? parseError.errorString()
                                 : QStringLiteral("it is not a JSON object");
        return {};
    }
    const QJsonValue id = document.object().value(QLatin1StringView("id"));
    // Older lines read back and written again (kv402 record --json) name an empty one.
    if (id.isUndefined() || id == QJsonValue(QString()))
        return derivedLineId(bytes);
    const QUuid given = QUuid::fromString(id.toString());
    if (given.isNull())
        *why = QStringLiteral("its id is not a UUID");
    return given;
}

} // namespace

QUuid derivedLineId(const QByteArray &bytes)
{
    return QUuid::createUuidV5(DerivedIdNamespace, bytes);
}

namespace {

// The file's bytes, read under the appenders' lock, which is given back before the lines are
// looked at: a load that ends meanwhile is not kept waiting for its record.
bool readLocked(const QString &fileName, QByteArray *content, QString *error)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = errnoText();
        return false;
    }
    const FileDescriptor file{fd};
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("it is not a regular file");
        return false;
    }
    // Appends take the lock exclusively: the reading sees whole lines only.
    int locked = -1;
    do {
        locked = ::flock(fd, LOCK_SH);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        *error = errnoText();
        return false;
    }
    content->resize(qsizetype(st.st_size));
    qsizetype filled = 0;
    for (;;) {
        if (filled == content->size())
            content->resize(content->size() + 65536);
        const ssize_t got = ::read(fd, content->data() + filled, size_t(content->size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = errnoText();
            return false;
        }
        if (got == 0)
            break;
        filled += got;
    }
    content->truncate(filled);
    return true;
}

} // namespace

RecordLines readRecordLines(const QString &fileName)
{
    RecordLines result;
    if (!readLocked(fileName, &result.content, &result.error))
        return result;

    int number = 0;
    qsizetype start = 0;
    while (start < result.content.size()) {
        qsizetype end = result.content.indexOf('\n', start);
        if (end < 0)
            end = result.content.size();
        ++number;
        const RecordLine line{number, start, end - start, {}};
        start = end + 1;
        const QByteArray bytes = result.bytes(line);
        if (bytes.trimmed().isEmpty())
            continue;
        QString why;
        const QUuid id = lineId(bytes, &why);
        if (why.isEmpty())
            result.lines.append({line.number, line.offset, line.length, id});
        else
            result.unreadable.append({number, why});
    }
    return result;
}

LoadRecordEntry RecordLines::entry(const RecordLine &line) const
{
    return LoadRecordEntry::fromJson(parsed(bytes(line)).object());
}

} // namespace Kv402
