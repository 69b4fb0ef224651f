#include "ui/first_paint_probe.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace tintrava {

namespace {

// Watches every object until the first paint inside the window, then goes.
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(QWidget *window) : QObject(qApp), m_window(window) { }

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() != QEvent::Paint || !object->isWidgetType() || !m_window)
            return false;
        if (static_cast<QWidget *>(object)->window() != m_window)
            return false;
        timespec now {}, cpu {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
        std::fprintf(stderr, "first-paint %.3f cpu %.3f\n", double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6,
                     double(cpu.tv_sec) * 1000.0 + double(cpu.tv_nsec) / 1e6);
        std::fflush(stderr);
        qApp->removeEventFilter(this);
        deleteLater();
        return false;
    }

private:
    QPointer<QWidget> m_window;
};

class BeforeFirstPaint : public QObject {
public:
    BeforeFirstPaint(QObject *parent, std::function<void()> then) : QObject(parent), m_then(std::move(then)) { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            deleteLater();
            if (m_then)
                m_then();
        }
        return false;
    }

private:
    std::function<void()> m_then;
};

} // namespace

void whenFirstPainted(QWidget *widget, std::function<void()> then)
{
    widget->installEventFilter(new BeforeFirstPaint(widget, std::move(then)));
}

void watchFirstPaint(QWidget *window)
{
    if (!qEnvironmentVariableIsSet("TINTRAVA_FIRST_PAINT_PROBE") || !window || !qApp)
        return;
    qApp->installEventFilter(new FirstPaintProbe(window));
}

} // namespace tintrava
