#pragma once
// A grid's rows as "number|name|minutes" texts, for comparing whole grids.
#include <QString>
#include <QStringList>

#include "sequence/sequence_grid.h"

inline QStringList rowsOf(const tintrava::SequenceGrid &grid)
{
    QStringList rows;
    for (int r = 0; r < grid.rowCount(); ++r)
        rows << QString::fromStdString(grid.cell(0, r) + "|" + grid.cell(1, r) + "|" + grid.cell(2, r));
    return rows;
}

// Row 0 of every grid.
inline const QString Header = QStringLiteral("FarbNr|Bezeichnung|Minuten");
