#include "station/tile.h"

#include "link/link_constants.h"
#include "station/station_texts.h"

#include <chrono>

namespace Kv402 {

namespace {

using State = TileView::State;

// Characters on the wire for the header and for each block: sent, echoed back, and the status
// reply to the echo.
constexpr qint64 HeaderCharacters = 2 * Link::HeaderSize + Link::StatusSize;
constexpr qint64 BlockCharacters = 2 * Link::BlockSize + Link::StatusSize;

// Whole seconds, rounded up: a load with anything left never says 0:00.
qint64 secondsUp(std::chrono::nanoseconds time)
{
    return std::chrono::ceil<std::chrono::seconds>(time).count();
}

} // namespace

QString durationText(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

TileView::Tone TileView::tone() const
{
    switch (state) {
    case State::Disarmed:
    case State::WaitingForTerminal:
    case State::Stopped:
        return Tone::Idle;
    case State::Loading:
        return Tone::Busy;
    case State::Completed:
        return Tone::Good;
    case State::FlashWriteError:
    case State::TerminalNotAnswering:
    case State::PortFailure:
    case State::PortError:
    case State::PortNotOpened:
    case State::NoModemLines:
        break;
    }
    return Tone::Bad;
}

QString TileView::stateText(Language language) const
{
    switch (state) {
    case State::Disarmed:
        return StationTexts::NotArmed.in(language);
    case State::WaitingForTerminal:
        return StationTexts::WaitingForTerminal.in(language);
    case State::Loading:
        return StationTexts::Loading.in(language);
    case State::Completed:
        return StationTexts::CompletedIn.in(language).arg(durationText(seconds.value_or(0)));
    case State::FlashWriteError:
        return StationTexts::FlashWriteError.in(language);
    case State::TerminalNotAnswering:
        return LoadTexts::TerminalNotAnswering.in(language);
    case State::PortFailure:
        return StationTexts::PortFailure.in(language);
    case State::PortError:
        return StationTexts::PortError.in(language).arg(
            reason.isEmpty() ? LoadTexts::PortTakesNoMoreBytes.in(language) : reason);
    case State::PortNotOpened:
        return StationTexts::PortNotOpened.in(language).arg(
            portOpenFailureReason(port, openFailure, language));
    case State::NoModemLines:
        return StationTexts::NoModemLines.in(language);
    case State::Stopped:
        break;
    }
    return StationTexts::Stopped.in(language);
}

QString TileView::timeLeftText(Language language) const
{
    if (!secondsLeft)
        return {};
    return StationTexts::TimeLeft.in(language).arg(durationText(*secondsLeft));
}

TileModel::TileModel(QString port, QString adapter)
{
    m_view.port = std::move(port);
    m_view.adapter = std::move(adapter);
}

void TileModel::clearLoad()
{
    m_view.blocksDone = 0;
    m_view.errors = 0;
    m_view.started = {};
    m_view.secondsLeft.reset();
    m_view.seconds.reset();
    m_view.reason.clear();
    m_view.openFailure = {};
    m_headerAccepted = false;
}

void TileModel::armed()
{
    m_view.armed = true;
    m_view.state = State::WaitingForTerminal;
    clearLoad();
}

void TileModel::disarmed()
{
    m_view.armed = false;
    // A result stays; a load running ends as its run tells.
    if (m_view.state == State::WaitingForTerminal)
        m_view.state = State::Disarmed;
}

void TileModel::waiting(TerminalWait wait)
{
    // Told after the port was disarmed: nothing waits any more.
    if (!m_view.armed)
        return;
    // For the terminal on the cable to go, the result stays until it has.
    if (wait == TerminalWait::Present) {
        m_view.state = State::WaitingForTerminal;
        clearLoad();
    }
}

void TileModel::runStarting(const QDateTime &now, int blockCount)
{
    m_view.state = State::Loading;
    clearLoad();
    m_view.started = now;
    if (blockCount > 0)
        m_view.blockCount = blockCount;
    estimateTimeLeft(now);
}

void TileModel::linkEvent(const LinkEvent &event, const QDateTime &now)
{
    using Kind = LinkEvent::Kind;
    if (event.counters.blockCount > 0) {
        m_view.blockCount = event.counters.blockCount;
        m_view.blocksDone = event.counters.blocksWritten();
        m_view.errors = event.counters.errors;
    }
    switch (event.kind) {
    case Kind::HeaderAccepted:
        m_headerAccepted = true;
        break;
    case Kind::CableNotConnected:
        // CTS went low before the run: no load, the port waits again.
        m_view.state = State::WaitingForTerminal;
        break;
    case Kind::PortFailure:
        m_view.state = State::PortFailure;
        break;
    case Kind::FlashWriteError:
        m_view.state = State::FlashWriteError;
        break;
    case Kind::AllBlocksDone:
        if (!event.counters.flashWriteFailed) {
            m_view.state = State::Completed;
            if (m_view.started.isValid())
                m_view.seconds = m_view.started.secsTo(now);
        }
        break;
    case Kind::TerminalNotAnswering:
        m_view.state = State::TerminalNotAnswering;
        break;
    case Kind::Stopped:
        m_view.state = State::Stopped;
        break;
    case Kind::PortNotOpened:
        m_view.openFailure = event.openFailure;
        m_view.reason = event.openFailure.reason;
        m_view.state = event.openFailure.kind == PortOpenFailure::Kind::NoModemLines
                           ? State::NoModemLines
                           : State::PortNotOpened;
        break;
    case Kind::PortError:
        m_view.reason = event.reason;
        m_view.state = State::PortError;
        break;
    case Kind::CableConnected:
    case Kind::BlockStarting:
    case Kind::BlockAccepted:
    case Kind::EchoRejected:
    case Kind::BlockWritten:
        break;
    }
    estimateTimeLeft(now);
}

void TileModel::showOutcome(LinkOutcome outcome)
{
    switch (outcome) {
    case LinkOutcome::Completed:
        m_view.state = State::Completed;
        break;
    case LinkOutcome::FlashWriteError:
        m_view.state = State::FlashWriteError;
        break;
    case LinkOutcome::CableNotConnected:
        m_view.state = State::WaitingForTerminal;
        break;
    case LinkOutcome::PortFailure:
        m_view.state = State::PortFailure;
        break;
    case LinkOutcome::TerminalNotAnswering:
        m_view.state = State::TerminalNotAnswering;
        break;
    case LinkOutcome::Stopped:
        m_view.state = State::Stopped;
        break;
    case LinkOutcome::PortNotOpened:
        m_view.state = m_view.openFailure.kind == PortOpenFailure::Kind::NoModemLines
                           ? State::NoModemLines
                           : State::PortNotOpened;
        break;
    case LinkOutcome::PortError:
        m_view.state = State::PortError;
        break;
    case LinkOutcome::ImageNotSendable:
        // Never a run of the link; the session tells it as a refusal.
        m_view.state = State::Disarmed;
        break;
    }
}

void TileModel::runFinished(const LoadRun &run)
{
    // The run says how it ended, whatever events were missed.
    showOutcome(run.outcome);
    if (run.counters.blockCount > 0) {
        m_view.blockCount = run.counters.blockCount;
        m_view.blocksDone = run.counters.blocksWritten();
        m_view.errors = run.counters.errors;
    }
    m_view.secondsLeft.reset();
    if (run.started.isValid() && run.ended.isValid())
        m_view.seconds = (run.started.msecsTo(run.ended) + 500) / 1000;
    switch (run.outcome) {
    case LinkOutcome::Completed:
        ++m_view.passed;
        break;
    case LinkOutcome::FlashWriteError:
    case LinkOutcome::PortFailure:
    case LinkOutcome::TerminalNotAnswering:
    case LinkOutcome::PortNotOpened:
    case LinkOutcome::PortError:
        ++m_view.failed;
        break;
    case LinkOutcome::CableNotConnected:
    case LinkOutcome::Stopped:
    case LinkOutcome::ImageNotSendable:
        break;
    }
}

void TileModel::sessionFinished(LoadOutcome outcome)
{
    switch (outcome) {
    case LoadOutcome::Refused:
        // Nothing was sent: the tile is as before the load, its notice says why.
        clearLoad();
        m_view.state = State::Disarmed;
        break;
    case LoadOutcome::Stopped:
        if (m_view.state == State::Loading)
            m_view.state = State::Stopped;
        else if (m_view.state == State::WaitingForTerminal && !m_view.armed)
            m_view.state = State::Disarmed;
        break;
    case LoadOutcome::Ended:
    case LoadOutcome::CableCancelled:
        break;
    }
    m_view.secondsLeft.reset();
}

void TileModel::setUnitSerial(const QString &serial)
{
    m_view.unitSerial = serial;
}

void TileModel::setNotice(const QString &notice)
{
    m_view.notice = notice;
}

void TileModel::estimateTimeLeft(const QDateTime &now)
{
    if (m_view.state != State::Loading || m_view.blockCount <= 0) {
        m_view.secondsLeft.reset();
        return;
    }
    const qint64 left = std::max(m_view.blockCount - m_view.blocksDone, 0);
    // The pace so far, once there is one: a noisy line or a USB adapter is slower than the wire.
    if (m_view.blocksDone > 0 && m_view.started.isValid()) {
        const std::chrono::milliseconds sofar(m_view.started.msecsTo(now));
        m_view.secondsLeft = secondsUp(sofar * left / m_view.blocksDone);
        return;
    }
    const qint64 characters = left * BlockCharacters + (m_headerAccepted ? 0 : HeaderCharacters);
    m_view.secondsLeft = secondsUp(Link::Line.characterTime() * characters);
}

} // namespace Kv402
