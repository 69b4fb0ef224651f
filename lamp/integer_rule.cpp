#include "lamp/integer_rule.h"

namespace tintrava {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::int32_t> parseInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;

    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }

    if (i >= text.size())
        return std::nullopt;

    // Accumulate in 64 bits and stop as soon as the value can no longer fit.
    std::uint64_t value = 0;
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
    for (; i < text.size(); ++i) {
        int d = hex ? hexDigitValue(text[i]) : ((text[i] >= '0' && text[i] <= '9') ? text[i] - '0' : -1);
        if (d < 0)
            return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
        if (value > limit)
            return std::nullopt;
    }

    // Two's complement on 32 bits: "-$FFFFFFFF" is 1, "-2147483648" is INT32_MIN.
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if (negative)
        bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

std::int32_t strToIntDef(std::string_view text, std::int32_t defaultValue)
{
    return parseInteger(text).value_or(defaultValue);
}

std::string intToStr(std::int64_t value)
{
    return std::to_string(value);
}

} // namespace tintrava
