#include "sequence/palette.h"

namespace tintrava {

std::string paletteCaption(int number)
{
    switch (number) {
    case 1: return "Rot";
    case 2: return "Grün";
    case 3: return "Blau";
    case 4: return "Weiß";
    case 5: return "Orange";
    case 6: return "Türkis";
    case 7: return "Violett";
    case 8: return "Gelb";
    case 9: return "Rosa";
    case 10: return "Magenta";
    case 12: return "Indigo";
    default: return {};
    }
}

} // namespace tintrava
