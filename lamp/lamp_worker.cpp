#include "lamp/lamp_worker.h"

namespace tintrava {

LampWorker::LampWorker(Mode mode) : m_mode(mode)
{
}

LampWorker::~LampWorker()
{
    finish();
}

void LampWorker::runGuarded(const std::function<void()> &job)
{
    try {
        job();
    } catch (...) {
        // A failed exchange must not take the thread, and with it every
        // later command, down.
    }
}

bool LampWorker::ownThread() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mode == Mode::OwnThread && !m_finishing;
}

void LampWorker::post(std::function<void()> job)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_mode == Mode::OwnThread && !m_finishing) {
            m_jobs.push_back(std::move(job));
            ++m_pending;
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
            m_wake.notify_one();
            return;
        }
        ++m_pending;
    }
    runGuarded(job);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (--m_pending == 0)
        m_idle.notify_all();
}

int LampWorker::pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending;
}

void LampWorker::waitIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_pending == 0; });
}

void LampWorker::finish()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finishing = true;
        m_wake.notify_one();
    }
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void LampWorker::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_jobs.empty() || m_finishing; });
        if (m_jobs.empty())
            return; // finishing, and nothing left to do
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        runGuarded(job);
        job = nullptr; // what the job holds goes with it, outside the lock
        lock.lock();
        if (--m_pending == 0)
            m_idle.notify_all();
    }
}

} // namespace tintrava
