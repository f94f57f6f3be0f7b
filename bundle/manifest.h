#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <QList>
#include <QString>

#include <optional>

namespace Kv402 {

namespace BundleFiles {
// The manifest and its detached signature, at the top of a bundle's folder.
inline constexpr QLatin1StringView Manifest{"MANIFEST"};
inline constexpr QLatin1StringView Signature{"MANIFEST.minisig"};
} // namespace BundleFiles

// One file of a bundle: the SHA-256 of its bytes in lower-case hex, and its path below the
// bundle's folder, with "/" between folders.
struct ManifestEntry
{
    QString sha256;
    QString path;

    bool operator==(const ManifestEntry &) const = default;
};

// A bundle's manifest: its name, revision and date, then one line a file as sha256sum writes
// them:
//
//     name: KV402 release
//     revision: 12
//     date: 2026-12-11T16:00:00Z
//     9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08  Versioni.mdb
struct Manifest
{
    QString name;
    qint64 revision = 0;
    QString date;
    QList<ManifestEntry> files;

    // The entry of a path, or nothing.
    const ManifestEntry *find(const QString &path) const;
    // The manifest as text, its files in the order held.
    QByteArray text() const;
};

// The highest revision a manifest may carry: it must survive a round trip through JSON.
inline constexpr qint64 MaxRevision = (qint64(1) << 53);

// Whether a path is one a bundle may hold: relative, below the folder ("..", "." and empty steps
// refused), without control characters or backslashes.
bool isBundlePath(const QString &path);

// The manifest in text; nothing, with the 1-based line that is wrong in *line, when it is not one.
std::optional<Manifest> readManifest(QByteArrayView text, int *line);

} // namespace Kv402
