// One running copy per user, below the window: the lock, the hand-over of
// file names, a holder that was killed, and peers that send rubbish. Plain
// C++ without a test framework, so the same program runs natively and, from
// the MinGW build, under Wine.
//
//   test_instance_channel            runs every case in a fresh folder
//   test_instance_channel --hold DIR claims DIR, says "ready" and waits
#include "storage/instance_channel.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using tintrava::InstanceChannel;

namespace {

int g_failures = 0;
std::string g_case;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::printf("FAIL %s: %s (line %d)\n", g_case.c_str(), #condition, __LINE__);                    \
            ++g_failures;                                                                                    \
        }                                                                                                    \
    } while (0)

// What the running copy heard.
struct Heard {
    std::mutex mutex;
    std::vector<std::vector<std::string>> messages;

    InstanceChannel::Receiver receiver()
    {
        return [this](const std::vector<std::string> &files) {
            std::lock_guard<std::mutex> lock(mutex);
            messages.push_back(files);
        };
    }
    std::vector<std::vector<std::string>> all()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }
};

std::string g_top;
int g_folders = 0;

// A fresh folder per case: cases never see each other's lock.
std::string freshFolder()
{
    const std::string folder = g_top + "/case" + std::to_string(++g_folders);
#if defined(_WIN32)
    CreateDirectoryA(folder.c_str(), nullptr);
#else
    ::mkdir(folder.c_str(), 0700);
#endif
    return folder;
}

std::string readFile(const std::string &path)
{
    std::string text;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

unsigned long ownPid()
{
#if defined(_WIN32)
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(::getpid());
#endif
}

// Sends bytes to the running copy as a peer of its own making would, and
// returns what came back before the running copy closed the connection.
// A pipe cannot be half closed: on Windows the peer only waits for the
// answer when told to, and otherwise goes away after sending.
std::string rawExchange(const std::string &channel, const std::string &bytes, bool waitOnWindows = false)
{
#if defined(_WIN32)
    std::wstring name(channel.begin(), channel.end());
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY)
            WaitNamedPipeW(name.c_str(), 5000);
    }
    if (pipe == INVALID_HANDLE_VALUE)
        return "<no connection>";
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(pipe, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    std::string answer;
    char buffer[64];
    DWORD got = 0;
    while (waitOnWindows && ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        answer.append(buffer, got);
    CloseHandle(pipe);
    return answer;
#else
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, channel.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return "<no connection>";
    }
    if (!bytes.empty() && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size())) {
        ::close(fd);
        return "<not sent>";
    }
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    char buffer[64];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        answer.append(buffer, size_t(n));
    ::close(fd);
    return answer;
#endif
}

std::string lengthBytes(std::uint32_t length)
{
    return {char(length >> 24), char((length >> 16) & 0xFF), char((length >> 8) & 0xFF), char(length & 0xFF)};
}

// ------------------------------------------------------------------ cases --

void lockTakenTwice()
{
    const std::string folder = freshFolder();
    {
        InstanceChannel first(folder);
        CHECK(first.claim(nullptr) == InstanceChannel::Claimed);
        CHECK(first.errorText().empty());
        // The lock names its holder for whoever looks.
        CHECK(readFile(first.lockPath()).rfind(std::to_string(ownPid()) + "\n", 0) == 0
              || readFile(first.lockPath()).rfind(std::to_string(ownPid()) + "\r\n", 0) == 0);
        InstanceChannel second(folder);
        CHECK(second.claim(nullptr) == InstanceChannel::AlreadyRunning);
        InstanceChannel third(folder);
        CHECK(third.claim(nullptr) == InstanceChannel::AlreadyRunning);
        CHECK(third.handOver({}));
    }
    // The first copy ended: the next start is the only one again, and its
    // name is no longer in the file.
    InstanceChannel next(folder);
    CHECK(next.claim(nullptr) == InstanceChannel::Claimed);
}

void handsOverNames()
{
    const std::string folder = freshFolder();
    Heard heard;
    InstanceChannel first(folder);
    CHECK(first.claim(heard.receiver()) == InstanceChannel::Claimed);

    const std::vector<std::vector<std::string>> sent = {
        {},
        {"/home/anna/Abfolge.tintrava"},
        {"/home/j\u00F6rg/Meine Abfolgen/Gr\u00FCn und Blau.tintrava", "C:\\Users\\J\u00F6rg\\Stra\u00DFe.tintrava",
         "/tmp/zwei\nZeilen.tintrava", "/a/1.tin", "/a/1.tin"},
    };
    for (const auto &files : sent) {
        InstanceChannel later(folder);
        CHECK(later.claim(nullptr) == InstanceChannel::AlreadyRunning);
        // The acknowledgment comes after the running copy took the names.
        CHECK(later.handOver(files));
    }
    CHECK(heard.all() == sent);

    // Empty names are no files; the rest keeps its order.
    InstanceChannel later(folder);
    CHECK(later.handOver({"", "/b.tin", ""}));
    CHECK(heard.all().back() == std::vector<std::string>{"/b.tin"});
}

// The running copy may start listening after its window shows. A start in
// between is served once it does: the channel is open from the claim on,
// and what was sent waits for the listener.
void listensLater()
{
    const std::string folder = freshFolder();
    Heard heard;
    InstanceChannel first(folder);
    CHECK(first.claim(heard.receiver(), InstanceChannel::Listening::Later) == InstanceChannel::Claimed);
    std::atomic<int> handedOver{-1};
    std::thread later([&] {
        InstanceChannel second(folder);
        handedOver = second.handOver({"/home/anna/Abfolge.tintrava"}) ? 1 : 0;
    });
    CHECK(heard.all().empty());
    first.startListening();
    later.join();
    CHECK(handedOver == 1);
    CHECK(heard.all() == std::vector<std::vector<std::string>>{{"/home/anna/Abfolge.tintrava"}});
    // Once is enough; a second call starts nothing more.
    first.startListening();
    InstanceChannel third(folder);
    CHECK(third.handOver({}));
    CHECK(heard.all().size() == 2);

    // Never told to listen: it closes like any other, and lets the lock go.
    const std::string other = freshFolder();
    {
        InstanceChannel quiet(other);
        CHECK(quiet.claim(heard.receiver(), InstanceChannel::Listening::Later) == InstanceChannel::Claimed);
    }
    InstanceChannel next(other);
    CHECK(next.claim(nullptr) == InstanceChannel::Claimed);
}

void tooManyNamesStillRaise()
{
    const std::string folder = freshFolder();
    Heard heard;
    InstanceChannel first(folder);
    CHECK(first.claim(heard.receiver()) == InstanceChannel::Claimed);
    std::vector<std::string> files(InstanceChannel::MaxPayloadBytes / 1000 + 10, std::string(999, 'a'));
    InstanceChannel later(folder);
    CHECK(later.handOver(files));
    CHECK(heard.all() == std::vector<std::vector<std::string>>{{}});
}

void nobodyListens()
{
    const std::string folder = freshFolder();
    InstanceChannel later(folder);
    CHECK(!later.handOver({"/x.tin"}, 200));
}

void folderCannotBeMade()
{
    const std::string file = freshFolder() + "/a file";
    if (FILE *f = std::fopen(file.c_str(), "wb"))
        std::fclose(f);
    InstanceChannel channel(file + "/below");
    CHECK(channel.claim(nullptr) == InstanceChannel::Unavailable);
    CHECK(channel.errorText().find("konnte nicht angelegt werden; ein zweiter Start wird nicht erkannt.")
          != std::string::npos);
}

// The holder in another process, ended the hardest way there is.
struct Holder {
#if defined(_WIN32)
    PROCESS_INFORMATION process{};
    HANDLE output = nullptr;
#else
    pid_t pid = -1;
    int output = -1;
#endif

    bool start(const std::string &self, const std::string &folder)
    {
#if defined(_WIN32)
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
            return false;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string command = "\"" + self + "\" --hold \"" + folder + "\"";
        const BOOL made = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                         &startup, &process);
        CloseHandle(writeEnd);
        output = readEnd;
        if (!made)
            return false;
        char line[6] = {};
        DWORD got = 0, total = 0;
        while (total < 5 && ReadFile(output, line + total, 5 - total, &got, nullptr) && got > 0)
            total += got;
        return std::string(line) == "ready";
#else
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::execl(self.c_str(), self.c_str(), "--hold", folder.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        output = fds[0];
        char line[6] = {};
        size_t total = 0;
        ssize_t got;
        while (total < 5 && (got = ::read(output, line + total, 5 - total)) > 0)
            total += size_t(got);
        return std::string(line) == "ready";
#endif
    }

    void kill()
    {
#if defined(_WIN32)
        TerminateProcess(process.hProcess, 9);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        CloseHandle(output);
#else
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(output);
#endif
    }
};

void killedHolder(const std::string &self)
{
    const std::string folder = freshFolder();
    Holder holder;
    CHECK(holder.start(self, folder));
    {
        InstanceChannel second(folder);
        CHECK(second.claim(nullptr) == InstanceChannel::AlreadyRunning);
        CHECK(second.handOver({"/held.tin"}));
    }
    holder.kill();
    // What it left: the lock file with its number, on POSIX its socket file.
    InstanceChannel paths(folder);
    CHECK(!readFile(paths.lockPath()).empty());

    Heard heard;
    InstanceChannel again(folder);
    CHECK(again.claim(heard.receiver()) == InstanceChannel::Claimed);
    CHECK(again.errorText().empty());
    // It listens again: a later start reaches it.
    InstanceChannel later(folder);
    CHECK(later.claim(nullptr) == InstanceChannel::AlreadyRunning);
    CHECK(later.handOver({"/x.tin"}));
    CHECK(heard.all() == std::vector<std::vector<std::string>>{{"/x.tin"}});
}

void bogusPeers()
{
    const std::string folder = freshFolder();
    Heard heard;
    InstanceChannel first(folder);
    CHECK(first.claim(heard.receiver()) == InstanceChannel::Claimed);
    const std::string header = InstanceChannel::messageHeader();
    struct Bogus {
        const char *name;
        std::string bytes;
    };
    const std::vector<Bogus> cases = {
        {"nothing", ""},
        {"no header", std::string("/etc/passwd\0", 12)},
        {"another program's header", "GET / HTTP/1.0\r\n\r\n"},
        {"older header", "io.github.tintrava.Tintrava 1\n/a.tin"},
        {"header without length", header},
        {"length beyond the limit", header + lengthBytes(InstanceChannel::MaxPayloadBytes + 1) + "/a.tin"},
        {"length of 4 GiB", header + lengthBytes(0xFFFFFFFFu)},
        {"fewer bytes than the length", header + lengthBytes(10) + std::string("/a\0", 3)},
        {"name without its end", header + lengthBytes(6) + "/a.tin"},
        {"not UTF-8", header + lengthBytes(7) + std::string("/\xFC.tin\0", 7)},
        {"overlong UTF-8", header + lengthBytes(5) + std::string("/\xC0\xAF" "a\0", 5)},
    };
    for (const Bogus &bogus : cases) {
        g_case = std::string("bogusPeers: ") + bogus.name;
        std::printf("  %s\n", bogus.name);
        std::fflush(stdout);
        const std::string answer = rawExchange(first.channelPath(), bogus.bytes);
        CHECK(answer.empty());
        std::vector<std::string> files;
        CHECK(!InstanceChannel::decodeMessage(bogus.bytes, files));
    }
    g_case = "bogusPeers";
    // A proper start afterwards is still served, and only it.
    InstanceChannel later(folder);
    CHECK(later.handOver({"/ok.tin"}));
    CHECK(heard.all() == std::vector<std::vector<std::string>>{{"/ok.tin"}});
    // Well-formed by hand: the format is the one the peer sends.
    CHECK(rawExchange(first.channelPath(), header + lengthBytes(3) + std::string("/b\0", 3), true) == "ok\n");
    CHECK(heard.all().back() == std::vector<std::string>{"/b"});
}

void messageRoundTrip()
{
    const std::vector<std::string> files = {"/\u00E4\u00F6\u00FC\u00DF", "b"};
    std::vector<std::string> back;
    CHECK(InstanceChannel::decodeMessage(InstanceChannel::encodeMessage(files), back));
    CHECK(back == files);
    // A NUL would split a name in two; such a name is left out.
    CHECK(InstanceChannel::decodeMessage(InstanceChannel::encodeMessage({std::string("/a\0b", 4), "/c"}), back));
    CHECK(back == std::vector<std::string>{"/c"});
}

int hold(const std::string &folder)
{
    InstanceChannel channel(folder);
    if (channel.claim(nullptr) != InstanceChannel::Claimed)
        return 2;
    std::fputs("ready", stdout);
    std::fflush(stdout);
    for (;;) {
#if defined(_WIN32)
        Sleep(1000);
#else
        ::pause();
#endif
    }
}

std::string makeTop()
{
#if defined(_WIN32)
    char temp[MAX_PATH + 1];
    GetTempPathA(sizeof temp, temp);
    std::string top = std::string(temp) + "tintrava-instance-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(top.c_str(), nullptr);
    return top;
#else
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tintrava-instance-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    return pattern;
#endif
}

void removeTop(const std::string &top)
{
#if defined(_WIN32)
    std::string command = "rmdir /s /q \"" + top + "\"";
#else
    std::string command = "rm -rf '" + top + "'";
#endif
    if (std::system(command.c_str()) != 0)
        std::printf("could not remove %s\n", top.c_str());
}

std::string selfPath(const char *argv0)
{
#if defined(_WIN32)
    (void)argv0;
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
#else
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string(argv0);
#endif
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--hold") == 0)
        return hold(argv[2]);
#if !defined(_WIN32)
    ::signal(SIGPIPE, SIG_IGN);
#endif
    g_top = makeTop();
    if (g_top.empty()) {
        std::printf("no temporary folder\n");
        return 1;
    }
    const std::string self = selfPath(argv[0]);
    const struct {
        const char *name;
        void (*run)(const std::string &);
    } cases[] = {
        {"messageRoundTrip", [](const std::string &) { messageRoundTrip(); }},
        {"lockTakenTwice", [](const std::string &) { lockTakenTwice(); }},
        {"handsOverNames", [](const std::string &) { handsOverNames(); }},
        {"listensLater", [](const std::string &) { listensLater(); }},
        {"tooManyNamesStillRaise", [](const std::string &) { tooManyNamesStillRaise(); }},
        {"nobodyListens", [](const std::string &) { nobodyListens(); }},
        {"folderCannotBeMade", [](const std::string &) { folderCannotBeMade(); }},
        {"killedHolder", killedHolder},
        {"bogusPeers", [](const std::string &) { bogusPeers(); }},
    };
    // test_instance_channel [CASE]: one case alone.
    const std::string only = argc == 2 ? argv[1] : "";
    for (const auto &c : cases) {
        if (!only.empty() && only != c.name)
            continue;
        g_case = c.name;
        const int before = g_failures;
        c.run(self);
        std::printf("%s %s\n", g_failures == before ? "PASS" : "FAIL", c.name);
        std::fflush(stdout);
    }
    removeTop(g_top);
    std::printf("%d failures\n", g_failures);
    return g_failures ? 1 : 0;
}
