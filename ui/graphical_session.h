#pragma once
// Whether a window can be opened at all, asked before Qt is started: Qt's own
// answer to a missing display is an abort with a core dump and the advice to
// reinstall. Plain C++ and POSIX sockets, so it runs before QApplication.
#include <functional>
#include <string>
#include <vector>

namespace tintrava {

// Where an X display named like DISPLAY (":0", "unix:1.0", "host:10",
// "tcp/host:2") is reached: the local sockets, tried in turn, then TCP.
struct XDisplayAddress {
    bool valid = false;
    std::vector<std::string> unixSockets; // a leading '\0' marks an abstract socket
    std::string tcpHost;                  // empty: no TCP
    int tcpPort = 0;
};
XDisplayAddress xDisplayAddress(const std::string &display);

// The socket of a Wayland display named like WAYLAND_DISPLAY: an absolute
// path as it is, a name inside XDG_RUNTIME_DIR. Empty when it has no place.
std::string waylandSocketPath(const std::string &waylandDisplay, const std::string &runtimeDir);

// Whether something accepts connections there (a refused or missing socket,
// an unknown host or a port nobody listens on is unreachable).
bool unixSocketReachable(const std::string &path);
bool tcpReachable(const std::string &host, int port, int timeoutMs);

// Looks up an environment variable; empty when unset.
using EnvironmentLookup = std::function<std::string(const char *name)>;

// Empty when the program can open its windows: the Qt platform named by
// "-platform" or QT_QPA_PLATFORM needs no display (offscreen, minimal, ...),
// or the X or Wayland display it needs answers. Otherwise a German sentence
// for standard error, starting with "Keine grafische Sitzung gefunden".
std::string missingGraphicalSession(const std::vector<std::string> &arguments, const EnvironmentLookup &env);
std::string missingGraphicalSession(int argc, char **argv);

} // namespace tintrava
