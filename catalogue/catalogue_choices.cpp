#include "catalogue/catalogue_choices.h"

#include "catalogue/catalogue_constants.h"
#include "catalogue/devices.h"

#include <QSet>

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

// Revision "5" neither lists the languages after a "0" version nor empties a "0" language.
constexpr int RevisionWithoutZeroLanguage = 5;

// A first version (or language) "0" means that the revision has no software.
const QString NoVersion = QStringLiteral("0");

} // namespace

CatalogueChoices::CatalogueChoices(const QString &fileName, CatalogueHold hold)
    : m_fileName(fileName)
    , m_hold(hold)
    , m_database(CatalogueDatabase::open(fileName, hold))
    , m_table(m_database->readTable(Catalogue::RevisionTable))
{}

CatalogueChoices::~CatalogueChoices() = default;

QStringList CatalogueChoices::revisions() const
{
    return distinctValues(Catalogue::RevisionField);
}

int CatalogueChoices::requireColumn(const QString &field) const
{
    const int column = m_table.columnIndex(field);
    if (column < 0)
        throw missingField(m_fileName, m_table.name, field);
    return column;
}

QString CatalogueChoices::textAt(qsizetype row, int column) const
{
    const FieldValue &value = m_table.rows.at(row).at(column);
    if (!value)
        throw nullField(m_fileName, m_table.name, m_table.columns.at(column), row + 1);
    return *value;
}

QStringList CatalogueChoices::distinctValues(const QString &field) const
{
    // A table without rows fails before its fields are looked at, as moving to its first row
    // does.
    if (m_table.rows.isEmpty())
        throw noRows(m_fileName, m_table.name);
    const int column = requireColumn(field);
    // Exact, case-sensitive: "1" and "01", "a" and "A" are different entries. A set keeps this
    // linear: catalogues of many thousand rows would otherwise take seconds.
    QSet<QString> listed;
    QStringList values;
    for (qsizetype row = 0; row < m_table.rows.size(); ++row) {
        QString value = textAt(row, column);
        if (!listed.contains(value)) {
            listed.insert(value);
            values.append(std::move(value));
        }
    }
    return values;
}

VersionRows CatalogueChoices::versionRows(const QString &version, const QString &language) const
{
    const int versionColumn = requireColumn(Catalogue::VersionField);
    const int languageColumn = requireColumn(Catalogue::LanguageField);
    VersionRows found;
    for (qsizetype row = 0; row < m_table.rows.size(); ++row) {
        const QList<FieldValue> &fields = m_table.rows.at(row);
        // A null field equals nothing.
        if (fields.at(versionColumn) != version || fields.at(languageColumn) != language)
            continue;
        // The first match names the data file.
        if (!found.found) {
            found.found = true;
            found.dataFile = textAt(row, requireColumn(Catalogue::FileField));
        }
        found.devices.append(devicesColumns(textAt(row, requireColumn(Catalogue::DevicesField))));
    }
    return found;
}

RevisionChoice CatalogueChoices::chooseRevision(const QString &revision)
{
    RevisionChoice choice;
    const int table = revisionTable(revision);
    if (table) {
        choice.tabled = true;
        choice.clearPorts = true;
        // Listing the versions selects the first, which empties the device list.
        choice.clearDevices = true;
        // Opened again while the catalogue is held: the open is shared while the file is
        // unchanged.
        m_database = CatalogueDatabase::open(m_fileName, m_hold);
        m_table = m_database->readTable(Catalogue::VersionTablePrefix + QString::number(table));
        choice.versions.entries = distinctValues(Catalogue::VersionField);
        choice.versions.selected = 0;

        bool listLanguages = true;
        if (choice.versions.selectedText() == NoVersion) {
            choice.versions = {};
            choice.message = RevisionChoice::Message::VersionNotAvailable;
            listLanguages = table != RevisionWithoutZeroLanguage;
        }
        // What fails after the message comes after it.
        try {
            if (listLanguages) {
                choice.languages.entries = distinctValues(Catalogue::LanguageField);
                choice.languages.selected = 0;
                // Selecting the first language lists the devices, when a version is selected.
                if (choice.versions.selected >= 0) {
                    choice.rows = versionRows(choice.versions.selectedText(),
                                              choice.languages.selectedText());
                }
                if (table != RevisionWithoutZeroLanguage
                    && choice.languages.selectedText() == NoVersion) {
                    choice.languages = {};
                }
            }
        } catch (const CatalogueError &error) {
            if (choice.message == RevisionChoice::Message::None)
                throw;
            choice.failureAfterMessage = error;
            return choice;
        }
    } else if (revision == Catalogue::NoRevision) {
        choice.clearDevices = true;
        choice.clearPorts = true;
    }

    choice.noDevices = revision == Catalogue::NoRevision || choice.versions.selectedText().isEmpty()
                       || choice.languages.selectedText().isEmpty();
    choice.discoverPorts = !choice.noDevices;
    return choice;
}

} // namespace Kv402
