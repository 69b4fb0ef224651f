#pragma once
// The sequence player: every tick it decides whether the current step is over,
// sends the current step's colour to the lamp and reports the time left.
// Plain C++, so hours of sequence can be played against a fake clock.
#include <cstdint>
#include <functional>
#include <string>

#include "sequence/sequence_grid.h"

namespace tintrava {

// Local date-time in days since 1899-12-30, fraction = time of day.
using DayTime = double;


// A duration in days as "hh:mm:ss": rounded to whole milliseconds, all its
// hours shown (25:00:57 for more than a day), a negative value shown by its
// magnitude, seconds truncated.
std::string formatDuration(DayTime days);

class SequencePlayer {
public:
    struct Hooks {
        std::function<DayTime()> now;
        std::function<void(int colourNumber)> selectcolor;
        std::function<void(const std::string &wavelengthText)> selectcolor2;
        // Stops the run the way "Abbrechen" does (overlay, buttons, timer, lamp off).
        std::function<void()> stop;
        // Whether the tick timer still runs.
        std::function<bool()> running;
        std::function<void(const std::string &)> setRemainingStep;  // Label4
        std::function<void(const std::string &)> setRemainingTotal; // Label9
    };

    SequencePlayer(const SequenceGrid &grid, Hooks hooks);

    // A run needs at least one step row.
    bool canStart() const;
    // Called when a run starts; nothing is sent until the first tick.
    void start();
    // For a run whose first tick comes at its start itself (tintrava-play):
    // that tick begins step 1, however little time has passed since.
    void startNow();
    void tick();

    int SequenceRow = 0;
    DayTime StepEndTime = 0;

private:
    int minutesOf(int row) const;

    const SequenceGrid &m_grid;
    Hooks m_hooks;
};

} // namespace tintrava
