#pragma once

#include "catalogue/catalogue_db.h"
#include "catalogue/catalogue_error.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace Kv402 {

// The messages of the choices, in both languages.
namespace ChoiceTexts {
// The revision offers no software: its first version is "0".
inline constexpr Bilingual VersionNotAvailable{"Versione non disponibile", "Version not available"};
// The version has no row in the language: there is no data file to load.
inline constexpr Bilingual
    VersionNotInLanguage{"Questa versione non è disponibile in questa lingua",
                         "This version is not available in this language"};
} // namespace ChoiceTexts

// What a list holds after a choice: its entries, and the selected one (-1 for none).
struct ListContent
{
    QStringList entries;
    int selected = -1;

    QString selectedText() const { return entries.value(selected); }
    bool operator==(const ListContent &) const = default;
};

// The catalogue rows of one version in one language.
struct VersionRows
{
    // Whether any row matched.
    bool found = false;
    // The File of the first matching row; empty when none matched.
    QString dataFile;
    // The five device columns of every matching row, row after row, empty columns included.
    QStringList devices;

    bool operator==(const VersionRows &) const = default;
};

// What a firmware-revision choice makes of the window's lists, in the order the user sees it.
struct RevisionChoice
{
    // The message to give, after the version, language, device and port lists have been emptied
    // and before the languages are listed.
    enum class Message { None, VersionNotAvailable };

    // The revision names a catalogue table ("1" to "5").
    bool tabled = false;
    ListContent versions;
    ListContent languages;
    // The device list is emptied first; otherwise it keeps what it holds.
    bool clearDevices = false;
    // The rows of the first version and language, as listed while both were selected; they name
    // the data file even when the language list is emptied afterwards.
    VersionRows rows;
    // The device list ends with the "No devices" entry.
    bool noDevices = false;
    // The port list is emptied.
    bool clearPorts = false;
    // The ports are tried and listed anew; otherwise the port list keeps its entries with none
    // selected.
    bool discoverPorts = false;
    Message message = Message::None;
    // A failure met after the message: the message is given first, then the program ends.
    std::optional<CatalogueError> failureAfterMessage;
};

// The choices the catalogue offers: the firmware revisions, each revision's versions and
// languages, and a version's devices and data file in a language. It holds the catalogue opened
// at start-up and the table of the last revision chosen.
class CatalogueChoices
{
public:
    // Opens the catalogue, holding it as asked. Throws CatalogueError.
    explicit CatalogueChoices(const QString &fileName,
                              CatalogueHold hold = CatalogueHold::Exclusive);
    ~CatalogueChoices();

    // Every distinct revision of the table num, in the order of first occurrence.
    QStringList revisions() const;

    // The firmware-revision choice. "1" to "5" open the catalogue again and read their table;
    // "Version" stands for no revision; any other text selects nothing. Throws CatalogueError
    // for a failure before any message is due.
    RevisionChoice chooseRevision(const QString &revision);

    // The rows of a version in a language in the current table, the table of the last revision
    // chosen. Throws CatalogueError.
    VersionRows versionRows(const QString &version, const QString &language) const;

private:
    // The distinct values of a field in the current table, in the order of first occurrence.
    QStringList distinctValues(const QString &field) const;
    int requireColumn(const QString &field) const;
    QString textAt(qsizetype row, int column) const;

    QString m_fileName;
    CatalogueHold m_hold;
    std::unique_ptr<CatalogueDatabase> m_database;
    // The revision table num at first, then the table of the last revision chosen.
    TableData m_table;
};

} // namespace Kv402
