#include "ui/panel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "ui/accessibility.h"

const QColor TPanel::FocusFrameOuter = QColor(0, 0, 0);
const QColor TPanel::FocusFrameInner = QColor(255, 255, 255);

namespace {
const char *const KeyboardCuesProperty = "tintravaKeyboardCues";
}

bool TPanel::keyboardCues(const QWidget *window)
{
    return window && window->property(KeyboardCuesProperty).toBool();
}

void TPanel::showKeyboardCues(QWidget *window)
{
    if (!window || keyboardCues(window))
        return;
    window->setProperty(KeyboardCuesProperty, true);
    // Only the focused entry draws anything new.
    if (auto *panel = qobject_cast<TPanel *>(window->focusWidget()))
        panel->update();
}

TPanel::TPanel(const QString &caption, QWidget *parent)
    : QLabel(caption, parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(true);
}

QColor TPanel::color() const
{
    return palette().color(QPalette::Window);
}

void TPanel::setColor(const QColor &color)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
}

QColor TPanel::fontColor() const
{
    return palette().color(QPalette::WindowText);
}

void TPanel::setFontColor(const QColor &color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

void TPanel::setKeyboardButton(bool on)
{
    m_keyboardButton = on;
    // Tab only: a click must not move the focus, or every palette click would
    // leave a focus frame behind where there was none before.
    setFocusPolicy(on ? Qt::TabFocus : Qt::NoFocus);
    update();
    // Made as a label, it may already be known to screen readers as one.
    tintrava::refreshAccessibleInterface(this);
}

void TPanel::click()
{
    if (isEnabled())
        emit clicked();
}

bool TPanel::event(QEvent *event)
{
    // Qt polishes a label that takes the focus with a text document of its
    // own, for text to select and links to follow. A panel has neither, and
    // its caption looks the same drawn without one; a dozen documents, and
    // Qt's default font loaded for their first layout, would be made at every
    // start for nothing. So the panel is polished as one without focus; Qt
    // still makes the document when the panel first takes the focus.
    if (event->type() == QEvent::Polish && focusPolicy() != Qt::NoFocus) {
        const Qt::FocusPolicy policy = focusPolicy();
        setFocusPolicy(Qt::NoFocus);
        const bool handled = QLabel::event(event);
        setFocusPolicy(policy);
        return handled;
    }
    return QLabel::event(event);
}

void TPanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    QLabel::mousePressEvent(event);
}

void TPanel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void TPanel::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Deliberately not a press: the release that follows must not click again.
    m_pressed = false;
    event->accept();
}

// Like a push button: Enter clicks at once, Space when it is let go. A held
// key does not repeat the click, so one key press adds one row.
void TPanel::keyPressEvent(QKeyEvent *event)
{
    if (!m_keyboardButton || event->modifiers() & ~Qt::KeypadModifier) {
        QLabel::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    case Qt::Key_Space:
        if (!event->isAutoRepeat())
            m_spaceDown = true;
        event->accept();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void TPanel::keyReleaseEvent(QKeyEvent *event)
{
    if (m_keyboardButton && event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        const bool wasDown = m_spaceDown;
        m_spaceDown = false;
        event->accept();
        if (wasDown)
            click();
        return;
    }
    QLabel::keyReleaseEvent(event);
}

void TPanel::focusOutEvent(QFocusEvent *event)
{
    // Space pressed here and let go elsewhere is no click.
    m_spaceDown = false;
    QLabel::focusOutEvent(event);
}

void TPanel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (!m_keyboardButton || !hasFocus() || !keyboardCues(window()))
        return;
    QPainter painter(this);
    const QRect outer = rect().adjusted(FocusFrameInset, FocusFrameInset, -FocusFrameInset - 1,
                                        -FocusFrameInset - 1);
    painter.setPen(FocusFrameOuter);
    painter.drawRect(outer);
    painter.setPen(FocusFrameInner);
    painter.drawRect(outer.adjusted(1, 1, -1, -1));
}
