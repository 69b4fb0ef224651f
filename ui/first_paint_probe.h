#pragma once
// For benchmarks: the moment a window is first painted. With the environment
// variable TINTRAVA_FIRST_PAINT_PROBE set (to anything), the first paint
// event of the window or any widget in it prints
//     first-paint <CLOCK_MONOTONIC in ms> cpu <CPU time of the process in ms>
// on standard error. Unset, nothing is installed and nothing is checked
// after start.
class QWidget;

namespace tintrava {

void watchFirstPaint(QWidget *window);

} // namespace tintrava
