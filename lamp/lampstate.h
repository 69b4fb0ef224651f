#pragma once
// State shared between the settings, discovery and the lamp protocols.
#include <string>

namespace tintrava {

// Colour numbers with a meaning of their own: 11 switches the lamp off (never
// a step of the sequence), 13 marks a wavelength step.
inline constexpr int ColourOff = 11;
inline constexpr int ColourWavelength = 13;

enum LampProtocolKind { ProtocolUnknown = 0, ProtocolByte = 1, ProtocolText = 2 };

// Row of the colour table for the chosen lamp model; -1 until "my.conf" was read.
extern int HardwareRow;

struct LampState {
    std::string LampSerial;  // serial of the lamp found last; kept when it disappears
    bool LampFound = false;  // result of the latest discovery
    // Some discovery of this run has found a lamp, so LampSerial names one.
    // Before that the empty serial means "no lamp yet", not a lamp with a
    // blank serial: opening by it would reach any FTDI device with a blank
    // EEPROM.
    bool LampEverFound = false;
    int LampProtocol = ProtocolUnknown;
};

} // namespace tintrava
