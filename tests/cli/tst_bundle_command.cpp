// kv402 bundle through the real program: make checks a folder row by row, sign makes signatures
// that the minisign tool accepts, verify tells sound from refused from unreadable, install puts
// a bundle in place whole or not at all, and send refuses a changed bundle before any port.

#include "bundle_fixture.h"
#include "workspace.h"

#include "catalogue/catalogue_sql.h"

#include "load/load_record.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Kv402;
using namespace Kv402::Test;

namespace {

constexpr int Wait = 120000;

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// A PC of the test's own: its system folder (trusted keys, policy), home, configuration and data.
struct Pc
{
    QTemporaryDir root;
    KeyPair keys;

    Pc()
    {
        for (const char *folder : {"system/keys", "home", "config", "data", "maker"})
            QDir().mkpath(root.filePath(folder));
        keys = makeKeys(root.filePath("maker"), "maker");
        QFile::copy(keys.publicKey, root.filePath("system/keys/maker.pub"));
    }

    QString path(const QString &name) const { return root.filePath(name); }

    Run kv402(const QStringList &arguments,
              const QString &folder = {},
              const QByteArray &input = {}) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LC_ALL", "C");
        environment.insert("KV402_SYSTEM_DIR", path("system"));
        environment.insert("HOME", path("home"));
        environment.insert("XDG_CONFIG_HOME", path("config"));
        environment.insert("XDG_DATA_HOME", path("data"));
        process.setProcessEnvironment(environment);
        if (!folder.isEmpty())
            process.setWorkingDirectory(folder);
        process.start(KV402_TOOL, arguments);
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(Wait))
            process.kill();
        process.waitForFinished();
        Run run;
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    // A signed bundle folder made by kv402 bundle make and sign.
    QString bundle(const QString &name, qint64 revision) const
    {
        const QString folder = path(name);
        QDir().mkpath(folder);
        writeBundleFiles(folder);
        const Run made = kv402({"bundle",
                                "make",
                                folder,
                                "--name",
                                "KV402 release",
                                "--revision",
                                QString::number(revision)});
        if (made.exitCode != 0)
            qWarning("make: %s", qPrintable(made.err));
        const Run signedBundle = kv402({"bundle", "sign", folder, "--key", keys.secretKey});
        if (signedBundle.exitCode != 0)
            qWarning("sign: %s", qPrintable(signedBundle.err));
        return folder;
    }

    // The tar of a bundle folder, its files below one folder of the archive.
    QString tar(const QString &folder, const QString &name) const
    {
        writeFile(path(name), tarOf(tarEntriesOf(folder, "release/")));
        return path(name);
    }
};

// Every file below a folder with its bytes' hash: what an install must leave alone.
QMap<QString, QByteArray> contentsOf(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        files.insert(QDir(folder).relativeFilePath(file),
                     QCryptographicHash::hash(readFile(file), QCryptographicHash::Sha256));
    }
    return files;
}

} // namespace

class BundleCommandTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (minisignTool().isEmpty())
            QSKIP("the minisign tool (Debian package minisign) makes these tests' keys");
    }

    // make, sign, and both checks: the program's and the minisign tool's.
    void makeSignVerify()
    {
        const Pc pc;
        const QString folder = pc.bundle("bundle", 7);
        const QByteArray manifest = readFile(folder + "/MANIFEST");
        QVERIFY(manifest.startsWith("name: KV402 release\nrevision: 7\ndate: "));
        QVERIFY(manifest.contains("  KV10ENG.S28\n"));
        QVERIFY(manifest.contains("  help/kv402ing.hlp\n"));
        QString output;
        QCOMPARE(runMinisign({"-V", "-p", pc.keys.publicKey, "-m", folder + "/MANIFEST"},
                             {},
                             &output),
                 0);
        const Run verified = pc.kv402({"bundle", "verify", folder});
        QCOMPARE(verified.exitCode, 0);
        QVERIFY2(verified.out.contains("\"KV402 release\" revision 7, 3 files"),
                 qPrintable(verified.out));
        // make again: the next revision, and the signature of the old manifest is gone.
        QCOMPARE(pc.kv402({"bundle", "make", folder}).exitCode, 0);
        QVERIFY(readFile(folder + "/MANIFEST").startsWith("name: KV402 release\nrevision: 8\n"));
        QVERIFY(!QFileInfo::exists(folder + "/MANIFEST.minisig"));
    }

    // A maker's check, row by row: nothing is written while anything is wrong.
    void makeRefuses()
    {
        const Pc pc;
        const QString folder = pc.path("bundle");
        writeBundleFiles(folder);
        QString sql = revisionTableSql({"1", "2"});
        sql += versionTableSql("Versioni1",
                               {{"1.0", "English", "GONE.S28", "KV402"},
                                {"1.1", "English", "BAD.S28", "KV402"},
                                {"1.2", "English", BundleDataFile, "KV402"}});
        sql += versionTableSql("Versioni2", {{"2.0", "English", "../outside.S28", "KV402"}});
        QFile::remove(folder + "/Versioni.mdb");
        buildCatalogue(sql, folder + "/Versioni.mdb");
        writeFile(folder + "/BAD.S28", "S2xx\r\n");
        QVERIFY(QFile::link(folder + "/BAD.S28", folder + "/link.S28"));
        const Run run = pc.kv402({"bundle", "make", folder});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("Versioni1 row 1: GONE.S28: the file is not in the folder"),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains("Versioni1 row 2: BAD.S28: The data file"), qPrintable(run.err));
        QVERIFY2(run.err.contains("Versioni2 row 1: ../outside.S28: the file lies outside"),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains("link.S28: a bundle holds no links"), qPrintable(run.err));
        QVERIFY(!run.err.contains("row 3"));
        QVERIFY(!QFileInfo::exists(folder + "/MANIFEST"));
    }

    // A key under a password: from a descriptor for scripts; a wrong one signs nothing.
    void signWithPassword_data()
    {
        QTest::addColumn<QByteArray>("given");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("right password") << QByteArray("pass word\n") << 0;
        QTest::newRow("wrong password") << QByteArray("pass wort\n") << 1;
    }
    void signWithPassword()
    {
        QFETCH(QByteArray, given);
        QFETCH(int, exitCode);
        const Pc pc;
        const KeyPair keys = makeKeys(pc.path("maker"), "locked", "pass word");
        const QString folder = pc.path("bundle");
        writeBundleFiles(folder);
        QCOMPARE(pc.kv402({"bundle", "make", folder}).exitCode, 0);
        const Run run
            = pc.kv402({"bundle", "sign", folder, "--key", keys.secretKey, "--password-fd", "0"},
                       {},
                       given);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(QFileInfo::exists(folder + "/MANIFEST.minisig"), exitCode == 0);
        if (exitCode == 0)
            QCOMPARE(runMinisign({"-V", "-p", keys.publicKey, "-m", folder + "/MANIFEST"}), 0);
        else
            QVERIFY2(run.err.contains("wrong password"), qPrintable(run.err));
    }

    void verifyStatus_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sound folder") << "" << 0 << "revision 3";
        QTest::newRow("sound tar") << "tar" << 0 << "revision 3";
        QTest::newRow("changed data file") << "flip" << 1 << "KV10ENG.S28 is not the one";
        QTest::newRow("changed file in a tar") << "flip tar" << 1 << "KV10ENG.S28 is not the one";
        QTest::newRow("tar climbing out") << "climb" << 1 << "leads out of the folder";
        QTest::newRow("tar with a link") << "link" << 1 << "symbolic link";
        QTest::newRow("nothing there") << "missing" << 3 << "does not exist";
        QTest::newRow("no manifest") << "no manifest" << 3 << "MANIFEST cannot be read";
        QTest::newRow("usage") << "usage" << 2 << "Usage: kv402 bundle";
    }
    void verifyStatus()
    {
        QFETCH(QString, change);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);
        const Pc pc;
        const QString folder = pc.bundle("bundle", 3);
        QString target = folder;
        if (change.startsWith("flip"))
            flipByte(folder + "/KV10ENG.S28");
        if (change.endsWith("tar"))
            target = pc.tar(folder, "bundle.tar");
        if (change == "climb" || change == "link") {
            QList<TarEntry> entries = tarEntriesOf(folder, "release/");
            entries.append(change == "climb" ? TarEntry{"release/../../x", '0', "x"}
                                             : TarEntry{"release/l", '2', {}, "/etc"});
            writeFile(pc.path("bad.tar"), tarOf(entries));
            target = pc.path("bad.tar");
        }
        if (change == "missing")
            target = pc.path("nothing.tar");
        if (change == "no manifest")
            QVERIFY(QFile::remove(folder + "/MANIFEST"));
        const Run run = pc.kv402(change == "usage" ? QStringList{"bundle", "verify"}
                                                   : QStringList{"bundle", "verify", target});
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((run.out + run.err).contains(expected), qPrintable(run.out + run.err));
    }

    // install: a folder made whole from a bundle, and a later bundle in its place; a bundle that
    // fails half way, or is refused, leaves the folder as it was.
    void install()
    {
        const Pc pc;
        const QString target = pc.path("home/kv402");
        const QString first = pc.tar(pc.bundle("r3", 3), "r3.tar");
        Run run = pc.kv402({"bundle", "install", first});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("installed into " + target), qPrintable(run.out + run.err));
        QCOMPARE(readFile(target + "/KV10ENG.S28"), readFile(pc.path("r3/KV10ENG.S28")));
        if (QFileInfo(QFileInfo(KV402_TOOL).path() + "/kv402master").isExecutable()) {
            QDir menu(pc.path("data/applications"));
            const QStringList entries = menu.entryList({"kv402master-*.desktop"});
            QCOMPARE(entries.size(), 1);
            QVERIFY(readFile(menu.filePath(entries.first()))
                        .contains("\nPath=" + target.toUtf8() + "\n"));
        }

        // Revision 4, with a file of its own: the folder holds exactly its files.
        const QString fourth = pc.path("r4");
        QDir().mkpath(fourth);
        writeFile(fourth + "/readme.txt", "revision 4\n");
        const QString second = pc.tar(pc.bundle("r4", 4), "r4.tar");
        QCOMPARE(pc.kv402({"bundle", "install", second, target}).exitCode, 0);
        QCOMPARE(readFile(target + "/readme.txt"), "revision 4\n");
        const QMap<QString, QByteArray> installed = contentsOf(target);

        // Cut short half way through, changed after signing, or older: each is refused whole.
        QByteArray cut = readFile(second);
        cut.truncate(cut.size() / 2);
        writeFile(pc.path("cut.tar"), cut);
        run = pc.kv402({"bundle", "install", pc.path("cut.tar"), target});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("cut short"), qPrintable(run.err));
        QCOMPARE(contentsOf(target), installed);

        flipByte(pc.path("r4/Versioni.mdb"));
        run = pc.kv402({"bundle", "install", pc.tar(pc.path("r4"), "changed.tar"), target});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("Versioni.mdb is not the one"), qPrintable(run.err));
        QCOMPARE(contentsOf(target), installed);

        run = pc.kv402({"bundle", "install", first, target});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("revision 3, older than revision 4"), qPrintable(run.err));
        QCOMPARE(contentsOf(target), installed);
        // No staging folder is left behind.
        QCOMPARE(QDir(pc.path("home"))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"kv402"});

        // A supervisor's return to revision 3: allowed, and from then on the PC accepts it.
        QCOMPARE(pc.kv402({"bundle", "install", "--allow-older-revision", first, target}).exitCode,
                 0);
        QVERIFY(!QFileInfo::exists(target + "/readme.txt"));
        QCOMPARE(pc.kv402({"bundle", "verify", target}).exitCode, 0);
    }

    // A terminate signal at any moment of an install: the folder is the old one or the new one,
    // whole, and nothing is left beside it.
    void installTerminated()
    {
        const Pc pc;
        const QString target = pc.path("home/kv402");
        QCOMPARE(pc.kv402({"bundle", "install", pc.tar(pc.bundle("r1", 1), "r1.tar")}).exitCode, 0);
        const QMap<QString, QByteArray> before = contentsOf(target);
        const QString second = pc.tar(pc.bundle("r2", 2), "r2.tar");
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KV402_SYSTEM_DIR", pc.path("system"));
        environment.insert("HOME", pc.path("home"));
        environment.insert("XDG_CONFIG_HOME", pc.path("config"));
        environment.insert("XDG_DATA_HOME", pc.path("data"));
        process.setProcessEnvironment(environment);
        process.start(KV402_TOOL, {"bundle", "install", second});
        QVERIFY(process.waitForStarted());
        process.terminate();
        QVERIFY(process.waitForFinished(Wait));
        const QMap<QString, QByteArray> after = contentsOf(target);
        QVERIFY(after == before || after == contentsOf(pc.path("r2")));
        QCOMPARE(QDir(pc.path("home"))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"kv402"});
    }

    // kv402 send from a bundle: a changed file refuses the load before any port is touched; a
    // sound one is loaded and recorded with the bundle's name, revision and manifest hash.
    void send_data()
    {
        QTest::addColumn<bool>("byFile");
        QTest::addColumn<bool>("changed");
        QTest::newRow("catalogue, sound") << false << false;
        QTest::newRow("catalogue, changed") << false << true;
        QTest::newRow("--file, sound") << true << false;
        QTest::newRow("--file, changed") << true << true;
    }
    void send()
    {
        QFETCH(bool, byFile);
        QFETCH(bool, changed);
        const Pc pc;
        const QString folder = pc.bundle("bundle", 3);
        if (changed)
            flipByte(folder + "/KV10ENG.S28");
        const QString record = pc.path("loads.jsonl");
        QStringList arguments{"send", "--simulate", "COM1=healthy", "--fast", "--record", record};
        arguments
            += byFile ? QStringList{"--file", folder + "/KV10ENG.S28"}
                      : QStringList{"--revision", "1", "--version", "1.0", "--language", "English"};
        const Run run = pc.kv402(arguments, folder);
        if (changed) {
            QCOMPARE(run.exitCode, 3);
            QVERIFY2(run.err.contains(folder + "/KV10ENG.S28 is not the one"), qPrintable(run.err));
            QVERIFY(!QFileInfo::exists(record));
            return;
        }
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QList<LoadRecordEntry> entries = LoadRecord(record).read();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().bundle.name, "KV402 release");
        QCOMPARE(entries.first().bundle.revision, 3);
        QCOMPARE(entries.first().bundle.manifestSha256,
                 QCryptographicHash::hash(readFile(folder + "/MANIFEST"), QCryptographicHash::Sha256)
                     .toHex());
    }
};

QTEST_GUILESS_MAIN(BundleCommandTest)
#include "tst_bundle_command.moc"
