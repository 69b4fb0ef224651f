#pragma once
// For benchmarks: the moment a window is first painted. With the environment
// variable TINTRAVA_FIRST_PAINT_PROBE set (to anything), the first paint
// event of the window or any widget in it prints
//     first-paint <CLOCK_MONOTONIC in ms> cpu <CPU time of the process in ms>
// on standard error. Unset, nothing is installed and nothing is checked
// after start.
#include <functional>

class QWidget;

namespace tintrava {

void watchFirstPaint(QWidget *window);

// Runs then once, from the event loop, right after the first paint inside
// window: for start-up work the user need not wait for.
void afterFirstPaint(QWidget *window, std::function<void()> then);

} // namespace tintrava
