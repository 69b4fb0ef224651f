#include "lamp/lamp_hold.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tintrava {

namespace {

constexpr const char *FilePrefix = "tintrava-lamp-";
constexpr const char *FileSuffix = ".lock";
// Serials are short (16 characters on FTDI's chips); a longer one is cut and
// told apart from its likes by a hash of the whole.
constexpr std::size_t MaxEncodedSerial = 160;

std::string quoted(const std::string &text)
{
    return "\u201E" + text + "\u201C";
}

#if defined(_WIN32)
std::filesystem::path toPath(const std::string &utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string systemText(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::string text;
    if (n > 0 && buffer) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, buffer, int(n), nullptr, 0, nullptr, nullptr);
        text.resize(std::size_t(size > 0 ? size : 0));
        if (size > 0)
            WideCharToMultiByte(CP_UTF8, 0, buffer, int(n), text.data(), size, nullptr, nullptr);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
            text.pop_back();
    }
    if (buffer)
        LocalFree(buffer);
    return text.empty() ? "Fehler " + std::to_string(code) : text;
}
#else
bool isDirectory(const char *path)
{
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::path(path), error);
}
#endif

} // namespace

LampHold::LampHold(std::string folder) : m_folder(folder.empty() ? defaultFolder() : std::move(folder)) {}

LampHold::~LampHold()
{
    release();
}

std::string LampHold::defaultFolder()
{
    if (const char *chosen = std::getenv("TINTRAVA_LOCK_DIR"); chosen && *chosen)
        return chosen;
#if defined(_WIN32)
    const char *programData = std::getenv("ProgramData");
    std::filesystem::path folder = toPath(programData && *programData ? programData : "C:\\ProgramData");
    folder /= "tintrava";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::u8string text = folder.u8string();
    return std::string(text.begin(), text.end());
#else
    // The folders the system keeps for device locks: every user may create
    // files there, and nobody may remove another user's.
    for (const char *folder : {"/run/lock", "/var/lock"})
        if (isDirectory(folder))
            return folder;
    return "/tmp";
#endif
}

std::string LampHold::fileNameFor(const std::string &serial)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : serial) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            encoded.push_back(char(c));
        } else {
            encoded.push_back('%');
            encoded.push_back(hex[c >> 4]);
            encoded.push_back(hex[c & 0x0F]);
        }
    }
    if (encoded.size() > MaxEncodedSerial) {
        std::uint64_t hash = 14695981039346656037ull; // FNV-1a
        for (unsigned char c : serial) {
            hash ^= c;
            hash *= 1099511628211ull;
        }
        encoded.resize(MaxEncodedSerial);
        encoded.push_back('+');
        for (int shift = 60; shift >= 0; shift -= 4)
            encoded.push_back(hex[(hash >> shift) & 0x0F]);
    }
    return FilePrefix + encoded + FileSuffix;
}

std::string LampHold::lockPath(const std::string &serial) const
{
#if defined(_WIN32)
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    std::string path = m_folder;
    if (!path.empty() && path.back() != '/' && path.back() != separator)
        path.push_back(separator);
    return path + fileNameFor(serial);
}

LampHold::Result LampHold::takeFound(const LampState &lamp)
{
    // Before any discovery of this run has found a lamp, nothing is opened
    // (LampSerial names no lamp yet); the hold follows once one is found.
    if (!lamp.LampEverFound)
        return NoLamp;
    return take(lamp.LampSerial);
}

#if defined(_WIN32)

bool LampHold::holding() const
{
    return m_handle != nullptr;
}

void LampHold::release()
{
    if (m_handle) {
        // Closing the handle drops the lock.
        CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
    m_serial.clear();
}

LampHold::Result LampHold::take(const std::string &serial)
{
    if (holding() && serial == m_serial)
        return Held;
    m_errorText.clear();
    const std::string path = lockPath(serial);
    HANDLE file = CreateFileW(toPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        m_errorText = "Die Sperrdatei " + quoted(path) + " der Lampe konnte nicht ge\u00F6ffnet werden: "
            + systemText(GetLastError()) + ".";
        return Unavailable;
    }
    OVERLAPPED where{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            return HeldByOther;
        m_errorText = "Die Sperrdatei " + quoted(path) + " der Lampe konnte nicht gesperrt werden: "
            + systemText(error) + ".";
        return Unavailable;
    }
    release();
    m_handle = file;
    m_serial = serial;
    return Held;
}

#else

bool LampHold::holding() const
{
    return m_fd >= 0;
}

void LampHold::release()
{
    if (m_fd >= 0) {
        // Closing the only descriptor drops the lock.
        ::close(m_fd);
        m_fd = -1;
    }
    m_serial.clear();
}

LampHold::Result LampHold::take(const std::string &serial)
{
    if (holding() && serial == m_serial)
        return Held;
    m_errorText.clear();
    const std::string path = lockPath(serial);
    // Not inherited by anything started later; never follows a link; never
    // waits on a FIFO someone put there.
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    // An existing file is opened without O_CREAT: in a sticky folder the
    // system refuses O_CREAT on another user's file (protected_regular),
    // while a read-only descriptor is all a lock needs.
    int fd = ::open(path.c_str(), O_RDONLY | flags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, 0644);
        if (fd >= 0)
            // Readable for every user whatever the umask: they must open it to test it.
            ::fchmod(fd, 0644);
        else if (errno == EEXIST)
            fd = ::open(path.c_str(), O_RDONLY | flags);
    }
    if (fd < 0) {
        m_errorText = "Die Sperrdatei " + quoted(path) + " der Lampe konnte nicht ge\u00F6ffnet werden: "
            + std::strerror(errno) + ".";
        return Unavailable;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        m_errorText = "Die Sperrdatei " + quoted(path) + " der Lampe ist keine gew\u00F6hnliche Datei.";
        return Unavailable;
    }
    int locked;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return HeldByOther;
        m_errorText = "Die Sperrdatei " + quoted(path) + " der Lampe konnte nicht gesperrt werden: "
            + std::strerror(error) + ".";
        return Unavailable;
    }
    release();
    m_fd = fd;
    m_serial = serial;
    return Held;
}

#endif

} // namespace tintrava
