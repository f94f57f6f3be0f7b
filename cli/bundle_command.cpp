// kv402 bundle: a maker makes and signs a release bundle, anyone verifies one, a technician
// installs one as a working folder.

#include "cli/commands.h"
#include "cli/output.h"

#include "bundle/bundle_check.h"
#include "bundle/manifest.h"
#include "bundle/minisign.h"
#include "bundle/tar_reader.h"
#include "catalogue/catalogue_constants.h"
#include "link/srecord_image.h"
#include "load/load_texts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_UNIX
#include <termios.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/fs.h>
#include <sys/syscall.h>
#endif

namespace Kv402::Tool {

namespace {

constexpr char Command[] = "kv402 bundle";
// kv402 bundle verify: the bundle was refused; it could not be read at all.
constexpr int Refused = Failure;
constexpr int Unreadable = NothingSent;
// The longest password read from a descriptor or the terminal.
constexpr qsizetype MaxPassword = 4096;

int wrongUsage(const QString &why)
{
    return usageError(Command, why, BundleUsage);
}

void tell(const QString &text)
{
    printError(QStringLiteral("kv402 bundle: %1\n").arg(printable(text)));
}

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// --- make -----------------------------------------------------------------------------------

// Every file below the folder as the manifest lists it; links and other special files go to
// problems, since neither a tar of the bundle nor its check may follow them.
QStringList bundleFiles(const QString &folder, QStringList *problems)
{
    QStringList files;
    QDirIterator it(folder,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir root(folder);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString path = root.relativeFilePath(info.filePath());
        if (info.isSymLink()) {
            problems->append(QStringLiteral("%1: a bundle holds no links").arg(path));
        } else if (info.isDir()) {
            continue;
        } else if (!info.isFile()) {
            problems->append(QStringLiteral("%1: it is not a regular file").arg(path));
        } else if (path != BundleFiles::Manifest && path != BundleFiles::Signature) {
            if (!isBundlePath(path))
                problems->append(QStringLiteral("%1: a name a bundle cannot hold").arg(path));
            else
                files.append(path);
        }
    }
    files.sort();
    return files;
}

// What is wrong with a data file for a release, in the words of a load's message; empty when it
// can be loaded as it is.
QString dataFileProblem(const QString &file)
{
    const DataFileReading reading = readDataFile(file);
    LoadMessage message{.file = file};
    if (!reading.ok()) {
        message.kind = LoadMessage::Kind::DataFileUnusable;
        message.problem = reading.problem;
        message.line = reading.failureLine;
        message.column = reading.failureColumn;
        message.reason = reading.fileError;
    } else if (reading.image.blockCount() < 1) {
        message.kind = LoadMessage::Kind::NoDataToLoad;
    } else if (reading.wrongChecksumCount > 0) {
        // A load would have to ask: a release holds none.
        return QStringLiteral("%1 records with a wrong checksum").arg(reading.wrongChecksumCount);
    } else {
        return {};
    }
    return loadMessageText(message, Language::English);
}

int make(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("The bundle's name (default: the manifest's, or "
                                                 "the folder's)."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption revision(QStringLiteral("revision"),
                                      QStringLiteral("Its revision (default: the manifest's "
                                                     "plus one, or 1)."),
                                      QStringLiteral("N"));
    parser.addOptions({name, revision});
    if (const auto status = parseOptions(parser, "kv402 bundle make", arguments, BundleUsage, true))
        return *status;
    if (parser.positionalArguments().size() != 1)
        return wrongUsage(QStringLiteral("make takes one folder"));
    const QString folder = QDir(parser.positionalArguments().first()).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        tell(QStringLiteral("cannot read the folder %1").arg(shown(folder)));
        return Unreadable;
    }
    const QDir dir(folder);
    const QString manifestFile = dir.filePath(BundleFiles::Manifest);

    Manifest manifest;
    QFile previousFile(manifestFile);
    std::optional<Manifest> previous;
    // Only a regular file: opening a FIFO would wait for a writer.
    if (QFileInfo(manifestFile).isFile() && previousFile.open(QIODevice::ReadOnly))
        previous = readManifest(previousFile.read(16 * 1024 * 1024), nullptr);
    manifest.name = parser.isSet(name) ? parser.value(name)
                    : previous         ? previous->name
                                       : dir.dirName();
    manifest.revision = previous ? previous->revision + 1 : 1;
    if (parser.isSet(revision)) {
        bool ok = false;
        manifest.revision = parser.value(revision).toLongLong(&ok);
        if (!ok || manifest.revision < 1 || manifest.revision > MaxRevision)
            return wrongUsage(
                QStringLiteral("--revision takes a whole number from 1 to %1").arg(MaxRevision));
    }
    if (manifest.name.isEmpty() || manifest.name.contains(QLatin1Char('\n'))
        || printable(manifest.name) != manifest.name) {
        return wrongUsage(QStringLiteral("--name takes one line of printable text"));
    }

    // The check a maker runs before a release: row by row, everything wrong is told.
    QStringList problems;
    const QStringList files = bundleFiles(folder, &problems);
    const QString catalogue = dir.filePath(Catalogue::FileName);
    QList<CatalogueRow> rows;
    try {
        rows = catalogueRows(catalogue, CatalogueHold::Shared);
    } catch (const CatalogueError &error) {
        problems.append(error.message());
    }
    releaseHold(catalogue);
    for (const CatalogueRow &row : std::as_const(rows)) {
        const QString where
            = QStringLiteral("%1 row %2: %3").arg(row.table).arg(row.row).arg(row.dataFile);
        const std::optional<QString> path = bundlePathOf(folder, row.dataFile);
        if (!path) {
            problems.append(where + QStringLiteral(": the file lies outside the folder"));
            continue;
        }
        if (!files.contains(*path)) {
            problems.append(where
                            + QStringLiteral(": the file is not in the folder (or cannot "
                                             "be listed)"));
            continue;
        }
        if (const QString problem = dataFileProblem(dir.filePath(*path)); !problem.isEmpty())
            problems.append(where + QStringLiteral(": ") + problem);
    }
    for (const QString &path : files) {
        QString why;
        const std::optional<QString> sha256 = fileSha256(dir.filePath(path), &why);
        if (!sha256)
            problems.append(QStringLiteral("%1: %2").arg(path, why));
        else
            manifest.files.append({*sha256, path});
    }
    if (!problems.isEmpty()) {
        for (const QString &problem : std::as_const(problems))
            tell(problem);
        tell(QStringLiteral("no manifest written"));
        return Refused;
    }

    manifest.date = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    QSaveFile output(manifestFile);
    if (!output.open(QIODevice::WriteOnly) || output.write(manifest.text()) < 0
        || !output.commit()) {
        tell(QStringLiteral("cannot write %1: %2").arg(shown(manifestFile), output.errorString()));
        return Failure;
    }
    // A signature of the manifest before is no signature of this one.
    QFile::remove(dir.filePath(BundleFiles::Signature));
    printOut(QStringLiteral("%1: \"%2\" revision %3, %4 files\n")
                 .arg(printable(shown(manifestFile)), printable(manifest.name))
                 .arg(manifest.revision)
                 .arg(manifest.files.size()));
    return Success;
}

// --- sign -----------------------------------------------------------------------------------

#ifdef Q_OS_UNIX
termios savedTerminal;
int terminalFd = -1;

// Echo comes back when a signal ends the program while the password is typed.
void restoreTerminal(int signal)
{
    if (terminalFd >= 0)
        ::tcsetattr(terminalFd, TCSAFLUSH, &savedTerminal);
    ::_exit(SignalBase + signal);
}
#endif

// One line read from a descriptor, without its line end.
std::optional<QByteArray> readLine(int fd)
{
    QByteArray line;
    char c = 0;
    for (;;) {
        const ssize_t count = ::read(fd, &c, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0 || c == '\n')
            break;
        if (line.size() >= MaxPassword)
            return std::nullopt;
        line.append(c);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// The password typed on the terminal without echo; nothing without a terminal (and on Windows,
// where scripts and people alike give --password-fd).
std::optional<QByteArray> passwordFromTerminal()
{
#ifndef Q_OS_UNIX
    return std::nullopt;
#else
    terminalFd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (terminalFd < 0 || ::tcgetattr(terminalFd, &savedTerminal) != 0)
        return std::nullopt;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, restoreTerminal);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    const char prompt[] = "Password: ";
    [[maybe_unused]] const ssize_t ignored = ::write(terminalFd, prompt, sizeof prompt - 1);
    ::tcsetattr(terminalFd, TCSAFLUSH, &quiet);
    std::optional<QByteArray> password = readLine(terminalFd);
    ::tcsetattr(terminalFd, TCSAFLUSH, &savedTerminal);
    [[maybe_unused]] const ssize_t ignoredToo = ::write(terminalFd, "\n", 1);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, SIG_DFL);
    ::close(std::exchange(terminalFd, -1));
    return password;
#endif
}

int sign(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption key(QStringLiteral("key"),
                                 QStringLiteral("The minisign secret key file."),
                                 QStringLiteral("SECRETKEY"));
    const QCommandLineOption passwordFd(QStringLiteral("password-fd"),
                                        QStringLiteral("Read the key's password from this file "
                                                       "descriptor, not the terminal."),
                                        QStringLiteral("N"));
    parser.addOptions({key, passwordFd});
    if (const auto status = parseOptions(parser, "kv402 bundle sign", arguments, BundleUsage, true))
        return *status;
    if (parser.positionalArguments().size() != 1)
        return wrongUsage(QStringLiteral("sign takes one folder"));
    if (!parser.isSet(key) || parser.value(key).isEmpty())
        return wrongUsage(QStringLiteral("sign needs --key SECRETKEY"));
    int descriptor = -1;
    if (parser.isSet(passwordFd)) {
        bool ok = false;
        descriptor = parser.value(passwordFd).toInt(&ok);
        if (!ok || descriptor < 0 || ::fcntl(descriptor, F_GETFD) < 0)
            return wrongUsage(QStringLiteral("--password-fd takes an open file descriptor"));
    }
    if (!Minisign::initialise()) {
        tell(QStringLiteral("the cryptography library cannot be started"));
        return Failure;
    }

    const QDir dir(parser.positionalArguments().first());
    const QString manifestFile = dir.absoluteFilePath(BundleFiles::Manifest);
    QFile manifest(manifestFile);
    if (!QFileInfo(manifestFile).isFile() || !manifest.open(QIODevice::ReadOnly)) {
        tell(QStringLiteral("cannot read %1: %2")
                 .arg(shown(manifestFile),
                      QFileInfo::exists(manifestFile) && !QFileInfo(manifestFile).isFile()
                          ? QStringLiteral("it is not a regular file")
                          : manifest.errorString()));
        return Unreadable;
    }
    const QByteArray manifestText = manifest.readAll();
    int line = 0;
    if (manifest.error() != QFileDevice::NoError || !readManifest(manifestText, &line)) {
        tell(QStringLiteral("%1 is no manifest (line %2): run kv402 bundle make first")
                 .arg(shown(manifestFile))
                 .arg(line));
        return Failure;
    }
    QFile keyFile(parser.value(key));
    QString why;
    std::optional<Minisign::SecretKeyFile> stored;
    if (!QFileInfo(keyFile.fileName()).isFile())
        why = QStringLiteral("it is not a regular file");
    else if (keyFile.open(QIODevice::ReadOnly))
        stored = Minisign::readSecretKeyFile(keyFile.read(64 * 1024), &why);
    else
        why = keyFile.errorString();
    if (!stored) {
        tell(QStringLiteral("cannot use the key %1: %2").arg(shown(keyFile.fileName()), why));
        return Unreadable;
    }
    QByteArray password;
    if (stored->encrypted) {
        const std::optional<QByteArray> given = descriptor >= 0 ? readLine(descriptor)
                                                                : passwordFromTerminal();
        if (!given) {
            tell(descriptor >= 0
                     ? QStringLiteral("cannot read the password from descriptor %1").arg(descriptor)
                     : QStringLiteral("the key needs a password, and there is no "
                                      "terminal to ask it on: give --password-fd N"));
            return Failure;
        }
        password = *given;
    }
    const std::optional<Minisign::SecretKey> secret = Minisign::unlock(*stored, password, &why);
    password.fill('\0');
    if (!secret) {
        tell(QStringLiteral("cannot use the key %1: %2").arg(shown(keyFile.fileName()), why));
        return Failure;
    }
    // As minisign writes it, so that minisign -V shows the same.
    const QByteArray trusted = "timestamp:" + QByteArray::number(QDateTime::currentSecsSinceEpoch())
                               + "\tfile:" + QByteArray(BundleFiles::Manifest.latin1())
                               + "\thashed";
    const QString signatureFile = dir.absoluteFilePath(BundleFiles::Signature);
    QSaveFile output(signatureFile);
    if (!output.open(QIODevice::WriteOnly)
        || output.write(Minisign::sign(*secret, manifestText, trusted)) < 0 || !output.commit()) {
        tell(QStringLiteral("cannot write %1: %2").arg(shown(signatureFile), output.errorString()));
        return Failure;
    }
    printOut(QStringLiteral("%1: signed with key %2\n")
                 .arg(printable(shown(signatureFile)), Minisign::keyIdText(secret->keyId)));
    return Success;
}

// --- verify and install ---------------------------------------------------------------------

// The bundle's folder inside an unpacked archive: the archive's top, or its one folder.
QString bundleRoot(const QString &unpacked)
{
    const QDir dir(unpacked);
    if (QFileInfo::exists(dir.filePath(BundleFiles::Manifest)))
        return dir.absolutePath();
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden
                                              | QDir::NoDotAndDotDot);
    if (entries.size() == 1 && QFileInfo(dir.filePath(entries.first())).isDir())
        return dir.absoluteFilePath(entries.first());
    return dir.absolutePath();
}

// The exit status of a refusal: a manifest that cannot be read at all is a bundle that cannot
// be read.
int refusalStatus(const BundleProblem &problem)
{
    return problem.kind == BundleProblem::Kind::ManifestUnreadable ? Unreadable : Refused;
}

void tellVerified(const VerifiedBundle &bundle, const QString &what)
{
    printOut(QStringLiteral("%1: \"%2\" revision %3, %4 files, signed with %5\n")
                 .arg(printable(what), printable(bundle.manifest.name))
                 .arg(bundle.manifest.revision)
                 .arg(bundle.manifest.files.size())
                 .arg(printable(shown(bundle.keyFile))));
}

QCommandLineOption allowOlderOption()
{
    return QCommandLineOption(QStringLiteral("allow-older-revision"),
                              QStringLiteral("A supervisor's choice: accept a revision older than "
                                             "the highest this PC has accepted."));
}

int verify(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption allowOlder = allowOlderOption();
    parser.addOption(allowOlder);
    if (const auto status
        = parseOptions(parser, "kv402 bundle verify", arguments, BundleUsage, true)) {
        return *status;
    }
    if (parser.positionalArguments().size() != 1)
        return wrongUsage(QStringLiteral("verify takes one folder or tar file"));
    const QString given = parser.positionalArguments().first();
    const QFileInfo info(given);
    if (!info.exists()) {
        tell(QStringLiteral("cannot read %1: it does not exist").arg(shown(given)));
        return Unreadable;
    }
    BundleTrust trust = BundleTrust::standard();
    trust.allowOlderRevision = parser.isSet(allowOlder);
    QTemporaryDir unpacked;
    QString folder = info.absoluteFilePath();
    if (!info.isDir()) {
        QFile archive(given);
        if (!info.isFile() || !archive.open(QIODevice::ReadOnly)) {
            tell(QStringLiteral("cannot read %1: %2")
                     .arg(shown(given),
                          info.isFile() ? archive.errorString()
                                        : QStringLiteral("it is neither a folder nor a file")));
            return Unreadable;
        }
        if (!unpacked.isValid()) {
            tell(QStringLiteral("cannot make a folder to unpack into: %1")
                     .arg(unpacked.errorString()));
            return Failure;
        }
        if (const QString refusal = extractTar(given, unpacked.path()); !refusal.isEmpty()) {
            tell(QStringLiteral("%1: %2").arg(shown(given), refusal));
            return Refused;
        }
        folder = bundleRoot(unpacked.path());
    }
    if (!Minisign::initialise()) {
        tell(QStringLiteral("the cryptography library cannot be started"));
        return Failure;
    }
    const std::variant<VerifiedBundle, BundleProblem> verdict = verifyBundle(folder, trust);
    if (const BundleProblem *problem = std::get_if<BundleProblem>(&verdict)) {
        QString text = problem->text(Language::English);
        // Inside a tar, the file is named as the archive holds it.
        if (!info.isDir())
            text.replace(shown(folder) + QDir::separator(), shown(given) + QLatin1String(": "));
        tell(text);
        return refusalStatus(*problem);
    }
    tellVerified(std::get<VerifiedBundle>(verdict), given);
    return Success;
}

// A value of a desktop entry, its special characters escaped.
QString desktopValue(const QString &text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}

// An argument of Exec, quoted as desktop entries want it: in double quotes, with \, ", ` and $
// escaped and % doubled.
QString execArgument(const QString &text)
{
    QString quoted = text;
    for (const char *special : {"\\", "\"", "`", "$"})
        quoted.replace(QLatin1String(special), QLatin1Char('\\') + QLatin1String(special));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return desktopValue(QLatin1Char('"') + quoted + QLatin1Char('"'));
}

// The user's menu entries that start the programs in the folder; the files written, or why not.
QStringList writeMenuEntries(const QString &folder, QString *why)
{
    const QString menu = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                         + QStringLiteral("/applications");
    if (!QDir().mkpath(menu)) {
        *why = QStringLiteral("cannot make %1").arg(shown(menu));
        return {};
    }
    // One entry a folder and program: installing into another folder adds its own.
    const QString tag = QString::fromLatin1(
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(8));
    const QString programs = QCoreApplication::applicationDirPath();
    struct Program
    {
        const char *file;
        const char *title;
    };
    QStringList written;
    for (const Program program :
         {Program{"kv402master", "KV402 Master"}, Program{"kv402station", "KV402 Station"}}) {
        const QString executable = programs + QLatin1Char('/') + QLatin1String(program.file);
        if (!QFileInfo(executable).isExecutable())
            continue;
        const QString entry = QStringLiteral("%1/%2-%3.desktop")
                                  .arg(menu, QLatin1String(program.file), tag);
        const QString text = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=%1 (%2)\n"
                                            "Comment=Loads software into the KV402 terminal\n"
                                            "Exec=%3\n"
                                            "Path=%4\n"
                                            "Icon=kv402master\n"
                                            "Terminal=false\n"
                                            "Categories=Utility;\n")
                                 .arg(QLatin1String(program.title),
                                      desktopValue(QDir(folder).dirName()),
                                      execArgument(executable),
                                      desktopValue(folder));
        QSaveFile file(entry);
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
            *why = QStringLiteral("cannot write %1: %2").arg(shown(entry), file.errorString());
            return written;
        }
        written.append(entry);
    }
    return written;
}

// Puts the new folder in the old one's place in one step; the old one ends where the new one
// was. Without an old one the new one is renamed.
bool swapFolders(const QString &fresh, const QString &target, QString *why)
{
    const QByteArray from = QFile::encodeName(fresh);
    const QByteArray to = QFile::encodeName(target);
    if (!QFileInfo::exists(target)) {
        if (::rename(from.constData(), to.constData()) == 0)
            return true;
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const auto failed = [why] {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
#ifdef Q_OS_LINUX
    if (::syscall(SYS_renameat2, AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE)
        == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return failed();
#endif
    // Where the file system cannot exchange two names: the old folder steps aside, the new one
    // takes its place (the old one comes back if it cannot), and the old one goes where the new
    // one was built, to be removed with it. Only a crash between two renames leaves the old
    // folder beside its place, under the name .previous.
    const QByteArray aside = QFile::encodeName(fresh + QStringLiteral(".previous"));
    if (::rename(to.constData(), aside.constData()) != 0)
        return failed();
    if (::rename(from.constData(), to.constData()) != 0) {
        const bool result = failed();
        ::rename(aside.constData(), to.constData());
        return result;
    }
    ::rename(aside.constData(), from.constData());
    return true;
}

int installBundle(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption allowOlder = allowOlderOption();
    parser.addOption(allowOlder);
    if (const auto status
        = parseOptions(parser, "kv402 bundle install", arguments, BundleUsage, true)) {
        return *status;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() < 1 || positional.size() > 2)
        return wrongUsage(QStringLiteral("install takes a tar file and, optionally, a folder"));
    const QString home = qEnvironmentVariable("HOME");
    if (positional.size() == 1 && (home.isEmpty() || !QFileInfo(home).isDir()))
        return wrongUsage(QStringLiteral("there is no home folder for ~/kv402: name the folder"));
    const QString archive = positional.at(0);
    const QString target = QDir::cleanPath(
        QDir(positional.size() == 2 ? positional.at(1) : home + QStringLiteral("/kv402"))
            .absolutePath());
    const QFileInfo archiveInfo(archive);
    if (!archiveInfo.isFile()) {
        tell(QStringLiteral("cannot read %1: %2")
                 .arg(shown(archive),
                      archiveInfo.exists() ? QStringLiteral("it is not a regular file")
                                           : QStringLiteral("it does not exist")));
        return Unreadable;
    }
    const QFileInfo targetInfo(target);
    if (targetInfo.exists() && (!targetInfo.isDir() || targetInfo.isSymLink())) {
        tell(QStringLiteral("%1 is not a folder").arg(shown(target)));
        return Failure;
    }
    const QString parent = targetInfo.absolutePath();
    if (!QDir().mkpath(parent)) {
        tell(QStringLiteral("cannot make the folder %1").arg(shown(parent)));
        return Failure;
    }
    if (!Minisign::initialise()) {
        tell(QStringLiteral("the cryptography library cannot be started"));
        return Failure;
    }

    // The new folder is built beside the old one, on the same file system, and checked there;
    // the old one is untouched until the two change places.
    QTemporaryDir staging(parent + QStringLiteral("/.kv402-install-XXXXXX"));
    if (!staging.isValid()) {
        tell(QStringLiteral("cannot make a folder beside %1: %2")
                 .arg(shown(target), staging.errorString()));
        return Failure;
    }
    if (const QString refusal = extractTar(archive, staging.path()); !refusal.isEmpty()) {
        tell(QStringLiteral("%1: %2; %3 is as it was").arg(shown(archive), refusal, shown(target)));
        return Refused;
    }
    const QString fresh = bundleRoot(staging.path());
    BundleTrust trust = BundleTrust::standard();
    trust.allowOlderRevision = parser.isSet(allowOlder);
    const std::variant<VerifiedBundle, BundleProblem> verdict = verifyBundle(fresh, trust);
    if (const BundleProblem *problem = std::get_if<BundleProblem>(&verdict)) {
        QString text = problem->text(Language::English);
        text.replace(shown(fresh) + QDir::separator(), shown(archive) + QLatin1String(": "));
        tell(QStringLiteral("%1; %2 is as it was").arg(text, shown(target)));
        return refusalStatus(*problem);
    }
    const VerifiedBundle &bundle = std::get<VerifiedBundle>(verdict);
    ::chmod(QFile::encodeName(fresh).constData(), 0755);
    QString why;
    if (!swapFolders(fresh, target, &why)) {
        tell(QStringLiteral("cannot put the bundle in place of %1: %2; it is as it was")
                 .arg(shown(target), why));
        return Failure;
    }
#ifdef Q_OS_UNIX
    // The rename reaches the disk with the folder that holds it.
    if (const int fd = ::open(QFile::encodeName(parent).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
    // The old files, now where the new ones were built, go with the staging folder.
    if (!AcceptedRevisions(trust.acceptedRevisionsFile)
             .remember(bundle.manifest.name,
                       bundle.manifest.revision,
                       trust.allowOlderRevision,
                       &why)) {
        tell(QStringLiteral("cannot remember the accepted revision in %1: %2")
                 .arg(shown(trust.acceptedRevisionsFile), why));
    }
    tellVerified(bundle, archive);
    printOut(QStringLiteral("installed into %1\n").arg(printable(shown(target))));
    why.clear();
    const QStringList entries = writeMenuEntries(target, &why);
    for (const QString &entry : entries)
        printOut(QStringLiteral("menu entry %1\n").arg(printable(shown(entry))));
    if (!why.isEmpty()) {
        tell(why);
        return Failure;
    }
    return Success;
}

// An interrupt, hang-up or terminate signal waits until the install has ended, its staging folder
// removed: the old folder or the new one is in place, and nothing is left beside it. The signal
// then ends the program as usual.
int install(const QStringList &arguments)
{
#ifndef Q_OS_UNIX
    return installBundle(arguments);
#else
    sigset_t signals;
    sigset_t previous;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    ::sigprocmask(SIG_BLOCK, &signals, &previous);
    // What was printed reaches its reader before a waiting signal ends the program.
    const int status = finishOutput(installBundle(arguments), "kv402 bundle install");
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    return status;
#endif
}

} // namespace

int bundleCommand(const QStringList &arguments)
{
    const QString verb = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (verb == QLatin1String("make"))
        return make(rest);
    if (verb == QLatin1String("sign"))
        return sign(rest);
    if (verb == QLatin1String("verify"))
        return verify(rest);
    if (verb == QLatin1String("install"))
        return install(rest);
    if (verb == QLatin1String("--help") || verb == QLatin1String("-h")) {
        printOut(QString::fromLatin1(BundleUsage));
        return Success;
    }
    printError(QString::fromLatin1(BundleUsage));
    return Usage;
}

} // namespace Kv402::Tool
