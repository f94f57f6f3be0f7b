#include "ports/clock.h"

namespace Kv402 {

void Clock::sleepFor(Duration duration)
{
    std::mutex mutex;
    std::condition_variable nothing;
    std::unique_lock lock(mutex);
    const TimePoint until = now() + duration;
    // A wait may end early (a spurious wake-up of the real clock): the pause goes on to its end.
    while (now() < until)
        waitUntil(nothing, lock, until);
}

std::shared_ptr<Clock> Clock::steady()
{
    static const std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
    return clock;
}

Clock::TimePoint SteadyClock::now() const
{
    return std::chrono::steady_clock::now();
}

void SteadyClock::waitUntil(std::condition_variable &changed,
                            std::unique_lock<std::mutex> &lock,
                            TimePoint until)
{
    changed.wait_until(lock, until);
}

} // namespace Kv402
