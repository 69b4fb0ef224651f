#include "tools/virtual-lamp/device_file.h"

#include "lamp/integer_rule.h"

namespace tintrava::vlamp {

namespace {

std::string_view trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

const char *firmwareName(Firmware firmware)
{
    switch (firmware) {
    case Firmware::Text: return "text";
    case Firmware::Byte: return "byte";
    case Firmware::Cable: return "cable";
    }
    return "-";
}

bool unescape(std::string_view text, std::string &out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return false;
        switch (text[i]) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            if (i + 2 >= text.size())
                return false;
            const int high = hexDigitValue(text[i + 1]);
            const int low = hexDigitValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out += char(high * 16 + low);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

// A line that does not parse completely is left out: a half-written or
// mistyped line shows up as a missing device, not as a different one.
std::optional<DeviceConfig> parseDevice(std::string_view line)
{
    const std::vector<std::string_view> fields = split(line, '|');
    if (fields.size() < 3)
        return std::nullopt;
    DeviceConfig device;
    if (!unescape(fields[0], device.description) || !unescape(fields[1], device.serial))
        return std::nullopt;
    const std::string_view firmware = trim(fields[2]);
    if (firmware == "text")
        device.firmware = Firmware::Text;
    else if (firmware == "byte")
        device.firmware = Firmware::Byte;
    else if (firmware == "cable")
        device.firmware = Firmware::Cable;
    else
        return std::nullopt;
    for (std::size_t i = 3; i < fields.size(); ++i) {
        const std::string_view option = trim(fields[i]);
        if (option.empty())
            continue;
        if (option == "open-fails") {
            device.openFails = true;
        } else if (option == "description-fails") {
            device.descriptionFails = true;
        } else if (option == "serial-fails") {
            device.serialFails = true;
        } else if (option == "no-reply") {
            device.noReply = true;
        } else if (option == "write-fails") {
            device.writesBeforeFailing = 0;
        } else if (startsWith(option, "write-fails-after=")) {
            const auto n = parseInteger(option.substr(18));
            if (!n || *n < 0)
                return std::nullopt;
            device.writesBeforeFailing = *n;
        } else if (option == "short-write") {
            device.shortWrite = true;
        } else if (startsWith(option, "reply=")) {
            std::string reply;
            if (!unescape(option.substr(6), reply))
                return std::nullopt;
            device.reply = reply;
        } else if (startsWith(option, "delay=")) {
            const auto ms = parseInteger(option.substr(6));
            if (!ms || *ms < 0)
                return std::nullopt;
            device.delayMs = *ms;
        } else {
            return std::nullopt;
        }
    }
    return device;
}

std::vector<DeviceConfig> parseDeviceFile(std::string_view content)
{
    std::vector<DeviceConfig> devices;
    for (std::string_view line : split(content, '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view text = trim(line);
        if (text.empty() || text[0] == '#')
            continue;
        if (auto device = parseDevice(line))
            devices.push_back(*device);
    }
    return devices;
}

} // namespace tintrava::vlamp
