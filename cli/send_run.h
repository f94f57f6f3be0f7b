#pragma once

#include "cli/send_options.h"
#include "cli/send_output.h"

#include "link/srecord_image.h"
#include "load/load_record.h"
#include "load/load_session.h"
#include "recordpush/record_pusher.h"
#include "simulator/simulated_terminal.h"

#include <QObject>

#include <memory>
#include <vector>

namespace Kv402::Tool {

class PortLoad;

// The loads of kv402 send: one load session a port, all at once, their questions answered by the
// options, every load recorded and told to the output. SIGINT, SIGTERM and SIGHUP stop every
// load; each is recorded all the same and the summary follows.
class SendRun : public QObject
{
public:
    // reading: the data file as the check read it, which the first load of every port sends.
    SendRun(const SendOptions &options,
            std::shared_ptr<const DataFileReading> reading,
            SendOutput &output);
    ~SendRun() override;

    // Runs every load to its end; returns the exit status: Success when every port completed its
    // last load, NothingSent when no port could use the data file, SignalBase plus the signal's
    // number after a signal, otherwise Failure.
    int exec();

private:
    void start(int port);
    void runFinished(int port, const LoadRun &run);
    void sessionFinished(int port, LoadOutcome outcome);
    // One load, one result: in the output and in the record.
    void finishLoad(int port, const LoadResult &result, const LoadRun &run);
    void watchSignals();
    void endWhenAllFinished();
    int exitStatus() const;
    // Why a load was stopped, when a signal stopped it.
    QString stoppedBy() const;

    const SendOptions &m_options;
    const std::shared_ptr<const DataFileReading> m_reading;
    SendOutput &m_output;
    const LoadRecord m_record;
    // Pushes the record after each load when the system's settings name a server.
    RecordPusher m_pusher;
    SimulatedPorts m_ports;
    std::vector<std::unique_ptr<PortLoad>> m_loads;
    std::vector<QList<LoadResult>> m_results;
    int m_signal = 0;
};

} // namespace Kv402::Tool
