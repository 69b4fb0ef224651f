#pragma once
// Finding the lamp among the attached FTDI devices by the description each
// device reports.
#include <cstdint>
#include <string>

#include "lamp/lampstate.h"

namespace tintrava {

// "Sela-Lumen", or the 22-character "VC…" descriptions whose 13th character is 'V'.
bool matchesLampDescription(const std::string &description);
// A plain FTDI cable, used only when no lamp description matches.
bool matchesFallbackDescription(const std::string &description);

// More devices than any USB host can carry; a driver that reports more with
// FT_OK is not telling the truth, and the listing counts as failed.
inline constexpr std::uint32_t MaxListedDevices = 1024;

// Lists the devices through the device layer and updates state: LampFound,
// LampSerial and LampEverFound (only when a lamp is found) and LampProtocol
// (back to unknown when none is found, or when the lamp found has another
// serial than before). When several devices match, the one listed last wins.
// Returns LampFound.
bool getusbdev(LampState &state);

} // namespace tintrava
