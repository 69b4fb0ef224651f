#pragma once
// A sequence grid in memory, for the player without a window and the tests,
// with the window grid's rules: fixed rows are never selected, changing the
// number of fixed rows moves the selection to the first free row, fewer rows
// than fixed rows unfix them, the selection never points past the last row.
#include <array>
#include <string>
#include <vector>

#include "sequence/sequence_grid.h"

namespace tintrava {

class MemoryGrid : public SequenceGrid {
public:
    MemoryGrid();
    // A grid with the header row and one step per entry (number, name, minutes).
    explicit MemoryGrid(const std::vector<std::array<std::string, 3>> &steps);

    int rowCount() const override;
    void setRowCount(int rows) override;
    std::string cell(int col, int row) const override;
    void setCell(int col, int row, const std::string &text) override;
    int fixedRows() const override;
    void setFixedRows(int rows) override;
    int selectedRow() const override;
    void setSelectedRow(int row) override;

    // Rows as text for comparisons: "n|name|minutes" each.
    std::vector<std::string> rows() const;

private:
    std::vector<std::array<std::string, 3>> m_cells;
    int m_fixedRows = 0;
    int m_selected = 0;
};

} // namespace tintrava
