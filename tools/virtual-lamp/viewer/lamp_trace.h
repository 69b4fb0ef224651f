#pragma once
// What the virtual lamp's trace says about its lamps: each lamp's colour, the
// last thing it heard and whether the program still finds it. Plain C++ so the
// viewer's window only has to paint.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tintrava {

struct TraceLamp {
    std::string serial;      // the key; the virtual lamp keeps its state per serial
    std::string description; // as the trace wrote it, escapes undone (raw bytes)
    std::string firmware;    // "text", "byte" or "cable"
    // The lamp's colour: RRGGBB of a text lamp, or the ColourNumber of a byte
    // lamp (11 = off). Empty before the lamp got any colour.
    std::string colour;
    int colourNumber = 0;    // byte lamp: 1..12, 0 none
    // Colour to show; meaningful only when hasColour.
    std::uint8_t r = 0, g = 0, b = 0;
    bool hasColour = false;
    bool off = false;        // black: byte colour 11 or text C000000
    // Heard field of the last write the lamp made anything of ("VER",
    // "C:FF7D00", "colour:5", "garbled"...), as written in the trace.
    std::string lastHeard;
    bool attached = true;    // false once the program's device listing no longer shows it
};

class LampTrace {
public:
    // Takes the next bytes of the trace. Complete lines are applied; an
    // unfinished last line waits for the rest. Returns true when a lamp
    // changed or appeared.
    bool feed(std::string_view bytes);

    // Applies one line without its newline. False for a line that is not in
    // the trace format; such a line changes nothing.
    bool applyLine(std::string_view line);

    // The trace was truncated or replaced: forget everything.
    void reset();

    // In the order they first appeared in the trace.
    const std::vector<TraceLamp> &lamps() const { return m_lamps; }
    std::size_t linesApplied() const { return m_applied; }
    std::size_t linesIgnored() const { return m_ignored; }

    // Longest line kept while waiting for its end; anything longer cannot be
    // a trace line and is skipped up to the next newline.
    static constexpr std::size_t MaxLineBytes = 64 * 1024;

private:
    // One device listing of one process: after a count of N the program asks
    // for every index below N, so once all were named, a lamp that was not is
    // no longer plugged in.
    struct Listing {
        long expected = -1;
        std::set<long> indices;
        std::set<std::string> serials;
    };

    TraceLamp &lampFor(const std::string &serial);
    void listingDone(const Listing &listing);

    std::vector<TraceLamp> m_lamps;
    std::map<std::string, Listing> m_listings; // by pid
    std::string m_partial;
    bool m_skipping = false; // inside an overlong line
    bool m_changed = false;  // during feed: some line changed a lamp
    std::size_t m_applied = 0;
    std::size_t m_ignored = 0;
};

// The display colour of ColourNumber n on a byte lamp: the screen colours of
// the palette (row 0 of the colour table), black for 11 (off). nullopt
// outside 1..12.
struct DisplayRgb {
    std::uint8_t r, g, b;
};
std::optional<DisplayRgb> byteLampColour(int colourNumber);

// German name of a ColourNumber for the viewer's caption ("aus" for 11);
// empty outside 1..12.
std::string colourName(int colourNumber);

// Follows a file that another process appends to: every poll reads only the
// bytes added since the previous one, and notices when the file appears,
// disappears, shrinks or is replaced by a new file.
class TraceFollower {
public:
    explicit TraceFollower(std::string path) : m_path(std::move(path)) { }

    enum class Result { Unchanged, Appended, Restarted };
    // Restarted: the trace was reset first (file gone, truncated or replaced),
    // then whatever the new file holds was fed.
    Result poll(LampTrace &trace);

    const std::string &path() const { return m_path; }
    bool exists() const { return m_exists; }

    // Bytes read per poll at most, so a large old trace does not freeze the
    // window; the rest follows on the next polls.
    static constexpr std::size_t MaxBytesPerPoll = 4 * 1024 * 1024;

private:
    std::string m_path;
    bool m_exists = false;
    std::uint64_t m_offset = 0;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    // The first bytes of the file as read; a file truncated and written
    // again between two polls starts differently (its first line's time).
    std::string m_head;
};

} // namespace tintrava
