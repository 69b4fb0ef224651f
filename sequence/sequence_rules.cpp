#include "sequence/sequence_rules.h"

#include <cstdint>
#include <limits>

#include "lamp/integer_rule.h"

namespace tintrava {

namespace {

constexpr int MinutesColumn = 2;
// Minutes that are not an integer count as one minute.
constexpr int DefaultMinutes = 1;

void addWavelength(SequenceGrid &grid, Dialogs &dialogs)
{
    std::string answer = dialogs.inputBox(texts::WavelengthCaption, texts::WavelengthPrompt, "");
    if (answer.empty())
        answer = "-1";
    const std::int32_t value = strToIntDef(answer, -2);
    if (value == -1)
        return;
    if (value == -2) {
        dialogs.showMessage(texts::WavelengthInvalid);
        return;
    }
    if (value < MinWavelength || value > MaxWavelength) {
        dialogs.showMessage(texts::WavelengthOutOfRange);
        return;
    }
    appendStep(grid, ColourWavelength, answer + " nm");
}

} // namespace

bool isAcceptedWavelengthText(std::string_view text)
{
    if (text.size() > MaxAnswerLength)
        return false;
    const std::int32_t value = strToIntDef(text, -2);
    return value >= MinWavelength && value <= MaxWavelength;
}

std::string wavelengthTextOfName(const std::string &name)
{
    static constexpr std::string_view suffix = " nm";
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        return name.substr(0, name.size() - suffix.size());
    return name;
}

void appendStep(SequenceGrid &grid, int number, const std::string &name)
{
    grid.setRowCount(grid.rowCount() + 1);
    grid.setFixedRows(1);
    const int row = grid.rowCount() - 1;
    grid.setCell(0, row, intToStr(number));
    grid.setCell(1, row, name);
    grid.setCell(MinutesColumn, row, "1");
}

void addcolor(SequenceGrid &grid, Dialogs &dialogs, int number, const std::string &paletteCaption)
{
    const bool colour = (number >= 1 && number <= 10) || number == 12 || number == ColourWavelength;
    if (colour && grid.rowCount() - 1 >= MaxSequenceSteps) {
        dialogs.showMessage(texts::SequenceFull);
        return;
    }
    if ((number >= 1 && number <= 10) || number == 12) {
        appendStep(grid, number, paletteCaption.empty() ? "Farbe " + intToStr(number) : paletteCaption);
        return;
    }
    if (number == ColourWavelength)
        addWavelength(grid, dialogs);
}

void deleteSelectedStep(SequenceGrid &grid, Dialogs &dialogs)
{
    if (grid.rowCount() < 2) {
        dialogs.showMessage(texts::NothingToDelete);
        return;
    }
    const int last = grid.rowCount() - 1;
    for (int row = grid.selectedRow(); row < last; ++row)
        for (int col = 0; col < 3; ++col)
            grid.setCell(col, row, grid.cell(col, row + 1));
    grid.setRowCount(last);
}

void minutesPlus(SequenceGrid &grid)
{
    const int row = grid.selectedRow();
    if (row <= 0)
        return;
    const std::int32_t minutes = strToIntDef(grid.cell(MinutesColumn, row), DefaultMinutes);
    // The largest count stays as it is rather than wrapping round to negative.
    if (minutes == std::numeric_limits<std::int32_t>::max())
        return;
    grid.setCell(MinutesColumn, row, intToStr(minutes + 1));
}

void minutesMinus(SequenceGrid &grid)
{
    const int row = grid.selectedRow();
    if (row <= 0)
        return;
    const std::int32_t minutes = strToIntDef(grid.cell(MinutesColumn, row), DefaultMinutes);
    if (minutes > 1)
        grid.setCell(MinutesColumn, row, intToStr(minutes - 1));
}

void editMinutes(SequenceGrid &grid, Dialogs &dialogs)
{
    const int row = grid.selectedRow();
    if (row <= 0)
        return;
    const std::string answer =
        dialogs.inputBox(texts::MinutesCaption, texts::MinutesPrompt, grid.cell(MinutesColumn, row));
    // Only the plain decimal form of a number counts: no blanks, signs or
    // leading zeros that would not survive being written back.
    if (intToStr(strToIntDef(answer, 0)) != answer) {
        dialogs.showMessage(texts::MinutesInvalid);
        return;
    }
    grid.setCell(MinutesColumn, row, answer);
}

} // namespace tintrava
