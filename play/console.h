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

// Ctrl+C and termination (SIGINT, SIGTERM, SIGHUP; on Windows the console
// control events) set a flag instead of ending the process, so the lamp can
// be switched off first.
void installInterruptHandlers();
bool interrupted();
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

// Reads at most limit bytes of the file; false and a German reason when it
// cannot be read.
bool readFileHead(const std::string &path, std::size_t limit, std::string &bytes, std::string &reason);

} // namespace tintrava::play
