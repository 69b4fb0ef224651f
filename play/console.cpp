#include "play/console.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <clocale>
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
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace tintrava::play {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{0};
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
    int expected = 0;
    g_signal.compare_exchange_strong(expected, event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 2 : 1);
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
void onSignal(int signal)
{
    int expected = 0;
    g_signal.compare_exchange_strong(expected, signal);
    g_interrupted = true;
}
#endif


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

std::vector<int> interruptSignals()
{
#if defined(_WIN32)
    return {};
#else
    std::vector<int> signals = {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM,
                                SIGPROF};
#ifdef SIGPOLL
    signals.push_back(SIGPOLL);
#endif
#ifdef SIGPWR
    signals.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGLOST
    signals.push_back(SIGLOST);
#endif
#ifdef SIGEMT
    signals.push_back(SIGEMT);
#endif
#ifdef SIGRTMIN
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        signals.push_back(s);
#endif
    return signals;
#endif
}

std::string signalName(int signal)
{
#if defined(_WIN32)
    return signal == 2 ? "Strg+C" : "Fenster geschlossen oder abgemeldet";
#else
    static const struct {
        int number;
        const char *name;
    } names[] = {
        {SIGINT, "Strg+C"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}, {SIGUSR1, "SIGUSR1"},
        {SIGUSR2, "SIGUSR2"}, {SIGALRM, "SIGALRM"}, {SIGTERM, "SIGTERM"}, {SIGXCPU, "SIGXCPU"},
        {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"},
#ifdef SIGPOLL
        {SIGPOLL, "SIGPOLL"},
#endif
#ifdef SIGPWR
        {SIGPWR, "SIGPWR"},
#endif
#ifdef SIGSTKFLT
        {SIGSTKFLT, "SIGSTKFLT"},
#endif
    };
    for (const auto &entry : names)
        if (entry.number == signal)
            return entry.name;
#ifdef SIGRTMIN
    if (signal >= SIGRTMIN && signal <= SIGRTMAX)
        return "SIGRTMIN+" + std::to_string(signal - SIGRTMIN);
#endif
    return "Signal " + std::to_string(signal);
#endif
}

void installInterruptHandlers()
{
#if defined(_WIN32)
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read that blocks gives way to the signal.
    action.sa_flags = 0;
    for (int signal : interruptSignals()) {
        struct sigaction before {};
        // Ignored by whoever started us (nohup, `cmd &` in a script): they
        // meant the signal not to end this run.
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
    // A log pipe that closes (`| head`) or a log beyond the file-size limit
    // must not end the run with the lamp still on: writes just fail from
    // then on. A background run on a terminal that stops writers (stty
    // tostop) writes on instead of being stopped mid-sequence.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGTTOU, SIG_IGN);
#endif
}

int interruptSignal()
{
    return g_signal;
}

void useUserLocale()
{
    std::setlocale(LC_ALL, "");
    // Numbers keep the one form the files and the lamp use.
    std::setlocale(LC_NUMERIC, "C");
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
#if defined(_WIN32)
    while (!g_interrupted) {
        const auto left = duration_cast<milliseconds>(end - steady_clock::now());
        if (left.count() <= 0)
            return true;
        std::this_thread::sleep_for(std::min(left, milliseconds(50)));
    }
    return false;
#else
    // One wait for the whole time, which a signal cuts short; no waking up
    // every few milliseconds to look at the flag. The signals stay blocked
    // from the look at the flag until ppoll takes the old mask back, so one
    // that comes in between still ends the wait. (The output threads block
    // them for good, so they reach this thread.)
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (int signal : interruptSignals())
        sigaddset(&interrupts, signal);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &interrupts, &before);
    bool done = false;
    while (!g_interrupted) {
        const auto left = duration_cast<nanoseconds>(end - steady_clock::now());
        if (left.count() <= 0) {
            done = true;
            break;
        }
        struct timespec wait {};
        wait.tv_sec = time_t(left.count() / 1000000000);
        wait.tv_nsec = long(left.count() % 1000000000);
        ppoll(nullptr, 0, &wait, &before);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return done;
#endif
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

} // namespace tintrava::play
