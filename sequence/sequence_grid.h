#pragma once
// The sequence grid as the editing rules and the player see it: a table of
// text cells, row 0 the header, one step per further row. Plain C++ so the
// rules can be driven without a window; the main window's StringGrid1 is one
// implementation, tests use another.
#include <string>

namespace tintrava {

class SequenceGrid {
public:
    virtual ~SequenceGrid() = default;

    virtual int rowCount() const = 0;
    virtual void setRowCount(int rows) = 0;
    // Text of column col (0..2) in row row, UTF-8; empty outside the grid.
    virtual std::string cell(int col, int row) const = 0;
    virtual void setCell(int col, int row, const std::string &text) = 0;

    virtual int fixedRows() const = 0;
    virtual void setFixedRows(int rows) = 0;
    // Top row of the current (whole-row) selection.
    virtual int selectedRow() const = 0;
    virtual void setSelectedRow(int row) = 0;
};

} // namespace tintrava
