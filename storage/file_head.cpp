#include "storage/file_head.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#include <filesystem>
#include <fstream>
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tintrava {

namespace {

FileHead failed(FileHead::Status status, int error = 0)
{
    FileHead head;
    head.status = status;
    if (status == FileHead::Failed)
        head.systemError = std::strerror(error ? error : EIO);
    return head;
}

#if !defined(_WIN32)
FileHead::Status classify(mode_t mode)
{
    if (S_ISREG(mode))
        return FileHead::Read;
    return S_ISDIR(mode) ? FileHead::Directory : FileHead::NotRegular;
}

FileHead::Status openError(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return FileHead::Missing;
    case EACCES:
    case EPERM:
        return FileHead::NoPermission;
    default:
        return FileHead::Failed;
    }
}
#endif

// Room for the whole file as its size says, and one byte more so that its
// end is seen without growing; never the whole limit up front, which for a
// limit of many megabytes would be filled and kept for a file of a few lines.
std::size_t initialCapacity(std::uintmax_t size, std::size_t limit)
{
    constexpr std::size_t Least = 4096;
    const std::uintmax_t wanted = size < limit ? size + 1 : std::uintmax_t(limit);
    return std::min<std::size_t>(limit, std::max<std::size_t>(Least, std::size_t(wanted)));
}

} // namespace

FileHead readFileHead(const std::string &path, std::size_t limit, const std::function<bool()> &stop)
{
#if defined(_WIN32)
    namespace fs = std::filesystem;
    const fs::path file(std::u8string(path.begin(), path.end()));
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found)
        return failed(FileHead::Missing);
    if (status.type() == fs::file_type::directory)
        return failed(FileHead::Directory);
    if (!error && status.type() != fs::file_type::regular)
        return failed(FileHead::NotRegular);
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return failed(errno == EACCES ? FileHead::NoPermission : FileHead::Failed, errno);
    FileHead head;
    std::size_t got = 0;
    std::error_code sizeError;
    const std::uintmax_t size = fs::file_size(file, sizeError);
    head.bytes.resize(initialCapacity(sizeError ? 0 : size, limit));
    while (got < limit) {
        if (got == head.bytes.size())
            head.bytes.resize(std::min(limit, head.bytes.size() * 2));
        in.read(head.bytes.data() + got, std::streamsize(head.bytes.size() - got));
        got += std::size_t(in.gcount());
        if (in.bad())
            return failed(FileHead::Failed, errno);
        if (in.eof())
            break;
    }
    (void)stop;
    head.bytes.resize(got);
    head.bytes.shrink_to_fit();
    head.status = FileHead::Read;
    return head;
#else
    // A look first, so that a pipe or device is not even opened (opening
    // some devices does something).
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int error = errno;
        return failed(openError(error), error);
    }
    if (classify(info.st_mode) != FileHead::Read)
        return failed(classify(info.st_mode));

    // O_NONBLOCK: should a pipe have taken the file's place since the look,
    // the open must not wait for a writer.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR && !(stop && stop()));
    if (fd < 0) {
        const int error = errno;
        return failed(error == EINTR ? FileHead::Stopped : openError(error), error);
    }
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return failed(FileHead::Failed, error);
    }
    if (classify(info.st_mode) != FileHead::Read) {
        ::close(fd);
        return failed(classify(info.st_mode));
    }

    FileHead head;
    head.bytes.resize(initialCapacity(info.st_size > 0 ? std::uintmax_t(info.st_size) : 0, limit));
    std::size_t got = 0;
    while (got < limit) {
        if (got == head.bytes.size())
            head.bytes.resize(std::min(limit, head.bytes.size() * 2));
        const ssize_t n = ::read(fd, head.bytes.data() + got, head.bytes.size() - got);
        if (n > 0) {
            got += std::size_t(n);
            continue;
        }
        if (n == 0)
            break;
        const int error = errno;
        if (error == EINTR && !(stop && stop()))
            continue;
        ::close(fd);
        return failed(error == EINTR ? FileHead::Stopped : FileHead::Failed, error);
    }
    ::close(fd);
    head.bytes.resize(got);
    head.bytes.shrink_to_fit();
    head.status = FileHead::Read;
    return head;
#endif
}

std::string fileHeadRefusal(const FileHead &head)
{
    switch (head.status) {
    case FileHead::Read:
        return {};
    case FileHead::Missing:
        return "Die Datei gibt es nicht.";
    case FileHead::Directory:
        return "Das ist ein Ordner.";
    case FileHead::NotRegular:
        return "Das ist keine gew\u00F6hnliche Datei.";
    case FileHead::NoPermission:
        return "Keine Berechtigung zum Lesen.";
    case FileHead::Failed:
        return "Lesefehler (" + head.systemError + ")";
    case FileHead::Stopped:
        return "Das Lesen wurde abgebrochen.";
    }
    return {};
}

} // namespace tintrava
