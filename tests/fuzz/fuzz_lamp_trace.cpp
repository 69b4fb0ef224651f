// The lamp trace reader on any bytes: never crashes, the lamps it shows are
// well formed, and bytes arriving in two pieces (as a file being appended to
// is read) give the same result as all at once.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "tools/virtual-lamp/viewer/lamp_trace.h"

using tintrava::LampTrace;
using tintrava::TraceLamp;

namespace {

bool sameLamp(const TraceLamp &a, const TraceLamp &b)
{
    return a.serial == b.serial && a.description == b.description && a.firmware == b.firmware
        && a.colour == b.colour && a.colourNumber == b.colourNumber && a.r == b.r && a.g == b.g
        && a.b == b.b && a.hasColour == b.hasColour && a.off == b.off && a.lastHeard == b.lastHeard
        && a.attached == b.attached;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose where the rest is cut in two.
    const std::size_t cut = (std::size_t(data[0]) << 8 | data[1]) % (size - 1);
    const std::string_view bytes(reinterpret_cast<const char *>(data + 2), size - 2);

    LampTrace whole;
    whole.feed(bytes);
    LampTrace pieces;
    pieces.feed(bytes.substr(0, cut));
    pieces.feed(bytes.substr(cut));

    FUZZ_CHECK(whole.lamps().size() == pieces.lamps().size());
    FUZZ_CHECK(whole.linesApplied() == pieces.linesApplied());
    FUZZ_CHECK(whole.linesIgnored() == pieces.linesIgnored());
    for (std::size_t i = 0; i < whole.lamps().size(); ++i) {
        const TraceLamp &lamp = whole.lamps()[i];
        FUZZ_CHECK(sameLamp(lamp, pieces.lamps()[i]));
        FUZZ_CHECK(!lamp.serial.empty());
        FUZZ_CHECK(lamp.firmware == "text" || lamp.firmware == "byte" || lamp.firmware == "cable");
        FUZZ_CHECK(!lamp.hasColour || !lamp.colour.empty());
        FUZZ_CHECK(lamp.colourNumber == 0 || (lamp.firmware == "byte" && lamp.colourNumber >= 1 && lamp.colourNumber <= 12));
        if (lamp.firmware == "byte" && lamp.hasColour)
            FUZZ_CHECK(!tintrava::colourName(lamp.colourNumber).empty());
    }

    // After a reset nothing of the old trace is left.
    whole.reset();
    FUZZ_CHECK(whole.lamps().empty() && whole.linesApplied() == 0 && whole.linesIgnored() == 0);
    return 0;
}
