// The tar reader of bundles: regular files and folders of ustar archives come out as they went
// in; paths that leave the folder, links, devices and archives cut short are refused by name.

#include "bundle_fixture.h"

#include "bundle/tar_reader.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Kv402;
using namespace Kv402::Test;

class TarReaderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filesAndFolders()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("archive.tar"),
                  tarOf({{"./", '5'},
                         {"./bundle/", '5'},
                         {"./bundle/MANIFEST", '0', "name: x\n"},
                         {"./bundle/help/kv402.hlp", '0', QByteArray(1300, 'h')},
                         {"./bundle/empty", '0', {}}}));
        const QString out = dir.filePath("out");
        QDir().mkpath(out);
        QCOMPARE(extractTar(dir.filePath("archive.tar"), out), QString());
        QCOMPARE(readFile(out + "/bundle/MANIFEST"), "name: x\n");
        QCOMPARE(readFile(out + "/bundle/help/kv402.hlp"), QByteArray(1300, 'h'));
        QVERIFY(QFileInfo(out + "/bundle/empty").isFile());
    }

    // A real archive of the tar tool, with a pax header for a long name.
    void madeByTar()
    {
        const QString tar = QStandardPaths::findExecutable("tar");
        if (tar.isEmpty())
            QSKIP("no tar tool to make the archive");
        QTemporaryDir dir;
        const QString longName = QString("bundle/") + QString(120, 'n') + ".S28";
        writeFile(dir.filePath(longName), "S9030000FC\n");
        QCOMPARE(QProcess::execute(
                     tar,
                     {"--format=pax", "-C", dir.path(), "-cf", dir.filePath("a.tar"), "bundle"}),
                 0);
        const QString out = dir.filePath("out");
        QDir().mkpath(out);
        QCOMPARE(extractTar(dir.filePath("a.tar"), out), QString());
        QCOMPARE(readFile(out + "/" + longName), "S9030000FC\n");
    }

    void refused_data()
    {
        QTest::addColumn<QList<TarEntry>>("entries");
        QTest::addColumn<QString>("expected");
        const TarEntry good{"bundle/MANIFEST", '0', "name: x\n"};
        QTest::newRow("climbs out") << QList<TarEntry>{good, {"bundle/../../evil", '0', "x"}}
                                    << "\"bundle/../../evil\": its path";
        QTest::newRow("absolute") << QList<TarEntry>{{"/tmp/evil", '0', "x"}}
                                  << "\"/tmp/evil\": its path";
        QTest::newRow("symbolic link")
            << QList<TarEntry>{{"bundle/link", '2', {}, "/etc/passwd"}} << "symbolic link";
        QTest::newRow("hard link")
            << QList<TarEntry>{good, {"bundle/hard", '1', {}, "bundle/MANIFEST"}} << "hard link";
        QTest::newRow("character device") << QList<TarEntry>{{"bundle/tty", '3'}} << "device";
        QTest::newRow("block device") << QList<TarEntry>{{"bundle/sda", '4'}} << "device";
        QTest::newRow("FIFO") << QList<TarEntry>{{"bundle/fifo", '6'}} << "FIFO";
        QTest::newRow("named twice") << QList<TarEntry>{good, good} << "twice";
    }
    void refused()
    {
        QFETCH(QList<TarEntry>, entries);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        writeFile(dir.filePath("archive.tar"), tarOf(entries));
        const QString out = dir.filePath("out");
        QDir().mkpath(out);
        const QString why = extractTar(dir.filePath("archive.tar"), out);
        QVERIFY2(why.contains(expected), qPrintable(why));
        // Nothing was written outside the folder.
        QVERIFY(!QFileInfo::exists(dir.filePath("evil")));
        QVERIFY(!QFileInfo::exists(out + "/bundle/link"));
    }

    void damaged_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<int>("flip");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cut in a file") << 700 << -1 << "cut short";
        QTest::newRow("without end blocks") << 1536 << -1 << "cut short";
        QTest::newRow("damaged header") << 0 << 3 << "checksum";
    }
    void damaged()
    {
        QFETCH(int, cut);
        QFETCH(int, flip);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QByteArray archive = tarOf({{"a", '0', QByteArray(1000, 'a')}});
        if (cut > 0)
            archive.truncate(cut);
        if (flip >= 0)
            archive[flip] = char(archive.at(flip) ^ 1);
        writeFile(dir.filePath("archive.tar"), archive);
        const QString out = dir.filePath("out");
        QDir().mkpath(out);
        const QString why = extractTar(dir.filePath("archive.tar"), out);
        QVERIFY2(why.contains(expected), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TarReaderTest)
#include "tst_tar_reader.moc"
