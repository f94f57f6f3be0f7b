#pragma once

#include "language/bilingual.h"
#include "load/load_run.h"
#include "load/load_session.h"
#include "ports/serial_port.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace Kv402 {

// What a station tile shows of its port: the state in words and colour, the progress of the
// load, and the port's counts for the session. Made from a session's events alone, so that the
// window only draws it.
struct TileView
{
    enum class State {
        // The port is not armed: nothing runs on it.
        Disarmed,
        // Armed, no terminal on the cable (CTS low): a terminal that comes is loaded at once.
        WaitingForTerminal,
        Loading,
        // The last load completed; the result stays until the terminal goes.
        Completed,
        // The failures, each with its reason; the result stays until the terminal goes, or, for
        // the port's own failures, until the port is armed again.
        FlashWriteError,
        TerminalNotAnswering,
        PortFailure,
        PortError,
        PortNotOpened,
        NoModemLines,
        Stopped,
    };

    // How the state is coloured; the words always say it too.
    enum class Tone { Idle, Busy, Good, Bad };

    State state = State::Disarmed;
    // Whether the port is armed: a disarmed port keeps showing its last result.
    bool armed = false;
    // The port's name ("COM3") and what stands behind it (the adapter, its serial number).
    QString port;
    QString adapter;
    int blocksDone = 0;
    int blockCount = 0;
    int errors = 0;
    // The load in progress: when it started, and the time it still needs (nothing until it can
    // be told).
    QDateTime started;
    std::optional<qint64> secondsLeft;
    // The last load's time, from its start to its end.
    std::optional<qint64> seconds;
    // The system's reason, where there is one: the port error, why the port did not open.
    QString reason;
    // Why the port did not open, for the words of PortNotOpened and NoModemLines.
    PortOpenFailure openFailure;
    // The unit serial the next (or the current) load is recorded with; empty for none.
    QString unitSerial;
    // A message of the tile's own: a serial refused, a record that could not be written.
    QString notice;
    // Loads on this port in this session.
    int passed = 0;
    int failed = 0;

    bool busy() const { return state == State::Loading; }
    Tone tone() const;
    // The state in words: "Loading", "Completed in 1:04", "Port cannot be opened: ...".
    QString stateText(Language language) const;
    // The time the load still needs in words ("3:05 left"); empty when it cannot be told.
    QString timeLeftText(Language language) const;
};

// Makes a tile's view from its session's events, in the order the session gives them.
class TileModel
{
public:
    TileModel(QString port, QString adapter);

    const TileView &view() const { return m_view; }

    void armed();
    void disarmed();
    // The session waits for the terminal on the cable to go (the result stays) or for one to
    // come.
    void waiting(TerminalWait wait);
    // blockCount: N of the image the run sends, where the caller knows it; the time left is told
    // from the start.
    void runStarting(const QDateTime &now, int blockCount = 0);
    void linkEvent(const LinkEvent &event, const QDateTime &now);
    // A run ended: counts it as passed or failed (a stopped run is neither).
    void runFinished(const LoadRun &run);
    // The session ended without a run that reached the port: the file refused, say.
    void sessionFinished(LoadOutcome outcome);
    void setUnitSerial(const QString &serial);
    void setNotice(const QString &notice);

private:
    void clearLoad();
    void estimateTimeLeft(const QDateTime &now);
    void showOutcome(LinkOutcome outcome);

    TileView m_view;
    bool m_headerAccepted = false;
};

} // namespace Kv402
