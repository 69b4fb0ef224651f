#pragma once
// The virtual lamp's device file: one device per line,
//   description|serial|firmware[|option...]
// (format in README.md beside this file). Reading it is kept apart from the
// file access so that it can be tested and fuzzed on plain bytes.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tintrava::vlamp {

constexpr int DefaultReplyDelayMs = 20;

enum class Firmware { Text, Byte, Cable };

const char *firmwareName(Firmware firmware);

// One line of the device file.
struct DeviceConfig {
    std::string description;
    std::string serial;
    Firmware firmware = Firmware::Text;
    bool openFails = false;
    bool descriptionFails = false;
    bool serialFails = false;
    bool noReply = false;
    // FT_Write fails (FT_IO_ERROR, nothing written) once this many writes to
    // the lamp have succeeded in the process; unset: writes never fail.
    std::optional<int> writesBeforeFailing;
    bool shortWrite = false; // FT_Write writes all but the last byte, and says so
    std::optional<std::string> reply;
    int delayMs = DefaultReplyDelayMs;
};

// \r \n \t \0 \\ and \xNN; false for a broken escape.
bool unescape(std::string_view text, std::string &out);

// One device line (without its line end); nullopt unless it parses completely.
std::optional<DeviceConfig> parseDevice(std::string_view line);

// The devices of a whole file, in file order: blank lines, comments and lines
// that do not parse are left out; LF or CR LF end a line.
std::vector<DeviceConfig> parseDeviceFile(std::string_view content);

} // namespace tintrava::vlamp
