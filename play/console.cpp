#include "play/console.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace tintrava::play {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_handled{false};

std::tm localTime(std::time_t t)
{
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    return local;
}

#if defined(_WIN32)
BOOL WINAPI onConsoleEvent(DWORD event)
{
    g_interrupted = true;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // Closing the console window, logging off or shutting down ends the
    // process as soon as this returns: give the main thread time to switch
    // the lamp off.
    for (int i = 0; i < 100 && !g_handled; ++i)
        Sleep(50);
    return TRUE;
}

std::string narrow(const wchar_t *wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
    out.resize(std::size_t(n - 1));
    return out;
}
#else
void onSignal(int)
{
    g_interrupted = true;
}
#endif

std::filesystem::path toPath(const std::string &utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

} // namespace

double localNowDays()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto sinceEpoch = duration_cast<milliseconds>(now.time_since_epoch());
    const std::time_t seconds = std::time_t(floor<std::chrono::seconds>(sinceEpoch).count());
    const long long ms = (sinceEpoch - floor<std::chrono::seconds>(sinceEpoch)).count();
    const std::tm local = localTime(seconds);
    const year_month_day date{year{local.tm_year + 1900}, month{unsigned(local.tm_mon + 1)},
                              day{unsigned(local.tm_mday)}};
    // Day 0 is 1899-12-30, 25569 days before 1970-01-01.
    const double days = double(sys_days(date).time_since_epoch().count()) + 25569.0;
    const double msOfDay = ((local.tm_hour * 60.0 + local.tm_min) * 60.0 + local.tm_sec) * 1000.0 + double(ms);
    return days + msOfDay / 86400000.0;
}

std::string localTimeText()
{
    const std::tm local = localTime(std::time(nullptr));
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

void installInterruptHandlers()
{
#if defined(_WIN32)
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A log pipe that closes (`| head`) must not end the process with the
    // lamp still on: writes just fail from then on.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool interrupted()
{
    return g_interrupted;
}

void interruptHandled()
{
    g_handled = true;
}

bool sleepUnlessInterrupted(int ms)
{
    using namespace std::chrono;
    const auto end = steady_clock::now() + milliseconds(ms);
    while (!g_interrupted) {
        const auto left = duration_cast<milliseconds>(end - steady_clock::now());
        if (left.count() <= 0)
            return true;
        std::this_thread::sleep_for(std::min(left, milliseconds(50)));
    }
    return false;
}

bool stdoutIsTerminal()
{
#if defined(_WIN32)
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
#else
    return ::isatty(STDOUT_FILENO) == 1;
#endif
}

void prepareConsole()
{
#if defined(_WIN32)
    SetConsoleOutputCP(CP_UTF8);
#endif
}

std::vector<std::string> arguments(int argc, char **argv)
{
    std::vector<std::string> out;
#if defined(_WIN32)
    // argv is in the ANSI code page; file names may hold any character.
    (void)argv;
    int count = 0;
    if (LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            out.push_back(narrow(wide[i]));
        LocalFree(wide);
        return out;
    }
#endif
    for (int i = 1; i < argc; ++i)
        out.emplace_back(argv[i]);
    return out;
}

bool readFileHead(const std::string &path, std::size_t limit, std::string &bytes, std::string &reason)
{
    const std::filesystem::path file = toPath(path);
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        reason = "Die Datei gibt es nicht.";
        return false;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        reason = "Das ist ein Ordner.";
        return false;
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        reason = errno == EACCES ? std::string("Keine Berechtigung zum Lesen.")
                                 : "Lesefehler (" + std::string(std::strerror(errno ? errno : EIO)) + ")";
        return false;
    }
    bytes.assign(limit, '\0');
    in.read(bytes.data(), std::streamsize(limit));
    if (in.bad()) {
        reason = "Lesefehler (" + std::string(std::strerror(errno ? errno : EIO)) + ")";
        return false;
    }
    bytes.resize(std::size_t(in.gcount()));
    return true;
}

} // namespace tintrava::play
