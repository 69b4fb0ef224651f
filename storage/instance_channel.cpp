#include "storage/instance_channel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0
#endif
#endif

namespace tintrava {

namespace {

const char *const LockName = "io.github.tintrava.Tintrava.lock";
const char *const SocketName = "io.github.tintrava.Tintrava.socket";
const char Acknowledgment[] = "ok\n";
constexpr std::size_t AcknowledgmentSize = sizeof Acknowledgment - 1;
constexpr std::size_t LengthSize = 4;

std::string joinPath(const std::string &folder, const char *name)
{
    if (folder.empty())
        return name;
    const char last = folder.back();
#if defined(_WIN32)
    if (last == '/' || last == '\\')
#else
    if (last == '/')
#endif
        return folder + name;
    return folder + "/" + name;
}

std::string nativePath(std::string path)
{
#if defined(_WIN32)
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool validUtf8(const std::string &text)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        std::size_t extra;
        std::uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (s[i + k] & 0x3F);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

std::string quoted(const std::string &path)
{
    return "\u201E" + nativePath(path) + "\u201C";
}

const char *const NotRecognised = "; ein zweiter Start wird nicht erkannt.";

} // namespace

const std::string &InstanceChannel::messageHeader()
{
    static const std::string header = "io.github.tintrava.Tintrava 2\n";
    return header;
}

std::string InstanceChannel::encodeMessage(const std::vector<std::string> &files)
{
    std::string payload;
    for (const std::string &file : files) {
        // A name cannot hold a NUL; one that does is not a file to open.
        if (file.empty() || file.find('\0') != std::string::npos)
            continue;
        payload += file;
        payload += '\0';
    }
    if (payload.size() > MaxPayloadBytes)
        payload.clear(); // too many files to hand over: at least come to the front
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::string message = messageHeader();
    message += static_cast<char>((length >> 24) & 0xFF);
    message += static_cast<char>((length >> 16) & 0xFF);
    message += static_cast<char>((length >> 8) & 0xFF);
    message += static_cast<char>(length & 0xFF);
    return message + payload;
}

bool InstanceChannel::decodeMessage(const std::string &message, std::vector<std::string> &files)
{
    files.clear();
    const std::string &header = messageHeader();
    if (message.size() < header.size() + LengthSize || message.compare(0, header.size(), header) != 0)
        return false;
    const auto *l = reinterpret_cast<const unsigned char *>(message.data() + header.size());
    const std::uint32_t length = (std::uint32_t(l[0]) << 24) | (std::uint32_t(l[1]) << 16) | (std::uint32_t(l[2]) << 8) | l[3];
    const std::size_t start = header.size() + LengthSize;
    if (length > MaxPayloadBytes || message.size() - start != length)
        return false;
    const std::string payload = message.substr(start);
    if (!payload.empty() && payload.back() != '\0')
        return false; // cut off: a path without its end is not trusted
    std::vector<std::string> names;
    std::size_t from = 0;
    while (from < payload.size()) {
        const std::size_t end = payload.find('\0', from);
        std::string name = payload.substr(from, end - from);
        if (!validUtf8(name))
            return false;
        if (!name.empty())
            names.push_back(std::move(name));
        from = end + 1;
    }
    files = std::move(names);
    return true;
}

std::string InstanceChannel::lockPath() const
{
    return joinPath(m_folder, LockName);
}

#if !defined(_WIN32)

// ---------------------------------------------------------------- POSIX ----

struct InstanceChannel::Impl {
    int lockFd = -1;
    int listenFd = -1;
    int stopPipe[2] = {-1, -1};
    std::string socketPath;
    std::thread listener;
    bool listenLater = false; // a listener thread still to start
    Receiver receiver;

    ~Impl()
    {
        if (listener.joinable()) {
            const char stop = 's';
            while (::write(stopPipe[1], &stop, 1) < 0 && errno == EINTR) {
            }
            listener.join();
        }
        if (listenFd >= 0) {
            ::close(listenFd);
            // Only the holder of the lock removes the socket: it is ours.
            ::unlink(socketPath.c_str());
        }
        for (int fd : stopPipe)
            if (fd >= 0)
                ::close(fd);
        if (lockFd >= 0) {
            // The file stays (removing a lock file others may have opened
            // would let two copies lock two different files); emptied, it
            // names no running copy.
            if (::ftruncate(lockFd, 0) != 0) {
            }
            ::close(lockFd);
        }
    }

    void listen();
    void serve(int fd);
};

namespace {

// Waits for fd (POLLIN or POLLOUT) until deadline; false on time-out or when
// the stop pipe fires (stopFd >= 0).
bool waitFor(int fd, short events, Clock::time_point deadline, int stopFd = -1)
{
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, msLeft(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (stopFd >= 0 && fds[1].revents)
            return false;
        return true;
    }
}

// Reads exactly size bytes; false on end of stream, error, time-out or stop.
bool readAll(int fd, char *data, std::size_t size, Clock::time_point deadline, int stopFd)
{
    while (size > 0) {
        if (!waitFor(fd, POLLIN, deadline, stopFd))
            return false;
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool writeAll(int fd, const char *data, std::size_t size, Clock::time_point deadline)
{
    while (size > 0) {
        if (!waitFor(fd, POLLOUT, deadline))
            return false;
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

void setNonBlockingCloexec(int fd)
{
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

bool peerIsUs(int fd)
{
#if defined(SO_PEERCRED)
    struct ucred cred {};
    socklen_t size = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0)
        return false;
    return cred.uid == ::geteuid();
#else
    uid_t uid;
    gid_t gid;
    return ::getpeereid(fd, &uid, &gid) == 0 && uid == ::geteuid();
#endif
}

bool fillAddress(sockaddr_un &address, const std::string &path)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

void InstanceChannel::Impl::listen()
{
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || fds[1].revents)
            return;
        const int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        setNonBlockingCloexec(fd);
        serve(fd);
        ::close(fd);
    }
}

void InstanceChannel::Impl::serve(int fd)
{
    if (!peerIsUs(fd))
        return;
    // One connection at a time, each with a deadline: a peer that never
    // finishes costs the next start a wait, never the running copy its channel.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(PeerTimeoutMs);
    const std::string &header = messageHeader();
    std::string message(header.size() + LengthSize, '\0');
    if (!readAll(fd, message.data(), message.size(), deadline, stopPipe[0]) || message.compare(0, header.size(), header) != 0)
        return;
    const auto *l = reinterpret_cast<const unsigned char *>(message.data() + header.size());
    const std::uint32_t length = (std::uint32_t(l[0]) << 24) | (std::uint32_t(l[1]) << 16) | (std::uint32_t(l[2]) << 8) | l[3];
    if (length > MaxPayloadBytes)
        return;
    const std::size_t start = message.size();
    message.resize(start + length);
    if (length > 0 && !readAll(fd, message.data() + start, length, deadline, stopPipe[0]))
        return;
    std::vector<std::string> files;
    if (!decodeMessage(message, files))
        return;
    if (receiver)
        receiver(files);
    writeAll(fd, Acknowledgment, AcknowledgmentSize, deadline);
}

std::string InstanceChannel::channelPath() const
{
    return joinPath(m_folder, SocketName);
}

InstanceChannel::InstanceChannel(std::string folder) : m_folder(std::move(folder)), m_impl(std::make_unique<Impl>()) {}

InstanceChannel::~InstanceChannel() = default;

InstanceChannel::Claim InstanceChannel::claim(Receiver receiver, Listening when)
{
    m_errorText.clear();
    struct stat info {};
    if (::stat(m_folder.c_str(), &info) != 0) {
        // Only the fallback folder in the temporary folder is ever made here,
        // and only for this user.
        if (::mkdir(m_folder.c_str(), 0700) != 0 || ::stat(m_folder.c_str(), &info) != 0
            || info.st_uid != ::geteuid() || ::chmod(m_folder.c_str(), 0700) != 0) {
            m_errorText = "Der Ordner " + quoted(m_folder) + " konnte nicht angelegt werden" + NotRecognised;
            return Unavailable;
        }
    } else if (info.st_uid != ::geteuid()) {
        // Someone else's folder: a lock there could be planted or taken away.
        m_errorText = "Der Ordner " + quoted(m_folder) + " geh\u00F6rt einem anderen Benutzer" + NotRecognised;
        return Unavailable;
    }

    const std::string lock = lockPath();
    m_impl->lockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_impl->lockFd < 0) {
        m_errorText = "Die Sperrdatei " + quoted(lock) + " konnte nicht angelegt werden" + NotRecognised;
        return Unavailable;
    }
    int locked;
    while ((locked = ::flock(m_impl->lockFd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        const int error = errno;
        ::close(m_impl->lockFd);
        m_impl->lockFd = -1;
        if (error == EWOULDBLOCK)
            return AlreadyRunning;
        m_errorText = "Die Sperrdatei " + quoted(lock) + " konnte nicht gesperrt werden" + NotRecognised;
        return Unavailable;
    }
    // Who holds it, for people and scripts that look; nothing relies on it.
    // The folder is a runtime folder: the lock needs no trip to the disk.
    const std::string pid = std::to_string(::getpid()) + "\ntintrava\n";
    if (::ftruncate(m_impl->lockFd, 0) != 0 || ::pwrite(m_impl->lockFd, pid.data(), pid.size(), 0) != ssize_t(pid.size())) {
        // The lock holds all the same.
    }

    // The lock is ours, so a socket still there was left by a copy that crashed.
    const std::string socketPath = channelPath();
    const std::string fresh = socketPath + "." + std::to_string(::getpid());
    sockaddr_un address;
    sockaddr_un freshAddress;
    const auto fail = [&](const std::string &why) {
        // Still the only copy: a later start ends all the same, it just
        // cannot bring this one to the front.
        m_errorText = "Auf " + quoted(socketPath) + " kann nicht gewartet werden: " + why;
        if (m_impl->listenFd >= 0)
            ::close(m_impl->listenFd);
        m_impl->listenFd = -1;
        ::unlink(fresh.c_str());
        return Claimed;
    };
    if (!fillAddress(address, socketPath) || !fillAddress(freshAddress, fresh))
        return fail("der Pfad ist zu lang");
    m_impl->listenFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (m_impl->listenFd < 0)
        return fail(std::strerror(errno));
    setNonBlockingCloexec(m_impl->listenFd);
    // Made under a name of its own and given its mode before it gets the one
    // later starts look for: nobody else ever finds it open to them.
    ::unlink(fresh.c_str());
    if (::bind(m_impl->listenFd, reinterpret_cast<sockaddr *>(&freshAddress), sizeof freshAddress) != 0)
        return fail(std::strerror(errno));
    if (::chmod(fresh.c_str(), 0600) != 0 || ::listen(m_impl->listenFd, 16) != 0
        || ::rename(fresh.c_str(), socketPath.c_str()) != 0)
        return fail(std::strerror(errno));
    m_impl->socketPath = socketPath;
    if (::pipe(m_impl->stopPipe) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(socketPath.c_str());
        return fail(why);
    }
    ::fcntl(m_impl->stopPipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(m_impl->stopPipe[1], F_SETFD, FD_CLOEXEC);
    m_impl->receiver = std::move(receiver);
    m_impl->listenLater = true;
    if (when == Listening::Now)
        startListening();
    return Claimed;
}

bool InstanceChannel::handOver(const std::vector<std::string> &files, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    sockaddr_un address;
    if (!fillAddress(address, channelPath()))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    setNonBlockingCloexec(fd);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        // A full backlog: the running copy is busy with another start.
        if (errno != EINPROGRESS && errno != EAGAIN)
            return false;
        for (;;) {
            if (!waitFor(fd, POLLOUT, deadline))
                return false;
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 || errno == EISCONN)
                break;
            if (errno != EAGAIN && errno != EINPROGRESS && errno != EALREADY)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    const std::string message = encodeMessage(files);
    if (!writeAll(fd, message.data(), message.size(), deadline))
        return false;
    char answer[AcknowledgmentSize];
    return readAll(fd, answer, sizeof answer, deadline, -1) && std::memcmp(answer, Acknowledgment, sizeof answer) == 0;
}

#else

// -------------------------------------------------------------- Windows ----

namespace {

std::wstring wide(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string windowsError(DWORD code)
{
    return "Windows-Fehler " + std::to_string(code);
}

// The user's SID as text ("S-1-5-21-…"); empty when the token says nothing.
std::wstring userSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    std::wstring result;
    if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        LPWSTR text = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &text)) {
            result = text;
            LocalFree(text);
        }
    }
    CloseHandle(token);
    return result;
}

// FNV-1a of the folder's name, case-folded as Windows folds file names.
std::string folderTag(const std::string &folder)
{
    std::wstring name = wide(nativePath(folder));
    CharLowerBuffW(name.data(), DWORD(name.size()));
    std::uint64_t hash = 1469598103934665603ull;
    for (wchar_t c : name) {
        hash ^= std::uint64_t(c);
        hash *= 1099511628211ull;
    }
    char text[17];
    for (int i = 15; i >= 0; --i) {
        text[i] = "0123456789abcdef"[hash & 0xF];
        hash >>= 4;
    }
    text[16] = '\0';
    return text;
}

struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { reset(); }
    void reset(HANDLE handle = nullptr)
    {
        if (h)
            CloseHandle(h);
        h = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }
};

// One overlapped transfer on handle, waited for until deadline or stop.
bool transfer(HANDLE handle, bool reading, char *data, DWORD size, Clock::time_point deadline, HANDLE stop, DWORD &done)
{
    done = 0;
    OVERLAPPED overlapped{};
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.h)
        return false;
    overlapped.hEvent = event.h;
    const BOOL started = reading ? ReadFile(handle, data, size, nullptr, &overlapped)
                                 : WriteFile(handle, data, size, nullptr, &overlapped);
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return false;
    HANDLE waits[2] = {event.h, stop};
    const DWORD which = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, DWORD(msLeft(deadline)));
    if (which != WAIT_OBJECT_0) {
        CancelIoEx(handle, &overlapped);
        GetOverlappedResult(handle, &overlapped, &done, TRUE);
        return false;
    }
    return GetOverlappedResult(handle, &overlapped, &done, FALSE) && done > 0;
}

bool readAll(HANDLE handle, char *data, std::size_t size, Clock::time_point deadline, HANDLE stop)
{
    while (size > 0) {
        DWORD done = 0;
        if (!transfer(handle, true, data, DWORD(std::min<std::size_t>(size, 1 << 16)), deadline, stop, done))
            return false;
        data += done;
        size -= done;
    }
    return true;
}

bool writeAll(HANDLE handle, const char *data, std::size_t size, Clock::time_point deadline)
{
    while (size > 0) {
        DWORD done = 0;
        if (!transfer(handle, false, const_cast<char *>(data), DWORD(std::min<std::size_t>(size, 1 << 16)), deadline,
                      nullptr, done))
            return false;
        data += done;
        size -= done;
    }
    return true;
}

} // namespace

struct InstanceChannel::Impl {
    Handle lockFile;
    Handle pipe; // the instance waiting for the next start
    Handle stopEvent;
    std::wstring pipeName;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::thread listener;
    bool listenLater = false; // a listener thread still to start
    Receiver receiver;

    ~Impl()
    {
        if (listener.joinable()) {
            SetEvent(stopEvent.h);
            listener.join();
        }
        pipe.reset();
        if (descriptor)
            LocalFree(descriptor);
        if (lockFile.h) {
            // Emptied, the file names no running copy; the lock goes with the handle.
            LARGE_INTEGER zero{};
            SetFilePointerEx(lockFile.h, zero, nullptr, FILE_BEGIN);
            SetEndOfFile(lockFile.h);
        }
    }

    // A new instance of the pipe, which only this user may open. The first
    // is the first of its name: a pipe someone else made under it before
    // makes this fail instead of listening beside it.
    HANDLE makeInstance(bool first)
    {
        SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
        return CreateNamedPipeW(pipeName.c_str(),
                                PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, &security);
    }

    void listen();
    void serve(HANDLE connection);
};

void InstanceChannel::Impl::listen()
{
    for (;;) {
        OVERLAPPED overlapped{};
        Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event.h)
            return;
        overlapped.hEvent = event.h;
        bool connected = false;
        if (ConnectNamedPipe(pipe.h, &overlapped)) {
            connected = true;
        } else {
            const DWORD error = GetLastError();
            if (error == ERROR_PIPE_CONNECTED) {
                connected = true;
            } else if (error == ERROR_IO_PENDING) {
                HANDLE waits[2] = {event.h, stopEvent.h};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIoEx(pipe.h, &overlapped);
                    DWORD ignored;
                    GetOverlappedResult(pipe.h, &overlapped, &ignored, TRUE);
                    return;
                }
                DWORD ignored;
                connected = GetOverlappedResult(pipe.h, &overlapped, &ignored, FALSE);
            }
        }
        // The next start finds a new instance waiting while this one is
        // served; each instance serves one start and is closed.
        Handle connection(pipe.h);
        pipe.h = nullptr;
        pipe.reset(makeInstance(false));
        if (connected)
            serve(connection.h);
        if (!pipe.h)
            return;
    }
}

void InstanceChannel::Impl::serve(HANDLE connection)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(PeerTimeoutMs);
    const std::string &header = messageHeader();
    std::string message(header.size() + LengthSize, '\0');
    if (!readAll(connection, message.data(), message.size(), deadline, stopEvent.h)
        || message.compare(0, header.size(), header) != 0)
        return;
    const auto *l = reinterpret_cast<const unsigned char *>(message.data() + header.size());
    const std::uint32_t length = (std::uint32_t(l[0]) << 24) | (std::uint32_t(l[1]) << 16) | (std::uint32_t(l[2]) << 8) | l[3];
    if (length > MaxPayloadBytes)
        return;
    const std::size_t start = message.size();
    message.resize(start + length);
    if (length > 0 && !readAll(connection, message.data() + start, length, deadline, stopEvent.h))
        return;
    std::vector<std::string> files;
    if (!decodeMessage(message, files))
        return;
    if (receiver)
        receiver(files);
    if (!writeAll(connection, Acknowledgment, AcknowledgmentSize, deadline))
        return;
    // Closing throws away what the peer has not read yet: wait for it to go
    // away (a read that ends with the pipe), never past the deadline.
    char rest;
    DWORD ignored = 0;
    while (transfer(connection, true, &rest, 1, deadline, stopEvent.h, ignored)) {
    }
}

std::string InstanceChannel::channelPath() const
{
    return "\\\\.\\pipe\\io.github.tintrava.Tintrava-" + narrow(userSid()) + "-" + folderTag(m_folder);
}

InstanceChannel::InstanceChannel(std::string folder) : m_folder(std::move(folder)), m_impl(std::make_unique<Impl>()) {}

InstanceChannel::~InstanceChannel() = default;

InstanceChannel::Claim InstanceChannel::claim(Receiver receiver, Listening when)
{
    m_errorText.clear();
    const std::wstring folder = wide(nativePath(m_folder));
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!CreateDirectoryW(folder.c_str(), nullptr)) {
            m_errorText = "Der Ordner " + quoted(m_folder) + " konnte nicht angelegt werden" + NotRecognised;
            return Unavailable;
        }
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        m_errorText = "Der Ordner " + quoted(m_folder) + " konnte nicht angelegt werden" + NotRecognised;
        return Unavailable;
    }

    const std::string lock = lockPath();
    m_impl->lockFile.reset(CreateFileW(wide(nativePath(lock)).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_impl->lockFile.h) {
        m_errorText = "Die Sperrdatei " + quoted(lock) + " konnte nicht angelegt werden" + NotRecognised;
        return Unavailable;
    }
    // A byte far behind the text is locked, so the pid stays readable.
    OVERLAPPED where{};
    where.OffsetHigh = 1;
    if (!LockFileEx(m_impl->lockFile.h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        const DWORD error = GetLastError();
        m_impl->lockFile.reset();
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            return AlreadyRunning;
        m_errorText = "Die Sperrdatei " + quoted(lock) + " konnte nicht gesperrt werden" + NotRecognised;
        return Unavailable;
    }
    const std::string pid = std::to_string(GetCurrentProcessId()) + "\r\ntintrava\r\n";
    DWORD written = 0;
    SetEndOfFile(m_impl->lockFile.h);
    WriteFile(m_impl->lockFile.h, pid.data(), DWORD(pid.size()), &written, nullptr);

    const std::string name = channelPath();
    const std::wstring sid = userSid();
    // Only this user may open the pipe, or make further instances of it.
    const std::wstring sddl = L"D:P(A;;GA;;;" + sid + L")";
    if (sid.empty()
        || !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &m_impl->descriptor,
                                                                 nullptr)) {
        m_errorText = "Auf " + name + " kann nicht gewartet werden: " + windowsError(GetLastError());
        return Claimed;
    }
    m_impl->pipeName = wide(name);
    m_impl->pipe.reset(m_impl->makeInstance(true));
    if (!m_impl->pipe.h) {
        m_errorText = "Auf " + name + " kann nicht gewartet werden: " + windowsError(GetLastError());
        return Claimed;
    }
    m_impl->stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_impl->stopEvent.h) {
        m_errorText = "Auf " + name + " kann nicht gewartet werden: " + windowsError(GetLastError());
        m_impl->pipe.reset();
        return Claimed;
    }
    m_impl->receiver = std::move(receiver);
    m_impl->listenLater = true;
    if (when == Listening::Now)
        startListening();
    return Claimed;
}

bool InstanceChannel::handOver(const std::vector<std::string> &files, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    const std::wstring name = wide(channelPath());
    Handle pipe;
    for (;;) {
        pipe.reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (pipe.h)
            break;
        // Busy with another start: wait for its turn.
        if (GetLastError() != ERROR_PIPE_BUSY || msLeft(deadline) == 0)
            return false;
        WaitNamedPipeW(name.c_str(), DWORD(std::max(1, msLeft(deadline))));
    }
    const std::string message = encodeMessage(files);
    if (!writeAll(pipe.h, message.data(), message.size(), deadline))
        return false;
    char answer[AcknowledgmentSize];
    return readAll(pipe.h, answer, sizeof answer, deadline, nullptr)
        && std::memcmp(answer, Acknowledgment, sizeof answer) == 0;
}

#endif

void InstanceChannel::startListening()
{
    if (!m_impl || !m_impl->listenLater)
        return;
    m_impl->listenLater = false;
    m_impl->listener = std::thread([impl = m_impl.get()] { impl->listen(); });
}

} // namespace tintrava
