#include "lamp/discovery.h"

#include "lamp/d2xx/d2xx_unit.h"

namespace tintrava {

bool matchesLampDescription(const std::string &description)
{
    if (description == "Sela-Lumen")
        return true;
    return description.size() == 22 && description.compare(0, 2, "VC") == 0 && description[12] == 'V';
}

bool matchesFallbackDescription(const std::string &description)
{
    return description == "TTL232R";
}

namespace {

// One pass over the listed devices. A device whose description cannot be read
// is skipped rather than tested with whatever text the previous call left
// behind, and a match whose serial cannot be read is not taken, so a stale
// description is never mistaken for a serial number.
void scan(LampState &state, std::uint32_t count, bool (*matches)(const std::string &))
{
    for (std::uint32_t i = 0; i < count; ++i) {
        if (D2XXUnit::GetFTDeviceDescription(i) != FT_OK)
            continue;
        if (!matches(D2XXUnit::DeviceText))
            continue;
        if (D2XXUnit::GetFTDeviceSerialNo(i) != FT_OK)
            continue;
        state.LampFound = true;
        state.LampSerial = D2XXUnit::DeviceText;
    }
}

} // namespace

bool getusbdev(LampState &state)
{
    // A failed count leaves whatever the driver wrote, and an impossible one
    // (0xFFFFFFFF with FT_OK) is no better; trusting either could walk
    // billions of indices, so both mean "nothing attached".
    const bool listed = D2XXUnit::GetFTDeviceCount() == FT_OK && D2XXUnit::DeviceCount <= MaxListedDevices;
    const std::uint32_t count = listed ? D2XXUnit::DeviceCount : 0;

    const std::string previousSerial = state.LampSerial;
    state.LampFound = false;
    try {
        scan(state, count, matchesLampDescription);
        if (!state.LampFound)
            scan(state, count, matchesFallbackDescription);
    } catch (...) {
        // Whatever went wrong mid-listing, the result stands as far as it got.
    }

    if (!state.LampFound) {
        state.LampProtocol = ProtocolUnknown;
    } else {
        // Another lamp than the one whose protocol was learnt (swapped between
        // two listings, or a second lamp taking over) has to be asked afresh;
        // the same lamp found again keeps its protocol.
        if (!state.LampEverFound || state.LampSerial != previousSerial)
            state.LampProtocol = ProtocolUnknown;
        state.LampEverFound = true;
    }
    return state.LampFound;
}

} // namespace tintrava
