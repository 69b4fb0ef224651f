#include "ui/string_grid.h"

#include <algorithm>

#include <QAccessible>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// Fixed rows look like a header; the others like ordinary cells whose
// selection stays visible when the grid has no focus.
class GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(TStringGrid *grid)
        : QStyledItemDelegate(grid), m_grid(grid)
    {
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        if (index.row() < m_grid->fixedRows()) {
            painter->save();
            painter->fillRect(option.rect, option.palette.brush(QPalette::Active, QPalette::Button));
            painter->setPen(option.palette.color(QPalette::Active, QPalette::ButtonText));
            painter->setFont(option.font);
            painter->drawText(option.rect.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
                              index.data(Qt::DisplayRole).toString());
            painter->restore();
            return;
        }
        QStyleOptionViewItem opt(option);
        opt.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, opt, index);
    }

private:
    TStringGrid *m_grid;
};

} // namespace

TStringGrid::TStringGrid(QWidget *parent)
    : QTableWidget(1, 3, parent)
{
    horizontalHeader()->setVisible(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(DefaultRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setStretchLastSection(false);

    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setShowGrid(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setDragEnabled(false);
    setItemDelegate(new GridDelegate(this));
    // Tab leaves the grid for the next control instead of walking its cells.
    setTabKeyNavigation(false);

    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);

    setSelectedRow(0);
}

int TStringGrid::rowCount() const
{
    return QTableWidget::rowCount();
}

void TStringGrid::setRowCount(int rows)
{
    rows = std::max(rows, 1);
    int selected = selectedRow();
    // The grid never keeps as many fixed rows as it has rows; losing them puts
    // the selection on the first row, as changing the fixed rows always does.
    if (rows <= m_fixedRows)
        setFixedRows(rows - 1);
    selected = selectedRow();
    const int old = QTableWidget::rowCount();
    QTableWidget::setRowCount(rows);
    if (rows > old)
        applyRowFlags(old, rows - 1);
    if (selected > rows - 1)
        selected = rows - 1;
    if (selected < m_fixedRows)
        selected = m_fixedRows;
    setSelectedRow(selected);
}

std::string TStringGrid::cell(int col, int row) const
{
    const QTableWidgetItem *it = item(row, col);
    return it ? it->text().toStdString() : std::string();
}

void TStringGrid::setCell(int col, int row, const std::string &text)
{
    if (QTableWidgetItem *it = itemAt(col, row))
        it->setText(QString::fromStdString(text));
}

int TStringGrid::fixedRows() const
{
    return m_fixedRows;
}

void TStringGrid::setFixedRows(int rows)
{
    if (rows == m_fixedRows || rows < 0 || rows >= rowCount())
        return;
    const int old = m_fixedRows;
    m_fixedRows = rows;
    applyRowFlags(0, std::max(old, rows));
    // A new number of fixed rows starts over at the first free row, at the top.
    setSelectedRow(m_fixedRows);
    scrollToTop();
    viewport()->update();
}

int TStringGrid::selectedRow() const
{
    const int row = currentRow();
    return row < 0 ? 0 : row;
}

void TStringGrid::setSelectedRow(int row)
{
    if (row < m_fixedRows || row >= rowCount())
        return;
    const QModelIndex index = model()->index(row, std::max(currentColumn(), 0));
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QTableWidgetItem *TStringGrid::itemAt(int col, int row)
{
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount())
        return nullptr;
    QTableWidgetItem *it = item(row, col);
    if (!it) {
        it = new QTableWidgetItem;
        setItem(row, col, it);
        applyRowFlags(row, row);
    }
    return it;
}

// Fixed rows are disabled items: the view then neither selects them nor
// moves the cursor onto them. Every cell of such a row needs an item for that.
void TStringGrid::applyRowFlags(int firstRow, int lastRow)
{
    lastRow = std::min(lastRow, rowCount() - 1);
    for (int row = std::max(firstRow, 0); row <= lastRow; ++row) {
        const bool fixed = row < m_fixedRows;
        for (int col = 0; col < columnCount(); ++col) {
            QTableWidgetItem *it = item(row, col);
            if (!it) {
                if (!fixed)
                    continue;
                it = new QTableWidgetItem;
                setItem(row, col, it);
            }
            it->setFlags(fixed ? Qt::NoItemFlags : (Qt::ItemIsEnabled | Qt::ItemIsSelectable));
        }
    }
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Not the view's double-click: that would edit or act on the cell under
    // the pointer, while a double-click here always means the selected row.
    event->accept();
    if (event->button() == Qt::LeftButton)
        emit dblClick();
}

QItemSelectionModel::SelectionFlags TStringGrid::selectionCommand(const QModelIndex &index,
                                                                  const QEvent *) const
{
    // No toggling or clearing: one whole row always stays selected.
    if (!index.isValid() || index.row() < m_fixedRows)
        return QItemSelectionModel::NoUpdate;
    return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
}

bool TStringGrid::moveSelectionByKey(int key)
{
    const int first = m_fixedRows;
    const int last = rowCount() - 1;
    const int current = selectedRow();
    const int page = std::max(1, viewport()->height() / DefaultRowHeight - 1);
    int target;
    switch (key) {
    case Qt::Key_Up: target = current - 1; break;
    case Qt::Key_Down: target = current + 1; break;
    case Qt::Key_PageUp: target = current - page; break;
    case Qt::Key_PageDown: target = current + page; break;
    case Qt::Key_Home: target = first; break;
    case Qt::Key_End: target = last; break;
    default: return false;
    }
    target = std::clamp(target, first, std::max(first, last));
    if (target != current)
        setSelectedRow(target);
    scrollTo(model()->index(selectedRow(), 0));
    return true;
}

void TStringGrid::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    // "+" and "-" as typed: Shift may be needed for them on some layouts.
    if (key == Qt::Key_Plus && !(mods & ~Qt::ShiftModifier)) {
        emit plusKey();
        return;
    }
    if (key == Qt::Key_Minus && !(mods & ~Qt::ShiftModifier)) {
        emit minusKey();
        return;
    }
    if (mods == Qt::NoModifier || ((key == Qt::Key_Home || key == Qt::Key_End) && mods == Qt::ControlModifier)) {
        switch (key) {
        case Qt::Key_Delete:
            emit deleteKey();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_F2:
            if (!event->isAutoRepeat())
                emit editKey();
            return;
        default:
            // The view's own moves would land on a fixed row or only change
            // the column; the selection rules decide the row here.
            if (moveSelectionByKey(key))
                return;
        }
    }
    QTableWidget::keyPressEvent(event);
}

// Typing letters does not jump to a matching row: "+" and "-" are commands,
// and the selection moves only by the keys above, the mouse and the rules.
void TStringGrid::keyboardSearch(const QString &)
{
}

int TStringGrid::accessibleHeaderRows() const
{
    return std::min(std::max(m_fixedRows, 1), rowCount());
}

int TStringGrid::accessibleChildIndex(int row, int col) const
{
    const int header = accessibleHeaderRows();
    if (row < header)
        return (rowCount() - header + row) * columnCount() + col;
    return (row - header) * columnCount() + col;
}

namespace {

void announceCell(TStringGrid *grid, QAccessible::Event type, int row, int col)
{
    if (row < 0 || row >= grid->rowCount() || col < 0 || col >= grid->columnCount())
        return;
    QAccessibleEvent event(grid, type);
    event.setChild(grid->accessibleChildIndex(row, col));
    QAccessible::updateAccessibility(&event);
}

} // namespace

// The table view tells screen readers of its cells by its own numbering,
// which counts the header row as a step, and reports the current cell as
// focused even while the keyboard is elsewhere; a reader would then follow
// every added step into the grid. The grid speaks for itself instead.
void TStringGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QAbstractItemView::currentChanged(current, previous);
    if (QAccessible::isActive() && hasFocus() && current.isValid() && current.row() >= accessibleHeaderRows())
        announceCell(this, QAccessible::Focus, current.row(), current.column());
}

void TStringGrid::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QAbstractItemView::selectionChanged(selected, deselected);
    if (!QAccessible::isActive())
        return;
    for (const QModelIndex &index : deselected.indexes())
        announceCell(this, QAccessible::SelectionRemove, index.row(), index.column());
    for (const QModelIndex &index : selected.indexes())
        announceCell(this, QAccessible::SelectionAdd, index.row(), index.column());
}

void TStringGrid::focusInEvent(QFocusEvent *event)
{
    QTableWidget::focusInEvent(event);
    if (!QAccessible::isActive())
        return;
    // After the grid's own focus event, which Qt sends once this returns: the
    // reader then moves on from the table to its current step.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (hasFocus() && currentRow() >= accessibleHeaderRows())
                announceCell(this, QAccessible::Focus, currentRow(), std::max(currentColumn(), 0));
        },
        Qt::QueuedConnection);
}
