#include "bundle/tar_reader.h"

#include "bundle/manifest.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402 {

namespace {

constexpr qsizetype BlockSize = 512;
// Far beyond any bundle; a larger size is a damaged header.
constexpr qint64 MaxEntrySize = qint64(1) << 36;
constexpr qint64 MaxHeaderData = 1024 * 1024;

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Reads exactly size bytes; false at the end of the file or on an error (errno 0 for the end).
bool readExactly(int fd, char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t count = ::read(fd, data, size_t(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = 0;
            return false;
        }
        data += count;
        size -= count;
    }
    return true;
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size_t(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        data += count;
        size -= count;
    }
    return true;
}

// A numeric field: octal text, or base-256 when its first byte has the high bit set.
std::optional<qint64> number(const char *field, int size)
{
    if (quint8(field[0]) & 0x80) {
        if (quint8(field[0]) != 0x80)
            return std::nullopt;
        qint64 value = 0;
        for (int i = 1; i < size; ++i) {
            if (value > (MaxEntrySize << 8))
                return std::nullopt;
            value = (value << 8) | quint8(field[i]);
        }
        return value;
    }
    qint64 value = 0;
    int i = 0;
    while (i < size && field[i] == ' ')
        ++i;
    bool digits = false;
    for (; i < size && field[i] >= '0' && field[i] <= '7'; ++i) {
        value = value * 8 + (field[i] - '0');
        digits = true;
        if (value > MaxEntrySize * 8)
            return std::nullopt;
    }
    for (; i < size; ++i) {
        if (field[i] != ' ' && field[i] != '\0')
            return std::nullopt;
    }
    return digits ? std::optional(value) : std::nullopt;
}

QByteArray text(const char *field, int size)
{
    return QByteArray(field, int(::strnlen(field, size_t(size))));
}

bool checksumMatches(const char *header)
{
    const std::optional<qint64> stored = number(header + 148, 8);
    qint64 sum = 0;
    for (int i = 0; i < BlockSize; ++i)
        sum += (i >= 148 && i < 156) ? ' ' : quint8(header[i]);
    return stored && *stored == sum;
}

// The records of a pax header: "length key=value\n" each.
bool readPax(const QByteArray &data, QByteArray *path, std::optional<qint64> *size)
{
    qsizetype at = 0;
    while (at < data.size()) {
        const qsizetype space = data.indexOf(' ', at);
        bool ok = false;
        const qint64 length = space < 0 ? 0 : data.mid(at, space - at).toLongLong(&ok);
        if (!ok || length <= space - at || at + length > data.size()
            || data.at(at + length - 1) != '\n')
            return false;
        const QByteArray record = data.mid(space + 1, at + length - space - 2);
        const qsizetype equals = record.indexOf('=');
        if (equals < 0)
            return false;
        const QByteArray key = record.left(equals);
        const QByteArray value = record.mid(equals + 1);
        if (key == "path") {
            *path = value;
        } else if (key == "size") {
            const qint64 parsed = value.toLongLong(&ok);
            if (!ok || parsed < 0 || parsed > MaxEntrySize)
                return false;
            *size = parsed;
        } else if (key == "linkpath") {
            // Only links carry one; the link itself is refused with its name.
        }
        at += length;
    }
    return true;
}

QString typeRefusal(char type)
{
    switch (type) {
    case '1':
        return QStringLiteral("it is a hard link");
    case '2':
    case 'K':
        return QStringLiteral("it is a symbolic link");
    case '3':
    case '4':
        return QStringLiteral("it is a device");
    case '6':
        return QStringLiteral("it is a FIFO");
    default:
        return QStringLiteral("it is neither a regular file nor a folder (type %1)")
            .arg(QLatin1Char(type));
    }
}

// Makes the folders of a path below root, each one a real folder.
bool makeFolders(const QString &root, const QStringList &steps, QString *why)
{
    QString path = root;
    for (const QString &step : steps) {
        path += QLatin1Char('/') + step;
        const QByteArray name = QFile::encodeName(path);
        if (::mkdir(name.constData(), 0755) != 0 && errno != EEXIST) {
            *why = systemReason();
            return false;
        }
        struct stat status = {};
        if (::lstat(name.constData(), &status) != 0 || !S_ISDIR(status.st_mode)) {
            *why = QStringLiteral("a file of that name is in the way");
            return false;
        }
    }
    return true;
}

} // namespace

QString extractTar(const QString &archive, const QString &destination)
{
    Descriptor input{
        ::open(QFile::encodeName(archive).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (input.fd < 0)
        return QStringLiteral("cannot open it: %1").arg(systemReason());
    struct stat status = {};
    if (::fstat(input.fd, &status) != 0 || !S_ISREG(status.st_mode))
        return QStringLiteral("it is not a regular file");

    QByteArray longName;
    QByteArray paxPath;
    std::optional<qint64> paxSize;
    char header[BlockSize];
    bool ended = false;
    while (!ended) {
        if (!readExactly(input.fd, header, BlockSize)) {
            return errno == 0 ? QStringLiteral("the archive is cut short (no end blocks)")
                              : QStringLiteral("cannot read it: %1").arg(systemReason());
        }
        if (std::all_of(header, header + BlockSize, [](char c) { return c == '\0'; })) {
            ended = true;
            break;
        }
        if (!checksumMatches(header))
            return QStringLiteral("a header is damaged (its checksum does not match)");
        if (std::memcmp(header + 257, "ustar", 5) != 0)
            return QStringLiteral("it is not a ustar or pax archive");
        const char type = header[156];
        std::optional<qint64> size = number(header + 124, 12);
        if (!size || *size > MaxEntrySize)
            return QStringLiteral("a header is damaged (its size cannot be read)");

        // Headers that describe the next entry.
        if (type == 'x' || type == 'g' || type == 'L') {
            if (*size > MaxHeaderData)
                return QStringLiteral("an extended header is too large");
            QByteArray data(qsizetype((*size + BlockSize - 1) / BlockSize * BlockSize), '\0');
            if (!readExactly(input.fd, data.data(), data.size()))
                return QStringLiteral("the archive is cut short");
            data.truncate(*size);
            if (type == 'L') {
                longName = text(data.constData(), int(data.size()));
            } else if (type == 'x' && !readPax(data, &paxPath, &paxSize)) {
                return QStringLiteral("an extended header is damaged");
            }
            continue;
        }

        QByteArray rawName = text(header, 100);
        const QByteArray prefix = text(header + 345, 155);
        if (!prefix.isEmpty() && std::memcmp(header + 257, "ustar\0", 6) == 0)
            rawName = prefix + '/' + rawName;
        if (!longName.isEmpty())
            rawName = std::exchange(longName, {});
        if (!paxPath.isEmpty())
            rawName = std::exchange(paxPath, {});
        if (paxSize)
            size = std::exchange(paxSize, std::nullopt);
        QString name = QString::fromUtf8(rawName);
        const QString entry = QStringLiteral("\"%1\"").arg(name);

        // "./" leads a tar made of ".": the folder itself.
        while (name.startsWith(QLatin1String("./")))
            name.remove(0, 2);
        const bool folder = type == '5';
        if (folder && name.endsWith(QLatin1Char('/')))
            name.chop(1);
        if (folder && (name.isEmpty() || name == QLatin1String(".")))
            continue;
        if (!isBundlePath(name))
            return QStringLiteral("%1: its path is absolute or leads out of the folder").arg(entry);
        if (type != '0' && type != '\0' && !folder)
            return QStringLiteral("%1: %2").arg(entry, typeRefusal(type));

        QStringList steps = name.split(QLatin1Char('/'));
        QString why;
        if (folder) {
            if (!makeFolders(destination, steps, &why))
                return QStringLiteral("%1: %2").arg(entry, why);
            continue;
        }
        const QString leaf = steps.takeLast();
        if (!makeFolders(destination, steps, &why))
            return QStringLiteral("%1: %2").arg(entry, why);
        const std::optional<qint64> mode = number(header + 100, 8);
        const mode_t permissions = mode && (*mode & 0111) ? 0755 : 0644;
        const QString target = destination + QLatin1Char('/') + name;
        Descriptor output{::open(QFile::encodeName(target).constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                 permissions)};
        if (output.fd < 0) {
            return errno == EEXIST ? QStringLiteral("%1: it is in the archive twice").arg(entry)
                                   : QStringLiteral("%1: %2").arg(entry, systemReason());
        }
        qint64 left = (*size + BlockSize - 1) / BlockSize * BlockSize;
        qint64 wanted = *size;
        QByteArray buffer(64 * BlockSize, '\0');
        while (left > 0) {
            const qint64 piece = std::min<qint64>(left, buffer.size());
            if (!readExactly(input.fd, buffer.data(), piece))
                return QStringLiteral("%1: the archive is cut short").arg(entry);
            const qint64 keep = std::min(piece, wanted);
            if (keep > 0 && !writeAll(output.fd, buffer.constData(), keep))
                return QStringLiteral("%1: cannot be written: %2").arg(entry, systemReason());
            wanted -= keep;
            left -= piece;
        }
        // On the disk before the folder takes the place of the old one.
        if (::fsync(output.fd) != 0)
            return QStringLiteral("%1: cannot be written: %2").arg(entry, systemReason());
        const int closed = ::close(std::exchange(output.fd, -1));
        if (closed != 0)
            return QStringLiteral("%1: cannot be written: %2").arg(entry, systemReason());
        Q_UNUSED(leaf)
    }
    return {};
}

} // namespace Kv402
