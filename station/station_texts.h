#pragma once

#include "language/bilingual.h"
#include "load/load_texts.h"

#include <QString>

// The words of a station's tiles, in both languages. Where a load's message already says it, the
// tile uses that message's words (load/load_texts.h). Each text is here once.
namespace Kv402 {

namespace StationTexts {
// The tile states: every state has words, the colour only repeats them.
inline constexpr Bilingual NotArmed{"Non armata", "Not armed"};
inline constexpr Bilingual WaitingForTerminal{"In attesa di un terminale", "Waiting for a terminal"};
inline constexpr Bilingual Loading{"Caricamento in corso", "Loading"};
// %1 the load's time, m:ss.
inline constexpr Bilingual CompletedIn{"Completato in %1", "Completed in %1"};
// The load message says it in Italian alone; a tile says it in the window's language.
inline constexpr Bilingual FlashWriteError{LoadTexts::FlashWriteError.italian, "Flash write error"};
inline constexpr Bilingual PortFailure{LoadTexts::PortOutOfOrder.italian, "Port failure"};
// %1 the port's reason (LoadTexts::PortTakesNoMoreBytes when it gave none).
inline constexpr Bilingual PortError{"Errore della porta: %1", "Port error: %1"};
// %1 why (portOpenFailureReason).
inline constexpr Bilingual PortNotOpened{"Impossibile aprire la porta: %1",
                                         "Port cannot be opened: %1"};
inline constexpr Bilingual NoModemLines{"Nessuna linea RTS/CTS", "No RTS/CTS lines"};
inline constexpr Bilingual Stopped{"Interrotto", "Stopped"};

// The time a load still needs. %1 m:ss.
inline constexpr Bilingual TimeLeft{"%1 rimanenti", "%1 left"};

// A tile's notices. %1 the serial, %2 the port whose tile holds it.
inline constexpr Bilingual SerialOnOtherPort{"Il numero di serie %1 è già su %2",
                                             "Serial %1 is already on %2"};
inline constexpr Bilingual
    SerialAlreadyLoaded{"Il numero di serie %1 è già stato caricato in questa sessione",
                        "Serial %1 was already loaded in this session"};
// %1 the record file, %2 why.
inline constexpr Bilingual
    RecordNotWritten{"Impossibile scrivere il caricamento nel registro %1: %2",
                     "The load could not be written to the record %1: %2"};
} // namespace StationTexts

// A duration as a tile shows it: minutes and seconds, "1:04", "23:00".
QString durationText(qint64 seconds);

} // namespace Kv402
