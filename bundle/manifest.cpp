#include "bundle/manifest.h"

#include <QSet>

namespace Kv402 {

namespace {

const QByteArray NameField = "name: ";
const QByteArray RevisionField = "revision: ";
const QByteArray DateField = "date: ";
// A hash, two spaces, the path (sha256sum's text mode).
constexpr int HashDigits = 64;
const QByteArray Separator = "  ";

bool hasControlCharacters(const QString &text)
{
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0))
            return true;
    }
    return false;
}

bool isLowerHex(QByteArrayView text)
{
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

const ManifestEntry *Manifest::find(const QString &path) const
{
    for (const ManifestEntry &entry : files) {
        if (entry.path == path)
            return &entry;
    }
    return nullptr;
}

QByteArray Manifest::text() const
{
    QByteArray text = NameField + name.toUtf8() + '\n' + RevisionField
                      + QByteArray::number(revision) + '\n' + DateField + date.toUtf8() + '\n';
    for (const ManifestEntry &entry : files)
        text += entry.sha256.toLatin1() + Separator + entry.path.toUtf8() + '\n';
    return text;
}

bool isBundlePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\'))
        || hasControlCharacters(path)) {
        return false;
    }
    for (const QStringView step : QStringView(path).split(QLatin1Char('/'))) {
        if (step.isEmpty() || step == QLatin1String(".") || step == QLatin1String(".."))
            return false;
    }
    return true;
}

std::optional<Manifest> readManifest(QByteArrayView text, int *line)
{
    Manifest manifest;
    int number = 0;
    const auto wrong = [&] {
        if (line)
            *line = number;
        return std::nullopt;
    };
    // The text must be whole lines of UTF-8.
    if (!text.endsWith('\n')) {
        number = int(text.count('\n')) + 1;
        return wrong();
    }
    QSet<QString> paths;
    for (const QByteArray &bytes : text.chopped(1).toByteArray().split('\n')) {
        ++number;
        const QString decoded = QString::fromUtf8(bytes);
        if (decoded.toUtf8() != bytes || hasControlCharacters(decoded))
            return wrong();
        if (number == 1) {
            if (!bytes.startsWith(NameField) || bytes.size() == NameField.size())
                return wrong();
            manifest.name = decoded.mid(NameField.size());
        } else if (number == 2) {
            bool ok = false;
            const QByteArray digits = bytes.mid(RevisionField.size());
            manifest.revision = digits.toLongLong(&ok);
            if (!bytes.startsWith(RevisionField) || !ok || manifest.revision < 1
                || manifest.revision > MaxRevision
                || QByteArray::number(manifest.revision) != digits)
                return wrong();
        } else if (number == 3) {
            if (!bytes.startsWith(DateField))
                return wrong();
            manifest.date = decoded.mid(DateField.size());
        } else {
            const QString path = decoded.mid(HashDigits + Separator.size());
            if (bytes.size() <= HashDigits + Separator.size() || !isLowerHex(bytes.left(HashDigits))
                || bytes.mid(HashDigits, Separator.size()) != Separator || !isBundlePath(path)
                || paths.contains(path)) {
                return wrong();
            }
            paths.insert(path);
            manifest.files.append({QString::fromLatin1(bytes.left(HashDigits)), path});
        }
    }
    if (number < 3)
        return wrong();
    return manifest;
}

} // namespace Kv402
