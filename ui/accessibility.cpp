#include "ui/accessibility.h"

#include <QComboBox>

#include "ui/panel.h"

namespace tintrava {

namespace {

const char *const IndicatorProperty = "tintravaConnectionIndicator";

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("TForm1")) {
        // The main window is a plain widget, which Qt would present as a
        // nameless part of something else; screen readers look for a frame.
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    }
    if (className == QLatin1String("TPanel")) {
        auto *panel = qobject_cast<TPanel *>(object);
        if (panel && panel->isKeyboardButton())
            return new PaletteEntryAccessible(panel);
    } else if (className == QLatin1String("QComboBox")) {
        auto *combo = qobject_cast<QComboBox *>(object);
        if (combo && combo->property(IndicatorProperty).toBool())
            return new ConnectionIndicatorAccessible(combo);
    }
    return nullptr;
}

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

QRect ConnectionIndicatorAccessible::characterRect(int) const
{
    return QRect();
}

int ConnectionIndicatorAccessible::offsetAtPoint(const QPoint &) const
{
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
