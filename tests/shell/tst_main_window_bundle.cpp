// The window in a working folder that holds a signed bundle: a changed file ends start-up with
// a message in the interface language that names the file; a sound bundle starts as usual, and
// a data file changed after start-up is refused at Send.

#include "bundle_fixture.h"
#include "started_window.h"

#include "bundle/bundle_check.h"
#include "load/load_record.h"
#include "shell/main_window.h"
#include "simulator/simulated_terminal.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Kv402;
using namespace Kv402::Test;

class MainWindowBundleTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (minisignTool().isEmpty())
            QSKIP("the minisign tool (Debian package minisign) makes these tests' keys");
        // The trusted keys and the policy of this test's own PC.
        QVERIFY(m_system.isValid());
        QDir().mkpath(m_system.filePath("keys"));
        qputenv(SystemFolderVariable, m_system.path().toUtf8());
        // The revisions accepted and the record, of this run alone.
        qputenv("XDG_DATA_HOME", m_system.filePath("data").toUtf8());
        m_keys = makeKeys(m_system.filePath("keys"), "maker");
    }

    void startUp_data()
    {
        QTest::addColumn<QString>("changed");
        QTest::newRow("sound") << "";
        QTest::newRow("catalogue changed") << "Versioni.mdb";
        QTest::newRow("data file changed") << BundleDataFile;
        QTest::newRow("signature changed") << "MANIFEST.minisig";
    }
    void startUp()
    {
        QFETCH(QString, changed);
        const SettingsFolder settings;
        StartedWindow started(StartedWindow::Setup{});
        const QString folder = started.workspace.path();
        writeBundleFiles(folder);
        writeManifest(folder, "KV402 release", 1);
        signWithMinisign(folder, m_keys);
        if (!changed.isEmpty())
            flipByte(folder + "/" + changed);

        const bool loaded = started.window->Form_Load();
        QCOMPARE(loaded, changed.isEmpty());
        if (loaded) {
            QVERIFY(started.messages.shown.isEmpty());
            return;
        }
        QCOMPARE(started.messages.shown.size(), 1);
        const Message &message = started.messages.shown.first();
        QCOMPARE(message.icon, MessageIcon::Critical);
        QVERIFY2(message.text.contains(QDir(folder).filePath(changed)), qPrintable(message.text));
        QVERIFY(started.window->hasFailed());
    }

    // Changed after start-up: Send refuses it and nothing is loaded.
    void changedBeforeSend()
    {
        const SettingsFolder settings;
        StartedWindow started(StartedWindow::Setup{});
        const QString folder = started.workspace.path();
        writeBundleFiles(folder);
        writeManifest(folder, "KV402 release", 1);
        signWithMinisign(folder, m_keys);
        QVERIFY(started.window->Form_Load());
        started.window->lngeng_Click();
        flipByte(folder + "/" + BundleDataFile);
        started.window->Combo_Send_Click();
        QVERIFY(!started.window->isLoading());
        QCOMPARE(started.messages.shown.size(), 1);
        QVERIFY2(started.messages.shown.first().text.contains(QDir(folder).filePath(BundleDataFile)
                                                              + " is not the one"),
                 qPrintable(started.messages.shown.first().text));
    }

    // A load from a sound bundle is recorded with the bundle's name, revision and manifest hash.
    void recordNamesTheBundle()
    {
        const SettingsFolder settings;
        auto terminal = std::make_shared<SimulatedTerminal>(SimulatedTerminal::Options{});
        StartedWindow::Setup setup;
        setup.attach = [terminal](SimulatedPorts &ports) { ports.attach(1, terminal); };
        StartedWindow started(setup);
        const QString folder = started.workspace.path();
        writeBundleFiles(folder);
        writeManifest(folder, "KV402 release", 2);
        signWithMinisign(folder, m_keys);
        QVERIFY(started.window->Form_Load());
        started.window->show();
        const LoadRecord record(LoadRecord::defaultFileName());
        const qsizetype before = record.read().size();
        // The cable reminder, the success message, and No to repeating.
        for (const MessageAnswer answer : {MessageAnswer::Ok, MessageAnswer::Ok, MessageAnswer::No})
            started.messages.answers.enqueue(answer);
        started.window->Combo_Send->click();
        QTRY_VERIFY_WITH_TIMEOUT(!started.window->isLoading(), 20000);
        QCOMPARE(started.messages.unscripted, 0);
        const QList<LoadRecordEntry> entries = record.read();
        QCOMPARE(entries.size(), before + 1);
        const LoadRecordEntry &entry = entries.last();
        QCOMPARE(entry.outcome, "completed");
        QCOMPARE(entry.bundle.name, "KV402 release");
        QCOMPARE(entry.bundle.revision, 2);
        QCOMPARE(entry.bundle.manifestSha256,
                 QCryptographicHash::hash(readFile(folder + "/MANIFEST"), QCryptographicHash::Sha256)
                     .toHex());
    }

private:
    QTemporaryDir m_system;
    KeyPair m_keys;
};

QTEST_MAIN(MainWindowBundleTest)
#include "tst_main_window_bundle.moc"
