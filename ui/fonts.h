#pragma once
// The windows were drawn for "MS Sans Serif" 8 pt. On Windows it is Windows'
// own. Elsewhere, where Wine's copy of that font is installed it is used;
// otherwise Liberation Sans stands in, which has the same widths as Arial;
// failing both, Qt's default font.
#include <QFont>
#include <QString>

namespace tintrava {

inline constexpr const char *DialogFontFamily = "MS Sans Serif";

// Registers the font (once) and maps "MS Sans Serif" to what is available.
// Returns the family that text in "MS Sans Serif" is drawn with.
QString setupFonts();

// "MS Sans Serif" in the given size; call setupFonts() first. Wine's copy
// only has bitmaps for 8 pt, so other sizes come from a scalable family.
QFont dialogFont(int pointSize = 8);

} // namespace tintrava
