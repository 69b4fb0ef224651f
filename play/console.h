#pragma once
// What the player without a window needs from the operating system: the
// wall clock, sleeping, interrupts, whether it writes to a terminal, its
// arguments and files in UTF-8.
#include <string>
#include <vector>

namespace tintrava::play {

// Local wall-clock date-time in days since 1899-12-30, milliseconds included,
// as the window reads it.
double localNowDays();
// Local time of day "hh:mm:ss", for the lines of a timer job's log.
std::string localTimeText();

// Every signal that would end the process and can be caught (Ctrl+C,
// SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGXCPU, the real-time signals
// …; on Windows the console control events) sets a flag instead, so the lamp
// can be switched off first. A signal that was ignored when the program
// started (nohup, a background job of a script) stays ignored. A pipe that
// closes (SIGPIPE) or an output beyond the file-size limit (SIGXFSZ) only
// makes writing fail.
void installInterruptHandlers();
bool interrupted();
// The first signal that interrupted the run, 0 when none (on Windows 2 for
// Ctrl+C, 1 for the other control events).
int interruptSignal();
// "Strg+C", "SIGTERM", "SIGRTMIN+3", … for the closing message.
std::string signalName(int signal);
// The exit status for an interrupted run: 128 + the signal's number.
inline int interruptStatus(int signal)
{
    return 128 + signal;
}
// The signals installInterruptHandlers catches on this system.
std::vector<int> interruptSignals();

// The user's language for the system's own texts (strerror), as the window
// has it from Qt.
void useUserLocale();
// Tells a waiting Windows control handler that the lamp is off; the system
// ends the process once that handler returns after a close or log-off event.
void interruptHandled();

// Sleeps about ms milliseconds; returns early (false) when interrupted.
bool sleepUnlessInterrupted(int ms);

// Whether standard output is a terminal (a console window on Windows).
bool stdoutIsTerminal();
// Lets the console show UTF-8 text (Windows); nothing elsewhere.
void prepareConsole();

// The command-line arguments after the program name, as UTF-8.
std::vector<std::string> arguments(int argc, char **argv);

} // namespace tintrava::play
