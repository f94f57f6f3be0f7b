// The demo program's own folder, set up from the installed demo workspace.

#include "demo/demo_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Kv402;

namespace {

void write(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QByteArray read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

ino_t inode(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_ino;
}

// An installed demo workspace.
struct Installed
{
    Installed()
    {
        write(dir.filePath("Versioni.mdb"), "catalogue");
        write(dir.filePath("KV10ENG.S28"), "S2 records");
        write(dir.filePath("kv402ing.hlp"), "<html>help</html>");
    }

    QTemporaryDir dir;
};

} // namespace

class DemoFolderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void folderIsInTheUsersDataFolder();
    void setUpCopiesEveryFile();
    void setUpAgainRestoresWhatDiffers();
    void unwritableFolderIsAFailure();
    void workingFolderWithACatalogueIsKept();
    void workingFolderWithoutACatalogueGivesWayToTheDemoFolder();
};

void DemoFolderTest::folderIsInTheUsersDataFolder()
{
    QCOMPARE(demoFolder(),
             QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                 + "/KV402Master/demo");
}

void DemoFolderTest::setUpCopiesEveryFile()
{
    Installed installed;
    QTemporaryDir home;
    const QString folder = home.filePath("KV402Master/demo");
    QString why;
    QVERIFY2(setUpDemoFolder(installed.dir.path(), folder, &why), qPrintable(why));
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    QCOMPARE(names, (QStringList{"KV10ENG.S28", "Versioni.mdb", "kv402ing.hlp"}));
    for (const QString &name : names)
        QCOMPARE(read(QDir(folder).filePath(name)), read(installed.dir.filePath(name)));
}

// Files that are the same stay untouched (a running demo holds its catalogue); changed or missing
// ones come back; the user's own files stay.
void DemoFolderTest::setUpAgainRestoresWhatDiffers()
{
    Installed installed;
    QTemporaryDir folder;
    QVERIFY(setUpDemoFolder(installed.dir.path(), folder.path()));
    const ino_t catalogue = inode(folder.filePath("Versioni.mdb"));
    write(folder.filePath("KV10ENG.S28"), "changed");
    QVERIFY(QFile::remove(folder.filePath("kv402ing.hlp")));
    write(folder.filePath("mine.txt"), "the user's");

    QVERIFY(setUpDemoFolder(installed.dir.path(), folder.path()));
    QCOMPARE(inode(folder.filePath("Versioni.mdb")), catalogue);
    QCOMPARE(read(folder.filePath("KV10ENG.S28")), "S2 records");
    QCOMPARE(read(folder.filePath("kv402ing.hlp")), "<html>help</html>");
    QCOMPARE(read(folder.filePath("mine.txt")), "the user's");
}

void DemoFolderTest::unwritableFolderIsAFailure()
{
    Installed installed;
    QTemporaryDir home;
    // A file where the folder should be.
    write(home.filePath("demo"), "not a folder");
    QString why;
    QVERIFY(!setUpDemoFolder(installed.dir.path(), home.filePath("demo"), &why));
    QVERIFY2(why.contains(home.filePath("demo")), qPrintable(why));
}

void DemoFolderTest::workingFolderWithACatalogueIsKept()
{
    QTemporaryDir work;
    write(work.filePath("Versioni.mdb"), "the technician's catalogue");
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    const QString used = useDemoFolderUnlessCatalogueHere();
    const QString after = QDir::currentPath();
    QDir::setCurrent(before);
    QCOMPARE(used, after);
    QCOMPARE(QFileInfo(after).canonicalFilePath(), QFileInfo(work.path()).canonicalFilePath());
}

// Started from the menu, in the home folder: the demo folder is set up from the demo workspace in
// the system's data folders and becomes the working folder.
void DemoFolderTest::workingFolderWithoutACatalogueGivesWayToTheDemoFolder()
{
    QTemporaryDir system;
    QTemporaryDir home;
    QTemporaryDir work;
    QVERIFY(QDir().mkpath(system.filePath("kv402master/demo")));
    Installed installed;
    for (const QString &name : QDir(installed.dir.path()).entryList(QDir::Files)) {
        QVERIFY(
            QFile::copy(installed.dir.filePath(name), system.filePath("kv402master/demo/" + name)));
    }
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
    const QString before = QDir::currentPath();
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(system.path()));
    QVERIFY(QDir::setCurrent(work.path()));

    QCOMPARE(installedDemoFiles(), system.filePath("kv402master/demo"));
    const QString used = useDemoFolderUnlessCatalogueHere();
    const QString after = QDir::currentPath();
    QDir::setCurrent(before);
    for (const auto &[name, value] :
         {std::pair{"XDG_DATA_HOME", dataHome}, std::pair{"XDG_DATA_DIRS", dataDirs}}) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    QCOMPARE(used, home.filePath("KV402Master/demo"));
    QCOMPARE(QFileInfo(after).canonicalFilePath(), QFileInfo(used).canonicalFilePath());
    QCOMPARE(read(QDir(used).filePath("Versioni.mdb")), "catalogue");
    QCOMPARE(read(QDir(used).filePath("kv402ing.hlp")), "<html>help</html>");
    QVERIFY(QDir(work.path()).isEmpty());
}

QTEST_GUILESS_MAIN(DemoFolderTest)
#include "tst_demo_folder.moc"
