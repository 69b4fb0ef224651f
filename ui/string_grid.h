#pragma once
// StringGrid1: a three-column text grid whose first rows can be "fixed" like a
// header: painted in the button face colour and never selectable. Exactly one
// whole row is selected at a time and cells are not edited in place.
#include <QTableWidget>

#include "sequence/sequence_grid.h"

class TStringGrid : public QTableWidget, public tintrava::SequenceGrid {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget *parent = nullptr);

    static constexpr int DefaultRowHeight = 24;

    // SequenceGrid. These hide QTableWidget's rowCount/setRowCount on purpose:
    // changing the row count must keep the fixed-row and selection rules.
    int rowCount() const override;
    void setRowCount(int rows) override;
    std::string cell(int col, int row) const override;
    void setCell(int col, int row, const std::string &text) override;
    int fixedRows() const override;
    void setFixedRows(int rows) override;
    int selectedRow() const override;
    void setSelectedRow(int row) override;

signals:
    // A left double-click anywhere on the grid.
    void dblClick();
    // Keys for the editing commands on the selected row: Delete, "+" and
    // "-" (main or keypad), Enter or F2.
    void deleteKey();
    void plusKey();
    void minusKey();
    void editKey();

public:
    // Up, Down, Page Up, Page Down, Home and End move the selection among the
    // rows that can be selected; false for any other key.
    bool moveSelectionByKey(int key);

    // For screen readers: row 0 always holds the column titles, so it is the
    // header whether or not it is fixed yet; the steps follow it. A cell's
    // index among the children of the grid's accessible table: the steps'
    // cells row by row, then the header's.
    int accessibleHeaderRows() const;
    int accessibleChildIndex(int row, int col) const;

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void focusInEvent(QFocusEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyboardSearch(const QString &search) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event = nullptr) const override;

private:
    void applyRowFlags(int firstRow, int lastRow);
    QTableWidgetItem *itemAt(int col, int row);

    int m_fixedRows = 0;
};
