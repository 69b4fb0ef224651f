#include "ui/system_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#if defined(_WIN32)

namespace tintrava {

// A window program on Windows gets no console signals; logging off and
// shutting down reach it as the session's end, which Qt turns into closing
// its windows.
SystemSignals::SystemSignals(QObject *parent) : QObject(parent) {}
SystemSignals::~SystemSignals() = default;
void SystemSignals::restoreDefaults() {}
void SystemSignals::readSignals() {}

} // namespace tintrava

#else

#include <fcntl.h>
#include <unistd.h>

namespace tintrava {

namespace {

int g_pipe[2] = {-1, -1};
constexpr int Handled[] = {SIGTERM, SIGHUP, SIGINT};

void onSignal(int signal)
{
    // Only what is safe in a signal handler: one write, errno kept.
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &number, 1);
    errno = saved;
}

} // namespace

SystemSignals::SystemSignals(QObject *parent) : QObject(parent)
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SystemSignals::readSignals);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : Handled)
        ::sigaction(signal, &action, nullptr);
}

SystemSignals::~SystemSignals()
{
    if (!m_notifier)
        return;
    restoreDefaults();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void SystemSignals::restoreDefaults()
{
    for (int signal : Handled)
        std::signal(signal, SIG_DFL);
}

void SystemSignals::readSignals()
{
    unsigned char numbers[16];
    const ssize_t n = ::read(g_pipe[0], numbers, sizeof numbers);
    if (n > 0)
        emit received(numbers[0]);
}

} // namespace tintrava

#endif
