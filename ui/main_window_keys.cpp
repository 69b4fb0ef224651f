// The main window by keyboard: the focus order, the keys of the palette and
// the buttons, the window-wide keys, and where the focus goes while a sequence
// plays and after the hardware dialog. The mouse works as before.
#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>

namespace {

// Up and Down move the focus between the palette entries, top to bottom;
// they stop at the ends.
class PaletteArrowKeys : public QObject {
public:
    PaletteArrowKeys(QList<TPanel *> entries, QObject *parent)
        : QObject(parent), m_entries(std::move(entries))
    {
        for (TPanel *entry : m_entries)
            entry->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & ~Qt::KeypadModifier)
            return false;
        const int step = key->key() == Qt::Key_Down ? 1 : key->key() == Qt::Key_Up ? -1 : 0;
        if (step == 0)
            return false;
        const qsizetype at = m_entries.indexOf(static_cast<TPanel *>(watched));
        const qsizetype next = at + step;
        if (at >= 0 && next >= 0 && next < m_entries.size())
            m_entries[next]->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }

private:
    QList<TPanel *> m_entries;
};

// Enter on a focused push button clicks it, as Space does. The buttons are not
// "auto default", which would do this too but changes how they are drawn.
class EnterClicksButton : public QObject {
public:
    using QObject::QObject;

    void watch(QPushButton *button) { button->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            || (key->modifiers() & ~Qt::KeypadModifier))
            return false;
        if (!key->isAutoRepeat())
            static_cast<QPushButton *>(watched)->click();
        return true;
    }
};

// Turns the window's keyboard cues on at its first key press: Tab, an arrow,
// Space, Enter, a shortcut. Ctrl or Shift alone (held for a click, say) do
// not count.
class KeyboardCueWatcher : public QObject {
public:
    explicit KeyboardCueWatcher(QWidget *window)
        : QObject(window), m_window(window)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || widget->window() != m_window || TPanel::keyboardCues(m_window))
            return false;
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Control:
        case Qt::Key_Shift:
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
            return false;
        default:
            TPanel::showKeyboardCues(m_window);
            return false;
        }
    }

private:
    QWidget *m_window;
};

} // namespace

QList<QWidget *> TForm1::focusOrder() const
{
    return {Panel8, Panel14, Panel15, Panel11, Panel12, Panel7, Panel10, Panel6, Panel13, Panel9, Panel5, Panel16,
            StringGrid1, Button1, Button2, Button3, Button5};
}

void TForm1::setupKeyboard()
{
    const QList<QWidget *> order = focusOrder();
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    QList<TPanel *> entries;
    for (const PaletteEntry &entry : m_palette)
        entries << entry.panel;
    new PaletteArrowKeys(entries, this);

    new KeyboardCueWatcher(this);

    auto *enter = new EnterClicksButton(this);
    for (QPushButton *button : {Button1, Button2, Button3, Button5, Button4})
        enter->watch(button);

    connect(StringGrid1, &TStringGrid::deleteKey, Button1, &QPushButton::click);
    connect(StringGrid1, &TStringGrid::plusKey, Button2, &QPushButton::click);
    connect(StringGrid1, &TStringGrid::minusKey, Button3, &QPushButton::click);
    connect(StringGrid1, &TStringGrid::editKey, this, &TForm1::StringGrid1DblClick);
    // The grid's column headers for screen readers; its header row is row 0.
    StringGrid1->setHorizontalHeaderLabels(
        {QStringLiteral("FarbNr"), QStringLiteral("Bezeichnung"), QStringLiteral("Minuten")});
    StringGrid1->setAccessibleName(Label3->text());

    // A disabled button ignores click(), so F5 does nothing while playing.
    StartShortcut = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(StartShortcut, &QShortcut::activated, Button5, &QPushButton::click);
    CancelShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    CancelShortcut->setEnabled(false);
    connect(CancelShortcut, &QShortcut::activated, Button4, &QPushButton::click);
    // "Harware anpassen" is otherwise only a right-click on "Verbindung:" away.
    MenuShortcut = new QShortcut(QKeySequence(Qt::Key_Menu), this);
    connect(MenuShortcut, &QShortcut::activated, this, &TForm1::openPopupMenuByKey);
    MenuShortcut2 = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
    connect(MenuShortcut2, &QShortcut::activated, this, &TForm1::openPopupMenuByKey);

    Panel8->setFocus(Qt::OtherFocusReason);
}

void TForm1::openPopupMenuByKey()
{
    PopupMenu1->setActiveAction(Harwareanpassen1);
    popupMenuAt(Label1, Label1->rect().bottomLeft());
}

void TForm1::rememberFocusBeforePlay()
{
    m_focusBeforePlay = focusWidget();
}

void TForm1::keyboardWhilePlaying(bool playing)
{
    // The overlay hides palette and grid; the keyboard must not reach them
    // under it either, nor a screen reader press an entry there.
    for (QWidget *w : focusOrder())
        if (w != Button1 && w != Button2 && w != Button3 && w != Button5)
            w->setEnabled(!playing);
    CancelShortcut->setEnabled(playing);
    if (playing) {
        Button4->setFocus(Qt::OtherFocusReason);
        return;
    }
    QWidget *back = m_focusBeforePlay;
    m_focusBeforePlay = nullptr;
    if (!back || !back->isEnabled() || !back->isVisible() || back->focusPolicy() == Qt::NoFocus)
        back = Panel8;
    back->setFocus(Qt::OtherFocusReason);
}

void TForm1::returnFocusAfterDialog()
{
    if (!isVisible())
        return;
    activateWindow();
    if (!focusWidget() || focusWidget() == this)
        Panel8->setFocus(Qt::OtherFocusReason);
}
