#include "bundle_fixture.h"

#include "srecord_text.h"
#include "workspace.h"

#include "bundle/bundle_check.h"
#include "bundle/manifest.h"
#include "catalogue/catalogue_sql.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace Kv402::Test {

QString minisignTool()
{
    return QStandardPaths::findExecutable(QStringLiteral("minisign"));
}

int runMinisign(const QStringList &arguments, const QByteArray &input, QString *output)
{
    QProcess process;
    process.start(minisignTool(), arguments);
    if (!process.waitForStarted())
        return -1;
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()
                                    + process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

KeyPair makeKeys(const QString &folder, const QString &name, const QByteArray &password)
{
    KeyPair keys{folder + QLatin1Char('/') + name + QStringLiteral(".pub"),
                 folder + QLatin1Char('/') + name + QStringLiteral(".key")};
    QStringList arguments{"-G", "-f", "-p", keys.publicKey, "-s", keys.secretKey};
    if (password.isEmpty())
        arguments.append("-W");
    QString output;
    const int code = runMinisign(arguments, password + '\n' + password + '\n', &output);
    if (code != 0)
        qWarning("minisign -G failed: %s", qPrintable(output));
    return keys;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBundleFiles(const QString &folder)
{
    QDir().mkpath(folder);
    QString sql = revisionTableSql({"1"});
    sql += versionTableSql("Versioni1", {{"1.0", "English", BundleDataFile, "KV402"}});
    buildCatalogue(sql, folder + QStringLiteral("/Versioni.mdb"));
    writeFile(folder + QLatin1Char('/') + QLatin1String(BundleDataFile),
              s2Records(0x300000, QByteArray(600, '\x5A')) + "S804000000FB\r\n");
    writeFile(folder + QStringLiteral("/help/") + QLatin1String(BundleHelpFile),
              "<html><body>Help</body></html>\n");
}

QByteArray manifestOf(const QString &folder, const QString &name, qint64 revision)
{
    Manifest manifest{name, revision, QStringLiteral("2026-12-11T16:00:00Z"), {}};
    QStringList paths;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(folder).relativeFilePath(it.next());
        if (path != BundleFiles::Manifest && path != BundleFiles::Signature)
            paths.append(path);
    }
    paths.sort();
    for (const QString &path : std::as_const(paths)) {
        QString why;
        manifest.files.append(
            {fileSha256(folder + QLatin1Char('/') + path, &why).value_or(QString()), path});
    }
    return manifest.text();
}

void writeManifest(const QString &folder, const QString &name, qint64 revision)
{
    writeFile(folder + QStringLiteral("/MANIFEST"), manifestOf(folder, name, revision));
}

void signWithMinisign(const QString &folder, const KeyPair &keys, bool legacy)
{
    QStringList arguments{"-S", "-s", keys.secretKey, "-m", folder + QStringLiteral("/MANIFEST")};
    if (legacy)
        arguments.append("-l");
    QString output;
    QCOMPARE(runMinisign(arguments, {}, &output), 0);
}

void flipByte(const QString &file)
{
    QByteArray bytes = readFile(file);
    QVERIFY(!bytes.isEmpty());
    qsizetype at = bytes.size() / 2;
    // A line end stays one: the file keeps its lines.
    while (bytes.at(at) == '\n' || bytes.at(at) == '\r')
        ++at;
    bytes[at] = char(bytes.at(at) ^ 0x01);
    writeFile(file, bytes);
}

QByteArray tarOf(const QList<TarEntry> &entries)
{
    QByteArray archive;
    for (const TarEntry &entry : entries) {
        QByteArray header(512, '\0');
        const auto put = [&](int at, const QByteArray &value) {
            std::copy(value.begin(), value.end(), header.begin() + at);
        };
        const auto octal = [](qint64 value, int width) {
            return QByteArray::number(value, 8).rightJustified(width - 1, '0');
        };
        put(0, entry.name.left(100));
        put(100, octal(entry.type == '5' ? 0755 : 0644, 8));
        put(108, octal(0, 8));
        put(116, octal(0, 8));
        put(124, octal(entry.type == '0' ? entry.content.size() : 0, 12));
        put(136, octal(1797000000, 12));
        header[156] = entry.type;
        put(157, entry.linkName.left(100));
        put(257,
            QByteArray("ustar\0"
                       "00",
                       8));
        put(148, QByteArray(8, ' '));
        int sum = 0;
        for (const char c : header)
            sum += quint8(c);
        put(148, octal(sum, 7) + '\0');
        archive += header;
        if (entry.type == '0') {
            archive += entry.content;
            archive += QByteArray((512 - entry.content.size() % 512) % 512, '\0');
        }
    }
    return archive + QByteArray(1024, '\0');
}

QList<TarEntry> tarEntriesOf(const QString &folder, const QByteArray &prefix)
{
    QList<TarEntry> entries;
    if (!prefix.isEmpty())
        entries.append({prefix, '5'});
    QStringList paths;
    QDirIterator it(folder,
                    QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(QDir(folder).relativeFilePath(it.next()));
    paths.sort();
    for (const QString &path : std::as_const(paths)) {
        const QString full = folder + QLatin1Char('/') + path;
        const QByteArray name = prefix + path.toUtf8();
        if (QFileInfo(full).isDir())
            entries.append({name + '/', '5'});
        else
            entries.append({name, '0', readFile(full)});
    }
    return entries;
}

} // namespace Kv402::Test
