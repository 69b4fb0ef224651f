#pragma once
// Sequence files: the grid's steps as semicolon-separated UTF-8 text that
// spreadsheet programs open,
//
//     FarbNr;Bezeichnung;Minuten
//     5;Orange;10
//     13;442 nm;5
//
// written with a byte-order mark and CR LF, read with or without either, and
// with any field in double quotes, the header's too, as spreadsheets save it.
// A file that breaks any rule is refused whole; the reader says which line and
// what is wrong, in German, for the error box. Plain C++: the bytes come from
// and go to the storage layer.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sequence/sequence_grid.h"
#include "sequence/sequence_rules.h"

namespace tintrava {

struct SequenceStep {
    int number = 0;    // ColourNumber: 1..10, 12, or 13 for a wavelength
    std::string name;  // palette caption, or the wavelength as typed plus " nm"
    int minutes = 1;
};

inline bool operator==(const SequenceStep &a, const SequenceStep &b)
{
    return a.number == b.number && a.name == b.name && a.minutes == b.minutes;
}

inline constexpr const char *SequenceFileHeader = "FarbNr;Bezeichnung;Minuten";

// The longest line a step takes: "13;", a wavelength of the longest answer
// the box takes plus " nm", ";", the longest minutes ("-2147483648", as
// typed) and CR LF.
inline constexpr std::size_t LongestStepLine = 3 + MaxAnswerLength + 3 + 1 + 11 + 2;
// Larger files are refused unread, so that a huge file cannot fill the
// memory; the window and tintrava-play share the limit. Whatever the editor
// lets a user build is written well within it.
inline constexpr std::size_t SequenceFileLimit = std::size_t(64) * 1024 * 1024;
static_assert(3 + std::char_traits<char>::length(SequenceFileHeader) + 2 + MaxSequenceSteps * LongestStepLine
                  <= SequenceFileLimit,
              "the largest sequence the editor builds must read back");
// Why such a file is refused; the storage layer and tintrava-play add a full stop.
inline constexpr const char *SequenceFileTooLarge = "Die Datei ist größer als 64 MiB";

struct SequenceFileParse {
    bool ok = false;
    std::vector<SequenceStep> steps;
    int line = 0;       // line of the fault, 1-based; 0 when it concerns the whole file
    std::string error;  // e.g. "Zeile 4: unbekannte Farbnummer „14“"
};

SequenceFileParse readSequenceFile(std::string_view bytes);
std::string writeSequenceFile(const std::vector<SequenceStep> &steps);

// The steps the grid holds, in grid order (rows 1 to the last).
std::vector<SequenceStep> stepsOfGrid(const SequenceGrid &grid);
// Replaces the grid's steps; the selection lands on the first step, as when
// the first step is appended.
void putStepsInGrid(SequenceGrid &grid, const std::vector<SequenceStep> &steps);

} // namespace tintrava
