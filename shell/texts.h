#pragma once

#include "catalogue/catalogue_choices.h"
#include "catalogue/catalogue_error.h"
#include "kv402_version.h"
#include "language/bilingual.h"

#include <QString>

namespace Kv402 {

// The window's own captions and texts. The messages of the catalogue and of a load have their
// words where they arise (catalogue/, load/load_texts.h). The spelling is the program's own.
namespace Texts {

inline QString programTitle()
{
    return QStringLiteral("KV402Master");
}

inline QString mainWindowTitle()
{
    return QStringLiteral("Velmar - KV402 Master  Software");
}

inline QString productCaption()
{
    return QStringLiteral("KV402 Master Software Rev. " KV402_VERSION);
}

// Label6 shows this while the interface is Italian; it is the language flag.
inline QString italianLanguageCaption()
{
    return QStringLiteral("Lingua");
}

// The device list's entry when there is nothing to load. Always in English.
inline QString noDevices()
{
    return QStringLiteral("No devices");
}

inline constexpr Bilingual VersionNotAvailable = ChoiceTexts::VersionNotAvailable;
// Send with a version and language that have no catalogue row: there is no data file to load.
inline constexpr Bilingual VersionNotInLanguage = ChoiceTexts::VersionNotInLanguage;
inline constexpr Bilingual NothingSelected{"Non è stato selezionato alcun elemento",
                                           "It has't been selected any element"};
// A catalogue failure in both languages, as the catalogue words it.
inline Bilingual catalogueFailure(CatalogueError::Kind kind)
{
    return CatalogueError::text(kind);
}

// Follows the catalogue failure when there is no catalogue at all: where the program looked and
// how to set up a working folder. %1 the working folder's absolute path.
inline constexpr Bilingual NoCatalogueInWorkingFolder{
    "Il programma cerca il catalogo nella cartella da cui è stato avviato (%1). Per preparare una "
    "cartella di lavoro da un pacchetto rilasciato: \"kv402 bundle install PACCHETTO.tar\" (in "
    "~/kv402, con le voci di menu); altrimenti vedere \"man kv402master\" oppure, nel README, la "
    "sezione \"Installing, and the technician's working folder\".",
    "The program looks for the catalogue in the folder it was started in (%1). To set up a "
    "working folder from a released bundle: \"kv402 bundle install BUNDLE.tar\" (into ~/kv402, "
    "with its menu entries); otherwise see \"man kv402master\" or the README's section "
    "\"Installing, and the technician's working folder\"."};

inline constexpr Bilingual LoadStopped{"Caricamento interrotto", "Load stopped"};
inline constexpr Bilingual StopAndExit{"Un caricamento è in corso. Interromperlo e uscire?",
                                       "A load is in progress. Stop it and exit?"};
inline constexpr Bilingual StopCaption{"Ferma", "Stop"};

// The About window. Its texts read the same in both languages.
inline QString aboutWindowTitle()
{
    return QStringLiteral("Velmar - KV402 Master Software");
}

inline QString aboutProgramName()
{
    return QStringLiteral("KV402 Master Software ");
}

inline QString aboutRevision()
{
    return QStringLiteral("Rev. " KV402_VERSION);
}

// The maker's details in the About window. Put the maker's own company line, postal address (one
// line) and telephone number here; nothing else needs to change. An empty detail shows no line:
// a placeholder would look broken to a technician.
inline QString makerCompany()
{
    return QStringLiteral("Velmar");
}

inline QString makerAddress()
{
    return QString();
}

inline QString makerTelephone()
{
    return QString();
}

// The help window's buttons.
inline constexpr Bilingual HelpBack{"Indietro", "Back"};
inline constexpr Bilingual HelpForward{"Avanti", "Forward"};
inline constexpr Bilingual HelpContents{"Sommario", "Contents"};

} // namespace Texts

} // namespace Kv402
