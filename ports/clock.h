#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace Kv402 {

// The time that the link's limits and a simulated terminal's wire run on. The program uses the
// real steady clock; tests put a virtual clock in its place, so that they check a timeline to the
// nanosecond (a silent terminal given up after exactly its limit) without waiting for it.
class Clock
{
public:
    // Moments are on the steady clock's scale whichever clock tells them.
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;

    // Called, lock held, by a wait whose condition does not hold yet: returns, lock held, once
    // the time is `until` or earlier (a notification of `changed`, say). The caller checks its
    // condition again either way.
    virtual void waitUntil(std::condition_variable &changed,
                           std::unique_lock<std::mutex> &lock,
                           TimePoint until)
        = 0;

    // A pause that nothing but the time ends.
    void sleepFor(Duration duration);

    // The real steady clock, shared by all who use it.
    static std::shared_ptr<Clock> steady();
};

// The real steady clock: a wait sleeps until the moment comes or another thread changes what it
// waits for (plugs the cable in, say).
class SteadyClock final : public Clock
{
public:
    TimePoint now() const override;
    void waitUntil(std::condition_variable &changed,
                   std::unique_lock<std::mutex> &lock,
                   TimePoint until) override;
};

} // namespace Kv402
