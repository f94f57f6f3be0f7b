#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace Kv402 {

// The time a simulated terminal's wire runs on. The terminal works out the moment each byte
// arrives and CTS comes back; the clock says what time it is and how the PC's port waits for
// such a moment.
class SimulatedClock
{
public:
    // Moments are on the steady clock's scale whichever clock tells them.
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    virtual ~SimulatedClock() = default;

    virtual TimePoint now() const = 0;

    // Called, lock held, by a wait whose condition does not hold yet: returns, lock held, once
    // the time is `until` or earlier (a notification of `changed`, say). The caller checks its
    // condition again either way.
    virtual void waitUntil(std::condition_variable &changed,
                           std::unique_lock<std::mutex> &lock,
                           TimePoint until)
        = 0;

    // The real steady clock, shared by all who use it.
    static std::shared_ptr<SimulatedClock> steady();
};

// The real steady clock: a wait sleeps until the moment comes or another thread changes the
// terminal (plugs the cable in, say).
class SteadyClock final : public SimulatedClock
{
public:
    TimePoint now() const override;
    void waitUntil(std::condition_variable &changed,
                   std::unique_lock<std::mutex> &lock,
                   TimePoint until) override;
};

// Time that moves only when a waiter needs it to: a wait jumps to the moment it waits for instead
// of sleeping, so a paced transfer takes no real time and gives the same timeline on every run,
// however loaded the machine is. A wait never blocks: another thread's change (the cable plugged
// in) is seen when the waiter checks again, and a caller that waits in slices for what never
// comes (a silent terminal) runs through them without pause until its own limit. It starts at
// zero and never goes back; safe to share between threads and terminals.
class VirtualClock final : public SimulatedClock
{
public:
    TimePoint now() const override;
    void waitUntil(std::condition_variable &changed,
                   std::unique_lock<std::mutex> &lock,
                   TimePoint until) override;

    // Moves the time on to `moment`; an earlier moment leaves it as it is.
    void advanceTo(TimePoint moment);
    void advance(Duration by);

private:
    std::atomic<Duration::rep> m_now{0};
};

} // namespace Kv402
