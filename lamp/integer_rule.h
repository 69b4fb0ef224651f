#pragma once
// The one way this program turns text into an integer: settings file, minutes,
// wavelengths and colour numbers all go through here, each caller passing the
// value it wants for text that is not an integer.
//
//   leading blanks, optional '+' or '-', then decimal digits, or hexadecimal
//   digits after "$", "x", "X", "0x" or "0X"; nothing may follow.
//   Decimal must fit a signed 32-bit integer; hexadecimal up to FFFFFFFF is a
//   32-bit pattern read as signed ("$FFFFFFFF" is -1).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tintrava {

// Value of one hexadecimal digit (either case), -1 for any other character.
int hexDigitValue(char c);

std::optional<std::int32_t> parseInteger(std::string_view text);
std::int32_t strToIntDef(std::string_view text, std::int32_t defaultValue);

// Plain decimal, '-' for negative values.
std::string intToStr(std::int64_t value);

} // namespace tintrava
