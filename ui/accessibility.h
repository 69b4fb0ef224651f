#pragma once
// What screen readers see of the main window beyond Qt's own interfaces: the
// palette entries as push buttons with a Press action, the connection
// indicator as "Verbindung" with its state as the value.
#include <QAccessibleWidget>

class QComboBox;
class TPanel;

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
    QComboBox *combo() const;
    QString value() const;
};

} // namespace tintrava
