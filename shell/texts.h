#pragma once

#include "catalogue/catalogue_error.h"

#include <QString>

namespace Kv402 {

enum class Language { English, Italian };

// A text in both interface languages. Some texts exist in Italian only and read the same in both.
struct Bilingual
{
    const char *italian;
    const char *english;

    QString in(Language language) const
    {
        return QString::fromUtf8(language == Language::Italian ? italian : english);
    }
};

// Every fixed text of the program, in one place. The spelling is the program's own.
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
    return QStringLiteral("KV402 Master Software Rev. 1.1");
}

// Label6 shows this while the interface is Italian; it is the language flag.
inline QString italianLanguageCaption()
{
    return QStringLiteral("Lingua");
}

inline constexpr Bilingual VersionNotAvailable{"Versione non disponibile", "Version not available"};
inline constexpr Bilingual NothingSelected{"Non è stato selezionato alcun elemento",
                                           "It has't been selected any element"};
// The catalogue failures that are worded in the interface language; the others are shown as the
// catalogue words them. %1 the catalogue, %2 the journal of the unfinished change.
inline constexpr Bilingual
    CatalogueDamaged{"Il catalogo \"%1\" è danneggiato e non può essere letto.",
                     CatalogueTexts::Damaged};
inline constexpr Bilingual CatalogueUnfinishedChange{
    "Il catalogo \"%1\" ha accanto una modifica non terminata (%2): non è stato chiuso "
    "correttamente; ripristinarlo dalla sua origine.",
    CatalogueTexts::UnfinishedChange};
inline constexpr Bilingual
    CheckCable{"Prima di iniziare controllare che il cavo sia collegato correttamente!",
               "Before loading please test that the cable is connected!"};
inline constexpr Bilingual WrongChecksum{"Checksum errato nel file dati",
                                         "Checksum errato nel file dati"};
inline constexpr Bilingual CableNotConnected{"Cavo non collegato! Ricollegare e premere OK!",
                                             "Cable not connected! Reconnect and click OK!"};
inline constexpr Bilingual PortOutOfOrder{"Porta seriale malfunzionante",
                                          "The Communication Port is out of order"};
inline constexpr Bilingual FlashWriteError{"Errore su scrittura flash", "Errore su scrittura flash"};
inline constexpr Bilingual LoadCompleted{"Caricamento completato con successo!",
                                         "Chargment successfully completed!"};
inline constexpr Bilingual RepeatLoad{"Ripetere un caricamento con lo stesso file di dati?",
                                      "Repeat an other chargment with the same file?"};

// The program's own answers to what a load run can meet besides the messages above.
inline constexpr Bilingual
    WrongChecksumQuestion{"Il file dati contiene %1 record con checksum errato. Caricare comunque?",
                          "The data file has %1 records with a wrong checksum. Load it anyway?"};
inline constexpr Bilingual TerminalNotAnswering{"Il terminale non risponde",
                                                "The terminal does not answer"};
inline constexpr Bilingual LoadStopped{"Caricamento interrotto", "Load stopped"};
inline constexpr Bilingual StopAndExit{"Un caricamento è in corso. Interromperlo e uscire?",
                                       "A load is in progress. Stop it and exit?"};
inline constexpr Bilingual StopCaption{"Ferma", "Stop"};
inline constexpr Bilingual NoPortSelected{
    "Nessuna porta seriale selezionata. Collegare il terminale e scegliere di nuovo la "
    "versione firmware per cercare le porte.",
    "No serial port is selected. Connect the terminal and choose the firmware revision again "
    "to look for ports."};
// %1 the port name, %2 the reason the system gave.
inline constexpr Bilingual PortOpenFailed{"Impossibile aprire la porta seriale %1: %2",
                                          "Cannot open the serial port %1: %2"};
// %1 the data file, %2 what is wrong, with its line.
inline constexpr Bilingual DataFileUnusable{"Il file dati %1 non può essere caricato: %2",
                                            "The data file %1 cannot be loaded: %2"};
// What is wrong with a data file, for DataFileUnusable. %1 the line, %2 the column.
inline constexpr Bilingual DataFileMissing{"il file non esiste", "the file does not exist"};
// %1 the system's reason.
inline constexpr Bilingual DataFileUnreadable{"il file non può essere letto (%1)",
                                              "the file cannot be read (%1)"};
inline constexpr Bilingual DataFileNotHexDigit{"riga %1, colonna %2: carattere non esadecimale",
                                               "line %1, column %2: not a hex digit"};
inline constexpr Bilingual
    DataFileLineTooShort{"riga %1: la riga è più corta di quanto indica il conteggio del record",
                         "line %1: the line is shorter than its record's count says"};
inline constexpr Bilingual DataFileCountBelowFour{"riga %1: il conteggio del record è minore di 4",
                                                  "line %1: the record's count is below 4"};
inline constexpr Bilingual
    DataFileBeyondMemory{"riga %1: dati oltre la memoria del terminale (indirizzo oltre 3FFFFF)",
                         "line %1: data beyond the terminal's memory (address above 3FFFFF)"};
// %1 the port name, %2 the reason the system gave.
inline constexpr Bilingual PortStoppedWorking{"La porta seriale %1 non funziona più: %2",
                                              "The serial port %1 stopped working: %2"};
inline constexpr Bilingual NoDataToLoad{"Il file dati %1 non contiene dati da caricare",
                                        "The data file %1 holds no data to load"};

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
    return QStringLiteral("Rev. 1.1");
}

// The maker's details in the About window. Put the maker's own company line, postal address (one
// line) and telephone number here; nothing else needs to change.
inline QString makerCompany()
{
    return QStringLiteral("Velmar");
}

inline QString makerAddress()
{
    return QStringLiteral("Company address");
}

inline QString makerTelephone()
{
    return QStringLiteral("Telephone");
}

// The help window's buttons.
inline constexpr Bilingual HelpBack{"Indietro", "Back"};
inline constexpr Bilingual HelpForward{"Avanti", "Forward"};
inline constexpr Bilingual HelpContents{"Sommario", "Contents"};

} // namespace Texts

} // namespace Kv402
