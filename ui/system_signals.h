#pragma once
// The signals with which the system or a terminal ends the program (SIGTERM,
// SIGHUP, SIGINT) brought into the event loop, so the program can end the
// way closing its window does. The handler only writes the signal's number
// into a pipe; the event loop reads it and emits received().
#include <QObject>

class QSocketNotifier;

namespace tintrava {

class SystemSignals : public QObject {
    Q_OBJECT
public:
    // One per program: the handlers are the process's.
    explicit SystemSignals(QObject *parent = nullptr);
    ~SystemSignals() override;

    // Whether the handlers are in place.
    bool active() const { return m_notifier != nullptr; }
    // After the first signal, a second one ends the program at once, in case
    // ending it the orderly way hangs.
    static void restoreDefaults();

signals:
    void received(int signal);

private:
    void readSignals();
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace tintrava
