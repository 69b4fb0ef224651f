#pragma once
// What screen readers see of the main window beyond Qt's own interfaces: the
// palette entries as push buttons with a Press action, the connection
// indicator as "Verbindung" with its state as the value, the grid as a table
// of its steps under a header, and spoken notices.
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QWidget>

class QComboBox;
class TPanel;
class TStringGrid;

namespace tintrava {

// Registers the interfaces below with Qt. Safe to call more than once.
void installAccessibility();

// Marks a combo box as the read-only connection indicator.
void setConnectionIndicator(QComboBox *combo);

// Drops an interface Qt made for the object before it became what it is now
// (a label turned palette button, say), so that the next query gets the right
// one. Interfaces are cached per object for its lifetime.
void refreshAccessibleInterface(QObject *object);

// A palette entry: a push button named by its caption, with a description of
// what it adds, and Press doing exactly what a click does.
class PaletteEntryAccessible : public QAccessibleWidget {
public:
    explicit PaletteEntryAccessible(TPanel *panel);

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
    QStringList keyBindingsForAction(const QString &actionName) const override;

private:
    TPanel *panel() const;
};

// The connection indicator: a combo box that only the program changes. Its
// name is "Verbindung", its value (also as read-only text, which is how AT-SPI
// readers get at a value that is not a number) the shown state.
class ConnectionIndicatorAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ConnectionIndicatorAccessible(QComboBox *combo);

    void *interface_cast(QAccessible::InterfaceType t) override;
    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;

    // QAccessibleTextInterface: the value, read-only.
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    // Left margin of the shown text inside the box.
    static constexpr int TextIndent = 4;
    QComboBox *combo() const;
    QString value() const;
};

// Something said to the screen reader user without moving the keyboard: a
// confirmation of an edit, a change of the connection. Invisible on screen;
// screen readers see a notification that appears with the text as its name
// (Orca speaks a notification when it shows).
class SpokenNotice : public QWidget {
public:
    explicit SpokenNotice(QWidget *parent);
    void say(const QString &text);
    QString text() const { return m_text; }

private:
    QString m_text;
};

// The grid as its user sees it: a table of the steps, the first step in row
// 0, under column headers made from the grid's header row ("FarbNr",
// "Bezeichnung", "Minuten"). A cell reports the focus only while the grid has
// the keyboard. Children: the steps' cells row by row, then the header cells
// (TStringGrid::accessibleChildIndex).
class GridAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit GridAccessible(TStringGrid *grid);
    ~GridAccessible() override;

    void *interface_cast(QAccessible::InterfaceType t) override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;

    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface *> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return QString(); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    // One step is always selected: another can be chosen, none taken away.
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *event) override;

private:
    TStringGrid *grid() const;
    // The interface of the grid cell at (gridRow, column), made once.
    QAccessibleInterface *gridCell(int gridRow, int column) const;
    void dropCellsFrom(int gridRow) const;

    mutable QHash<int, QAccessible::Id> m_cells;
};

} // namespace tintrava
