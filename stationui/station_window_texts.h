#pragma once

#include "language/bilingual.h"
#include "ports/port_identity.h"

#include <QString>

namespace Kv402 {

// The station window's own texts, in both languages. A tile's state and time words are the
// station's (station/station_texts.h); the load's and the catalogue's messages have theirs where
// they arise.
namespace StationWindowTexts {

inline QString programName()
{
    return QStringLiteral("kv402station");
}

inline constexpr Bilingual WindowTitle{"Velmar - Stazione di caricamento KV402",
                                       "Velmar - KV402 load station"};

// The menus.
inline constexpr Bilingual FileMenu{"&File", "&File"};
inline constexpr Bilingual ExitAction{"&Esci", "E&xit"};
inline constexpr Bilingual LanguageMenu{"&Lingua", "&Language"};
inline constexpr Bilingual EnglishAction{"English", "English"};
inline constexpr Bilingual ItalianAction{"Italiano", "Italian"};
inline constexpr Bilingual SupervisorMenu{"&Supervisore", "&Supervisor"};
inline constexpr Bilingual LockAction{"&Blocca la stazione", "&Lock the station"};
inline constexpr Bilingual UnlockAction{"&Sblocca la stazione...", "&Unlock the station..."};
inline constexpr Bilingual ChangePinAction{"&Cambia il PIN...", "&Change the PIN..."};
inline constexpr Bilingual HelpMenu{"&Aiuto", "&Help"};
inline constexpr Bilingual HelpAction{"&Guida della stazione", "Station &help"};
inline constexpr Bilingual AboutAction{"&Informazioni su KV402 Master", "&About KV402 Master"};

// The choice, once for every tile.
inline constexpr Bilingual ChoiceGroup{"Cosa caricare", "What to load"};
inline constexpr Bilingual RevisionLabel{"Revisione firmware", "Firmware revision"};
inline constexpr Bilingual VersionLabel{"Versione", "Version"};
inline constexpr Bilingual LanguageLabel{"Lingua", "Language"};
inline constexpr Bilingual UseCatalogueChoice{"Carica questa versione", "Load this version"};
inline constexpr Bilingual ChooseDataFile{"Scegli un file dati...", "Choose a data file..."};
inline constexpr Bilingual DataFileDialogTitle{"File dati da caricare", "Data file to load"};
inline constexpr Bilingual DataFileFilter{"File dati (*.S28 *.s28 *.S2 *.mot *.srec);;Tutti i "
                                          "file (*)",
                                          "Data files (*.S28 *.s28 *.S2 *.mot *.srec);;All files "
                                          "(*)"};
inline constexpr Bilingual NothingChosen{"Nessun file dati scelto: scegliere una versione dal "
                                         "catalogo o un file dati.",
                                         "No data file chosen: choose a version from the catalogue "
                                         "or a data file."};
// %1 the data file, %2 its blocks, %3 the start of its SHA-256.
inline constexpr Bilingual ChosenFile{"%1 — %2 blocchi — SHA-256 %3…",
                                      "%1 — %2 blocks — SHA-256 %3…"};
// %1 revision, %2 version, %3 language.
inline constexpr Bilingual ChosenVersion{"Revisione %1, versione %2, %3",
                                         "Revision %1, version %2, %3"};
inline constexpr Bilingual ChosenDirectly{"File dati scelto direttamente",
                                          "Data file chosen directly"};
// %1 the catalogue's failure.
inline constexpr Bilingual NoCatalogue{"Catalogo non disponibile (%1): si può scegliere un file "
                                       "dati.",
                                       "No catalogue (%1): a data file can be chosen."};
inline constexpr Bilingual
    ChoiceWhileLoading{"La scelta non può cambiare mentre un caricamento è in corso.",
                       "The choice cannot change while a load is running."};

// The ports.
inline constexpr Bilingual PortsGroup{"Porte", "Ports"};
inline constexpr Bilingual PortColumn{"Porta", "Port"};
inline constexpr Bilingual AdapterColumn{"Adattatore", "Adapter"};
inline constexpr Bilingual PortStateColumn{"Stato", "State"};
inline constexpr Bilingual ArmPort{"Arma", "Arm"};
inline constexpr Bilingual PortArmed{"Armata", "Armed"};
inline constexpr Bilingual RefreshPorts{"Aggiorna", "Refresh"};
inline constexpr Bilingual StopAll{"Ferma tutto", "Stop all"};
inline constexpr Bilingual ArmNeedsChoice{"Prima di armare una porta scegliere cosa caricare.",
                                          "Choose what to load before arming a port."};

// Whether a port could be opened now, as `kv402 ports` tells it.
inline constexpr Bilingual PortFree{"libera", "free"};
inline constexpr Bilingual PortInUse{"in uso da un altro programma", "in use by another program"};
inline constexpr Bilingual PortNoPermission{"nessun permesso (gruppo dialout)",
                                            "no permission (group dialout)"};
inline constexpr Bilingual PortMissing{"assente", "missing"};
inline constexpr Bilingual PortCannotOpen{"non può essere aperta", "cannot be opened"};

inline Bilingual portState(PortState state)
{
    switch (state) {
    case PortState::Free:
        return PortFree;
    case PortState::InUse:
        return PortInUse;
    case PortState::NoPermission:
        return PortNoPermission;
    case PortState::Missing:
        return PortMissing;
    case PortState::Other:
        break;
    }
    return PortCannotOpen;
}

// A tile.
// %1 blocks done, %2 of N.
inline constexpr Bilingual BlocksDone{"%1 di %2 blocchi", "%1 of %2 blocks"};
inline constexpr Bilingual Errors{"Errori: %1", "Errors: %1"};
// %1 passed, %2 failed.
inline constexpr Bilingual TileCounts{"Riusciti %1, falliti %2", "Passed %1, failed %2"};
inline constexpr Bilingual UnitSerial{"Numero di serie:", "Unit serial:"};
inline constexpr Bilingual UnitSerialHint{"Leggere o scrivere, poi Invio",
                                          "Scan or type, then Enter"};
inline constexpr Bilingual StopTile{"Ferma", "Stop"};
inline constexpr Bilingual ArmTile{"Arma", "Arm"};

// The footer. %1 passed, %2 failed, %3 stopped, %4 terminals per hour.
inline constexpr Bilingual Totals{"Riusciti: %1    Falliti: %2    Interrotti: %3    "
                                  "Terminali all'ora: %4",
                                  "Passed: %1    Failed: %2    Stopped: %3    Terminals per hour: "
                                  "%4"};
inline constexpr Bilingual Locked{"Stazione bloccata: solo terminali, numeri di serie e Ferma",
                                  "Station locked: terminals, unit serials and Stop only"};

// The operator lock.
inline constexpr Bilingual NewPinPrompt{"Nuovo PIN del supervisore (almeno 4 caratteri):",
                                        "New supervisor PIN (at least 4 characters):"};
inline constexpr Bilingual RepeatPinPrompt{"Ripetere il nuovo PIN:", "Repeat the new PIN:"};
inline constexpr Bilingual UnlockPinPrompt{"PIN del supervisore:", "Supervisor PIN:"};
inline constexpr Bilingual PinTooShort{"Il PIN deve avere almeno 4 caratteri.",
                                       "The PIN must have at least 4 characters."};
inline constexpr Bilingual PinsDiffer{"I due PIN sono diversi: il PIN non è cambiato.",
                                      "The two PINs differ: the PIN has not changed."};
inline constexpr Bilingual WrongPin{"PIN errato: la stazione resta bloccata.",
                                    "Wrong PIN: the station stays locked."};
inline constexpr Bilingual PinNotSaved{"Il PIN non può essere salvato (%1): la stazione non è "
                                       "bloccata.",
                                       "The PIN cannot be saved (%1): the station is not locked."};

// Closing.
inline constexpr Bilingual StopAllAndExit{"Dei caricamenti sono in corso. Interromperli e uscire?",
                                          "Loads are running. Stop them and exit?"};

// The help window.
inline constexpr Bilingual HelpTitle{"Guida della stazione di caricamento", "Load station help"};
inline constexpr Bilingual HelpText{
    "<h2>La stazione di caricamento</h2>"
    "<p>La stazione carica lo stesso software in molti terminali alla volta, uno per porta "
    "seriale.</p>"
    "<h3>Cosa caricare</h3>"
    "<p>Scegliere revisione firmware, versione e lingua dal catalogo <i>Versioni.mdb</i> della "
    "cartella di lavoro e premere <b>Carica questa versione</b>, oppure <b>Scegli un file "
    "dati</b>. La stazione mostra il file, i suoi blocchi e l'inizio del suo SHA-256. Un file con "
    "checksum errati viene chiesto una volta sola, ora.</p>"
    "<h3>Porte e riquadri</h3>"
    "<p><b>Arma</b> una porta: compare il suo riquadro. Un terminale collegato (CTS alto) viene "
    "caricato subito; una porta senza terminale aspetta. Il risultato resta sul riquadro finché "
    "il terminale non viene staccato. Lo stato è scritto in parole e a colori.</p>"
    "<h3>Numeri di serie</h3>"
    "<p>Leggere il numero di serie del terminale con il lettore di codici a barre nel campo del "
    "riquadro (o scriverlo e premere Invio): entra nella registrazione del caricamento. Lo stesso "
    "numero due volte viene rifiutato.</p>"
    "<h3>Modo operatore bloccato</h3>"
    "<p>Dal menu <b>Supervisore</b> si blocca la stazione con un PIN: la scelta e le porte non "
    "cambiano più; l'operatore collega terminali, legge numeri di serie e ferma i caricamenti. "
    "Per sbloccare serve il PIN.</p>"
    "<h3>Chiudere</h3>"
    "<p>Chiudendo con caricamenti in corso la stazione chiede prima. Ogni caricamento è "
    "registrato in <i>loads.jsonl</i>; <tt>kv402 record</tt> lo mostra.</p>",
    "<h2>The load station</h2>"
    "<p>The station loads the same software into many terminals at once, one a serial port.</p>"
    "<h3>What to load</h3>"
    "<p>Choose the firmware revision, version and language from the catalogue <i>Versioni.mdb</i> "
    "in the working folder and press <b>Load this version</b>, or <b>Choose a data file</b>. The "
    "station shows the file, its blocks and the start of its SHA-256. A file with wrong checksums "
    "is asked about once, now.</p>"
    "<h3>Ports and tiles</h3>"
    "<p><b>Arm</b> a port and its tile appears. A terminal plugged in (CTS high) is loaded at "
    "once; a port without a terminal waits. The result stays on the tile until the terminal is "
    "unplugged. The state is told in words and in colour.</p>"
    "<h3>Unit serials</h3>"
    "<p>Scan the terminal's serial number with the barcode scanner into the tile's field (or type "
    "it and press Enter): it goes into the load's record. The same number twice is refused.</p>"
    "<h3>Locked operator mode</h3>"
    "<p>From the <b>Supervisor</b> menu the station is locked with a PIN: the choice and the ports "
    "stay as they are; the operator plugs terminals in, scans serials and stops loads. Unlocking "
    "needs the PIN.</p>"
    "<h3>Closing</h3>"
    "<p>Closing with loads running asks first. Every load is recorded in <i>loads.jsonl</i>; "
    "<tt>kv402 record</tt> shows it.</p>"};

} // namespace StationWindowTexts

} // namespace Kv402
