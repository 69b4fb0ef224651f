#include "sequence/tick_grid.h"

namespace tintrava {

void TickGrid::run() const
{
    auto next = now();
    while (keepGoing()) {
        tick();
        if (!keepGoing())
            return;
        next += period;
        const auto current = now();
        while (next <= current)
            next += period;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - current).count();
        if (!sleep(int(wait)))
            return;
    }
}

} // namespace tintrava
