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

RecordLine parsedLine(int number, QByteArray bytes, QString *why)
{
    RecordLine line;
    line.number = number;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (!document.isObject()) {
        *why = document.isNull() ? parseError.errorString()
                                 : QStringLiteral("it is not a JSON object");
        return line;
    }
    const QJsonObject object = document.object();
    const QJsonValue id = object.value(QLatin1StringView("id"));
    // Older lines read back and written again (kv402 record --json) name an empty one.
    if (id.isUndefined() || id == QJsonValue(QString())) {
        line.id = derivedLineId(bytes);
    } else {
        line.id = QUuid::fromString(id.toString());
        if (line.id.isNull()) {
            *why = QStringLiteral("its id is not a UUID");
            return line;
        }
    }
    line.entry = LoadRecordEntry::fromJson(object);
    line.bytes = std::move(bytes);
    return line;
}

} // namespace

QUuid derivedLineId(const QByteArray &bytes)
{
    return QUuid::createUuidV5(DerivedIdNamespace, bytes);
}

RecordLines readRecordLines(const QString &fileName)
{
    RecordLines result;
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result.error = errnoText();
        return result;
    }
    const FileDescriptor file{fd};
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.error = QStringLiteral("it is not a regular file");
        return result;
    }
    // Appends take the lock exclusively: the reading sees whole lines only.
    int locked = -1;
    do {
        locked = ::flock(fd, LOCK_SH);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        result.error = errnoText();
        return result;
    }
    QByteArray content;
    content.resize(qsizetype(st.st_size));
    qsizetype filled = 0;
    for (;;) {
        if (filled == content.size())
            content.resize(content.size() + 65536);
        const ssize_t got = ::read(fd, content.data() + filled, size_t(content.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            result.error = errnoText();
            return result;
        }
        if (got == 0)
            break;
        filled += got;
    }
    content.truncate(filled);

    int number = 0;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        ++number;
        QByteArray bytes = content.mid(start, end - start);
        start = end + 1;
        if (bytes.trimmed().isEmpty())
            continue;
        QString why;
        RecordLine line = parsedLine(number, std::move(bytes), &why);
        if (why.isEmpty())
            result.lines.append(std::move(line));
        else
            result.unreadable.append({number, why});
    }
    return result;
}

} // namespace Kv402
