// The version and language choice: the devices of the chosen version in the chosen language, and
// the data file to load.

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_db.h"
#include "catalogue/devices.h"
#include "shell/main_window.h"

#include <QComboBox>
#include <QListWidget>

namespace Kv402 {

void frmMain::ShowDevices()
{
    List1->clear();
    if (Combo3->currentIndex() < 0 || Combo4->currentIndex() < 0 || !rsVersions)
        return;

    const Criterion criterion{Combo3->currentText(), Combo4->currentText()};
    rsVersions->FindFirst(criterion);
    // The first match names the data file. With no match there is none: the file of an earlier
    // choice is other software or another language.
    m_versionFound = !rsVersions->NoMatch();
    if (m_versionFound)
        strDataFile = rsVersions->Fields(Catalogue::FileField);
    else
        strDataFile.clear();
    // Every matching row lists its five columns, empty ones included.
    while (!rsVersions->NoMatch()) {
        List1->addItems(devicesColumns(rsVersions->Fields(Catalogue::DevicesField)));
        rsVersions->FindNext(criterion);
    }
}

} // namespace Kv402
