#pragma once

#include "link/srecord_image.h"
#include "load/load_record.h"
#include "load/load_run.h"
#include "load/load_session.h"
#include "recordpush/record_pusher.h"
#include "station/tile.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace Kv402 {

// The session totals of a station, as its footer shows them.
struct StationTotals
{
    int passed = 0;
    int failed = 0;
    int stopped = 0;
    // Passed loads per hour since the first load of the session started; nothing before.
    std::optional<double> terminalsPerHour;
};

// What a station loads, the same on every port: the catalogue's choice (or a data file chosen
// directly), and the data file as read and accepted when the choice was made.
struct StationChoice
{
    LoadChoice choice;
    // The data file the reading was made from, as the record names it (a name without a folder
    // is in the current folder).
    QString dataFile;
    std::shared_ptr<const DataFileReading> reading;
    // The signed bundle of the working folder, which every load's record names; empty without
    // one. The station's window verifies the folder (checkWorkingFolder, bundle/bundle_check.h)
    // before it opens the catalogue, and the data file (checkBundleFile) before it makes the
    // choice.
    BundleOrigin bundle = {};
    // The SHA-256 the bundle's manifest gives the data file (releasedSha256()): every load reads
    // those bytes or sends nothing. Empty without a bundle.
    QString releasedSha256 = {};
};

// The loads of a station: one load session a port, armed ports loading every terminal that is
// plugged in, each load recorded with the program that made it and the unit serial, and the
// tiles and totals made from the sessions' events. Nothing asks: the choice was accepted before
// (wrong checksums included), a missing terminal is waited for, and every outcome stays on its
// tile until the terminal goes. Lives in the window's thread; the sessions run on their own.
class StationLoads : public QObject
{
    Q_OBJECT

public:
    // program: the name the record gives of the program that made the loads ("kv402station").
    StationLoads(SerialPortFactory &ports,
                 LoadRecord record,
                 QString program,
                 LinkLimits limits = {},
                 QObject *parent = nullptr);
    // Stops every load and waits for them; each is recorded.
    ~StationLoads() override;

    // The choice for every tile. Refused (false) while a load runs, and for a reading that has
    // nothing to load or no data file; waiting ports wait on with the new one.
    bool setChoice(StationChoice choice);
    const std::optional<StationChoice> &choice() const { return m_choice; }

    // The ports as tiles, in the order they were added. Adding a port again changes nothing.
    void addPort(const PortAddress &port, const QString &adapter);
    QList<PortAddress> ports() const;
    const TileView &tile(const QString &port) const;

    // Arming waits for a terminal on the port and loads it (needs a choice). Disarming stops a
    // load running there.
    bool arm(const QString &port);
    void disarm(const QString &port);
    bool armed(const QString &port) const;
    // Stops every load; the ports stay armed no longer.
    void stopAll();
    bool loading() const;

    // The unit serial for the port's next load, or the load running there. A serial another
    // tile holds, or one that a completed load of this session was recorded with, is refused,
    // the tile's notice saying why; an empty serial clears it. A failed unit may be loaded again
    // with its serial.
    bool setUnitSerial(const QString &port, const QString &serial);

    StationTotals totals() const;
    // The totals as they stand at that moment.
    StationTotals totals(const QDateTime &now) const;

    // The language of the tiles' notices (English until set); notices shown are worded anew.
    void setLanguage(Language language);

Q_SIGNALS:
    void tileChanged(const QString &port);
    void totalsChanged();
    // Every session has ended, after stopAll() or disarming the last loading port.
    void allFinished();

private:
    struct Port;
    // What a tile's notice is about: an accepted serial clears only a refused one.
    enum class Notice { None, Serial, Record, Refusal };

    Port *find(const QString &port) const;
    void start(Port &port, TerminalWait wait);
    void runFinished(Port &port, const LoadRun &run);
    void sessionFinished(Port &port, LoadOutcome outcome);
    void disarmPort(Port &port);
    void setNotice(Port &port, Notice kind, std::function<QString(Language)> words);
    void endWhenAllFinished();

    SerialPortFactory &m_ports;
    const LoadRecord m_record;
    const QString m_program;
    // Pushes the record after each load when the system's settings name a server.
    RecordPusher m_recordPusher;
    const LinkLimits m_limits;
    std::optional<StationChoice> m_choice;
    std::vector<std::unique_ptr<Port>> m_portList;
    // Sessions that have ended, deleted once their last signal has returned.
    std::vector<std::unique_ptr<LoadSession>> m_retired;
    Language m_language = Language::English;
    int m_passed = 0;
    int m_failed = 0;
    int m_stopped = 0;
    QDateTime m_firstStarted;
    // The serials recorded with a completed load in this session.
    std::set<QString> m_loadedSerials;
    // A stop was asked for: allFinished follows once no session runs.
    bool m_stopping = false;
    // The destructor runs: no session starts any more.
    bool m_closing = false;
};

} // namespace Kv402
