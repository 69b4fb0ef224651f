#include "storage/config_text.h"

#include "lamp/integer_rule.h"

namespace tintrava {

std::string_view configFirstLine(std::string_view content)
{
    const std::size_t end = content.find_first_of("\r\n");
    return end == std::string_view::npos ? content : content.substr(0, end);
}

std::int32_t configHardwareRow(std::string_view firstLine)
{
    return strToIntDef(firstLine, -1);
}

} // namespace tintrava
