#include "ui/first_paint_probe.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace tintrava {

namespace {

// Watches every object until the first paint inside the window, calls back
// and goes.
class FirstPaintWatch : public QObject {
public:
    FirstPaintWatch(QWidget *window, std::function<void()> onPaint)
        : QObject(qApp), m_window(window), m_onPaint(std::move(onPaint))
    {
    }

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() != QEvent::Paint || !object->isWidgetType() || !m_window)
            return false;
        if (static_cast<QWidget *>(object)->window() != m_window)
            return false;
        qApp->removeEventFilter(this);
        deleteLater();
        m_onPaint();
        return false;
    }

private:
    QPointer<QWidget> m_window;
    std::function<void()> m_onPaint;
};

} // namespace

void watchFirstPaint(QWidget *window)
{
    if (!qEnvironmentVariableIsSet("TINTRAVA_FIRST_PAINT_PROBE") || !window || !qApp)
        return;
    qApp->installEventFilter(new FirstPaintWatch(window, [] {
        timespec now {}, cpu {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
        std::fprintf(stderr, "first-paint %.3f cpu %.3f\n", double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6,
                     double(cpu.tv_sec) * 1000.0 + double(cpu.tv_nsec) / 1e6);
        std::fflush(stderr);
    }));
}

void afterFirstPaint(QWidget *window, std::function<void()> then)
{
    if (!window || !qApp)
        return;
    // Queued, so the paint that triggers it is finished first.
    qApp->installEventFilter(new FirstPaintWatch(window, [then = std::move(then)] {
        QTimer::singleShot(0, qApp, then);
    }));
}

} // namespace tintrava
