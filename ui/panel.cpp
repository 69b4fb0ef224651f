#include "ui/panel.h"

#include <QMouseEvent>

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
