#include "sequence/tick_loop.h"

namespace tintrava {

void runTicks(const std::function<TickClock::time_point()> &now, const std::function<bool(int ms)> &sleep,
              const std::function<bool()> &keepGoing, const std::function<void()> &tick)
{
    constexpr std::chrono::milliseconds Interval(1000);
    TickClock::time_point next = now();
    while (keepGoing()) {
        tick();
        if (!keepGoing())
            break;
        next += Interval;
        const TickClock::time_point current = now();
        while (next <= current)
            next += Interval;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - current);
        if (!sleep(int(wait.count())))
            break;
    }
}

} // namespace tintrava
