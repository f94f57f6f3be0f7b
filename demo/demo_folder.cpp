#include "demo/demo_folder.h"

#include "catalogue/catalogue_constants.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace Kv402 {

namespace {

// The folder of the installed demo workspace, relative to the program's own folder (set by the
// build from the installation's bin and data folders).
#ifndef KV402_DEMO_FILES_FROM_BIN
#define KV402_DEMO_FILES_FROM_BIN "../share/kv402master/demo"
#endif

const QString InstalledName = QStringLiteral("kv402master/demo");

bool holdsDemoFiles(const QString &folder)
{
    return !folder.isEmpty()
           && QFileInfo(QDir(folder).filePath(QString(Catalogue::FileName))).isFile();
}

bool sameContent(const QString &one, const QString &other)
{
    const QFileInfo first(one);
    const QFileInfo second(other);
    if (!second.isFile() || first.size() != second.size())
        return false;
    QFile a(one);
    QFile b(other);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly))
        return false;
    return a.readAll() == b.readAll();
}

} // namespace

QString installedDemoFiles()
{
    const QDir programFolder(QCoreApplication::applicationDirPath());
    const QString besideProgram = QDir::cleanPath(
        programFolder.filePath(QStringLiteral(KV402_DEMO_FILES_FROM_BIN)));
    if (holdsDemoFiles(besideProgram))
        return besideProgram;
    const QStringList system = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                         InstalledName,
                                                         QStandardPaths::LocateDirectory);
    for (const QString &folder : system) {
        if (holdsDemoFiles(folder))
            return folder;
    }
    // A build folder: its programs are in bin/, beside the demo workspace.
    const QString built = QDir::cleanPath(
        programFolder.filePath(QStringLiteral("../demo-workspace")));
    if (holdsDemoFiles(built))
        return built;
    return {};
}

QString demoFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/KV402Master/demo");
}

bool setUpDemoFolder(const QString &installed, const QString &folder, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot make the folder %1").arg(folder));
    const QDir from(installed);
    const QDir to(folder);
    const QStringList names = from.entryList(QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names) {
        const QString source = from.filePath(name);
        const QString target = to.filePath(name);
        // A file that is the same stays untouched: a running demo program holds its catalogue.
        if (sameContent(source, target))
            continue;
        QFile input(source);
        if (!input.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(source, input.errorString()));
        // Written beside the target and renamed over it: never half a file.
        QSaveFile output(target);
        if (!output.open(QIODevice::WriteOnly) || output.write(input.readAll()) < 0
            || !output.commit()) {
            return fail(QStringLiteral("cannot write %1: %2").arg(target, output.errorString()));
        }
    }
    return true;
}

QString useDemoFolderUnlessCatalogueHere()
{
    if (QFileInfo::exists(QString(Catalogue::FileName)))
        return QDir::currentPath();
    const QString installed = installedDemoFiles();
    if (installed.isEmpty()) {
        qWarning("No catalogue in the working folder %s, and no installed demo workspace to set "
                 "up the demo folder from",
                 qPrintable(QDir::currentPath()));
        return QDir::currentPath();
    }
    const QString folder = demoFolder();
    QString why;
    if (!setUpDemoFolder(installed, folder, &why)) {
        qWarning("Cannot set up the demo folder %s: %s", qPrintable(folder), qPrintable(why));
        return QDir::currentPath();
    }
    if (!QDir::setCurrent(folder)) {
        qWarning("Cannot work in the demo folder %s", qPrintable(folder));
        return QDir::currentPath();
    }
    return folder;
}

} // namespace Kv402
