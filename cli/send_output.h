#pragma once

#include "cli/send_options.h"

#include "link/link_event.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace Kv402::Tool {

// How one load on one port ended.
struct LoadResult
{
    // Nothing when the data file could not be used by the time the load's run read it: nothing
    // was sent on the port.
    std::optional<LinkOutcome> outcome;
    // Why the load did not complete, in English; empty when there is nothing to say.
    QString reason;
    int blocks = 0;
    int of = 0;
    int errors = 0;
    double seconds = 0;

    bool completed() const { return outcome == LinkOutcome::Completed; }
    // The outcome as the output and the record name it.
    QString outcomeName() const;
};

// What kv402 send tells on its standard output while its loads go on: plain lines, a line a
// port redrawn in place on a terminal, or one JSON object a line for every event; the summary
// last. Ports are told by their place in the send's targets. Once the reader has gone (a closed
// pipe) nothing more is written; any other failure (a full disk) fails the command at its end.
class SendOutput
{
public:
    virtual ~SendOutput() = default;

    // --cable-wait starts waiting for a cable.
    virtual void waitingForCable(int port) = 0;
    virtual void linkEvent(int port, const LinkEvent &event) = 0;
    // A load has ended.
    virtual void result(int port, const LoadResult &result) = 0;
    // Last: every result of every port, and the exit status.
    virtual void summary(const std::vector<QList<LoadResult>> &results, int status) = 0;
};

// JSON events with --json; otherwise redrawn lines when standard output is a terminal, plain
// lines when it is not.
std::unique_ptr<SendOutput> sendOutput(const std::vector<SendTarget> &targets, bool json);

} // namespace Kv402::Tool
