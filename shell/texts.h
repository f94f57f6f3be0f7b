#pragma once

#include "catalogue/catalogue_choices.h"
#include "catalogue/catalogue_error.h"
#include "kv402_version.h"
#include "language/bilingual.h"

#include <QString>

namespace Kv402 {

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
    "Il programma cerca il catalogo nella cartella da cui è stato avviato (%1); per preparare una "
    "cartella di lavoro vedere \"man kv402master\" oppure, nel README, la sezione \"Installing, "
    "and the technician's working folder\".",
    "The program looks for the catalogue in the folder it was started in (%1); to set up a "
    "working folder, see \"man kv402master\" or the README's section \"Installing, and the "
    "technician's working folder\"."};

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
// %1 the number of records, %2 the lines of the first ones.
inline constexpr Bilingual WrongChecksumQuestion{
    "Il file dati contiene %1 record con checksum errato (righe %2). Caricare comunque?",
    "The data file has %1 records with a wrong checksum (lines %2). Load it anyway?"};
// Ends the list of lines when there are more than it shows.
inline constexpr Bilingual MoreLines{"e altre", "and more"};
// Send with a version and language that have no catalogue row: there is no data file to load.
inline constexpr Bilingual VersionNotInLanguage = ChoiceTexts::VersionNotInLanguage;
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
// %1 the port name, %2 why (one of the reasons below).
inline constexpr Bilingual PortOpenFailed{"Impossibile aprire la porta seriale %1: %2",
                                          "Cannot open the serial port %1: %2"};
// Why a port did not open. %1 the device, %2 the system's own words.
inline constexpr Bilingual PortMissing{"il dispositivo %1 non esiste (%2)",
                                       "the device %1 does not exist (%2)"};
inline constexpr Bilingual PortAccessDenied{"questo utente non ha il permesso di usare %1 (%2)",
                                            "this user may not use %1 (%2)"};
inline constexpr Bilingual PortInUse{"un altro programma sta usando %1 (%2)",
                                     "another program is using %1 (%2)"};
inline constexpr Bilingual PortSystemReason{"errore di sistema su %1 (%2)",
                                            "system error on %1 (%2)"};
// Follows PortAccessDenied, and NoPortSelected when only such ports were found.
inline constexpr Bilingual DialoutHint{
    "Per usare le porte seriali l'utente deve far parte del gruppo dialout (sudo adduser $USER "
    "dialout, poi accedere di nuovo).",
    "The user must be a member of the group dialout to use serial ports (sudo adduser $USER "
    "dialout, then log in again)."};
// %1 the port name. The whole message: the link cannot work without the two lines.
inline constexpr Bilingual PortWithoutModemLines{
    "%1 non ha le linee RTS/CTS: il terminale richiede un cavo e un adattatore che le portino",
    "%1 has no RTS/CTS lines: the terminal needs a cable and adapter that carry them"};
// Send with no port listed while some ports exist that this user may not open. %1 the ports.
inline constexpr Bilingual PortsDenied{
    "Nessuna porta seriale selezionata. Queste porte esistono, ma questo utente non ha il "
    "permesso di usarle: %1.",
    "No serial port is selected. These ports exist, but this user may not use them: %1."};
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
// The reason when the port gave none: its output queue stopped taking bytes.
inline constexpr Bilingual PortTakesNoMoreBytes{"la porta non accetta altri byte",
                                                "the port takes no more bytes"};
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
