#include "cli/send_options.h"

#include "cli/commands.h"
#include "cli/output.h"

#include "bundle/bundle_check.h"
#include "catalogue/catalogue_choices.h"
#include "catalogue/catalogue_constants.h"
#include "catalogue/exclusive_hold.h"
#include "load/load_record.h"
#include "ports/port_identity.h"
#include "simulator/terminal_profiles.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <cmath>

#include <sys/stat.h>

namespace Kv402::Tool {

namespace {

constexpr const char *Command = SendCommandName;
// Simulated terminals go beyond COM16, so that one process can simulate a whole production line.
constexpr int MaxSimulatedPort = 64;
// The longest --cable-wait: a day.
constexpr double MaxCableWaitSeconds = 86400;

int wrongUsage(const QString &why)
{
    return usageError(Command, why, SendUsage);
}

// Tells why nothing can be sent; returns NothingSent.
int nothingSent(const QString &why)
{
    printError(QStringLiteral("kv402 send: %1\n").arg(printable(why)));
    return NothingSent;
}

// COMn for a simulated terminal, n from 1 to MaxSimulatedPort.
std::optional<int> simulatedPortNumber(QStringView name)
{
    if (!name.startsWith(QLatin1StringView("COM")))
        return std::nullopt;
    const QStringView digits = name.mid(3);
    bool ok = false;
    const int number = digits.toInt(&ok);
    // Written as the port list writes them: no sign, no blank, no leading zero.
    if (!ok || number < 1 || number > MaxSimulatedPort || digits != QString::number(number))
        return std::nullopt;
    return number;
}

// The file's identity when it exists, to tell one file under two names.
std::optional<std::pair<dev_t, ino_t>> fileIdentity(const QString &fileName)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(fileName).constData(), &info) != 0)
        return std::nullopt;
    return std::pair{info.st_dev, info.st_ino};
}

// Whether the default record has a folder to live in: without a home (a service started with an
// empty environment) it would land at the root of the file system.
bool defaultRecordHasAHome()
{
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!dataHome.isEmpty() && QDir::isAbsolutePath(dataHome))
        return true;
    const QString home = qEnvironmentVariable("HOME");
    return !home.isEmpty() && home != QLatin1String("/") && QFileInfo(home).isDir();
}

QString profileNames()
{
    return terminalProfileNames().join(QStringLiteral(", "));
}

// One --port, --device or --simulate; nothing, with why set, when the value names no port.
std::optional<SendTarget> target(const QString &option, const QString &value, QString *why)
{
    if (option == QLatin1String("port")) {
        const std::optional<int> number = portNumberOf(value);
        if (!number) {
            *why = QStringLiteral("\"%1\" is no port: COM1 to COM16").arg(value);
            return std::nullopt;
        }
        return SendTarget{portAddress(*number), std::nullopt};
    }
    if (option == QLatin1String("device")) {
        // A stable path (/dev/serial/by-id/...) names the adapter whatever order it was plugged
        // in: the device it leads to is used, and named in the output.
        const NamedDevice named = resolveDevicePath(value);
        return SendTarget{{value, named.device.isEmpty() ? value : named.device}, std::nullopt};
    }
    const qsizetype equals = value.indexOf(QLatin1Char('='));
    const QString port = value.left(equals);
    const std::optional<SimulatedTerminal::Options> profile
        = equals < 0 ? std::nullopt : terminalProfile(QStringView(value).mid(equals + 1));
    if (!simulatedPortNumber(port) || !profile) {
        *why = QStringLiteral("--simulate takes COMn=PROFILE, n from 1 to %1 and PROFILE one of %2")
                   .arg(MaxSimulatedPort)
                   .arg(profileNames());
        return std::nullopt;
    }
    return SendTarget{{port, QString()}, profile};
}

// Why two ports of one send cannot go together; empty when they can.
QString clash(const SendTarget &earlier, const SendTarget &later)
{
    if (earlier.name() == later.name())
        return QStringLiteral("%1 is named twice").arg(later.name());
    // COM1 and /dev/ttyS0, or a device and a link to it: two loads on one port.
    if (later.simulated || earlier.simulated)
        return {};
    const QString &device = later.address.device;
    const std::optional identity = fileIdentity(device);
    if (device == earlier.address.device
        || (identity && identity == fileIdentity(earlier.address.device))) {
        return QStringLiteral("%1 and %2 name the same device, %3")
            .arg(earlier.name(), later.name(), device);
    }
    return {};
}

// The data file named by the catalogue for a revision, version and language, by the window's
// rules. The catalogue is shared with other loads of the command line while it is read, and let
// go once the data file is known. Throws CatalogueError; returns an empty name with *why set when
// there is none.
QString catalogueDataFile(const QString &catalogue, const LoadChoice &choice, QString *why)
{
    const struct Release
    {
        const QString &file;
        ~Release() { releaseHold(file); }
    } release{catalogue};
    CatalogueChoices choices(catalogue, CatalogueHold::Shared);
    const RevisionChoice revision = choices.chooseRevision(choice.revision);
    if (revision.failureAfterMessage)
        throw *revision.failureAfterMessage;
    if (!revision.tabled) {
        *why = QStringLiteral("\"%1\" is no firmware revision of the catalogue").arg(choice.revision);
        return {};
    }
    if (revision.message == RevisionChoice::Message::VersionNotAvailable) {
        *why = ChoiceTexts::VersionNotAvailable.in(Language::English);
        return {};
    }
    const VersionRows rows = choices.versionRows(choice.version, choice.language);
    if (!rows.found) {
        *why = ChoiceTexts::VersionNotInLanguage.in(Language::English);
        return {};
    }
    if (rows.dataFile.isEmpty()) {
        *why = QStringLiteral("the catalogue names no data file for version \"%1\" in \"%2\" "
                              "(its File field is empty)")
                   .arg(choice.version, choice.language);
    }
    return rows.dataFile;
}

} // namespace

QString SendTarget::device() const
{
    return simulated ? QStringLiteral("simulated terminal") : address.device;
}

std::variant<SendOptions, int> sendOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption file(QStringLiteral("file"),
                                  QStringLiteral("The data file."),
                                  QStringLiteral("DATA"));
    const QCommandLineOption revision(QStringLiteral("revision"),
                                      QStringLiteral("Firmware revision."),
                                      QStringLiteral("R"));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Software version."),
                                     QStringLiteral("V"));
    const QCommandLineOption language(QStringLiteral("language"),
                                      QStringLiteral("Language."),
                                      QStringLiteral("L"));
    const QCommandLineOption catalogue(QStringLiteral("catalogue"),
                                       QStringLiteral("The catalogue (Versioni.mdb)."),
                                       QStringLiteral("FILE"),
                                       QString(Catalogue::FileName));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("A port, COM1 to COM16."),
                                  QStringLiteral("COMn"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("A serial device path."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("A simulated terminal on COM1 to COM%1: %2")
                                          .arg(MaxSimulatedPort)
                                          .arg(profileNames()),
                                      QStringLiteral("COMn=PROFILE"));
    const QCommandLineOption acceptBad(QStringLiteral("accept-bad-checksums"),
                                       QStringLiteral("Load records with wrong checksums."));
    const QCommandLineOption cableWait(QStringLiteral("cable-wait"),
                                       QStringLiteral("Wait this long for a cable (0 to 86400)."),
                                       QStringLiteral("SECONDS"));
    const QCommandLineOption again(QStringLiteral("again"),
                                   QStringLiteral(
                                       "Load the next terminal on each port, until stopped."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON object a line for every event."));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("The load record."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption fast(QStringLiteral("fast"),
                                  QStringLiteral("Simulated terminals without wire time, given up "
                                                 "after 1 s of silence."));
    parser.addOptions({file,
                       revision,
                       version,
                       language,
                       catalogue,
                       port,
                       device,
                       simulate,
                       acceptBad,
                       cableWait,
                       again,
                       json,
                       record,
                       fast});
    if (const std::optional<int> status = parseOptions(parser, Command, arguments, SendUsage))
        return *status;
    // An empty name names nothing: no file, no device, no port.
    for (const QCommandLineOption &option :
         {file, revision, version, language, catalogue, port, device, simulate, cableWait, record}) {
        for (const QString &value : parser.values(option)) {
            if (value.isEmpty()) {
                return wrongUsage(QStringLiteral("--%1 takes a value that is not empty")
                                      .arg(option.names().first()));
            }
        }
    }

    SendOptions options;
    options.acceptBadChecksums = parser.isSet(acceptBad);
    options.again = parser.isSet(again);
    options.json = parser.isSet(json);
    options.fast = parser.isSet(fast);
    if (parser.isSet(cableWait)) {
        bool ok = false;
        const double seconds = parser.value(cableWait).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > MaxCableWaitSeconds) {
            return wrongUsage(QStringLiteral("--cable-wait takes a number of seconds from 0 to %1")
                                  .arg(MaxCableWaitSeconds));
        }
        options.cableWait = std::chrono::milliseconds(std::llround(seconds * 1000));
    }
    const bool byCatalogue = parser.isSet(revision) || parser.isSet(version)
                             || parser.isSet(language);
    if (parser.isSet(file) == byCatalogue) {
        return wrongUsage(
            QStringLiteral("give either --file or --revision, --version and --language"));
    }
    if (byCatalogue && !(parser.isSet(revision) && parser.isSet(version) && parser.isSet(language)))
        return wrongUsage(QStringLiteral("--revision, --version and --language go together"));

    // The ports, in the order given.
    QMap<QString, int> used;
    for (const QString &name : parser.optionNames()) {
        if (name != port.names().first() && name != device.names().first()
            && name != simulate.names().first()) {
            continue;
        }
        QString why;
        const std::optional<SendTarget> named = target(name,
                                                       parser.values(name).at(used[name]++),
                                                       &why);
        if (!named)
            return wrongUsage(why);
        for (const SendTarget &other : options.targets) {
            if (const QString clashing = clash(other, *named); !clashing.isEmpty())
                return wrongUsage(clashing);
        }
        options.targets.push_back(*named);
    }
    if (options.targets.empty())
        return wrongUsage(QStringLiteral("name at least one --port, --device or --simulate"));

    if (!parser.isSet(record) && !defaultRecordHasAHome()) {
        return wrongUsage(QStringLiteral("there is no home folder to keep the load record in: "
                                         "give --record FILE"));
    }
    options.recordFile = parser.isSet(record) ? parser.value(record)
                                              : LoadRecord::defaultFileName();
    // The record is appended to: it must never be a file the load reads, nor a device or a FIFO.
    const std::optional recordIdentity = fileIdentity(options.recordFile);
    if (recordIdentity && !QFileInfo(options.recordFile).isFile()) {
        return wrongUsage(
            QStringLiteral("--record \"%1\" is not a regular file").arg(options.recordFile));
    }
    if (recordIdentity && byCatalogue && recordIdentity == fileIdentity(parser.value(catalogue)))
        return wrongUsage(QStringLiteral("--record names the catalogue"));

    // A signed bundle is checked before its catalogue or a file of it is used: the folder of the
    // catalogue, or of the data file given.
    const QString bundleFolder
        = QFileInfo(byCatalogue ? parser.value(catalogue) : parser.value(file)).absolutePath();
    const WorkingFolderCheck bundle = checkWorkingFolder(bundleFolder);
    if (bundle.refused())
        return nothingSent(bundle.refusal->text(Language::English));
    options.bundle = bundle.bundle;

    if (byCatalogue) {
        options.choice = {parser.value(revision), parser.value(version), parser.value(language)};
        QString why;
        try {
            options.dataFile = catalogueDataFile(parser.value(catalogue), options.choice, &why);
        } catch (const CatalogueError &error) {
            return nothingSent(error.message());
        }
        if (options.dataFile.isEmpty())
            return nothingSent(why);
    } else {
        options.dataFile = parser.value(file);
    }
    if (recordIdentity && recordIdentity == fileIdentity(options.dataFile))
        return wrongUsage(QStringLiteral("--record names the data file"));
    if (bundle.bundle) {
        if (const std::optional<BundleProblem> refusal = checkBundleFile(*bundle.bundle,
                                                                         options.dataFile)) {
            return nothingSent(refusal->text(Language::English));
        }
    }
    return options;
}

} // namespace Kv402::Tool
