#include "sequence/memory_grid.h"

#include <algorithm>

namespace tintrava {

MemoryGrid::MemoryGrid()
    : m_cells(1)
{
}

MemoryGrid::MemoryGrid(const std::vector<std::array<std::string, 3>> &steps)
    : MemoryGrid()
{
    m_cells[0] = {"FarbNr", "Bezeichnung", "Minuten"};
    for (const auto &step : steps)
        m_cells.push_back(step);
    if (!steps.empty())
        setFixedRows(1);
}

int MemoryGrid::rowCount() const
{
    return int(m_cells.size());
}

void MemoryGrid::setRowCount(int rows)
{
    rows = std::max(rows, 1);
    if (rows <= m_fixedRows)
        setFixedRows(rows - 1);
    m_cells.resize(size_t(rows));
    m_selected = std::clamp(m_selected, m_fixedRows, rows - 1);
}

std::string MemoryGrid::cell(int col, int row) const
{
    if (row < 0 || row >= rowCount() || col < 0 || col > 2)
        return {};
    return m_cells[size_t(row)][size_t(col)];
}

void MemoryGrid::setCell(int col, int row, const std::string &text)
{
    if (row < 0 || row >= rowCount() || col < 0 || col > 2)
        return;
    m_cells[size_t(row)][size_t(col)] = text;
}

int MemoryGrid::fixedRows() const
{
    return m_fixedRows;
}

void MemoryGrid::setFixedRows(int rows)
{
    if (rows == m_fixedRows || rows < 0 || rows >= rowCount())
        return;
    m_fixedRows = rows;
    m_selected = rows;
}

int MemoryGrid::selectedRow() const
{
    return m_selected;
}

void MemoryGrid::setSelectedRow(int row)
{
    if (row < m_fixedRows || row >= rowCount())
        return;
    m_selected = row;
}

std::vector<std::string> MemoryGrid::rows() const
{
    std::vector<std::string> out;
    for (const auto &r : m_cells)
        out.push_back(r[0] + "|" + r[1] + "|" + r[2]);
    return out;
}

} // namespace tintrava
