#pragma once
// How the sequence grid is edited: appending palette colours and wavelengths,
// deleting a step, raising and lowering its minutes and typing them. Plain
// C++ on the grid interface, so the rules run the same on the window's grid
// and on a grid in memory.
#include <cstddef>
#include <string>
#include <string_view>

#include "lamp/lampstate.h"
#include "sequence/dialogs.h"
#include "sequence/sequence_grid.h"

namespace tintrava {

inline constexpr int MinWavelength = 390;
inline constexpr int MaxWavelength = 750;

namespace texts {
inline constexpr const char *WavelengthCaption = "Wellenlänge";
inline constexpr const char *WavelengthPrompt = "Bitte gewünschte Wellenlänge eingeben (390-750)";
inline constexpr const char *WavelengthInvalid = "eingegebener Wert ist ungültig";
inline constexpr const char *WavelengthOutOfRange =
    "Eingegebener Wert ausserhalb des möglichen Bereiches (390-750nm)";
inline constexpr const char *NothingToDelete =
    "Es sind keine Farben in der Liste. Deshalb kann keine gelöscht werden können.";
inline constexpr const char *MinutesCaption = "Zeit ändern";
inline constexpr const char *MinutesPrompt = "Bitte geben Sie eine neue Zeit ein (Minuten)";
inline constexpr const char *MinutesInvalid = "Bitte geben Sie einen gültigen Zahlenwert ein";
inline constexpr const char *SequenceFull =
    "Die Abfolge hat bereits 200.000 Schritte, mehr sind nicht möglich. Es wurde keine Farbe hinzugefügt.";
} // namespace texts

// Longest answer the input boxes take.
inline constexpr std::size_t MaxAnswerLength = 255;

// Most steps a sequence holds. Far beyond any real use (a step lasts at
// least a minute: this is more than four months), and what keeps every
// sequence small enough for its file to be read back.
inline constexpr int MaxSequenceSteps = 200000;

// Whether the wavelength box takes this answer as a wavelength (integer rule,
// 390 to 750).
bool isAcceptedWavelengthText(std::string_view text);
// A wavelength step is named after the accepted answer plus " nm"; this gives
// the answer back (the whole name when the suffix is missing, which no step
// made by the editor has).
std::string wavelengthTextOfName(const std::string &name);

// Appends one step: row count + 1, row 0 fixed, the new last row filled with
// number, name and "1" minute.
void appendStep(SequenceGrid &grid, int number, const std::string &name);

// A palette click. Colours 1..10 and 12 are appended under paletteCaption
// ("Farbe N" if that is empty); 13 asks for a wavelength; anything else is
// ignored. A sequence of MaxSequenceSteps takes no more: a message says so.
void addcolor(SequenceGrid &grid, Dialogs &dialogs, int number, const std::string &paletteCaption);

// "Zeile löschen": removes the selected step.
void deleteSelectedStep(SequenceGrid &grid, Dialogs &dialogs);
// "Minuten +" and "Minuten -" on the selected step.
void minutesPlus(SequenceGrid &grid);
void minutesMinus(SequenceGrid &grid);
// Double-click: asks for the selected step's minutes.
void editMinutes(SequenceGrid &grid, Dialogs &dialogs);

} // namespace tintrava
