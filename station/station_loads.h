#pragma once

#include "link/srecord_image.h"
#include "load/load_record.h"
#include "load/load_run.h"
#include "load/load_session.h"
#include "station/tile.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

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
    std::shared_ptr<const DataFileReading> reading;
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

    // The choice for every tile. Refused (false) while a load runs; waiting ports wait on with
    // the new one.
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

Q_SIGNALS:
    void tileChanged(const QString &port);
    void totalsChanged();
    // Every session has ended, after stopAll() or disarming the last loading port.
    void allFinished();

private:
    struct Port;
    // ...
    SerialPortFactory &m_ports;
    const LoadRecord m_record;
    const QString m_program;
    const LinkLimits m_limits;
    std::optional<StationChoice> m_choice;
    std::vector<std::unique_ptr<Port>> m_portList;
};

} // namespace Kv402
