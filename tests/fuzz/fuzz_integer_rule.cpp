// The integer rule on any text: never crashes, agrees with a second, plainly
// written reading of the rule, and what it accepts survives writing back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "fuzz_check.h"
#include "lamp/integer_rule.h"

namespace {

// The rule read straight from its description, by whole-text checks instead
// of one pass: blanks, sign, prefix, digits only, then the size limit.
std::optional<std::int32_t> referenceParse(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (text.substr(0, prefix.size()) == prefix) {
            base = 16;
            text.remove_prefix(prefix.size());
            break;
        }
    }
    if (text.empty())
        return std::nullopt;
    for (char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool hexLetter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !(base == 16 && hexLetter))
            return std::nullopt;
    }
    while (text.size() > 1 && text.front() == '0')
        text.remove_prefix(1);
    if (text.size() > (base == 16 ? 8u : 10u))
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text)
        value = value * std::uint64_t(base) + std::uint64_t(tintrava::hexDigitValue(c));
    if (base == 10 && value > (negative ? 2147483648ull : 2147483647ull))
        return std::nullopt;
    const std::uint32_t bits = negative ? 0u - std::uint32_t(value) : std::uint32_t(value);
    return std::int32_t(bits);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<std::int32_t> value = tintrava::parseInteger(text);
    FUZZ_CHECK(value == referenceParse(text));
    FUZZ_CHECK(tintrava::strToIntDef(text, -7) == value.value_or(-7));
    if (value) {
        const std::string written = tintrava::intToStr(*value);
        FUZZ_CHECK(tintrava::parseInteger(written) == value);
    }
    return 0;
}
