#pragma once
// The player's timer without a window: a tick at once, then one every
// second on the second. A tick that overruns its second does not shift the
// ticks after it, and ticks it missed are not caught up.
#include <chrono>
#include <functional>

namespace tintrava {

using TickClock = std::chrono::steady_clock;

// Ticks while keepGoing() holds. sleep(ms) waits and returns false when the
// wait was cut short (a signal), which ends the ticking.
void runTicks(const std::function<TickClock::time_point()> &now, const std::function<bool(int ms)> &sleep,
              const std::function<bool()> &keepGoing, const std::function<void()> &tick);

} // namespace tintrava
