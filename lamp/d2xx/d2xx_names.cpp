#include "lamp/d2xx/d2xx_names.h"

#include <cstdio>

namespace tintrava {

std::string d2xxFlagsText(DWORD flags)
{
    std::string text;
    const auto append = [&text](const char *part) {
        if (!text.empty())
            text += '|';
        text += part;
    };
    const struct {
        DWORD bit;
        const char *name;
    } names[] = {{FT_LIST_NUMBER_ONLY, "NUMBER_ONLY"},
                 {FT_LIST_BY_INDEX, "BY_INDEX"},
                 {FT_LIST_ALL, "ALL"},
                 {FT_OPEN_BY_SERIAL_NUMBER, "SERIAL"},
                 {FT_OPEN_BY_DESCRIPTION, "DESCRIPTION"}};
    for (const auto &n : names) {
        if (flags & n.bit) {
            append(n.name);
            flags &= ~n.bit;
        }
    }
    if (flags != 0) {
        char rest[16];
        std::snprintf(rest, sizeof rest, "0x%X", static_cast<unsigned>(flags));
        append(rest);
    }
    return text.empty() ? "0" : text;
}

} // namespace tintrava
