#pragma once

#include "ports/clock.h"

#include <atomic>

namespace Kv402 {

// Time that moves only when a waiter needs it to: a wait jumps to the moment it waits for instead
// of sleeping, so a paced transfer takes no real time and gives the same timeline on every run,
// however loaded the machine is. A wait never blocks: another thread's change (the cable plugged
// in) is seen when the waiter checks again, and a caller that waits in slices for what never
// comes (a silent terminal) runs through them without pause until its own limit. It starts at
// zero and never goes back; safe to share between threads, terminals and links.
class VirtualClock final : public Clock
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
