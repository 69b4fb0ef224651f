#pragma once
// A widget's first paint: work put off until the window is on the screen,
// and, for benchmarks, the moment a window is first painted. With the environment
// variable TINTRAVA_FIRST_PAINT_PROBE set (to anything), the first paint
// event of the window or any widget in it prints
//     first-paint <CLOCK_MONOTONIC in ms> cpu <CPU time of the process in ms>
// on standard error. Unset, nothing is installed and nothing is checked
// after start.
#include <functional>
#include <utility>

class QWidget;

namespace tintrava {

void watchFirstPaint(QWidget *window);

// Runs then once, when widget is about to paint for the first time: for
// work nobody needs before the window is on the screen.
void whenFirstPainted(QWidget *widget, std::function<void()> then);

} // namespace tintrava
