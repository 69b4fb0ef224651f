// The content of "my.conf" as read at start (at most the first
// ConfigReadLimit bytes): its first line and the hardware row it names.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "lamp/integer_rule.h"
#include "storage/config_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    const std::string_view line = tintrava::configFirstLine(content);

    // A prefix of the content, ended by the first line end or the content's end.
    FUZZ_CHECK(line.data() == content.data() && line.size() <= content.size());
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    FUZZ_CHECK(line.size() == content.size() || content[line.size()] == '\r' || content[line.size()] == '\n');

    const std::int32_t row = tintrava::configHardwareRow(line);
    FUZZ_CHECK(row == tintrava::parseInteger(line).value_or(-1));
    // Only a first line that is exactly a number from 0 to 4 (in any spelling
    // of the integer rule) selects a row.
    FUZZ_CHECK(tintrava::isHardwareRow(row) == (row >= 0 && row <= 4));
    if (tintrava::isHardwareRow(row))
        FUZZ_CHECK(tintrava::parseInteger(line).has_value());
    return 0;
}
