#pragma once

#include <chrono>
#include <functional>

namespace tintrava {

// The player's beat without a window: the first tick at once (the lamp gets
// its first colour when the user starts, not a second later), then one every
// `period` on a grid fixed at that moment, like the window's timer. A slow
// tick does not shift the ticks after it, and a tick that is missed is not
// caught up. Ends when keepGoing() says so or a sleep is interrupted.
struct TickGrid {
    using Clock = std::chrono::steady_clock;
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    // Sleeps ms milliseconds; false when the sleep was interrupted.
    std::function<bool(int ms)> sleep;
    std::function<bool()> keepGoing;
    std::function<void()> tick;
    std::chrono::milliseconds period{1000};

    void run() const;
};

} // namespace tintrava
