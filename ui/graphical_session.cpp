#include "ui/graphical_session.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tintrava {

namespace {

constexpr int XTcpPortBase = 6000;
constexpr int TcpTimeoutMs = 5000;

bool allDigits(const std::string &text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// "0" or "0.1": the display number, the screen does not matter here.
bool displayNumber(const std::string &text, int *number)
{
    const std::string digits = text.substr(0, text.find('.'));
    if (!allDigits(digits) || digits.size() > 5)
        return false;
    if (digits.size() < text.size() && !allDigits(text.substr(digits.size() + 1)))
        return false;
    *number = std::atoi(digits.c_str());
    return *number <= 65535 - XTcpPortBase;
}

bool isSocket(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::vector<std::string> platformCandidates(const std::string &platform)
{
    // "wayland;xcb" tries one after the other; "name:option=value" carries options.
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= platform.size()) {
        std::size_t end = platform.find(';', start);
        if (end == std::string::npos)
            end = platform.size();
        std::string name = platform.substr(start, end - start);
        name = name.substr(0, name.find(':'));
        const auto first = name.find_first_not_of(" \t");
        if (first != std::string::npos)
            names.push_back(name.substr(first, name.find_last_not_of(" \t") - first + 1));
        start = end + 1;
    }
    return names;
}

bool xReachable(const XDisplayAddress &address)
{
    for (const std::string &socketPath : address.unixSockets)
        if (unixSocketReachable(socketPath))
            return true;
    return !address.tcpHost.empty() && tcpReachable(address.tcpHost, address.tcpPort, TcpTimeoutMs);
}

std::string quoted(const std::string &text)
{
    return "\u201E" + text + "\u201C";
}

} // namespace

XDisplayAddress xDisplayAddress(const std::string &display)
{
    XDisplayAddress address;
    std::string name = display;
    int number = 0;

    // A socket path, as some systems hand it out: "/path" or "/path:0".
    if (!name.empty() && name[0] == '/') {
        if (isSocket(name)) {
            address.unixSockets = {name};
            address.valid = true;
            return address;
        }
        const std::size_t colon = name.rfind(':');
        if (colon == std::string::npos || !displayNumber(name.substr(colon + 1), &number))
            return address;
        address.unixSockets = {name.substr(0, colon)};
        address.valid = true;
        return address;
    }

    // [protocol/][host]:display[.screen]
    std::string protocol;
    std::size_t colon = name.rfind(':');
    const std::size_t slash = name.find('/');
    if (slash != std::string::npos && (colon == std::string::npos || slash < colon)) {
        protocol = name.substr(0, slash);
        name = name.substr(slash + 1);
        colon = name.rfind(':');
    }
    if (colon == std::string::npos || !displayNumber(name.substr(colon + 1), &number))
        return address;
    const std::string host = name.substr(0, colon);
    if (!host.empty() && host.back() == ':') // DECnet "node::0": not on this system
        return address;
    if (!protocol.empty() && protocol != "unix" && protocol != "tcp" && protocol != "inet" && protocol != "inet6")
        return address;

    const bool local = protocol == "unix" || (protocol.empty() && (host.empty() || host == "unix"));
    if (local) {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
#ifdef __linux__
        address.unixSockets.push_back(std::string(1, '\0') + path);
#endif
        address.unixSockets.push_back(path);
        // Like libxcb, ":0" falls back to TCP on this machine.
        if (protocol.empty() && host.empty())
            address.tcpHost = "localhost";
    } else {
        address.tcpHost = host.empty() ? "localhost" : host;
    }
    if (!address.tcpHost.empty())
        address.tcpPort = XTcpPortBase + number;
    address.valid = true;
    return address;
}

std::string waylandSocketPath(const std::string &waylandDisplay, const std::string &runtimeDir)
{
    if (waylandDisplay.empty())
        return {};
    if (waylandDisplay[0] == '/')
        return waylandDisplay;
    if (runtimeDir.empty())
        return {};
    return runtimeDir + "/" + waylandDisplay;
}

bool unixSocketReachable(const std::string &path)
{
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    // An abstract name (leading '\0') counts its exact length.
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + (path[0] == '\0' ? 0 : 1));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), length);
    } while (rc != 0 && errno == EINTR);
    // A full backlog (EAGAIN) still means a server is there, only busy.
    const bool reached = rc == 0 || errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return reached;
}

bool tcpReachable(const std::string &host, int port, int timeoutMs)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return false;
    bool reached = false;
    for (addrinfo *ai = found; ai && !reached; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
            reached = true;
        } else if (errno == EINPROGRESS) {
            pollfd p {fd, POLLOUT, 0};
            int rc;
            do {
                rc = ::poll(&p, 1, timeoutMs);
            } while (rc < 0 && errno == EINTR);
            int error = 0;
            socklen_t len = sizeof error;
            reached = rc == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return reached;
}

std::string missingGraphicalSession(const std::vector<std::string> &arguments, const EnvironmentLookup &env)
{
    // "-platform name" on the command line wins over QT_QPA_PLATFORM, as in Qt.
    std::string platform;
    for (std::size_t i = 1; i + 1 < arguments.size(); ++i)
        if (arguments[i] == "-platform" || arguments[i] == "--platform")
            platform = arguments[i + 1];
    if (platform.empty())
        platform = env("QT_QPA_PLATFORM");

    const std::vector<std::string> candidates = platformCandidates(platform);
    bool wantX = false, wantWayland = false;
    if (candidates.empty()) {
        // Qt's choice without a platform named: X11, or Wayland in a Wayland session.
        wantX = true;
        wantWayland = !env("WAYLAND_DISPLAY").empty();
    }
    for (const std::string &name : candidates) {
        if (name == "xcb")
            wantX = true;
        else if (name.rfind("wayland", 0) == 0)
            wantWayland = true;
        else
            return {}; // offscreen, minimal, a frame buffer, VNC: no session needed, or not ours to judge
    }

    const std::string display = env("DISPLAY");
    std::string wayland = env("WAYLAND_DISPLAY");
    if (wayland.empty() && wantWayland && !candidates.empty())
        wayland = "wayland-0"; // what the Wayland client library tries without one

    std::vector<std::string> reasons;
    if (wantX) {
        if (display.empty()) {
            reasons.push_back("DISPLAY ist nicht gesetzt");
        } else {
            const XDisplayAddress address = xDisplayAddress(display);
            if (address.valid && xReachable(address))
                return {};
            reasons.push_back(address.valid ? "die X-Anzeige " + quoted(display) + " ist nicht erreichbar"
                                            : "DISPLAY " + quoted(display) + " ist keine g\u00FCltige X-Anzeige");
        }
    }
    if (wantWayland) {
        if (wayland.empty()) {
            reasons.push_back("WAYLAND_DISPLAY ist nicht gesetzt");
        } else {
            const std::string path = waylandSocketPath(wayland, env("XDG_RUNTIME_DIR"));
            if (!path.empty() && unixSocketReachable(path))
                return {};
            reasons.push_back("die Wayland-Anzeige " + quoted(wayland) + " ist nicht erreichbar");
        }
    }
    if (display.empty() && wayland.empty() && candidates.empty())
        reasons = {"weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt"};

    std::string text = "Keine grafische Sitzung gefunden: ";
    for (std::size_t i = 0; i < reasons.size(); ++i)
        text += (i ? "; " : "") + reasons[i];
    return text + ". Tintrava braucht eine X11- oder Wayland-Anzeige.";
}

std::string missingGraphicalSession(int argc, char **argv)
{
    std::vector<std::string> arguments(argv, argv + argc);
    return missingGraphicalSession(arguments, [](const char *name) {
        const char *value = std::getenv(name);
        return std::string(value ? value : "");
    });
}

} // namespace tintrava
