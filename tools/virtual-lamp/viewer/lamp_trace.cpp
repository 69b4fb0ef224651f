#include "tools/virtual-lamp/viewer/lamp_trace.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lamp/colours.h"
#include "lamp/integer_rule.h"

namespace tintrava {

namespace {

// The twelve fields of a trace line, always in this order.
constexpr std::array<std::string_view, 12> Keys{"t", "pid", "call", "serial", "desc", "fw",
                                                 "args", "status", "result", "data", "heard", "colour"};
enum Field { T, Pid, Call, Serial, Desc, Fw, Args, Status, Result, Data, Heard, Colour };

constexpr std::array<std::string_view, 9> Calls{
    "FT_ListDevices", "FT_OpenEx", "FT_Close", "FT_Read", "FT_Write",
    "FT_SetBaudRate", "FT_SetDataCharacteristics", "FT_SetTimeouts", "FT_GetQueueStatus"};

// Calls on an open handle; an I/O error there means the device went away.
constexpr std::array<std::string_view, 6> HandleCalls{
    "FT_Read", "FT_Write", "FT_SetBaudRate", "FT_SetDataCharacteristics", "FT_SetTimeouts",
    "FT_GetQueueStatus"};

template <std::size_t N>
bool isOneOf(std::string_view text, const std::array<std::string_view, N> &names)
{
    return std::find(names.begin(), names.end(), text) != names.end();
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isDigits(std::string_view text, bool allowPoint)
{
    if (text.empty())
        return false;
    bool point = false;
    for (char c : text) {
        if (c == '.' && allowPoint && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// Undoes the trace's escapes (\\ \t \r \n \xNN); "-" stands for an empty
// value. False for a broken escape.
bool unescapeValue(std::string_view text, std::string &out)
{
    out.clear();
    if (text == "-")
        return true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size())
            return false;
        switch (text[i]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 'x': {
            if (i + 2 >= text.size())
                return false;
            const std::string_view digits = text.substr(i + 1, 2);
            if (!isHexDigit(digits[0]) || !isHexDigit(digits[1]))
                return false;
            const auto value = parseInteger(std::string("$") + std::string(digits));
            if (!value)
                return false;
            out += char(*value);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

// The value of "name=value" among blank-separated items, e.g. index in
// "index=2 flags=BY_INDEX|SERIAL".
std::optional<std::string_view> item(std::string_view items, std::string_view name)
{
    std::size_t pos = 0;
    while (pos <= items.size()) {
        std::size_t end = items.find(' ', pos);
        if (end == std::string_view::npos)
            end = items.size();
        const std::string_view one = items.substr(pos, end - pos);
        if (one.size() > name.size() && one.substr(0, name.size()) == name && one[name.size()] == '=')
            return one.substr(name.size() + 1);
        pos = end + 1;
    }
    return std::nullopt;
}

std::optional<long> decimalItem(std::string_view items, std::string_view name)
{
    const auto text = item(items, name);
    if (!text || !isDigits(*text, false))
        return std::nullopt;
    const auto value = parseInteger(*text);
    if (!value)
        return std::nullopt;
    return long(*value);
}

bool hasFlag(std::string_view flags, std::string_view flag)
{
    std::size_t pos = 0;
    while (pos <= flags.size()) {
        std::size_t end = flags.find('|', pos);
        if (end == std::string_view::npos)
            end = flags.size();
        if (flags.substr(pos, end - pos) == flag)
            return true;
        pos = end + 1;
    }
    return false;
}

// A lamp's colour field read for its firmware.
struct ParsedColour {
    bool has = false;
    int number = 0;
    std::uint8_t r = 0, g = 0, b = 0;
    bool off = false;
};

std::optional<ParsedColour> parseColour(const std::string &firmware, const std::string &text)
{
    ParsedColour colour;
    if (text.empty())
        return colour;
    if (firmware == "text") {
        if (text.size() != 6 || !std::all_of(text.begin(), text.end(), isHexDigit))
            return std::nullopt;
        const auto value = parseInteger("$" + text);
        if (!value)
            return std::nullopt;
        const auto rgb = std::uint32_t(*value);
        colour.has = true;
        colour.r = std::uint8_t(rgb >> 16);
        colour.g = std::uint8_t(rgb >> 8);
        colour.b = std::uint8_t(rgb);
        colour.off = rgb == 0;
        return colour;
    }
    if (firmware == "byte") {
        if (!isDigits(text, false))
            return std::nullopt;
        const auto value = parseInteger(text);
        const auto shown = value ? byteLampColour(*value) : std::nullopt;
        if (!shown)
            return std::nullopt;
        colour.has = true;
        colour.number = *value;
        colour.r = shown->r;
        colour.g = shown->g;
        colour.b = shown->b;
        colour.off = *value == 11;
        return colour;
    }
    // A plain cable has no colour.
    return std::nullopt;
}

bool sameLamps(const std::vector<TraceLamp> &a, const std::vector<TraceLamp> &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const TraceLamp &x = a[i], &y = b[i];
        if (x.serial != y.serial || x.description != y.description || x.firmware != y.firmware
            || x.colour != y.colour || x.lastHeard != y.lastHeard || x.attached != y.attached)
            return false;
    }
    return true;
}

} // namespace

std::optional<DisplayRgb> byteLampColour(int colourNumber)
{
    if (colourNumber < 1 || colourNumber > 12)
        return std::nullopt;
    const Rgb &rgb = ColourTable[0][colourNumber - 1];
    return DisplayRgb{rgb.r, rgb.g, rgb.b};
}

std::string colourName(int colourNumber)
{
    static const char *const names[12] = {"Rot",     "Grün",    "Blau", "Weiß", "Orange",  "Türkis",
                                          "Violett", "Gelb",    "Rosa", "Magenta", "aus", "Indigo"};
    if (colourNumber < 1 || colourNumber > 12)
        return {};
    return names[colourNumber - 1];
}

TraceLamp &LampTrace::lampFor(const std::string &serial)
{
    for (TraceLamp &lamp : m_lamps)
        if (lamp.serial == serial)
            return lamp;
    TraceLamp lamp;
    lamp.serial = serial;
    m_lamps.push_back(std::move(lamp));
    return m_lamps.back();
}

void LampTrace::listingDone(const Listing &listing)
{
    for (TraceLamp &lamp : m_lamps)
        if (!listing.serials.count(lamp.serial))
            lamp.attached = false;
}

bool LampTrace::applyLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);

    std::array<std::string_view, 12> raw;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < Keys.size(); ++i) {
        std::size_t end = line.find('\t', pos);
        if (end == std::string_view::npos) {
            if (i != Keys.size() - 1)
                break;
            end = line.size();
        } else if (i == Keys.size() - 1) {
            ++m_ignored; // more than twelve fields
            return false;
        }
        const std::string_view field = line.substr(pos, end - pos);
        if (field.size() <= Keys[i].size() || field.substr(0, Keys[i].size()) != Keys[i]
            || field[Keys[i].size()] != '=') {
            ++m_ignored;
            return false;
        }
        raw[i] = field.substr(Keys[i].size() + 1);
        pos = end + 1;
        if (i == Keys.size() - 1)
            pos = std::string_view::npos;
    }
    if (pos != std::string_view::npos) { // fewer than twelve fields
        ++m_ignored;
        return false;
    }

    std::array<std::string, 12> v;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (!unescapeValue(raw[i], v[i])) {
            ++m_ignored;
            return false;
        }
    }
    const bool knownFirmware = v[Fw] == "text" || v[Fw] == "byte" || v[Fw] == "cable";
    const auto pid = isDigits(v[Pid], false) ? parseInteger(v[Pid]) : std::nullopt;
    if (!isDigits(v[T], true) || !pid || !isOneOf(v[Call], Calls) || v[Status].rfind("FT_", 0) != 0
        || (v[Serial].empty() != v[Fw].empty()) || (!v[Fw].empty() && !knownFirmware)) {
        ++m_ignored;
        return false;
    }
    std::optional<ParsedColour> colour;
    if (!v[Serial].empty()) {
        colour = parseColour(v[Fw], v[Colour]);
        if (!colour && !(v[Fw] == "cable" && v[Colour].empty())) {
            ++m_ignored;
            return false;
        }
    }

    const std::vector<TraceLamp> before = m_lamps;
    const std::string &call = v[Call];
    const bool ok = v[Status] == "FT_OK";
    const std::string &pidKey = v[Pid];

    if (!v[Serial].empty()) {
        TraceLamp &lamp = lampFor(v[Serial]);
        lamp.description = v[Desc];
        lamp.firmware = v[Fw];
        lamp.colour = v[Colour];
        lamp.hasColour = colour && colour->has;
        lamp.colourNumber = lamp.hasColour ? colour->number : 0;
        lamp.r = lamp.hasColour ? colour->r : 0;
        lamp.g = lamp.hasColour ? colour->g : 0;
        lamp.b = lamp.hasColour ? colour->b : 0;
        lamp.off = lamp.hasColour && colour->off;
        if (call == "FT_Write" && !v[Heard].empty())
            lamp.lastHeard = std::string(raw[Heard]); // escaped, so it stays one visible line
        // A close names the device even when it is gone; it says nothing
        // about whether it is still there.
        if (call != "FT_Close") {
            if (v[Status] == "FT_IO_ERROR" && isOneOf(call, HandleCalls))
                lamp.attached = false;
            else
                lamp.attached = true;
        }
    }

    if (call == "FT_ListDevices") {
        const auto flags = item(v[Args], "flags");
        if (flags && hasFlag(*flags, "NUMBER_ONLY")) {
            const auto count = ok ? decimalItem(v[Result], "count") : std::nullopt;
            Listing &listing = m_listings[pidKey];
            listing = Listing{};
            if (count) {
                listing.expected = *count;
                if (*count == 0) {
                    listingDone(listing);
                    m_listings.erase(pidKey);
                }
            }
        } else if (flags && hasFlag(*flags, "BY_INDEX")) {
            auto it = m_listings.find(pidKey);
            const auto index = decimalItem(v[Args], "index");
            if (it != m_listings.end() && index && it->second.expected > 0 && *index < it->second.expected) {
                Listing &listing = it->second;
                listing.indices.insert(*index);
                if (!v[Serial].empty())
                    listing.serials.insert(v[Serial]);
                if (long(listing.indices.size()) == listing.expected) {
                    listingDone(listing);
                    m_listings.erase(it);
                }
            }
        }
    }

    ++m_applied;
    if (!sameLamps(before, m_lamps))
        m_changed = true;
    return true;
}

bool LampTrace::feed(std::string_view bytes)
{
    m_changed = false;
    std::size_t start = 0;
    while (start <= bytes.size()) {
        const std::size_t newline = bytes.find('\n', start);
        if (newline == std::string_view::npos) {
            const std::string_view tail = bytes.substr(start);
            if (!m_skipping) {
                if (m_partial.size() + tail.size() > MaxLineBytes) {
                    m_partial.clear();
                    m_skipping = true;
                    ++m_ignored;
                } else {
                    m_partial.append(tail);
                }
            }
            break;
        }
        const std::string_view piece = bytes.substr(start, newline - start);
        if (m_skipping) {
            m_skipping = false;
        } else if (m_partial.size() + piece.size() > MaxLineBytes) {
            m_partial.clear();
            ++m_ignored;
        } else if (m_partial.empty()) {
            applyLine(piece);
        } else {
            m_partial.append(piece);
            const std::string line = std::move(m_partial);
            m_partial.clear();
            applyLine(line);
        }
        start = newline + 1;
    }
    return m_changed;
}

void LampTrace::reset()
{
    m_lamps.clear();
    m_listings.clear();
    m_partial.clear();
    m_skipping = false;
    m_applied = 0;
    m_ignored = 0;
}

TraceFollower::Result TraceFollower::poll(LampTrace &trace)
{
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        if (!m_exists)
            return Result::Unchanged;
        // Gone: what it said no longer stands.
        m_exists = false;
        m_offset = 0;
        m_head.clear();
        trace.reset();
        return Result::Restarted;
    }

    bool restarted = false;
    const bool replaced = m_exists && (st.st_dev != m_device || st.st_ino != m_inode);
    bool shrunk = std::uint64_t(st.st_size) < m_offset;
    if (!replaced && !shrunk && !m_head.empty()) {
        std::string head(m_head.size(), '\0');
        const ssize_t n = ::pread(fd, head.data(), head.size(), 0);
        shrunk = n != ssize_t(head.size()) || head != m_head;
    }
    if (replaced || shrunk || !m_exists) {
        restarted = m_exists || !trace.lamps().empty();
        m_offset = 0;
        m_head.clear();
        trace.reset();
    }
    m_exists = true;
    m_device = st.st_dev;
    m_inode = st.st_ino;

    constexpr std::size_t HeadBytes = 64;
    std::string chunk;
    char buffer[65536];
    while (chunk.size() < MaxBytesPerPoll) {
        const std::size_t want = std::min(sizeof buffer, MaxBytesPerPoll - chunk.size());
        const ssize_t n = ::pread(fd, buffer, want, off_t(m_offset + chunk.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        chunk.append(buffer, std::size_t(n));
    }
    ::close(fd);

    if (m_head.size() < HeadBytes && m_offset < HeadBytes)
        m_head.append(chunk, 0, std::min<std::size_t>(HeadBytes - m_head.size(), chunk.size()));
    m_offset += chunk.size();
    if (!chunk.empty())
        trace.feed(chunk);
    if (restarted)
        return Result::Restarted;
    return chunk.empty() ? Result::Unchanged : Result::Appended;
}

} // namespace tintrava
