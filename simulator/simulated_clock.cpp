#include "simulator/simulated_clock.h"

namespace Kv402 {

Clock::TimePoint VirtualClock::now() const
{
    return TimePoint(Duration(m_now.load()));
}

void VirtualClock::waitUntil(std::condition_variable &,
                             std::unique_lock<std::mutex> &,
                             TimePoint until)
{
    // Nothing the waiter waits for can happen before the moment it named, so the time goes
    // straight there.
    advanceTo(until);
}

void VirtualClock::advanceTo(TimePoint moment)
{
    const Duration::rep target = moment.time_since_epoch().count();
    Duration::rep current = m_now.load();
    while (current < target && !m_now.compare_exchange_weak(current, target)) {
    }
}

void VirtualClock::advance(Duration by)
{
    advanceTo(now() + by);
}

} // namespace Kv402
