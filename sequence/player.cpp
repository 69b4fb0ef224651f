#include "sequence/player.h"

#include <cmath>
#include <cstdio>

#include "lamp/integer_rule.h"
#include "lamp/lampstate.h"
#include "sequence/sequence_rules.h"

namespace tintrava {

std::string formatDuration(DayTime days)
{
    // Hours are not wrapped at a day: a step of 25 hours shows 25:00:00, and
    // even the sum of many steps of 2147483647 minutes keeps all its hours.
    double ms = std::round(std::fabs(days) * 86400000.0);
    if (!(ms < 9.0e18)) // beyond any sum of steps; also NaN
        ms = 9.0e18;
    const std::int64_t seconds = static_cast<std::int64_t>(ms / 1000.0);
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  int(seconds / 60 % 60), int(seconds % 60));
    return text;
}

SequencePlayer::SequencePlayer(const SequenceGrid &grid, Hooks hooks) : m_grid(grid), m_hooks(std::move(hooks))
{
}

bool SequencePlayer::canStart() const
{
    return m_grid.rowCount() >= 2;
}

void SequencePlayer::start()
{
    SequenceRow = 0;
    StepEndTime = m_hooks.now();
}

void SequencePlayer::startNow()
{
    SequenceRow = 0;
    // Earlier than any clock reading, so the first tick advances to step 1
    // even within the same millisecond.
    StepEndTime = -HUGE_VAL;
}

int SequencePlayer::minutesOf(int row) const
{
    return strToIntDef(m_grid.cell(2, row), 1);
}

void SequencePlayer::tick()
{
    if (m_hooks.now() > StepEndTime) {
        ++SequenceRow;
        StepEndTime = m_hooks.now() + minutesOf(SequenceRow) / 24.0 / 60.0;
        if (SequenceRow > m_grid.rowCount() - 1)
            m_hooks.stop();
    }
    if (!m_hooks.running())
        return;

    const int colour = strToIntDef(m_grid.cell(0, SequenceRow), ColourOff);
    // The lamp gets the number the wavelength box accepted, however it was
    // spelt ("0500", "$1F4"), not a prefix of the step's name.
    if (colour == ColourWavelength)
        m_hooks.selectcolor2(wavelengthTextOfName(m_grid.cell(1, SequenceRow)));
    else
        m_hooks.selectcolor(colour);

    m_hooks.setRemainingStep("Restdauer dieser Farbe: " + formatDuration(StepEndTime - m_hooks.now()));

    // Summed in 64 bits: many steps of 2147483647 minutes must not wrap.
    std::int64_t rest = 0;
    for (int row = SequenceRow + 1; row < m_grid.rowCount(); ++row)
        rest += minutesOf(row);
    m_hooks.setRemainingTotal("Gesamtrestdauer: " +
                              formatDuration(StepEndTime - m_hooks.now() + double(rest) / 24.0 / 60.0));
}

} // namespace tintrava
