#include "cli/send_output.h"

#include "cli/output.h"

#include "load/load_record.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include <sys/ioctl.h>
#include <unistd.h>

namespace Kv402::Tool {

namespace {

using namespace std::chrono_literals;

// The progress lines on a terminal are redrawn at most this often.
constexpr auto RedrawInterval = 100ms;
// Without a terminal, progress is told every tenth of the blocks.
constexpr int ProgressSteps = 10;
// The width of a terminal that does not say its own.
constexpr int DefaultColumns = 80;

// Progress must reach the reader as it happens, not wait in the buffer.
void printLine(const QString &line)
{
    printOut(line + QLatin1Char('\n'));
    flushOut();
}

void printJson(const QJsonObject &object)
{
    printLine(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

// The width of the terminal on standard output, read at every redraw: it may be resized.
int terminalColumns()
{
    winsize size = {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return DefaultColumns;
}

// The table that ends the output without --json: one line a load.
void printSummaryTable(const std::vector<SendTarget> &targets,
                       const std::vector<QList<LoadResult>> &results)
{
    printLine(QStringLiteral("%1 %2 %3 %4 %5 %6")
                  .arg(QStringLiteral("PORT"), -8)
                  .arg(QStringLiteral("DEVICE"), -24)
                  .arg(QStringLiteral("OUTCOME"), -24)
                  .arg(QStringLiteral("BLOCKS"), 11)
                  .arg(QStringLiteral("ERRORS"), 6)
                  .arg(QStringLiteral("SECONDS"), 8));
    for (size_t port = 0; port < targets.size(); ++port) {
        for (const LoadResult &result : results.at(port)) {
            printLine(QStringLiteral("%1 %2 %3 %4 %5 %6")
                          .arg(printable(targets.at(port).name()), -8)
                          .arg(printable(targets.at(port).device()), -24)
                          .arg(result.outcomeName(), -24)
                          .arg(QStringLiteral("%1/%2").arg(result.blocks).arg(result.of), 11)
                          .arg(result.errors, 6)
                          .arg(result.seconds, 8, 'f', 1));
        }
    }
}

// Without a terminal: a line every tenth of the blocks and one at every outcome.
class PlainOutput : public SendOutput
{
public:
    explicit PlainOutput(const std::vector<SendTarget> &targets)
        : m_targets(targets)
        , m_toldSteps(targets.size(), -1)
    {}

    void waitingForCable(int) override {}

    void linkEvent(int port, const LinkEvent &event) override
    {
        if (event.kind == LinkEvent::Kind::HeaderAccepted)
            m_toldSteps[port] = 0;
        const LinkCounters &c = event.counters;
        if (event.kind != LinkEvent::Kind::BlockWritten || c.flashWriteFailed || c.blockCount < 1)
            return;
        const int step = c.blocksDone * ProgressSteps / c.blockCount;
        if (step <= m_toldSteps[port])
            return;
        m_toldSteps[port] = step;
        printLine(QStringLiteral("%1 %2 %3 of %4 blocks (%5 %), %6 errors")
                      .arg(name(port), device(port))
                      .arg(c.blocksDone)
                      .arg(c.blockCount)
                      .arg(step * 100 / ProgressSteps)
                      .arg(c.errors));
    }

    void result(int port, const LoadResult &result) override
    {
        printLine(QStringLiteral("%1 %2 %3: %4 of %5 blocks, %6 errors, %7 s%8")
                      .arg(name(port), device(port), result.outcomeName())
                      .arg(result.blocks)
                      .arg(result.of)
                      .arg(result.errors)
                      .arg(result.seconds, 0, 'f', 1)
                      .arg(result.reason.isEmpty()
                               ? QString()
                               : QStringLiteral(" (%1)").arg(printable(result.reason))));
    }

    void summary(const std::vector<QList<LoadResult>> &results, int) override
    {
        printSummaryTable(m_targets, results);
    }

private:
    QString name(int port) const { return printable(m_targets.at(port).name()); }
    QString device(int port) const { return printable(m_targets.at(port).device()); }

    const std::vector<SendTarget> &m_targets;
    // The tenth of the blocks last told, per port; -1 before the header.
    std::vector<int> m_toldSteps;
};

// On a terminal: one line a port, redrawn in place, with the blocks, the errors, the rate and the
// time left, then the outcome.
class RedrawnOutput : public SendOutput
{
public:
    explicit RedrawnOutput(const std::vector<SendTarget> &targets)
        : m_targets(targets)
        , m_ports(targets.size())
    {
        for (Port &port : m_ports)
            port.runTime.start();
        QObject::connect(&m_redraw, &QTimer::timeout, [this] { redraw(); });
        m_redraw.start(RedrawInterval);
        redraw();
    }

    void waitingForCable(int) override {}

    void linkEvent(int port, const LinkEvent &event) override
    {
        if (event.counters.blockCount > 0)
            m_ports[port].counters = event.counters;
        if (event.kind == LinkEvent::Kind::HeaderAccepted)
            m_ports[port].runTime.start();
    }

    void result(int port, const LoadResult &result) override
    {
        m_ports[port].outcome = result.outcomeName();
    }

    void summary(const std::vector<QList<LoadResult>> &results, int) override
    {
        m_redraw.stop();
        redraw();
        printSummaryTable(m_targets, results);
    }

private:
    struct Port
    {
        LinkCounters counters;
        QElapsedTimer runTime;
        // The outcome of the port's last load; empty while there is none.
        QString outcome;
    };

    void redraw()
    {
        // One character short of the width: a line that fills it wraps on some terminals, and
        // the cursor would no longer go back up over the lines drawn.
        const int width = std::max(1, terminalColumns() - 1);
        QString text;
        if (m_drawnLines > 0)
            text += QStringLiteral("\x1b[%1A").arg(m_drawnLines);
        for (size_t i = 0; i < m_ports.size(); ++i) {
            const Port &port = m_ports[i];
            const LinkCounters &c = port.counters;
            const int done = std::min(c.blocksDone, c.blockCount);
            const double seconds = double(port.runTime.elapsed()) / 1000.0;
            const double rate = seconds > 0 ? done / seconds : 0;
            const QString left = rate > 0 && c.blockCount > done
                                     ? QStringLiteral("%1 s left")
                                           .arg((c.blockCount - done) / rate, 0, 'f', 0)
                                     : QString();
            const QString line = QStringLiteral("%1 %2 %3 of %4 (%5 %) errors %6, %7 blocks/s %8")
                                     .arg(printable(m_targets.at(i).name()), -6)
                                     .arg(printable(m_targets.at(i).device()), -24)
                                     .arg(done, 4)
                                     .arg(c.blockCount, 4)
                                     .arg(c.blockCount ? done * 100 / c.blockCount : 0, 3)
                                     .arg(c.errors)
                                     .arg(rate, 0, 'f', 1)
                                     .arg(port.outcome.isEmpty() ? left : port.outcome);
            text += QStringLiteral("\x1b[2K") + line.left(width) + QLatin1Char('\n');
        }
        m_drawnLines = int(m_ports.size());
        printOut(text);
        flushOut();
    }

    const std::vector<SendTarget> &m_targets;
    std::vector<Port> m_ports;
    QTimer m_redraw;
    int m_drawnLines = 0;
};

// With --json. The events a script may follow, for each port and load: waiting once when
// --cable-wait starts waiting; header; then for each block any number of rejected and one block
// (its echo accepted) and, once the terminal has stored it, written; last the result. After a
// flash write error the failing block has its block event and no written. The summary ends it.
class JsonOutput : public SendOutput
{
public:
    explicit JsonOutput(const std::vector<SendTarget> &targets)
        : m_targets(targets)
    {}

    void waitingForCable(int port) override
    {
        printJson({{QStringLiteral("event"), QStringLiteral("waiting")},
                   {QStringLiteral("port"), m_targets.at(port).name()},
                   {QStringLiteral("for"), QStringLiteral("cable")}});
    }

    void linkEvent(int port, const LinkEvent &event) override
    {
        const LinkCounters &c = event.counters;
        QJsonObject object{{QStringLiteral("port"), m_targets.at(port).name()}};
        switch (event.kind) {
        case LinkEvent::Kind::HeaderAccepted:
            object.insert(QStringLiteral("event"), QStringLiteral("header"));
            object.insert(QStringLiteral("of"), c.blockCount);
            break;
        case LinkEvent::Kind::BlockAccepted:
            object.insert(QStringLiteral("event"), QStringLiteral("block"));
            object.insert(QStringLiteral("block"), c.blocksDone);
            object.insert(QStringLiteral("of"), c.blockCount);
            object.insert(QStringLiteral("errors"), c.errors);
            break;
        case LinkEvent::Kind::EchoRejected:
            object.insert(QStringLiteral("event"), QStringLiteral("rejected"));
            object.insert(QStringLiteral("block"), c.blocksDone + 1);
            object.insert(QStringLiteral("of"), c.blockCount);
            object.insert(QStringLiteral("errors"), c.errors);
            break;
        case LinkEvent::Kind::BlockWritten:
            // The block the flash could not take was not written.
            if (c.flashWriteFailed)
                return;
            object.insert(QStringLiteral("event"), QStringLiteral("written"));
            object.insert(QStringLiteral("block"), c.blocksDone);
            object.insert(QStringLiteral("of"), c.blockCount);
            break;
        default:
            return;
        }
        printJson(object);
    }

    void result(int port, const LoadResult &result) override
    {
        printJson(resultObject(port, result));
    }

    void summary(const std::vector<QList<LoadResult>> &results, int status) override
    {
        QJsonArray all;
        int loads = 0;
        int completed = 0;
        for (size_t port = 0; port < results.size(); ++port) {
            for (const LoadResult &result : results.at(port)) {
                all.append(resultObject(int(port), result));
                ++loads;
                completed += result.completed() ? 1 : 0;
            }
        }
        printJson({{QStringLiteral("event"), QStringLiteral("summary")},
                   {QStringLiteral("ports"), int(m_targets.size())},
                   {QStringLiteral("loads"), loads},
                   {QStringLiteral("completed"), completed},
                   {QStringLiteral("exit"), status},
                   {QStringLiteral("results"), all}});
    }

private:
    QJsonObject resultObject(int port, const LoadResult &result) const
    {
        QJsonObject object{{QStringLiteral("port"), m_targets.at(port).name()},
                           {QStringLiteral("device"), m_targets.at(port).device()},
                           {QStringLiteral("event"), QStringLiteral("result")},
                           {QStringLiteral("outcome"), result.outcomeName()},
                           {QStringLiteral("blocks"), result.blocks},
                           {QStringLiteral("of"), result.of},
                           {QStringLiteral("errors"), result.errors},
                           {QStringLiteral("seconds"), result.seconds}};
        if (!result.reason.isEmpty())
            object.insert(QStringLiteral("reason"), result.reason);
        return object;
    }

    const std::vector<SendTarget> &m_targets;
};

} // namespace

QString LoadResult::outcomeName() const
{
    return outcome ? Kv402::outcomeName(*outcome) : QStringLiteral("data-file-unusable");
}

std::unique_ptr<SendOutput> sendOutput(const std::vector<SendTarget> &targets, bool json)
{
    if (json)
        return std::make_unique<JsonOutput>(targets);
    if (::isatty(STDOUT_FILENO))
        return std::make_unique<RedrawnOutput>(targets);
    return std::make_unique<PlainOutput>(targets);
}

} // namespace Kv402::Tool
