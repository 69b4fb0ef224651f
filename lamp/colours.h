#pragma once
// Lamp drive values per lamp model, and the two ways a wavelength becomes a
// lamp colour: a blend of neighbouring table colours for the text protocol,
// a plain colour number for the byte protocol.
#include <cstdint>
#include <string>
#include <string_view>

namespace tintrava {

struct Rgb {
    std::uint8_t r, g, b;
};

// [HardwareRow][ColourNumber - 1]; colour 11 is "off".
extern const Rgb ColourTable[5][12];

// "C" + RRGGBB (upper-case hex) of table entry (hardwareRow, colourNumber).
// A row outside 0..4 reads row 0; a colour number outside 1..12 reads 11 (off),
// so nothing outside the table is ever read.
std::string colourCommand(int hardwareRow, int colourNumber);

// Blend of entries (hardwareRow, c1) and (hardwareRow, c2) for wavelength w in
// [lo, hi]: f = (w - lo) / (hi - lo) rounded once to single precision, each
// channel (1 - f) * c1 + f * c2 in double, rounded half to even. f is held to
// 0..1, so w at or before lo gives c1 and w at or beyond hi gives c2. lo == hi
// gives c1 below lo and c2 from there on. Row and colour numbers are
// normalised as in colourCommand.
std::string mixcolor(int hardwareRow, int c1, int c2, int lo, int hi, int w);

// Text-protocol colour command for wavelength w (nm). Everything up to 425 nm
// is Violett, everything from 750 nm on is Rot.
std::string wavelengthCommand(int hardwareRow, int w);

// Byte-protocol colour number for wavelength w (nm); the letter sent is this
// number + 64.
int wavelengthColourNumber(int w);

// Wavelength typed by the user; text that is not an integer counts as 500 nm.
int wavelengthFromText(std::string_view text);

} // namespace tintrava
