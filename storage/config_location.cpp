#include "storage/config_location.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "lamp/integer_rule.h"
#include "storage/file_head.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace tintrava {

namespace fs = std::filesystem;

namespace {

// Paths are UTF-8 text throughout; Windows wants them wide.
fs::path toPath(const std::string &utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string fromPath(const fs::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string joinPath(const std::string &dir, const std::string &name)
{
    return fromPath(toPath(dir) / toPath(name));
}

#if defined(_WIN32)
std::string narrow(const std::wstring &wide)
{
    if (wide.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string environment(const wchar_t *name)
{
    const wchar_t *value = _wgetenv(name);
    return value ? narrow(value) : std::string();
}

// The folder's attributes say little on Windows (Program Files looks
// writable to them); creating a file there is the real test.
bool probeFolder(const std::string &dir)
{
    const fs::path probe = toPath(dir) / ("tintrava-probe-" + std::to_string(GetCurrentProcessId()) + ".tmp");
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}
#else
std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Tried, not guessed from permission bits, which neither root nor read-only
// mounts honour. Leaves nothing behind.
bool probeFolder(const std::string &dir)
{
    if (dir.empty())
        return false;
    std::string probe = joinPath(dir, ".tintrava-probe-XXXXXX");
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}
#endif

} // namespace

bool canCreateFileIn(const std::string &dir)
{
    return probeFolder(dir);
}

std::string userConfigDirectory(const ConfigPlace &place)
{
#if defined(_WIN32)
    return place.localAppData.empty() ? std::string() : joinPath(place.localAppData, "tintrava");
#else
    std::string base = place.xdgConfigHome;
    // The XDG rule: a relative value is invalid and ignored.
    if (base.empty() || !toPath(base).is_absolute())
        base = place.home.empty() ? std::string() : joinPath(place.home, ".config");
    return base.empty() ? std::string() : joinPath(base, "tintrava");
#endif
}

std::string chooseConfigPath(const ConfigPlace &place)
{
    const std::string user = userConfigDirectory(place);
    if (place.installed && !user.empty())
        return joinPath(user, ConfigFileName);
    if (user.empty() || place.existsBesideProgram || place.programDirWritable)
        return joinPath(place.programDir, ConfigFileName);
    return joinPath(user, ConfigFileName);
}

std::string programDirectory()
{
#if defined(_WIN32)
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return fromPath(fs::path(buffer).parent_path());
#else
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return fromPath(exe.parent_path());
#endif
}

bool isInstalledProgram(const std::string &programDir)
{
    if (programDir.empty())
        return false;
    std::error_code error;
    return fs::is_regular_file(toPath(programDir) / toPath(InstalledMarker), error);
}

ConfigPlace currentConfigPlace()
{
    ConfigPlace place;
    place.programDir = programDirectory();
    place.installed = isInstalledProgram(place.programDir);
    if (!place.programDir.empty() && !place.installed) {
        std::error_code error;
        place.existsBesideProgram = fs::exists(toPath(joinPath(place.programDir, ConfigFileName)), error);
        // A settings file beside the program decides on its own; the probe
        // would only cost a file created and removed at every start.
        if (!place.existsBesideProgram)
            place.programDirWritable = canCreateFileIn(place.programDir);
    }
#if defined(_WIN32)
    place.localAppData = environment(L"LOCALAPPDATA");
#else
    place.xdgConfigHome = environment("XDG_CONFIG_HOME");
    place.home = environment("HOME");
    // Started without HOME (a service, `env -i`): the account's home folder,
    // so that an installed program still finds its user's settings.
    if (place.home.empty()) {
        if (const passwd *account = ::getpwuid(::getuid()); account && account->pw_dir)
            place.home = account->pw_dir;
    }
#endif
    return place;
}

std::string configPath()
{
    return chooseConfigPath(currentConfigPlace());
}

int hardwareRowFromConfig(std::string_view head)
{
    const std::size_t end = head.find_first_of("\r\n");
    return strToIntDef(head.substr(0, end), -1);
}

ConfigRead readConfigHead(const std::string &path)
{
    ConfigRead result;
    FileHead file = readFileHead(path, ConfigHeadLimit);
    switch (file.status) {
    case FileHead::Missing:
        return result;
    case FileHead::Read:
        result.status = ConfigRead::Read;
        result.head = std::move(file.bytes);
        return result;
    case FileHead::Directory:
        result.error = "ist ein Ordner";
        break;
    case FileHead::NotRegular:
        result.error = "keine gew\u00F6hnliche Datei";
        break;
    case FileHead::NoPermission:
        result.error = "keine Berechtigung zum Lesen";
        break;
    case FileHead::Failed:
    case FileHead::Stopped:
        result.error = file.systemError.empty() ? std::string("Lesefehler") : file.systemError;
        break;
    }
    result.status = ConfigRead::Failed;
    return result;
}

} // namespace tintrava
