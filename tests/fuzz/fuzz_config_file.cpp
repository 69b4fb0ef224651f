// The content of "my.conf" as the window and the player read it (its head, at
// most ConfigHeadLimit bytes): the hardware row its first line names.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "lamp/integer_rule.h"
#include "storage/config_location.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view head(reinterpret_cast<const char *>(data), size);
    if (head.size() > tintrava::ConfigHeadLimit)
        head = head.substr(0, tintrava::ConfigHeadLimit);

    // The first line, found here byte by byte: up to the first CR or LF.
    std::size_t end = 0;
    while (end < head.size() && head[end] != '\r' && head[end] != '\n')
        ++end;
    const std::string_view line = head.substr(0, end);

    const int row = tintrava::hardwareRowFromConfig(head);
    FUZZ_CHECK(row == tintrava::parseInteger(line).value_or(-1));
    // What follows the first line never matters.
    FUZZ_CHECK(tintrava::hardwareRowFromConfig(line) == row);
    FUZZ_CHECK(tintrava::validHardwareRow(row) == (row >= 0 && row <= 4));
    return 0;
}
