#pragma once
// What the bytes of "my.conf" say, apart from reading the file: its first
// line and the colour-table row that line names. Plain C++, so the rules can
// be tested and fuzzed on any bytes.
#include <cstdint>
#include <string_view>

namespace tintrava {

// The first line of the file's content, without its line end: it ends at the
// first LF or CR (or with the content).
std::string_view configFirstLine(std::string_view content);

// The hardware row a first line names: its integer by the integer rule, -1
// when it is not an integer. Out-of-range numbers are returned as they are;
// only 0 to 4 select a row (isHardwareRow).
std::int32_t configHardwareRow(std::string_view firstLine);

constexpr bool isHardwareRow(std::int32_t row)
{
    return row >= 0 && row <= 4;
}

} // namespace tintrava
