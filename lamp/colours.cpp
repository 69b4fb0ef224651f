#include "lamp/colours.h"

#include <cmath>
#include <cstdint>

#include "lamp/integer_rule.h"

namespace tintrava {

namespace {

constexpr Rgb rgb(std::uint32_t hex)
{
    return Rgb{std::uint8_t(hex >> 16), std::uint8_t(hex >> 8), std::uint8_t(hex)};
}

constexpr int OffColour = 11;

// Colour numbers used by the wavelength rules.
constexpr int Rot = 1, Gruen = 2, Blau = 3, Orange = 5, Tuerkis = 6, Violett = 7, Gelb = 8,
              Indigo = 12;

const Rgb &entry(int hardwareRow, int colourNumber)
{
    if (hardwareRow < 0 || hardwareRow > 4)
        hardwareRow = 0;
    if (colourNumber < 1 || colourNumber > 12)
        colourNumber = OffColour;
    return ColourTable[hardwareRow][colourNumber - 1];
}

std::string command(int r, int g, int b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "C";
    for (int v : {r, g, b}) {
        text += digits[(v >> 4) & 0xF];
        text += digits[v & 0xF];
    }
    return text;
}

// Nearest integer, ties to the even one, independent of the FPU rounding mode.
// Callers pass values within 0..255, where v - floor(v) is exact.
int roundHalfEven(double v)
{
    const double lower = std::floor(v);
    const double rest = v - lower;
    auto n = static_cast<long long>(lower);
    if (rest > 0.5 || (rest == 0.5 && (n % 2 != 0)))
        ++n;
    return static_cast<int>(n);
}

// (w - lo) / (hi - lo) held to 0..1, rounded once to single precision.
float fraction(int lo, int hi, int w)
{
    std::int64_t num = std::int64_t(w) - lo;
    std::int64_t den = std::int64_t(hi) - lo;
    if (den == 0)
        return num < 0 ? 0.0f : 1.0f;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    if (num <= 0)
        return 0.0f;
    if (num >= den)
        return 1.0f;
    // Both operands are below 2^33 and exact in double; for the wavelength
    // segments (operands far below 2^24) the double quotient rounded to float
    // equals the exact quotient rounded once.
    return static_cast<float>(double(num) / double(den));
}

} // namespace

const Rgb ColourTable[5][12] = {
    {rgb(0xFF0000), rgb(0x00EC00), rgb(0x0000FF), rgb(0xFFFFFF), rgb(0xFF5800), rgb(0x00FFEC),
     rgb(0x7C009E), rgb(0xFFAF00), rgb(0xFF5A8C), rgb(0xFF0086), rgb(0x000000), rgb(0x280B35)},
    {rgb(0xFF0000), rgb(0x00EC00), rgb(0x0000FF), rgb(0xC8C8C8), rgb(0xFF9600), rgb(0x00DCFF),
     rgb(0xFF00B4), rgb(0xFFC800), rgb(0xFF87BE), rgb(0xE600FF), rgb(0x000000), rgb(0x7D2DA5)},
    {rgb(0xFF0000), rgb(0x00EC00), rgb(0x0000FF), rgb(0xC8C8C8), rgb(0xFF6E00), rgb(0x00DCFF),
     rgb(0xFF00B4), rgb(0xFFC800), rgb(0xFF69BE), rgb(0xE600FF), rgb(0x000000), rgb(0x7D2DA5)},
    {rgb(0xFF0000), rgb(0x00EC00), rgb(0x0000FF), rgb(0xC8C8C8), rgb(0xFF7D00), rgb(0x00DCFF),
     rgb(0xFF00B4), rgb(0xFFC800), rgb(0xFF69BE), rgb(0xE600FF), rgb(0x000000), rgb(0x7D2DA5)},
    {rgb(0xFF0000), rgb(0x00EC00), rgb(0x0000FF), rgb(0xC8C8C8), rgb(0xFF7D00), rgb(0x00DCFF),
     rgb(0xFF00B4), rgb(0xFFC800), rgb(0xFF69BE), rgb(0xE600FF), rgb(0x000000), rgb(0x7D2DA5)},
};

std::string colourCommand(int hardwareRow, int colourNumber)
{
    const Rgb &c = entry(hardwareRow, colourNumber);
    return command(c.r, c.g, c.b);
}

std::string mixcolor(int hardwareRow, int c1, int c2, int lo, int hi, int w)
{
    const Rgb &a = entry(hardwareRow, c1);
    const Rgb &b = entry(hardwareRow, c2);
    // The fraction is single precision on purpose: kept in double it moves some
    // channels by one (442 nm in row 1 would give 581FC0 instead of 571FC0).
    const double f = fraction(lo, hi, w);
    auto blend = [f](std::uint8_t x, std::uint8_t y) {
        return roundHalfEven((1.0 - f) * x + f * y);
    };
    return command(blend(a.r, b.r), blend(a.g, b.g), blend(a.b, b.b));
}

std::string wavelengthCommand(int hardwareRow, int w)
{
    // Below 425 nm the Violett-Indigo blend would run past Violett into values
    // a lamp cannot take; the fraction is held at 0 there, so it stays Violett.
    if (w <= 430)
        return mixcolor(hardwareRow, Violett, Indigo, 425, 430, w);
    if (w <= 470)
        return mixcolor(hardwareRow, Indigo, Blau, 430, 470, w);
    if (w <= 490)
        return mixcolor(hardwareRow, Blau, Tuerkis, 470, 490, w);
    if (w <= 530)
        return mixcolor(hardwareRow, Tuerkis, Gruen, 490, 530, w);
    if (w < 580)
        return mixcolor(hardwareRow, Gruen, Gelb, 530, 580, w);
    if (w < 605)
        return mixcolor(hardwareRow, Gelb, Orange, 580, 605, w);
    // Past 750 nm (not reachable from the editor) the last segment ends in Rot.
    return mixcolor(hardwareRow, Orange, Rot, 605, 750, w);
}

int wavelengthColourNumber(int w)
{
    if (w <= 430)
        return Violett;
    if (w <= 470)
        return Indigo;
    if (w <= 490)
        return Blau;
    if (w <= 530)
        return Tuerkis;
    if (w <= 580)
        return Gruen;
    if (w <= 605)
        return Gelb;
    if (w <= 649)
        return Orange;
    return Rot;
}

int wavelengthFromText(std::string_view text)
{
    return strToIntDef(text, 500);
}

} // namespace tintrava
