// A bundle's folder checked against the keys this PC trusts: signatures made by the minisign
// tool in both its forms, one changed byte in each file, keys that are wrong or unknown, a
// missing file, an older revision, the policy, and the secret key files of minisign.

#include "bundle_fixture.h"

#include "bundle/bundle_check.h"
#include "bundle/minisign.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Kv402;
using namespace Kv402::Test;

namespace {

// A bundle signed by the minisign tool, and a PC that trusts its key.
struct SignedBundle
{
    QTemporaryDir root;
    QString folder = root.filePath("bundle");
    KeyPair keys;
    BundleTrust trust;

    explicit SignedBundle(bool legacy = false, qint64 revision = 3)
    {
        QDir().mkpath(folder);
        QDir().mkpath(root.filePath("system/keys"));
        QDir().mkpath(root.filePath("user-keys"));
        keys = makeKeys(root.filePath("system/keys"), "maker");
        trust.systemFolder = root.filePath("system");
        trust.userKeysFolder = root.filePath("user-keys");
        trust.acceptedRevisionsFile = root.filePath("accepted.json");
        writeBundleFiles(folder);
        writeManifest(folder, "KV402 release", revision);
        signWithMinisign(folder, keys, legacy);
    }

    QString file(const QString &name) const { return folder + QLatin1Char('/') + name; }

    std::variant<VerifiedBundle, BundleProblem> verify() const
    {
        return verifyBundle(folder, trust);
    }
};

// The refusal's English text, or an empty string when the bundle is sound.
QString refusal(const std::variant<VerifiedBundle, BundleProblem> &verdict)
{
    const BundleProblem *problem = std::get_if<BundleProblem>(&verdict);
    return problem ? problem->text(Language::English) : QString();
}

} // namespace

class BundleCheckTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (minisignTool().isEmpty())
            QSKIP("the minisign tool (Debian package minisign) makes these tests' keys");
        QVERIFY(Minisign::initialise());
    }

    void signedByMinisign_data()
    {
        QTest::addColumn<bool>("legacy");
        QTest::newRow("prehashed (ED)") << false;
        QTest::newRow("legacy (Ed)") << true;
    }
    void signedByMinisign()
    {
        QFETCH(bool, legacy);
        const SignedBundle bundle(legacy);
        const auto verdict = bundle.verify();
        QVERIFY2(std::holds_alternative<VerifiedBundle>(verdict), qPrintable(refusal(verdict)));
        const VerifiedBundle &verified = std::get<VerifiedBundle>(verdict);
        QCOMPARE(verified.manifest.name, "KV402 release");
        QCOMPARE(verified.manifest.revision, 3);
        QCOMPARE(verified.manifest.files.size(), 3);
        QCOMPARE(verified.keyFile, bundle.keys.publicKey);
        QCOMPARE(verified.origin().manifestSha256,
                 QCryptographicHash::hash(readFile(bundle.file("MANIFEST")),
                                          QCryptographicHash::Sha256)
                     .toHex());
    }

    // One changed byte anywhere is refused, and the refusal names the file that changed.
    void flippedByte_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("named");
        QTest::newRow("catalogue") << "Versioni.mdb"
                                   << "Versioni.mdb";
        QTest::newRow("data file") << BundleDataFile << BundleDataFile;
        QTest::newRow("help file") << "help/kv402ing.hlp"
                                   << "help/kv402ing.hlp";
        QTest::newRow("manifest") << "MANIFEST"
                                  << "MANIFEST";
        QTest::newRow("signature") << "MANIFEST.minisig"
                                   << "MANIFEST.minisig";
    }
    void flippedByte()
    {
        QFETCH(QString, file);
        QFETCH(QString, named);
        const SignedBundle bundle;
        flipByte(bundle.file(file));
        const QString why = refusal(bundle.verify());
        QVERIFY2(why.contains(bundle.file(named)), qPrintable(why));
    }

    // A trusted comment changed after signing breaks the global signature.
    void changedTrustedComment()
    {
        const SignedBundle bundle;
        QByteArray signature = readFile(bundle.file("MANIFEST.minisig"));
        signature.replace("trusted comment: ", "trusted comment: x");
        writeFile(bundle.file("MANIFEST.minisig"), signature);
        QVERIFY(refusal(bundle.verify()).startsWith("The signature"));
    }

    void keys_data()
    {
        QTest::addColumn<QString>("trusted");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no key") << "none"
                                << "which this PC does not trust";
        QTest::newRow("another key") << "other"
                                     << "which this PC does not trust";
        // Another key under the signer's key id: the signature itself must fail.
        QTest::newRow("wrong key, same id") << "forged"
                                            << "does not match the manifest";
        QTest::newRow("user's key folder") << "user"
                                           << "";
    }
    void keys()
    {
        QFETCH(QString, trusted);
        QFETCH(QString, expected);
        SignedBundle bundle;
        const QString systemKey = bundle.keys.publicKey;
        const QByteArray signerKey = readFile(systemKey);
        QVERIFY(QFile::remove(systemKey));
        const KeyPair other = makeKeys(bundle.root.path(), "other");
        if (trusted == "other") {
            QVERIFY(QFile::copy(other.publicKey, bundle.root.filePath("system/keys/other.pub")));
        } else if (trusted == "forged") {
            // "Ed", the signer's key id, the other key.
            QByteArray signer = QByteArray::fromBase64(signerKey.split('\n').at(1));
            const QByteArray otherKey = QByteArray::fromBase64(
                readFile(other.publicKey).split('\n').at(1));
            signer.replace(10, 32, otherKey.mid(10));
            writeFile(bundle.root.filePath("system/keys/forged.pub"),
                      "untrusted comment: forged\n" + signer.toBase64() + "\n");
        } else if (trusted == "user") {
            writeFile(bundle.trust.userKeysFolder + "/maker.pub", signerKey);
        }
        const QString why = refusal(bundle.verify());
        if (expected.isEmpty())
            QVERIFY2(why.isEmpty(), qPrintable(why));
        else
            QVERIFY2(why.contains(expected) && why.contains("MANIFEST.minisig"), qPrintable(why));
    }

    void missingFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("data file") << BundleDataFile << "is missing";
        QTest::newRow("signature") << "MANIFEST.minisig"
                                   << "is missing";
        QTest::newRow("manifest") << "MANIFEST"
                                  << "cannot be read";
    }
    void missingFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        const SignedBundle bundle;
        QVERIFY(QFile::remove(bundle.file(file)));
        const QString why = refusal(bundle.verify());
        QVERIFY2(why.contains(bundle.file(file)) && why.contains(expected), qPrintable(why));
    }

    // The catalogue may name only files of the bundle: one signed without its data file listed
    // cannot lead a load to a file nobody signed.
    void catalogueNamesUnlistedFile()
    {
        const SignedBundle bundle;
        QByteArray manifest = readFile(bundle.file("MANIFEST"));
        const qsizetype line = manifest.indexOf(QByteArray("  ") + BundleDataFile);
        manifest.remove(manifest.lastIndexOf('\n', line) + 1, 66 + qstrlen(BundleDataFile) + 1);
        writeFile(bundle.file("MANIFEST"), manifest);
        signWithMinisign(bundle.folder, bundle.keys);
        const QString why = refusal(bundle.verify());
        QVERIFY2(why.contains("is not listed") && why.contains(BundleDataFile), qPrintable(why));
    }

    void olderRevision()
    {
        SignedBundle bundle;
        const AcceptedRevisions accepted(bundle.trust.acceptedRevisionsFile);
        QVERIFY(accepted.remember("KV402 release", 5, false));
        // Not lowered without being asked to.
        QVERIFY(accepted.remember("KV402 release", 4, false));
        QCOMPARE(accepted.highest("KV402 release"), 5);
        const QString why = refusal(bundle.verify());
        QVERIFY2(why.contains("revision 3, older than revision 5"), qPrintable(why));
        bundle.trust.allowOlderRevision = true;
        QVERIFY(refusal(bundle.verify()).isEmpty());
        // The same revision again is sound, and accepting it raises nothing.
        bundle.trust.allowOlderRevision = false;
        QVERIFY(accepted.remember("KV402 release", 3, true));
        QVERIFY(refusal(bundle.verify()).isEmpty());
    }

    // A working folder: verified when it has a MANIFEST; without one used as it is, unless the
    // policy asks for signed bundles (a policy that cannot be read asks for them too).
    void workingFolder_data()
    {
        QTest::addColumn<bool>("manifest");
        QTest::addColumn<QByteArray>("policy");
        QTest::addColumn<bool>("refused");
        QTest::newRow("bundle, no policy") << true << QByteArray() << false;
        QTest::newRow("plain folder, no policy") << false << QByteArray() << false;
        QTest::newRow("plain folder, policy no")
            << false << QByteArray("# kv402\nrequire-signed-bundles = no\n") << false;
        QTest::newRow("plain folder, policy yes")
            << false << QByteArray("require-signed-bundles = yes\n") << true;
        QTest::newRow("plain folder, damaged policy")
            << false << QByteArray("require=maybe\n") << true;
        QTest::newRow("bundle, policy yes")
            << true << QByteArray("require-signed-bundles=yes\n") << false;
    }
    void workingFolder()
    {
        QFETCH(bool, manifest);
        QFETCH(QByteArray, policy);
        QFETCH(bool, refused);
        const SignedBundle bundle;
        if (!manifest) {
            QVERIFY(QFile::remove(bundle.file("MANIFEST")));
            QVERIFY(QFile::remove(bundle.file("MANIFEST.minisig")));
        }
        if (!policy.isEmpty())
            writeFile(bundle.trust.policyFile(), policy);
        const WorkingFolderCheck check = checkWorkingFolder(bundle.folder, bundle.trust);
        QCOMPARE(check.refused(), refused);
        QCOMPARE(check.origin().isSet(), manifest && !refused);
        if (check.refused())
            QVERIFY(
                check.refusal->text(Language::Italian).contains(QDir(bundle.folder).absolutePath()));
        // An accepted bundle is remembered: its older revisions are refused from now on.
        if (manifest)
            QCOMPARE(AcceptedRevisions(bundle.trust.acceptedRevisionsFile).highest("KV402 release"),
                     3);
    }

    // The data file at Send: listed, inside the folder, and unchanged since start-up.
    void bundleFile()
    {
        const SignedBundle bundle;
        const auto verdict = bundle.verify();
        QVERIFY(std::holds_alternative<VerifiedBundle>(verdict));
        const VerifiedBundle &verified = std::get<VerifiedBundle>(verdict);
        QVERIFY(!checkBundleFile(verified, bundle.file(BundleDataFile)));
        writeFile(bundle.root.filePath("elsewhere.S28"), readFile(bundle.file(BundleDataFile)));
        QCOMPARE(checkBundleFile(verified, bundle.root.filePath("elsewhere.S28"))->kind,
                 BundleProblem::Kind::OutsideFolder);
        writeFile(bundle.file("extra.S28"), "S9030000FC\n");
        QCOMPARE(checkBundleFile(verified, bundle.file("extra.S28"))->kind,
                 BundleProblem::Kind::NotListed);
        flipByte(bundle.file(BundleDataFile));
        QCOMPARE(checkBundleFile(verified, bundle.file(BundleDataFile))->kind,
                 BundleProblem::Kind::FileChanged);
    }

    // Every refusal reads in both languages, each with all its arguments.
    void bothLanguages()
    {
        for (int kind = 0; kind <= int(BundleProblem::Kind::SignatureRequired); ++kind) {
            const BundleProblem problem{BundleProblem::Kind(kind), {"<1>", "<2>", "<3>", "<4>"}};
            const QString english = problem.text(Language::English);
            const QString italian = problem.text(Language::Italian);
            QVERIFY(english != italian || english.isEmpty());
            QVERIFY2(!english.contains('%') && !italian.contains('%'), qPrintable(english));
            QVERIFY2(english.contains("<1>") && italian.contains("<1>"), qPrintable(english));
            for (const char *argument : {"<2>", "<3>", "<4>"})
                QCOMPARE(english.contains(argument), italian.contains(argument));
        }
    }

    // minisign's secret keys: in the clear (-W) and under a password; a wrong password fails.
    void secretKeys_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("given");
        QTest::addColumn<bool>("unlocked");
        QTest::newRow("without password") << QByteArray() << QByteArray() << true;
        QTest::newRow("password") << QByteArray("s3cret") << QByteArray("s3cret") << true;
        QTest::newRow("wrong password") << QByteArray("s3cret") << QByteArray("s3crex") << false;
    }
    void secretKeys()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, given);
        QFETCH(bool, unlocked);
        QTemporaryDir dir;
        const KeyPair keys = makeKeys(dir.path(), "k", password);
        QString why;
        const auto file = Minisign::readSecretKeyFile(readFile(keys.secretKey), &why);
        QVERIFY2(file, qPrintable(why));
        QCOMPARE(file->encrypted, !password.isEmpty());
        const auto secret = Minisign::unlock(*file, given, &why);
        QCOMPARE(bool(secret), unlocked);
        if (!unlocked) {
            QCOMPARE(why, "wrong password");
            return;
        }
        // A signature of ours that the tool accepts.
        const QByteArray message = "name: x\nrevision: 1\ndate: d\n";
        writeFile(dir.filePath("m"), message);
        writeFile(dir.filePath("m.minisig"), Minisign::sign(*secret, message, "file:m"));
        QString output;
        QCOMPARE(runMinisign({"-V", "-p", keys.publicKey, "-m", dir.filePath("m")}, {}, &output), 0);
        QVERIFY2(output.contains("file:m"), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(BundleCheckTest)
#include "tst_bundle_check.moc"
