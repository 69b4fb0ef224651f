#pragma once
// Reading the head of a file the user named (a sequence, "my.conf"): the
// window and the player without a window refuse the same things with the
// same words. Only a regular file is read; a pipe, device or socket could
// block for ever or never end, so it is refused before anything is read,
// also when it replaces the file between the look and the open.
#include <cstddef>
#include <functional>
#include <string>

namespace tintrava {

struct FileHead {
    enum Status {
        Read,         // bytes holds the head
        Missing,      // there is no such file
        Directory,    // a folder
        NotRegular,   // a pipe, device, socket …
        NoPermission, // the user may not read it
        Failed,       // any other error; systemError says which
        Stopped,      // a signal came during the read and stop() said to give up
    };
    Status status = Missing;
    std::string bytes;       // at most the limit (Read)
    std::string systemError; // the system's text for errno, in the user's language (Failed)
};

// Reads at most limit bytes. A read interrupted by a signal is resumed unless
// stop (when given) returns true.
FileHead readFileHead(const std::string &path, std::size_t limit, const std::function<bool()> &stop = {});

// Why the file was not read, as a sentence for "Die Datei „…“ konnte nicht
// geöffnet werden: …"; empty for Read.
std::string fileHeadRefusal(const FileHead &head);

} // namespace tintrava
