#include "ui/accessibility.h"

#include <QComboBox>
#include <QHeaderView>
#include <QSet>
#include <QWindow>

#include "ui/panel.h"
#include "ui/string_grid.h"

namespace tintrava {

namespace {

const char *const IndicatorProperty = "tintravaConnectionIndicator";
const char *const NoticeProperty = "tintravaSpokenNotice";

// The panels and boxes Qt has asked the factory about: only those can have
// an interface to replace. Asking Qt for one would make it (and load Qt's
// accessibility at every start, with no screen reader listening).
QSet<const QObject *> &askedObjects()
{
    static QSet<const QObject *> asked;
    return asked;
}

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("TForm1")) {
        // The main window is a plain widget, which Qt would present as a
        // nameless part of something else; screen readers look for a frame.
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    }
    if (className == QLatin1String("TPanel")) {
        askedObjects().insert(object);
        auto *panel = qobject_cast<TPanel *>(object);
        if (panel && panel->isKeyboardButton())
            return new PaletteEntryAccessible(panel);
    } else if (className == QLatin1String("TStringGrid")) {
        return new GridAccessible(static_cast<TStringGrid *>(object));
    } else if (className == QLatin1String("QWidget") && object->property(NoticeProperty).toBool()) {
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Notification);
    } else if (className == QLatin1String("QComboBox")) {
        askedObjects().insert(object);
        auto *combo = qobject_cast<QComboBox *>(object);
        if (combo && combo->property(IndicatorProperty).toBool())
            return new ConnectionIndicatorAccessible(combo);
    }
    return nullptr;
}

// A cell of the grid, by its place: the text is whatever the grid holds there
// now. Cells of the header row are the column headers.
class GridCellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    GridCellAccessible(TStringGrid *grid, int gridRow, int column)
        : m_grid(grid), m_row(gridRow), m_column(column)
    {
    }

    bool isValid() const override { return m_grid && m_row < m_grid->rowCount(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_grid ? m_grid->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_grid.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !isValid())
            return QString();
        const QTableWidgetItem *item = m_grid->item(m_row, m_column);
        return item ? item->text() : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}

    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QRect r = m_grid->visualRect(m_grid->model()->index(m_row, m_column));
        return QRect(m_grid->viewport()->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::Role role() const override { return isHeader() ? QAccessible::ColumnHeader : QAccessible::Cell; }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const QRect r = m_grid->visualRect(m_grid->model()->index(m_row, m_column));
        if (!m_grid->isVisible() || !m_grid->viewport()->rect().intersects(r))
            s.invisible = s.offscreen = true;
        if (isHeader())
            return s;
        s.selectable = true;
        s.focusable = true;
        s.selected = m_grid->selectedRow() == m_row;
        // Only where the keyboard is: the grid's current cell is no focus
        // while the user is on the palette.
        s.focused = m_grid->hasFocus() && m_grid->currentRow() == m_row && m_grid->currentColumn() == m_column;
        s.disabled = !m_grid->isEnabled();
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableCellInterface && !isHeader())
            return static_cast<QAccessibleTableCellInterface *>(this);
        return nullptr;
    }

    bool isSelected() const override { return isValid() && m_grid->selectedRow() == m_row; }
    QList<QAccessibleInterface *> columnHeaderCells() const override
    {
        QAccessibleInterface *table = this->table();
        QAccessibleInterface *header =
            table && m_grid->rowCount() > 0 ? table->child(m_grid->accessibleChildIndex(0, m_column)) : nullptr;
        return header ? QList<QAccessibleInterface *>{header} : QList<QAccessibleInterface *>{};
    }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_grid ? m_row - m_grid->accessibleHeaderRows() : -1; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

private:
    bool isHeader() const { return m_grid && m_row < m_grid->accessibleHeaderRows(); }

    QPointer<TStringGrid> m_grid;
    int m_row;
    int m_column;
};

} // namespace

void installAccessibility()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(accessibleFactory);
}

void setConnectionIndicator(QComboBox *combo)
{
    combo->setProperty(IndicatorProperty, true);
    refreshAccessibleInterface(combo);
}

void refreshAccessibleInterface(QObject *object)
{
    installAccessibility();
    // An object is forgotten here only when it is gone, and its address may
    // come back for another: then an interface is made that was not needed,
    // which is harmless.
    if (!askedObjects().contains(object))
        return;
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    if (!iface)
        return;
    auto *panel = qobject_cast<TPanel *>(object);
    auto *combo = qobject_cast<QComboBox *>(object);
    const bool wantOwn = (panel && panel->isKeyboardButton()) || (combo && combo->property(IndicatorProperty).toBool());
    const bool isOwn = dynamic_cast<PaletteEntryAccessible *>(iface) || dynamic_cast<ConnectionIndicatorAccessible *>(iface);
    if (wantOwn != isOwn)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
}

// --- PaletteEntryAccessible ------------------------------------------------

PaletteEntryAccessible::PaletteEntryAccessible(TPanel *panel)
    : QAccessibleWidget(panel, QAccessible::Button)
{
}

TPanel *PaletteEntryAccessible::panel() const
{
    return static_cast<TPanel *>(widget());
}

QString PaletteEntryAccessible::text(QAccessible::Text t) const
{
    switch (t) {
    case QAccessible::Name:
        return panel()->accessibleName().isEmpty() ? panel()->caption() : panel()->accessibleName();
    case QAccessible::Description:
        return panel()->accessibleDescription().isEmpty() ? panel()->buttonDescription()
                                                          : panel()->accessibleDescription();
    default:
        return QAccessibleWidget::text(t);
    }
}

QAccessible::State PaletteEntryAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    // A push button: the caption is not text to select.
    s.selectable = false;
    return s;
}

QStringList PaletteEntryAccessible::actionNames() const
{
    QStringList names;
    if (widget()->isEnabled())
        names << QAccessibleActionInterface::pressAction();
    names << QAccessibleWidget::actionNames();
    return names;
}

void PaletteEntryAccessible::doAction(const QString &actionName)
{
    if (actionName == QAccessibleActionInterface::pressAction())
        panel()->click();
    else
        QAccessibleWidget::doAction(actionName);
}

QStringList PaletteEntryAccessible::keyBindingsForAction(const QString &actionName) const
{
    if (actionName == QAccessibleActionInterface::pressAction())
        return {QStringLiteral("Space")};
    return QAccessibleWidget::keyBindingsForAction(actionName);
}

// --- SpokenNotice ---------------------------------------------------------

SpokenNotice::SpokenNotice(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("SpokenNotice"));
    setProperty(NoticeProperty, true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 0, 0);
    hide();
}

void SpokenNotice::say(const QString &text)
{
    m_text = text;
    setAccessibleName(text);
    // Appearing is what the reader announces; a second notice appears anew.
    hide();
    show();
}

// --- GridAccessible ---------------------------------------------------------

GridAccessible::GridAccessible(TStringGrid *grid)
    : QAccessibleWidget(grid, QAccessible::Table)
{
}

GridAccessible::~GridAccessible()
{
    dropCellsFrom(0);
}

TStringGrid *GridAccessible::grid() const
{
    return static_cast<TStringGrid *>(widget());
}

void *GridAccessible::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface *>(this);
    return QAccessibleWidget::interface_cast(t);
}

QAccessibleInterface *GridAccessible::gridCell(int gridRow, int column) const
{
    if (gridRow < 0 || gridRow >= grid()->rowCount() || column < 0 || column >= grid()->columnCount())
        return nullptr;
    const int key = gridRow * 1024 + column;
    if (const QAccessible::Id id = m_cells.value(key))
        if (QAccessibleInterface *cell = QAccessible::accessibleInterface(id))
            return cell;
    auto *cell = new GridCellAccessible(grid(), gridRow, column);
    m_cells.insert(key, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

void GridAccessible::dropCellsFrom(int gridRow) const
{
    for (auto it = m_cells.begin(); it != m_cells.end();) {
        if (it.key() / 1024 >= gridRow) {
            QAccessible::deleteAccessibleInterface(it.value());
            it = m_cells.erase(it);
        } else {
            ++it;
        }
    }
}

void GridAccessible::modelChange(QAccessibleTableModelChangeEvent *)
{
    // Cells stand for places, not contents; only places gone are dropped.
    dropCellsFrom(grid()->rowCount());
}

int GridAccessible::childCount() const
{
    return grid()->rowCount() * grid()->columnCount();
}

QAccessibleInterface *GridAccessible::child(int index) const
{
    const int columns = grid()->columnCount();
    const int header = grid()->accessibleHeaderRows();
    const int dataCells = (grid()->rowCount() - header) * columns;
    if (index < 0 || columns == 0)
        return nullptr;
    if (index < dataCells)
        return gridCell(header + index / columns, index % columns);
    index -= dataCells;
    return index < header * columns ? gridCell(index / columns, index % columns) : nullptr;
}

int GridAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    for (auto it = m_cells.cbegin(); it != m_cells.cend(); ++it)
        if (QAccessible::accessibleInterface(it.value()) == child)
            return grid()->accessibleChildIndex(it.key() / 1024, it.key() % 1024);
    return -1;
}

QAccessibleInterface *GridAccessible::childAt(int x, int y) const
{
    const QPoint local = grid()->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex index = grid()->indexAt(local);
    return index.isValid() ? gridCell(index.row(), index.column()) : nullptr;
}

QAccessibleInterface *GridAccessible::focusChild() const
{
    if (!grid()->hasFocus() || grid()->currentRow() < grid()->accessibleHeaderRows())
        return nullptr;
    return gridCell(grid()->currentRow(), std::max(grid()->currentColumn(), 0));
}

QAccessibleInterface *GridAccessible::cellAt(int row, int column) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    return gridCell(row + grid()->accessibleHeaderRows(), column);
}

int GridAccessible::rowCount() const
{
    return grid()->rowCount() - grid()->accessibleHeaderRows();
}

int GridAccessible::columnCount() const
{
    return grid()->columnCount();
}

QString GridAccessible::columnDescription(int column) const
{
    const QTableWidgetItem *item = grid()->horizontalHeaderItem(column);
    return item ? item->text() : QString();
}

QList<int> GridAccessible::selectedRows() const
{
    const int row = grid()->selectedRow() - grid()->accessibleHeaderRows();
    return row >= 0 && row < rowCount() ? QList<int>{row} : QList<int>{};
}

int GridAccessible::selectedRowCount() const
{
    return int(selectedRows().size());
}

bool GridAccessible::isRowSelected(int row) const
{
    return selectedRows().contains(row);
}

int GridAccessible::selectedCellCount() const
{
    return selectedRowCount() * columnCount();
}

QList<QAccessibleInterface *> GridAccessible::selectedCells() const
{
    QList<QAccessibleInterface *> cells;
    for (int row : selectedRows())
        for (int c = 0; c < columnCount(); ++c)
            cells << cellAt(row, c);
    return cells;
}

bool GridAccessible::selectRow(int row)
{
    if (row < 0 || row >= rowCount() || !grid()->isEnabled())
        return false;
    grid()->setSelectedRow(row + grid()->accessibleHeaderRows());
    return true;
}

// --- ConnectionIndicatorAccessible ------------------------------------------

ConnectionIndicatorAccessible::ConnectionIndicatorAccessible(QComboBox *combo)
    : QAccessibleWidget(combo, QAccessible::ComboBox)
{
}

QComboBox *ConnectionIndicatorAccessible::combo() const
{
    return static_cast<QComboBox *>(widget());
}

QString ConnectionIndicatorAccessible::value() const
{
    return combo()->currentText();
}

void *ConnectionIndicatorAccessible::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(t);
}

QString ConnectionIndicatorAccessible::text(QAccessible::Text t) const
{
    switch (t) {
    case QAccessible::Name:
        return combo()->accessibleName();
    case QAccessible::Value:
        return value();
    default:
        return QAccessibleWidget::text(t);
    }
}

QAccessible::State ConnectionIndicatorAccessible::state() const
{
    // The indicator is disabled only so that nobody can change it; for a
    // screen reader it is current information, not an unavailable control.
    QAccessible::State s = QAccessibleWidget::state();
    s.disabled = false;
    s.readOnly = true;
    s.focusable = false;
    s.expandable = false;
    return s;
}

QStringList ConnectionIndicatorAccessible::actionNames() const
{
    return {};
}

void ConnectionIndicatorAccessible::selection(int, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
}

int ConnectionIndicatorAccessible::selectionCount() const
{
    return 0;
}

void ConnectionIndicatorAccessible::addSelection(int, int) {}
void ConnectionIndicatorAccessible::removeSelection(int) {}
void ConnectionIndicatorAccessible::setSelection(int, int, int) {}

int ConnectionIndicatorAccessible::cursorPosition() const
{
    return 0;
}

void ConnectionIndicatorAccessible::setCursorPosition(int) {}

QString ConnectionIndicatorAccessible::text(int startOffset, int endOffset) const
{
    const QString v = value();
    if (startOffset < 0 || startOffset > v.size())
        return QString();
    if (endOffset < 0 || endOffset > v.size())
        endOffset = int(v.size());
    if (endOffset < startOffset)
        return QString();
    return v.mid(startOffset, endOffset - startOffset);
}

int ConnectionIndicatorAccessible::characterCount() const
{
    return int(value().size());
}

// Where the combo box draws its text: readers that review the screen by
// position (Orca's flat review) place the value by these rectangles.
QRect ConnectionIndicatorAccessible::characterRect(int offset) const
{
    const QString v = value();
    if (offset < 0 || offset >= v.size())
        return QRect();
    const QFontMetrics fm(combo()->font());
    const QRect box = combo()->rect();
    const int left = TextIndent + fm.horizontalAdvance(v.left(offset));
    const int top = box.top() + (box.height() - fm.height()) / 2;
    const QRect local(left, top, std::max(1, fm.horizontalAdvance(v.at(offset))), fm.height());
    return QRect(combo()->mapToGlobal(local.topLeft()), local.size());
}

int ConnectionIndicatorAccessible::offsetAtPoint(const QPoint &point) const
{
    for (int i = 0; i < characterCount(); ++i)
        if (characterRect(i).contains(point))
            return i;
    return -1;
}

void ConnectionIndicatorAccessible::scrollToSubstring(int, int) {}

QString ConnectionIndicatorAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = 0;
    *endOffset = characterCount();
    if (offset < 0 || offset > characterCount())
        *startOffset = *endOffset = -1;
    return QString();
}

} // namespace tintrava
