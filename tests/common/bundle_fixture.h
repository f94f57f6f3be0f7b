#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Signed bundles for tests: keys and signatures made by the minisign tool, a bundle folder of a
// catalogue, a data file and a help file, and tar archives of any entries, good or hostile.
namespace Kv402::Test {

// The data file the bundle's catalogue names, and its catalogue row's table.
inline constexpr char BundleDataFile[] = "KV10ENG.S28";
inline constexpr char BundleHelpFile[] = "kv402ing.hlp";

// The minisign tool, or an empty string when it is not installed.
QString minisignTool();

struct KeyPair
{
    QString publicKey;
    QString secretKey;
};

// A key pair made by minisign -G in folder, protected by password (none: -W). Fails the test
// when the tool fails.
KeyPair makeKeys(const QString &folder, const QString &name, const QByteArray &password = {});

// Runs minisign with arguments and standard input; its exit code, -1 when it did not run.
int runMinisign(const QStringList &arguments,
                const QByteArray &input = {},
                QString *output = nullptr);

// Writes a bundle's files into folder: Versioni.mdb (one row naming BundleDataFile), the data file
// and a help file in a subfolder.
void writeBundleFiles(const QString &folder);

// The manifest of every file in folder but the manifest and its signature, as kv402 bundle make
// lists them.
QByteArray manifestOf(const QString &folder, const QString &name, qint64 revision);
void writeManifest(const QString &folder, const QString &name, qint64 revision);

// Signs folder/MANIFEST with minisign -S (legacy: -l, the older form over the whole file).
void signWithMinisign(const QString &folder, const KeyPair &keys, bool legacy = false);

// Flips one bit of the byte at the middle of the file (a base64 character becomes another).
void flipByte(const QString &file);

// One entry of a tar archive.
struct TarEntry
{
    QByteArray name;
    // '0' a file, '5' a folder, '1' a hard link, '2' a symbolic link, '3' a device...
    char type = '0';
    QByteArray content = {};
    QByteArray linkName = {};
};

// A ustar archive of the entries, ended by its two zero blocks.
QByteArray tarOf(const QList<TarEntry> &entries);
// The entries of every file below folder, under prefix.
QList<TarEntry> tarEntriesOf(const QString &folder, const QByteArray &prefix = {});

void writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);

} // namespace Kv402::Test
