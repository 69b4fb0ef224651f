#pragma once
// Standard output and standard error of the player, written by threads of
// their own: a pipe nobody reads or a terminal stopped with Ctrl+S must never
// hold up a lamp command or the final switching off. The player hands text
// over and goes on at once.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tintrava::play {

// One stream. A line of progress (the terminal line rewritten in place)
// replaces the one still waiting before it, so a stalled stream never piles
// them up; other text is kept, up to a limit, beyond which the lines are
// counted and the count is written once the stream moves again.
class OutputChannel {
public:
    // write(data, size) writes some bytes and returns how many, or -1 when the
    // stream is gone for good (closed pipe, full disk); it may block.
    using Writer = std::function<long(const char *data, std::size_t size)>;

    explicit OutputChannel(Writer writer);
    ~OutputChannel();
    OutputChannel(const OutputChannel &) = delete;
    OutputChannel &operator=(const OutputChannel &) = delete;

    void text(std::string text);
    void progress(std::string text);

    // Waits until everything handed over is written; false as soon as
    // giveUp() returns true (asked every 20 ms) with text still waiting.
    bool drain(const std::function<bool()> &giveUp);
    // Whether the writer is idle with nothing waiting.
    bool drained();

    // Lines (not progress) kept while the stream does not move.
    static constexpr std::size_t WaitingLimit = 200;

private:
    struct Item {
        std::string text;
        bool progress = false;
    };
    void run();
    // Starts the writer thread unless it runs; with m_mutex held.
    void startWriterLocked();

    Writer m_writer;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_items;
    std::size_t m_dropped = 0;
    bool m_busy = false;
    bool m_quit = false;
    bool m_broken = false;
    std::thread m_thread;
};

// A writer for a file descriptor (1 or 2): retries after a signal, gives up
// for good on any other error.
OutputChannel::Writer descriptorWriter(int fd);

} // namespace tintrava::play
