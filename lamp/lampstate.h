#pragma once
// State shared between the settings, discovery and the lamp protocols.
#include <string>

namespace tintrava {

enum LampProtocolKind { ProtocolUnknown = 0, ProtocolByte = 1, ProtocolText = 2 };

// Row of the colour table for the chosen lamp model; -1 until "my.conf" was read.
extern int HardwareRow;

struct LampState {
    std::string LampSerial;  // serial of the lamp found last; kept when it disappears
    bool LampFound = false;  // result of the latest discovery
    int LampProtocol = ProtocolUnknown;
};

} // namespace tintrava
