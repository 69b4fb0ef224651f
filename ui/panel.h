#pragma once
// A raised panel with a centred caption that can act as a button: the palette
// entries, the right-hand button panel and the playback overlay.
#include <QColor>
#include <QLabel>

class TPanel : public QLabel {
    Q_OBJECT
public:
    explicit TPanel(const QString &caption = QString(), QWidget *parent = nullptr);

    QString caption() const { return text(); }
    QColor color() const;
    void setColor(const QColor &color);
    QColor fontColor() const;
    void setFontColor(const QColor &color);

    // A panel that acts as a button for the keyboard too: it takes the focus
    // by Tab (never by a click, so the mouse works as before), Space and Enter
    // click it, and it shows a focus frame while it has the focus once the
    // keyboard cues of its window are on. Screen readers see it as a push
    // button (see ui/accessibility.h).
    void setKeyboardButton(bool on);
    bool isKeyboardButton() const { return m_keyboardButton; }
    // A short description for screen readers of what a click does.
    QString buttonDescription() const { return m_description; }
    void setButtonDescription(const QString &description) { m_description = description; }

    // The focus frame: a dark line with a light line inside it, so that one of
    // the two stands out on any panel colour. Inset from the panel's edge.
    static constexpr int FocusFrameInset = 3;
    static const QColor FocusFrameOuter;
    static const QColor FocusFrameInner;

    // Keyboard cues, as Windows has them: a window shows focus frames only
    // once its keyboard has been used, so that somebody working with the
    // mouse alone never sees one. Once on, they stay on for the window.
    static bool keyboardCues(const QWidget *window);
    static void showKeyboardCues(QWidget *window);

public slots:
    // What a left click does; used by the keyboard and by screen readers.
    void click();

signals:
    // A left click: press and release on the panel. The second press of a
    // double-click does not count, so a double-click is one click.
    void clicked();

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_pressed = false;
    bool m_keyboardButton = false;
    bool m_spaceDown = false;
    QString m_description;
};
