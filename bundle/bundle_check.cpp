#include "bundle/bundle_check.h"

#include "bundle/bundle_texts.h"
#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_db.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402 {

namespace {

// The application's folder below the configuration and data folders, as the settings record
// and the load record name it.
const QLatin1StringView ApplicationFolder{"KV402Master"};
const QLatin1StringView KeysFolder{"keys"};
const QLatin1StringView PolicyFile{"policy.conf"};
const QLatin1StringView AcceptedFile{"accepted-bundles.json"};
const QLatin1StringView RequireSigned{"require-signed-bundles"};
// A signature file, a key or a policy is a few hundred bytes; more is not one.
constexpr qint64 SmallFileLimit = 64 * 1024;
// The manifest of a bundle of thousands of files.
constexpr qint64 ManifestLimit = 16 * 1024 * 1024;
constexpr qint64 HashPiece = 1024 * 1024;

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A regular file's bytes, read without waiting on a FIFO; nothing, with why, otherwise.
std::optional<QByteArray> readSmallFile(const QString &fileName,
                                        qint64 limit,
                                        QString *why,
                                        bool *missing = nullptr)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (missing)
            *missing = errno == ENOENT;
        *why = systemReason();
        return std::nullopt;
    }
    QFile file;
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        *why = QStringLiteral("it is not a regular file");
        return std::nullopt;
    }
    if (status.st_size > limit) {
        ::close(fd);
        *why = QStringLiteral("it is too large");
        return std::nullopt;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *why = file.errorString();
        return std::nullopt;
    }
    QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError) {
        *why = file.errorString();
        return std::nullopt;
    }
    if (bytes.size() > limit) {
        *why = QStringLiteral("it is too large");
        return std::nullopt;
    }
    return bytes;
}

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

BundleProblem problem(BundleProblem::Kind kind, const QStringList &arguments)
{
    return BundleProblem{kind, arguments};
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

QString BundleProblem::text(Language language) const
{
    using namespace BundleTexts;
    if (kind == Kind::CatalogueUnusable && catalogueError)
        return CatalogueUnusable.in(language).arg(arguments.value(0),
                                                  catalogueError->message(language));
    const Bilingual *words = nullptr;
    switch (kind) {
    case Kind::ManifestUnreadable:
        words = &ManifestUnreadable;
        break;
    case Kind::ManifestMalformed:
        words = &ManifestMalformed;
        break;
    case Kind::SignatureMissing:
        words = &SignatureMissing;
        break;
    case Kind::SignatureUnreadable:
        words = &SignatureUnreadable;
        break;
    case Kind::SignatureMalformed:
        words = &SignatureMalformed;
        break;
    case Kind::UnknownKey:
        words = &UnknownKey;
        break;
    case Kind::SignatureInvalid:
        words = &SignatureInvalid;
        break;
    case Kind::FileMissing:
        words = &FileMissing;
        break;
    case Kind::FileUnreadable:
        words = &FileUnreadable;
        break;
    case Kind::FileChanged:
        words = &FileChanged;
        break;
    case Kind::NotListed:
        words = &NotListed;
        break;
    case Kind::OutsideFolder:
        words = &OutsideFolder;
        break;
    case Kind::OlderRevision:
        words = &OlderRevision;
        break;
    case Kind::SignatureRequired:
        words = &SignatureRequired;
        break;
    case Kind::CatalogueUnusable:
        words = &CatalogueUnusable;
        break;
    }
    // In one pass: a file name holding "%2" must stay as it is.
    return withArguments(words->in(language), arguments);
}

BundleTrust BundleTrust::standard()
{
    BundleTrust trust;
    trust.systemFolder = qEnvironmentVariable(SystemFolderVariable);
    if (trust.systemFolder.isEmpty()) {
#ifdef Q_OS_WIN
        trust.systemFolder = qEnvironmentVariable("ProgramData") + QLatin1Char('/')
                             + ApplicationFolder;
#else
        trust.systemFolder = QStringLiteral("/etc/kv402master");
#endif
    }
    trust.userKeysFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                           + QLatin1Char('/') + ApplicationFolder + QLatin1Char('/') + KeysFolder;
    trust.acceptedRevisionsFile = QStandardPaths::writableLocation(
                                      QStandardPaths::GenericDataLocation)
                                  + QLatin1Char('/') + ApplicationFolder + QLatin1Char('/')
                                  + AcceptedFile;
    return trust;
}

QString BundleTrust::systemKeysFolder() const
{
    return systemFolder + QLatin1Char('/') + KeysFolder;
}

QString BundleTrust::policyFile() const
{
    return systemFolder + QLatin1Char('/') + PolicyFile;
}

QList<TrustedKey> trustedKeys(const BundleTrust &trust, QStringList *unreadable)
{
    QList<TrustedKey> keys;
    for (const QString &folder : {trust.systemKeysFolder(), trust.userKeysFolder}) {
        const QDir dir(folder);
        for (const QString &name :
             dir.entryList({QStringLiteral("*.pub")}, QDir::Files | QDir::Readable, QDir::Name)) {
            const QString file = dir.filePath(name);
            QString why;
            std::optional<Minisign::PublicKey> key;
            if (const std::optional<QByteArray> text = readSmallFile(file, SmallFileLimit, &why))
                key = Minisign::readPublicKey(*text, &why);
            if (key)
                keys.append({*key, file});
            else if (unreadable)
                unreadable->append(QStringLiteral("%1: %2").arg(shown(file), why));
        }
    }
    return keys;
}

bool signedBundlesRequired(const BundleTrust &trust)
{
    QString why;
    bool missing = false;
    const std::optional<QByteArray> text = readSmallFile(trust.policyFile(),
                                                         SmallFileLimit,
                                                         &why,
                                                         &missing);
    if (!text)
        return !missing;
    bool required = false;
    for (const QByteArray &raw : text->split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed().toLower();
        if (equals < 0 || key != QLatin1StringView(RequireSigned).latin1())
            return true;
        if (value == "yes" || value == "true")
            required = true;
        else if (value != "no" && value != "false")
            return true;
    }
    return required;
}

AcceptedRevisions::AcceptedRevisions(QString fileName)
    : m_fileName(std::move(fileName))
{}

qint64 AcceptedRevisions::highest(const QString &name) const
{
    QString why;
    const std::optional<QByteArray> text = readSmallFile(m_fileName, ManifestLimit, &why);
    if (!text)
        return 0;
    return qint64(QJsonDocument::fromJson(*text).object().value(name).toDouble());
}

bool AcceptedRevisions::remember(const QString &name, qint64 revision, bool lower, QString *why) const
{
    QString reason;
    const std::optional<QByteArray> text = readSmallFile(m_fileName, ManifestLimit, &reason);
    QJsonObject revisions = text ? QJsonDocument::fromJson(*text).object() : QJsonObject();
    const qint64 known = qint64(revisions.value(name).toDouble());
    if (known == revision || (known > revision && !lower))
        return true;
    revisions.insert(name, revision);
    QDir().mkpath(QFileInfo(m_fileName).absolutePath());
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(revisions).toJson()) < 0
        || !file.commit()) {
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}

BundleOrigin VerifiedBundle::origin() const
{
    return {manifest.name, manifest.revision, manifestSha256};
}

QList<CatalogueRow> catalogueRows(const QString &catalogue, CatalogueHold hold)
{
    const auto database = CatalogueDatabase::open(catalogue, hold);
    QList<CatalogueRow> rows;
    const QStringList tables = database->tableNames();
    for (int revision = 1; revision <= 5; ++revision) {
        const QString name = Catalogue::VersionTablePrefix + QString::number(revision);
        if (!tables.contains(name, Qt::CaseInsensitive))
            continue;
        const TableData table = database->readTable(name);
        const int column = table.columnIndex(Catalogue::FileField);
        if (column < 0)
            throw missingField(catalogue, name, Catalogue::FileField);
        for (qsizetype row = 0; row < table.rows.size(); ++row) {
            const FieldValue &file = table.rows.at(row).value(column);
            if (file && !file->isEmpty())
                rows.append({name, int(row + 1), *file});
        }
    }
    return rows;
}

std::optional<QString> fileSha256(const QString &fileName, QString *why, bool *missing)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (missing)
            *missing = errno == ENOENT;
        *why = systemReason();
        return std::nullopt;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        *why = QStringLiteral("it is not a regular file");
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *why = file.errorString();
        return std::nullopt;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    while (!file.atEnd()) {
        const QByteArray piece = file.read(HashPiece);
        if (piece.isEmpty())
            break;
        hash.addData(piece);
    }
    if (file.error() != QFileDevice::NoError) {
        *why = file.errorString();
        return std::nullopt;
    }
    return hex(hash.result());
}

std::optional<QString> bundlePathOf(const QString &folder, const QString &dataFile)
{
    const QString absolute = QDir(folder).absoluteFilePath(dataFile);
    const QString relative = QDir(folder).relativeFilePath(QDir::cleanPath(absolute));
    if (!isBundlePath(relative))
        return std::nullopt;
    return relative;
}

std::variant<VerifiedBundle, BundleProblem> verifyBundle(const QString &folder,
                                                         const BundleTrust &trust,
                                                         CatalogueHold hold)
{
    using Kind = BundleProblem::Kind;
    // Safe to call again; without it no signature could be checked, and each would fail.
    Minisign::initialise();
    const QDir dir(folder);
    const QString manifestFile = dir.absoluteFilePath(BundleFiles::Manifest);
    const QString signatureFile = dir.absoluteFilePath(BundleFiles::Signature);
    QString why;

    // The signature first: nothing of an unsigned manifest is believed.
    bool missing = false;
    const std::optional<QByteArray> manifestText = readSmallFile(manifestFile, ManifestLimit, &why);
    if (!manifestText)
        return problem(Kind::ManifestUnreadable, {shown(manifestFile), why});
    const std::optional<QByteArray> signatureText = readSmallFile(signatureFile,
                                                                  SmallFileLimit,
                                                                  &why,
                                                                  &missing);
    if (!signatureText) {
        return missing ? problem(Kind::SignatureMissing, {shown(signatureFile)})
                       : problem(Kind::SignatureUnreadable, {shown(signatureFile), why});
    }
    const std::optional<Minisign::Signature> signature = Minisign::readSignature(*signatureText,
                                                                                 &why);
    if (!signature)
        return problem(Kind::SignatureMalformed, {shown(signatureFile)});
    const QList<TrustedKey> keys = trustedKeys(trust);
    const TrustedKey *signer = nullptr;
    for (const TrustedKey &key : keys) {
        if (key.key.keyId == signature->keyId)
            signer = &key;
    }
    if (!signer)
        return problem(Kind::UnknownKey,
                       {shown(signatureFile), Minisign::keyIdText(signature->keyId)});
    if (!Minisign::verify(*signature, signer->key, *manifestText, &why))
        return problem(Kind::SignatureInvalid, {shown(signatureFile), shown(manifestFile)});

    int line = 0;
    const std::optional<Manifest> manifest = readManifest(*manifestText, &line);
    if (!manifest)
        return problem(Kind::ManifestMalformed, {shown(manifestFile), QString::number(line)});
    const qint64 highest = AcceptedRevisions(trust.acceptedRevisionsFile).highest(manifest->name);
    if (manifest->revision < highest && !trust.allowOlderRevision) {
        return problem(Kind::OlderRevision,
                       {shown(manifestFile),
                        manifest->name,
                        QString::number(manifest->revision),
                        QString::number(highest)});
    }

    for (const ManifestEntry &entry : manifest->files) {
        const QString file = dir.absoluteFilePath(entry.path);
        const std::optional<QString> sha256 = fileSha256(file, &why, &missing);
        if (!sha256) {
            return missing ? problem(Kind::FileMissing, {shown(file)})
                           : problem(Kind::FileUnreadable, {shown(file), why});
        }
        if (*sha256 != entry.sha256)
            return problem(Kind::FileChanged, {shown(file)});
    }

    // Every data file the catalogue names must be one of the bundle's: otherwise the catalogue
    // could lead a load to a file nobody signed.
    const QString catalogue = dir.absoluteFilePath(Catalogue::FileName);
    if (!manifest->find(Catalogue::FileName))
        return problem(Kind::NotListed, {shown(catalogue), shown(manifestFile)});
    try {
        for (const CatalogueRow &row : catalogueRows(catalogue, hold)) {
            const std::optional<QString> path = bundlePathOf(folder, row.dataFile);
            if (!path)
                return problem(Kind::OutsideFolder, {shown(row.dataFile)});
            if (!manifest->find(*path))
                return problem(Kind::NotListed,
                               {shown(dir.absoluteFilePath(*path)), shown(manifestFile)});
        }
    } catch (const CatalogueError &error) {
        if (hold == CatalogueHold::Shared)
            releaseHold(catalogue);
        BundleProblem unusable = problem(Kind::CatalogueUnusable, {shown(catalogue)});
        unusable.catalogueError = error;
        return unusable;
    }
    if (hold == CatalogueHold::Shared)
        releaseHold(catalogue);

    VerifiedBundle bundle;
    bundle.folder = dir.absolutePath();
    bundle.manifest = *manifest;
    bundle.manifestSha256 = hex(QCryptographicHash::hash(*manifestText, QCryptographicHash::Sha256));
    bundle.keyFile = signer->file;
    return bundle;
}

WorkingFolderCheck checkWorkingFolder(const QString &folder,
                                      const BundleTrust &trust,
                                      CatalogueHold hold)
{
    WorkingFolderCheck check;
    const QString manifest = QDir(folder).absoluteFilePath(BundleFiles::Manifest);
    if (!QFileInfo::exists(manifest) && !QFileInfo(manifest).isSymLink()) {
        if (signedBundlesRequired(trust)) {
            check.refusal = problem(BundleProblem::Kind::SignatureRequired,
                                    {shown(QDir(folder).absolutePath())});
        }
        return check;
    }
    std::variant<VerifiedBundle, BundleProblem> verdict = verifyBundle(folder, trust, hold);
    if (BundleProblem *refusal = std::get_if<BundleProblem>(&verdict)) {
        check.refusal = std::move(*refusal);
        return check;
    }
    check.bundle = std::get<VerifiedBundle>(std::move(verdict));
    // Remembering is best effort: a record that cannot be written never stops a sound bundle.
    AcceptedRevisions(trust.acceptedRevisionsFile)
        .remember(check.bundle->manifest.name, check.bundle->manifest.revision, false);
    return check;
}

std::optional<BundleProblem> checkBundleFile(const VerifiedBundle &bundle,
                                             const QString &dataFile,
                                             const QString &readSha256)
{
    using Kind = BundleProblem::Kind;
    const QString manifestFile = QDir(bundle.folder).absoluteFilePath(BundleFiles::Manifest);
    // The name as the load reads it: a name without a folder is in the current folder.
    const std::optional<QString> path = bundlePathOf(bundle.folder,
                                                     QFileInfo(dataFile).absoluteFilePath());
    if (!path)
        return problem(Kind::OutsideFolder, {shown(dataFile)});
    const QString file = QDir(bundle.folder).absoluteFilePath(*path);
    const ManifestEntry *entry = bundle.manifest.find(*path);
    if (!entry)
        return problem(Kind::NotListed, {shown(file), shown(manifestFile)});
    QString why;
    bool missing = false;
    const std::optional<QString> sha256 = readSha256.isEmpty() ? fileSha256(file, &why, &missing)
                                                               : readSha256;
    if (!sha256) {
        return missing ? problem(Kind::FileMissing, {shown(file)})
                       : problem(Kind::FileUnreadable, {shown(file), why});
    }
    if (*sha256 != entry->sha256)
        return problem(Kind::FileChanged, {shown(file)});
    return std::nullopt;
}

QString releasedSha256(const VerifiedBundle &bundle, const QString &dataFile)
{
    const std::optional<QString> path = bundlePathOf(bundle.folder,
                                                     QFileInfo(dataFile).absoluteFilePath());
    const ManifestEntry *entry = path ? bundle.manifest.find(*path) : nullptr;
    return entry ? entry->sha256 : QString();
}

QString bundleFolderOf(const QString &fileName)
{
    const QString folder = QFileInfo(fileName).absolutePath();
    return QFileInfo::exists(QDir(folder).absoluteFilePath(BundleFiles::Manifest)) ? folder
                                                                                   : QString();
}

} // namespace Kv402
