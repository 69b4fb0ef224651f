#pragma once
// The palette's captions by ColourNumber: the names palette steps carry in
// the grid and in sequence files. UTF-8.
#include <string>

namespace tintrava {

// Caption of palette colour 1..10 or 12; empty for any other number (11 is
// "off", 13 the wavelength entry, which names its steps after the typed text).
std::string paletteCaption(int number);

// Whether a step of the sequence may carry this ColourNumber.
inline bool isStepColour(int number)
{
    return (number >= 1 && number <= 10) || number == 12 || number == 13;
}

} // namespace tintrava
