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

signals:
    // A left click: press and release on the panel. The second press of a
    // double-click does not count, so a double-click is one click.
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
};
