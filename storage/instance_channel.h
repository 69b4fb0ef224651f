#pragma once
// One running copy per user, in plain C++: a lock the first copy holds for
// its whole run, and a local channel over which a later start hands it the
// files named on its command line and hears that they arrived.
//
// POSIX: an flock()ed file in the folder (the user's runtime folder) and a
// Unix stream socket beside it, mode 0600, that only this user's processes
// may use. Windows: a byte-range lock on the file in the folder and a named
// pipe whose name carries the user's SID and the folder, which only this
// user can open. Either way the operating system drops the lock when the
// holder dies, however it dies, so a lock is never stale.
//
// The first copy listens on a thread of its own and calls the receiver there,
// once for every later start that sent a well-formed message.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tintrava {

class InstanceChannel {
public:
    enum Claim {
        Claimed,        // this is the only copy; it holds the lock and listens
        AlreadyRunning, // another copy of this user runs
        Unavailable,    // the lock cannot be made (folder not usable): run unguarded
    };

    // Called on the listening thread with the files a later start named
    // (UTF-8, possibly none). It should hand them on quickly: the next start
    // waits until it returns.
    using Receiver = std::function<void(const std::vector<std::string> &files)>;

    // folder: where lock and socket live (UTF-8); made (mode 0700) when missing.
    explicit InstanceChannel(std::string folder);
    ~InstanceChannel(); // stops listening and lets the lock go
    InstanceChannel(const InstanceChannel &) = delete;
    InstanceChannel &operator=(const InstanceChannel &) = delete;

    const std::string &folder() const { return m_folder; }
    std::string lockPath() const;
    // POSIX: the socket file; Windows: the pipe's name.
    std::string channelPath() const;

    // Takes the lock unless a running copy holds it; with the lock, listens
    // and calls receiver for every later start. Call once. With
    // Listening::Later the channel is open at once, but what a later start
    // sends waits (the system holds it) until startListening(): a program
    // need not start the thread before its window shows.
    enum class Listening { Now, Later };
    Claim claim(Receiver receiver, Listening when = Listening::Now);
    // Starts the listening thread a claim(…, Listening::Later) left for
    // later; does nothing otherwise, or when called again.
    void startListening();
    // What went wrong: why claim() gave Unavailable, or that it got the lock
    // but cannot listen (then it is still Claimed). Empty otherwise.
    const std::string &errorText() const { return m_errorText; }

    // After AlreadyRunning: hands the running copy the files and waits for
    // its acknowledgment. False when it did not answer within timeoutMs.
    bool handOver(const std::vector<std::string> &files, int timeoutMs = 5000);

    // The message a later start sends, and what the running copy makes of
    // one: the files, or false for anything not well-formed.
    static std::string encodeMessage(const std::vector<std::string> &files);
    static bool decodeMessage(const std::string &message, std::vector<std::string> &files);
    // Every message starts with this line, so a stray connection (another
    // program's client) is ignored rather than obeyed.
    static const std::string &messageHeader();
    // Longest list of names a later start may send; a longer one is dropped
    // unread (the sender then sends none, see encodeMessage).
    static constexpr std::uint32_t MaxPayloadBytes = 1u << 20;
    // Time a peer gets to deliver its whole message.
    static constexpr int PeerTimeoutMs = 5000;

    struct Impl; // the platform's handles

private:
    std::string m_folder;
    std::string m_errorText;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tintrava
