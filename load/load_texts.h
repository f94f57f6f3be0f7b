#pragma once

#include "language/bilingual.h"
#include "load/load_prompts.h"

#include <QString>
#include <QStringList>

// The words of a load's messages, in both languages: the window shows them in its interface
// language, the command line in English. Each text is here once.
namespace Kv402 {

// The load messages, one for each LoadMessage::Kind.
namespace LoadTexts {
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
inline constexpr Bilingual TerminalNotAnswering{"Il terminale non risponde",
                                                "The terminal does not answer"};
inline constexpr Bilingual NoPortSelected{
    "Nessuna porta seriale selezionata. Collegare il terminale e scegliere di nuovo la "
    "versione firmware per cercare le porte.",
    "No serial port is selected. Connect the terminal and choose the firmware revision again "
    "to look for ports."};
// Send with no port listed while some ports exist that this user may not open. %1 the ports.
inline constexpr Bilingual PortsDenied{
    "Nessuna porta seriale selezionata. Queste porte esistono, ma questo utente non ha il "
    "permesso di usarle: %1.",
    "No serial port is selected. These ports exist, but this user may not use them: %1."};
// %1 the data file, %2 what is wrong, with its line (DataFileTexts).
inline constexpr Bilingual DataFileUnusable{"Il file dati %1 non può essere caricato: %2",
                                            "The data file %1 cannot be loaded: %2"};
inline constexpr Bilingual NoDataToLoad{"Il file dati %1 non contiene dati da caricare",
                                        "The data file %1 holds no data to load"};
// %1 the port name, %2 the reason the system gave.
inline constexpr Bilingual PortStoppedWorking{"La porta seriale %1 non funziona più: %2",
                                              "The serial port %1 stopped working: %2"};
// The reason when the port gave none: its output queue stopped taking bytes.
inline constexpr Bilingual PortTakesNoMoreBytes{"la porta non accetta altri byte",
                                                "the port takes no more bytes"};
} // namespace LoadTexts

// What is wrong with a data file, one for each DataFileProblem. %1 the line, %2 the column.
namespace DataFileTexts {
inline constexpr Bilingual Missing{"il file non esiste", "the file does not exist"};
// %1 the system's reason.
inline constexpr Bilingual Unreadable{"il file non può essere letto (%1)",
                                      "the file cannot be read (%1)"};
inline constexpr Bilingual NotHexDigit{"riga %1, colonna %2: carattere non esadecimale",
                                       "line %1, column %2: not a hex digit"};
inline constexpr Bilingual
    LineTooShort{"riga %1: la riga è più corta di quanto indica il conteggio del record",
                 "line %1: the line is shorter than its record's count says"};
inline constexpr Bilingual CountBelowFour{"riga %1: il conteggio del record è minore di 4",
                                          "line %1: the record's count is below 4"};
inline constexpr Bilingual
    BeyondMemory{"riga %1: dati oltre la memoria del terminale (indirizzo oltre 3FFFFF)",
                 "line %1: data beyond the terminal's memory (address above 3FFFFF)"};
inline constexpr Bilingual
    NotAsReleased{"il file non è quello rilasciato nel pacchetto firmato: è stato modificato",
                  "the file is not the one the signed bundle released: it was changed"};
} // namespace DataFileTexts

// Why a port did not open, one for each PortOpenFailure::Kind.
namespace PortTexts {
// %1 the port name, %2 why (one of the reasons below).
inline constexpr Bilingual OpenFailed{"Impossibile aprire la porta seriale %1: %2",
                                      "Cannot open the serial port %1: %2"};
// %1 the device, %2 the system's own words.
inline constexpr Bilingual Missing{"il dispositivo %1 non esiste (%2)",
                                   "the device %1 does not exist (%2)"};
inline constexpr Bilingual AccessDenied{"questo utente non ha il permesso di usare %1 (%2)",
                                        "this user may not use %1 (%2)"};
inline constexpr Bilingual InUse{"un altro programma sta usando %1 (%2)",
                                 "another program is using %1 (%2)"};
inline constexpr Bilingual SystemReason{"errore di sistema su %1 (%2)", "system error on %1 (%2)"};
// Follows AccessDenied, LoadTexts::PortsDenied, and the port list when it shows such ports.
inline constexpr Bilingual DialoutHint{
    "Per usare le porte seriali l'utente deve far parte del gruppo dialout (sudo adduser $USER "
    "dialout, poi accedere di nuovo).",
    "The user must be a member of the group dialout to use serial ports (sudo adduser $USER "
    "dialout, then log in again)."};
// %1 the port name. The whole message: the link cannot work without the two lines.
inline constexpr Bilingual WithoutModemLines{
    "%1 non ha le linee RTS/CTS: il terminale richiede un cavo e un adattatore che le portino",
    "%1 has no RTS/CTS lines: the terminal needs a cable and adapter that carry them"};
} // namespace PortTexts

// What is wrong with a data file: problem with its line and column, reason the system's for a
// file that cannot be read.
QString dataFileProblemText(
    DataFileProblem problem, qint64 line, int column, const QString &reason, Language language);

// Why the port could not be opened (one of PortTexts' reasons), for a text that names the port
// itself; without modem lines, the whole message.
QString portOpenFailureReason(const QString &port,
                              const PortOpenFailure &failure,
                              Language language);
// The port could not be opened, and why.
QString portOpenFailureText(const QString &port, const PortOpenFailure &failure, Language language);

// A load's message. deniedPorts are the ports that exist but that this user may not open, which
// a load without a port names.
QString loadMessageText(const LoadMessage &message,
                        Language language,
                        const QStringList &deniedPorts = {});

} // namespace Kv402
