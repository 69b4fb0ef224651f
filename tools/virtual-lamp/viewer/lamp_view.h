#pragma once
// The window of the virtual lamp: every lamp named in the trace as a large
// disc in its current colour, with what the program last told it.
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "tools/virtual-lamp/viewer/lamp_trace.h"

namespace tintrava {

class LampView : public QWidget {
    Q_OBJECT
public:
    explicit LampView(const QString &tracePath, QWidget *parent = nullptr);

    const LampTrace &trace() const { return m_trace; }
    // Where lamp i (in trace order) is drawn, in widget coordinates.
    QRect discRect(int index) const;

    static constexpr int PollIntervalMs = 100;

    QSize sizeHint() const override;

public slots:
    // Reads what was appended to the trace and repaints when a lamp changed.
    void pollTrace();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int columns() const;
    QRect cardRect(int index) const;

    LampTrace m_trace;
    TraceFollower m_follower;
    QTimer m_timer;
};

} // namespace tintrava
