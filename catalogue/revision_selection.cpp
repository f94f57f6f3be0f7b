// The firmware-revision choice: the revision's versions and languages, and the serial ports that
// can be opened.

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_db.h"
#include "loader/serial_port.h"
#include "shell/editable_list.h"
#include "shell/main_window.h"
#include "shell/message_box.h"

#include <QListWidget>

namespace Kv402 {

namespace {

// "1" to "5" choose the tables Versioni1 to Versioni5; any other text chooses none.
int revisionTable(const QString &revision)
{
    static const QStringList tabled = {QStringLiteral("1"),
                                       QStringLiteral("2"),
                                       QStringLiteral("3"),
                                       QStringLiteral("4"),
                                       QStringLiteral("5")};
    return int(tabled.indexOf(revision)) + 1;
}

// Revision "5" neither fills the languages after a "0" version nor empties a "0" language.
constexpr int RevisionWithoutZeroLanguage = 5;

const QString NoVersion = QStringLiteral("0");
const QString NoRevision = QStringLiteral("Version");
// Always in English.
const QString NoDevices = QStringLiteral("No devices");

// The line settings with which each port is tried.
const QString DiscoverySettings = QStringLiteral("9600,N,8,1");

} // namespace

void frmMain::chooseRevision()
{
    Combo3->clear();
    Combo4->clear();
    // Until a version and language of this revision match a row, there is nothing to load.
    m_versionFound = false;
    strDataFile.clear();

    const QString revision = Combo1->currentText();
    if (const int table = revisionTable(revision)) {
        Combo_SerialPort->clear();
        dbCatalogue = CatalogueDatabase::OpenDatabase(Catalogue::FileName);
        rsVersions = dbCatalogue->OpenRecordset(Catalogue::VersionTablePrefix
                                                + QString::number(table));
        fillDistinct(Combo3, Catalogue::VersionField);
        selectEntry(Combo3, 0);

        bool fillLanguages = true;
        if (Combo3->currentText() == NoVersion) {
            Combo3->clear();
            Combo4->clear();
            Combo_SerialPort->clear();
            showMessage({Texts::VersionNotAvailable.in(language()),
                         MessageButtons::Ok,
                         MessageIcon::Information});
            fillLanguages = table != RevisionWithoutZeroLanguage;
        }
        if (fillLanguages) {
            fillDistinct(Combo4, Catalogue::LanguageField);
            selectEntry(Combo4, 0);
            if (table != RevisionWithoutZeroLanguage && Combo4->currentText() == NoVersion)
                Combo4->clear();
        }
    } else if (revision == NoRevision) {
        Combo3->clear();
        Combo4->clear();
        List1->clear();
        Combo_SerialPort->clear();
    }

    if (revision == NoRevision || Combo3->currentText().isEmpty()
        || Combo4->currentText().isEmpty()) {
        // The port list keeps its entries, but none stays selected behind the empty text: a load
        // must not go to a port that the window does not show.
        Combo_SerialPort->setCurrentIndex(-1);
        List1->addItem(NoDevices);
        return;
    }
    discoverPorts();
}

void frmMain::discoverPorts()
{
    // Every port that opens is listed; a port that is missing, busy or fails in any other way is
    // passed over in silence. A port without modem lines is listed: a load through it says what
    // it lacks. Nothing is sent or received.
    m_deniedPorts.clear();
    for (int n = PortNames::First; n <= PortNames::Last; ++n) {
        const std::unique_ptr<SerialPort> port = m_services.ports->makePort(n);
        PortOpenFailure failure;
        const bool opened = port->open(n, DiscoverySettings, &failure);
        // Kept for Send: a list without ports says why when this user may not open them.
        if (!opened && failure.kind == PortOpenFailure::Kind::AccessDenied) {
            m_deniedPorts.append(failure.device.isEmpty()
                                     ? portName(n)
                                     : QStringLiteral("%1 (%2)").arg(portName(n), failure.device));
        }
        if (opened || failure.kind == PortOpenFailure::Kind::NoModemLines) {
            Combo_SerialPort->addItem(portName(n));
            Combo_SerialPort->setItemData(Combo_SerialPort->count() - 1,
                                          m_services.ports->describe(n),
                                          Qt::ToolTipRole);
        }
        port->close();
    }
    selectEntry(Combo_SerialPort, 0);
}

} // namespace Kv402
