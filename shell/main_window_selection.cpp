// The revision, version and language choices: the catalogue's answers put into the lists, and the
// serial ports that can be opened.

#include "catalogue/catalogue_choices.h"
#include "catalogue/catalogue_constants.h"
#include "ports/port_discovery.h"
#include "shell/editable_list.h"
#include "shell/main_window.h"
#include "shell/message_box.h"

#include <QListWidget>

namespace Kv402 {

namespace {

// Filling or selecting from code raises no click: the answer already holds what it would do.
void showList(QComboBox *list, const ListContent &content)
{
    const QSignalBlocker quiet(list);
    list->clear();
    list->addItems(content.entries);
    list->setCurrentIndex(content.selected);
}

} // namespace

void frmMain::openCatalogue()
{
    m_choices = std::make_unique<CatalogueChoices>(QString(Catalogue::FileName));
    Combo1->addItems(m_choices->revisions());
    // The first revision's choice runs to completion here, inside start-up.
    if (Combo1->count() > 0) {
        const QSignalBlocker quiet(Combo1);
        Combo1->setCurrentIndex(0);
    }
    if (Combo1->currentIndex() == 0)
        chooseRevision();
}

template<typename Body>
void frmMain::guarded(Body body)
{
    try {
        body();
    } catch (const CatalogueError &error) {
        fail(error);
    }
}

void frmMain::Combo1_Click()
{
    guarded([this] { chooseRevision(); });
}

void frmMain::Combo3_Click()
{
    guarded([this] { ShowDevices(); });
}

void frmMain::Combo4_Click()
{
    guarded([this] { ShowDevices(); });
}

void frmMain::chooseRevision()
{
    const QString revision = Combo1->currentText();
    const RevisionChoice choice = m_choices->chooseRevision(revision);
    // A revision that names a table makes it the current one; any other text leaves the table.
    if (choice.tabled)
        m_tableRevision = revision;

    Combo3->clear();
    Combo4->clear();
    if (choice.clearDevices)
        List1->clear();
    if (choice.clearPorts)
        Combo_SerialPort->clear();
    // The message comes up over the emptied lists; the languages are listed once it has been
    // answered.
    if (choice.message == RevisionChoice::Message::VersionNotAvailable) {
        m_messages.post({Texts::VersionNotAvailable.in(language()),
                         MessageButtons::Ok,
                         MessageIcon::Information},
                        [this, choice](MessageAnswer) {
                            guarded([&] { showRevisionChoice(choice); });
                        });
        return;
    }
    showRevisionChoice(choice);
}

void frmMain::showRevisionChoice(const RevisionChoice &choice)
{
    if (choice.failureAfterMessage)
        throw *choice.failureAfterMessage;

    showList(Combo3, choice.versions);
    showList(Combo4, choice.languages);
    // Until a version and language of this revision match a row, there is nothing to load.
    showVersionRows(choice.rows);
    if (choice.noDevices) {
        // The port list keeps its entries, but none stays selected behind the empty text: a load
        // must not go to a port that the window does not show.
        Combo_SerialPort->setCurrentIndex(-1);
        List1->addItem(Texts::noDevices());
        return;
    }
    if (choice.discoverPorts)
        listPorts();
}

void frmMain::ShowDevices()
{
    List1->clear();
    if (Combo3->currentIndex() < 0 || Combo4->currentIndex() < 0 || !m_choices)
        return;
    showVersionRows(m_choices->versionRows(Combo3->currentText(), Combo4->currentText()));
}

void frmMain::showVersionRows(const VersionRows &rows)
{
    // With no match there is no data file: the file of an earlier choice is other software or
    // another language.
    m_versionFound = rows.found;
    strDataFile = rows.dataFile;
    m_dataFileRevision = m_tableRevision;
    List1->addItems(rows.devices);
}

void frmMain::listPorts()
{
    const PortDiscovery found = discoverPorts(*m_services.ports);
    m_deniedPorts = found.deniedPorts;
    for (const FoundPort &port : found.ports) {
        Combo_SerialPort->addItem(port.address.name);
        Combo_SerialPort->setItemData(Combo_SerialPort->count() - 1,
                                      port.description,
                                      Qt::ToolTipRole);
    }
    // Selecting in an empty list fails and is passed over: nothing stays selected.
    const QSignalBlocker quiet(Combo_SerialPort);
    Combo_SerialPort->setCurrentIndex(Combo_SerialPort->count() > 0 ? 0 : -1);
}

} // namespace Kv402
