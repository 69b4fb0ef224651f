#include "play/output.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <csignal>
#include <pthread.h>
#include <unistd.h>
#endif

namespace tintrava::play {

namespace {

// Keeps every signal off the writer threads: a signal meant to interrupt the
// player (a blocking read, its sleep) must reach the main thread, and a
// writer blocked on a stalled stream has no use for one.
class SignalsBlockedHere {
public:
    SignalsBlockedHere()
    {
#if !defined(_WIN32)
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &m_saved);
#endif
    }
    ~SignalsBlockedHere()
    {
#if !defined(_WIN32)
        pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
#endif
    }
    SignalsBlockedHere(const SignalsBlockedHere &) = delete;
    SignalsBlockedHere &operator=(const SignalsBlockedHere &) = delete;

private:
#if !defined(_WIN32)
    sigset_t m_saved;
#endif
};

} // namespace

OutputChannel::OutputChannel(Writer writer) : m_writer(std::move(writer))
{
}

void OutputChannel::startWriterLocked()
{
    // At the first text: a stream nothing is written to (standard error in
    // a run without problems) costs no thread.
    if (m_thread.joinable())
        return;
    SignalsBlockedHere blocked;
    m_thread = std::thread([this] { run(); });
}

OutputChannel::~OutputChannel()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void OutputChannel::text(std::string text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_broken)
            return;
        std::size_t lines = 0;
        for (const Item &item : m_items)
            lines += item.progress ? 0 : 1;
        if (lines >= WaitingLimit) {
            ++m_dropped;
            return;
        }
        m_items.push_back({std::move(text), false});
        startWriterLocked();
    }
    m_changed.notify_all();
}

void OutputChannel::progress(std::string text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_broken)
            return;
        if (!m_items.empty() && m_items.back().progress)
            m_items.back().text = std::move(text);
        else
            m_items.push_back({std::move(text), true});
        startWriterLocked();
    }
    m_changed.notify_all();
}

bool OutputChannel::drained()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_broken || (m_items.empty() && !m_busy && m_dropped == 0);
}

bool OutputChannel::drain(const std::function<bool()> &giveUp)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_broken || (m_items.empty() && !m_busy && m_dropped == 0))
            return true;
        if (giveUp && giveUp())
            return false;
        m_changed.wait_for(lock, std::chrono::milliseconds(20));
    }
}

void OutputChannel::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || !m_items.empty() || m_dropped > 0; });
        if (m_items.empty() && m_dropped == 0)
            return; // quit with nothing left
        std::string text;
        if (m_dropped > 0 && (m_items.empty() || !m_items.front().progress)) {
            text = "(" + std::to_string(m_dropped) + " Zeilen ausgelassen, die Ausgabe stockte)\n";
            m_dropped = 0;
        } else {
            text = std::move(m_items.front().text);
            m_items.pop_front();
        }
        m_busy = true;
        lock.unlock();
        std::size_t done = 0;
        bool broken = false;
        while (done < text.size()) {
            const long n = m_writer(text.data() + done, text.size() - done);
            if (n < 0) {
                broken = true;
                break;
            }
            done += std::size_t(n);
        }
        lock.lock();
        m_busy = false;
        if (broken) {
            // Nobody will read any more of it; nothing is kept for later.
            m_broken = true;
            m_items.clear();
            m_dropped = 0;
        }
        m_changed.notify_all();
    }
}

OutputChannel::Writer descriptorWriter(int fd)
{
    return [fd](const char *data, std::size_t size) -> long {
        for (;;) {
#if defined(_WIN32)
            const int n = ::_write(fd, data, unsigned(size > 0x40000000u ? 0x40000000u : size));
#else
            const ssize_t n = ::write(fd, data, size);
#endif
            if (n >= 0)
                return long(n);
            if (errno != EINTR)
                return -1;
        }
    };
}

} // namespace tintrava::play
