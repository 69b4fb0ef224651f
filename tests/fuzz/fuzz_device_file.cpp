// The virtual lamp's device file on any bytes: never crashes, keeps only
// devices that make sense, and every device it read comes back unchanged
// when written out again with escapes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "tools/virtual-lamp/device_file.h"

using namespace tintrava::vlamp;

namespace {

// Every byte that could mean something to the format as \xNN.
std::string escaped(const std::string &text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (plain) {
            out += char(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0x0F];
        }
    }
    return out;
}

std::string written(const DeviceConfig &device)
{
    std::string line = escaped(device.description) + "|" + escaped(device.serial) + "|"
        + firmwareName(device.firmware);
    if (device.openFails)
        line += "|open-fails";
    if (device.descriptionFails)
        line += "| description-fails";
    if (device.serialFails)
        line += "|serial-fails ";
    if (device.noReply)
        line += "|no-reply";
    if (device.reply)
        line += "|reply=" + escaped(*device.reply);
    line += "|delay=" + std::to_string(device.delayMs);
    return line;
}

bool same(const DeviceConfig &a, const DeviceConfig &b)
{
    return a.description == b.description && a.serial == b.serial && a.firmware == b.firmware
        && a.openFails == b.openFails && a.descriptionFails == b.descriptionFails
        && a.serialFails == b.serialFails && a.noReply == b.noReply && a.reply == b.reply
        && a.delayMs == b.delayMs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    const std::vector<DeviceConfig> devices = parseDeviceFile(content);

    std::size_t lines = 1;
    for (char c : content)
        lines += c == '\n';
    FUZZ_CHECK(devices.size() <= lines);

    std::string again;
    for (const DeviceConfig &device : devices) {
        FUZZ_CHECK(device.delayMs >= 0);
        const std::string line = written(device);
        const auto reread = parseDevice(line);
        FUZZ_CHECK(reread && same(*reread, device));
        again += line + "\r\n";
    }
    // The whole file written out reads back as the same devices.
    const std::vector<DeviceConfig> rereadAll = parseDeviceFile(again);
    FUZZ_CHECK(rereadAll.size() == devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i)
        FUZZ_CHECK(same(rereadAll[i], devices[i]));
    return 0;
}
