#pragma once

#include "bundle/manifest.h"
#include "bundle/minisign.h"
#include "catalogue/catalogue_error.h"
#include "catalogue/exclusive_hold.h"
#include "language/bilingual.h"
#include "load/load_record.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace Kv402 {

// Why a bundle is refused: a kind with its arguments (the file first), worded in both languages
// by bundle_texts.h, or a catalogue failure as the catalogue words it.
struct BundleProblem
{
    enum class Kind {
        ManifestUnreadable,
        ManifestMalformed,
        SignatureMissing,
        SignatureUnreadable,
        SignatureMalformed,
        UnknownKey,
        SignatureInvalid,
        FileMissing,
        FileUnreadable,
        FileChanged,
        NotListed,
        OutsideFolder,
        OlderRevision,
        SignatureRequired,
        CatalogueUnusable,
    };

    Kind kind;
    QStringList arguments;
    // For CatalogueUnusable: what the catalogue says, in either language.
    std::optional<CatalogueError> catalogueError = std::nullopt;

    QString text(Language language) const;
};

// Where this PC keeps what it trusts. The system folder (/etc/kv402master on Linux, the program
// data folder on Windows; KV402_SYSTEM_DIR in the environment replaces it, for tests and
// packagers) holds keys/*.pub and the policy file policy.conf; the user's keys/ lies beside the
// settings record; the accepted revisions beside the load record.
struct BundleTrust
{
    QString systemFolder;
    QString userKeysFolder;
    QString acceptedRevisionsFile;
    // A supervisor allows a revision older than the highest accepted.
    bool allowOlderRevision = false;

    static BundleTrust standard();
    QString systemKeysFolder() const;
    QString policyFile() const;
};

// Environment variable that moves the system folder.
inline constexpr char SystemFolderVariable[] = "KV402_SYSTEM_DIR";

// A trusted public key and the file it came from.
struct TrustedKey
{
    Minisign::PublicKey key;
    QString file;
};

// Every readable *.pub of both key folders; the files that are not keys go to unreadable with why.
QList<TrustedKey> trustedKeys(const BundleTrust &trust, QStringList *unreadable = nullptr);

// Whether the policy file asks for signed bundles only: a line "require-signed-bundles = yes".
// A policy file that cannot be read or holds other lines asks for them too: a damaged policy must
// not open the door.
bool signedBundlesRequired(const BundleTrust &trust);

// The highest revision accepted on this PC for each bundle name (a JSON object in a file).
class AcceptedRevisions
{
public:
    explicit AcceptedRevisions(QString fileName);
    // 0 when none was accepted.
    qint64 highest(const QString &name) const;
    // Sets the bundle's highest accepted revision: raised, or lowered when lower is set (a
    // supervisor's explicit return to an older release). False, with why, when the file cannot
    // be written.
    bool remember(const QString &name, qint64 revision, bool lower, QString *why = nullptr) const;

private:
    QString m_fileName;
};

// A bundle whose signature, files and catalogue rows were found sound.
struct VerifiedBundle
{
    QString folder;
    Manifest manifest;
    // The SHA-256 of the manifest's bytes, as the load record names it.
    QString manifestSha256;
    // The key file that accepted the signature.
    QString keyFile;

    BundleOrigin origin() const;
};

// A data file named by a row of the catalogue.
struct CatalogueRow
{
    QString table;
    // 1-based, in stored order.
    int row = 0;
    QString dataFile;
};

// The data files the catalogue's version tables name, row by row (rows with an empty File are
// passed over). Throws CatalogueError.
QList<CatalogueRow> catalogueRows(const QString &catalogue, CatalogueHold hold);

// The SHA-256 of a regular file in lower-case hex; nothing, with why, when it cannot be read.
std::optional<QString> fileSha256(const QString &fileName, QString *why, bool *missing = nullptr);

// The path of a catalogue row's data file below the bundle's folder; nothing when the name leads
// outside it. A name without a folder is in the folder itself.
std::optional<QString> bundlePathOf(const QString &folder, const QString &dataFile);

// Checks a bundle's folder: the signature by a trusted key and its trusted comment, the revision
// against the highest accepted, every listed file's hash, and every data file the catalogue names
// listed. The catalogue is held as asked while it is read.
std::variant<VerifiedBundle, BundleProblem> verifyBundle(const QString &folder,
                                                         const BundleTrust &trust,
                                                         CatalogueHold hold = CatalogueHold::Shared);

// What a front does with a working folder before it uses its catalogue.
struct WorkingFolderCheck
{
    // The refusal: nothing may be loaded from the folder.
    std::optional<BundleProblem> refusal;
    // The bundle verified, when the folder holds one.
    std::optional<VerifiedBundle> bundle;

    bool refused() const { return refusal.has_value(); }
    // For the load record: empty when the folder holds no bundle.
    BundleOrigin origin() const { return bundle ? bundle->origin() : BundleOrigin(); }
};

// A working folder with a MANIFEST is verified; one without it is used as it is unless the policy
// asks for signed bundles. A bundle accepted raises the highest revision remembered for its name.
// The window, kv402 send and the station call this before the catalogue is opened.
WorkingFolderCheck checkWorkingFolder(const QString &folder,
                                      const BundleTrust &trust = BundleTrust::standard(),
                                      CatalogueHold hold = CatalogueHold::Shared);

// A data file about to be loaded from a verified bundle, its name as the load reads it (a name
// without a folder is in the current folder): it must be one of the bundle's files, listed, and
// hold the bytes the manifest names. readSha256, when given, is the hash of the bytes a load
// read from it (DataFileReading::sha256), which must be the manifest's; otherwise the file is
// read again now. Nothing when it holds them.
std::optional<BundleProblem> checkBundleFile(const VerifiedBundle &bundle,
                                             const QString &dataFile,
                                             const QString &readSha256 = {});

// The SHA-256 the manifest gives a data file, its name as the load reads it: what every run of a
// load from the bundle must read (LoadRequest::releasedSha256). Empty when it is not listed.
QString releasedSha256(const VerifiedBundle &bundle, const QString &dataFile);

// The bundle folder a file lies in: its own folder when that holds a MANIFEST; empty otherwise.
QString bundleFolderOf(const QString &fileName);

} // namespace Kv402
