#pragma once
// Where "my.conf" lives and what its first line says, in plain C++: the
// window and the player without a window (which has no Qt) follow the same
// rules.
#include <optional>
#include <string>
#include <string_view>

namespace tintrava {

inline constexpr const char *ConfigFileName = "my.conf";
// Its presence marks an installed program (a package or `cmake --install`):
// <program folder>/../share/tintrava/installed.
inline constexpr const char *InstalledMarker = "../share/tintrava/installed";
// Only the first line matters; a huge or binary file must not stall the start.
inline constexpr std::size_t ConfigHeadLimit = 4096;

// What the location rule needs to know about the machine.
struct ConfigPlace {
    std::string programDir;        // folder of the running program
    bool installed = false;        // the installed marker is there
    bool existsBesideProgram = false; // programDir/my.conf exists
    bool programDirWritable = false;
    std::string xdgConfigHome;     // $XDG_CONFIG_HOME, may be empty
    std::string home;              // $HOME, may be empty
    std::string localAppData;      // Windows: %LOCALAPPDATA%, may be empty
};

// The user's configuration folder for Tintrava: $XDG_CONFIG_HOME/tintrava
// (~/.config/tintrava when the variable is unset or not absolute), on Windows
// %LOCALAPPDATA%\tintrava, as Qt's generic config location gives the window;
// empty when there is no home folder.
std::string userConfigDirectory(const ConfigPlace &place);

// The rule the window follows too. An installed program keeps it in the
// user's configuration folder, whatever lies beside it: one start as root
// must not move every user's settings into the program's folder (without
// any home folder it has no other place than the one beside it). A
// build tree or a copy kept in a folder of its own keeps it beside the
// program when the file is already there or a file can be created in its
// folder, or when there is no user configuration folder; otherwise in the
// user's configuration folder too.
std::string chooseConfigPath(const ConfigPlace &place);

// The same rule for this machine and the running program.
ConfigPlace currentConfigPlace();
std::string configPath();

// True when a file can be created in dir right now: tried, not guessed from
// permission bits, which neither root nor read-only mounts honour. Leaves
// nothing behind.
bool canCreateFileIn(const std::string &dir);

// The folder of the running program's executable; empty if unknown.
std::string programDirectory();

// Whether the program in programDir was installed (the marker is there).
bool isInstalledProgram(const std::string &programDir);

// The first line of the file's head (up to CR or LF) read by the integer rule:
// the colour-table row, or -1 when the line is not an integer (also for an
// empty file). Valid rows are 0..4.
int hardwareRowFromConfig(std::string_view head);
inline bool validHardwareRow(int row)
{
    return row >= 0 && row <= 4;
}

struct ConfigRead {
    enum Status { Missing, Read, Failed };
    Status status = Missing;
    std::string head;  // at most ConfigHeadLimit bytes (Read)
    std::string error; // reason from the system (Failed)
};
// Reads the head of the file at path; a pipe or device is refused, not read.
ConfigRead readConfigHead(const std::string &path);

} // namespace tintrava
