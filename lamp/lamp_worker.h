#pragma once
// The one thread that talks to the lamp. A text exchange takes 300 ms (the
// wait for the reply and the read's time-out); run on a window's thread it
// would hold up every input and paint event for that long. Every exchange
// and every discovery goes through one LampWorker, one job at a time in the
// order posted, so a discovery never falls between an exchange's open and
// close and a command never overlaps another.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tintrava {

class LampWorker {
public:
    enum class Mode {
        OwnThread,    // jobs run on the worker's thread, started at the first post
        CallerThread, // jobs run at once on the thread that posts them
    };

    explicit LampWorker(Mode mode = Mode::OwnThread);
    // finish()
    ~LampWorker();
    LampWorker(const LampWorker &) = delete;
    LampWorker &operator=(const LampWorker &) = delete;

    // Runs job after every job posted before it. A job that throws is
    // abandoned; the ones after it still run.
    void post(std::function<void()> job);
    // Jobs posted and not yet finished, the one running included.
    int pending() const;
    // Blocks until every job posted so far has finished.
    void waitIdle();
    // Runs every job posted so far to its end and ends the thread; jobs
    // posted later run at once on the caller's thread.
    void finish();
    // Whether jobs posted now run on a thread of their own.
    bool ownThread() const;

private:
    void run();
    static void runGuarded(const std::function<void()> &job);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    int m_pending = 0;
    bool m_finishing = false;
    Mode m_mode;
    std::thread m_thread;
};

} // namespace tintrava
