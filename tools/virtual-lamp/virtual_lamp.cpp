// The virtual lamp: a D2XX driver library with simulated lamps behind it.
// The program loads it like FTDI's library (TINTRAVA_D2XX_LIBRARY=…/
// libtintrava-virtual-lamp.so); the device file, the lamp behaviour and the
// trace format are described in README.md beside this file.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#else
#include <fcntl.h>
#include <time.h>
#include <unistd.h>
#endif

#include "lamp/d2xx/d2xx_api.h"
#include "lamp/d2xx/d2xx_names.h"
#include "lamp/integer_rule.h"
#include "tools/virtual-lamp/device_file.h"

#if defined(_WIN32)
#define VL_EXPORT __declspec(dllexport)
#else
#define VL_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using tintrava::vlamp::DeviceConfig;
using tintrava::vlamp::Firmware;
using tintrava::vlamp::firmwareName;
using tintrava::vlamp::parseDeviceFile;

constexpr ULONG DefaultReadTimeoutMs = 500; // when FT_SetTimeouts was never called
constexpr std::size_t LineLimit = 256;      // a text lamp drops longer lines
constexpr const char *VersionReply = "Sela-Lumen V1.0\r\n";
constexpr const char *ColourReply = "OK\r\n";

// A lamp's own state; lives for the process, keyed by serial number.
struct LampState {
    std::string line;      // text lamp: bytes of the line being received
    bool frameStarted = false; // byte lamp: 0xFF seen, colour byte expected
    int rgb = -1;          // text lamp: colour of the last C line, -1 none yet
    int colourNumber = 0;  // byte lamp: ColourNumber of the last frame, 0 none yet
    unsigned generation = 0; // counts the times the device went away
    bool present = false;
    std::uintptr_t openBy = 0; // id of the live handle, 0 none
    int writes = 0;            // successful writes in this process
};

struct Pending {
    double dueMs;
    std::string bytes;
};

struct OpenDevice {
    std::string serial;
    DeviceConfig config; // as last seen attached; names the device in the trace
    unsigned generation = 0;
    ULONG baud = 9600; // FTDI's defaults after an open: 9600 8N1
    UCHAR wordLength = FT_BITS_8;
    UCHAR stopBits = FT_STOP_BITS_1;
    UCHAR parity = FT_PARITY_NONE;
    std::optional<ULONG> readTimeout;
    ULONG writeTimeout = 0;
    std::vector<Pending> rx; // replies on their way, in order
};

std::mutex mutex;
// Wakes reads waiting for a reply when a write queues one or a handle closes.
std::condition_variable rxChanged;
std::vector<DeviceConfig> attached; // the device file as last read
std::vector<DeviceConfig> listing;  // snapshot of the last count, for by-index queries
bool listed = false;
std::map<std::string, LampState> lamps;
std::map<std::uintptr_t, std::unique_ptr<OpenDevice>> handles;
std::uintptr_t nextHandle = 1;

double nowMs()
{
#if defined(_WIN32)
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
#else
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
#endif
}

// ---------------------------------------------------------------- device file
std::vector<DeviceConfig> readDeviceFile()
{
    const char *path = std::getenv("TINTRAVA_VIRTUAL_LAMP");
    if (!path) {
        DeviceConfig lamp;
        lamp.description = "Sela-Lumen";
        lamp.serial = "VL000001";
        return {lamp};
    }
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {}; // no file: nothing plugged in
    std::ostringstream whole;
    whole << file.rdbuf();
    return parseDeviceFile(whole.str());
}

const DeviceConfig *findAttached(const std::string &serial)
{
    for (const DeviceConfig &device : attached)
        if (device.serial == serial)
            return &device;
    return nullptr;
}

// Re-reads the device file; a lamp missing from it is unplugged, and the
// handles opened on it are dead from then on, even if it comes back.
void refresh()
{
    attached = readDeviceFile();
    for (auto &[serial, lamp] : lamps) {
        const bool present = findAttached(serial) != nullptr;
        if (lamp.present && !present) {
            ++lamp.generation;
            lamp.openBy = 0;
            lamp.line.clear();
            lamp.frameStarted = false;
        }
        lamp.present = present;
    }
    for (const DeviceConfig &device : attached) {
        LampState &lamp = lamps[device.serial];
        lamp.present = true;
    }
}

// ---------------------------------------------------------------- trace

std::string escapeField(const std::string &text)
{
    if (text.empty())
        return "-";
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += char(c);
            }
        }
    }
    return out;
}

std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
    return out.empty() ? "-" : out;
}

const char *statusName(FT_STATUS status)
{
    switch (status) {
    case FT_OK: return "FT_OK";
    case FT_INVALID_HANDLE: return "FT_INVALID_HANDLE";
    case FT_DEVICE_NOT_FOUND: return "FT_DEVICE_NOT_FOUND";
    case FT_DEVICE_NOT_OPENED: return "FT_DEVICE_NOT_OPENED";
    case FT_IO_ERROR: return "FT_IO_ERROR";
    case FT_INSUFFICIENT_RESOURCES: return "FT_INSUFFICIENT_RESOURCES";
    case FT_INVALID_PARAMETER: return "FT_INVALID_PARAMETER";
    case FT_INVALID_BAUD_RATE: return "FT_INVALID_BAUD_RATE";
    case FT_OTHER_ERROR: return "FT_OTHER_ERROR";
    }
    return "FT_OTHER_ERROR";
}


// What one call did, for the trace.
struct Trace {
    const char *call;
    std::string serial;
    std::string description;
    std::string firmware;
    std::string args;
    FT_STATUS status = FT_OK;
    std::string result;
    std::string data;   // raw bytes, shown as hex
    std::string heard;  // what the lamp made of a write
    std::string colour;

    explicit Trace(const char *name) : call(name) { }

    void device(const DeviceConfig &config)
    {
        serial = config.serial;
        description = config.description;
        firmware = firmwareName(config.firmware);
    }
};

std::string colourText(Firmware firmware, const LampState &lamp)
{
    char text[16];
    if (firmware == Firmware::Text && lamp.rgb >= 0) {
        std::snprintf(text, sizeof text, "%06X", unsigned(lamp.rgb));
        return text;
    }
    if (firmware == Firmware::Byte && lamp.colourNumber > 0)
        return std::to_string(lamp.colourNumber);
    return "-";
}

// Milliseconds with three decimals and a decimal point whatever the locale:
// the program under test sets a German locale, and the trace is read by
// scripts that expect "12.345".
std::string millis(double ms)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, ms, std::chars_format::fixed, 3).ptr;
    return std::string(text, end);
}

void writeTrace(const Trace &trace, double when)
{
    const char *path = std::getenv("TINTRAVA_VIRTUAL_LAMP_LOG");
    if (!path || !*path)
        return;
    const std::string time = millis(when);
#if defined(_WIN32)
    const long pid = long(_getpid());
#else
    const long pid = long(getpid());
#endif
    std::string line = std::string("t=") + time + "\tpid=" + std::to_string(pid) + "\tcall=" + trace.call
        + "\tserial=" + escapeField(trace.serial) + "\tdesc=" + escapeField(trace.description)
        + "\tfw=" + escapeField(trace.firmware) + "\targs=" + escapeField(trace.args)
        + "\tstatus=" + statusName(trace.status) + "\tresult=" + escapeField(trace.result)
        + "\tdata=" + hex(trace.data) + "\theard=" + escapeField(trace.heard)
        + "\tcolour=" + escapeField(trace.colour) + "\n";
#if defined(_WIN32)
    if (FILE *file = std::fopen(path, "ab")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fclose(file);
    }
#else
    // One write per line on an O_APPEND descriptor: lines from several
    // processes sharing the file do not interleave.
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    ::close(fd);
#endif
}

// Fills in the device and colour fields (when a device is known) and writes the line.
FT_STATUS finish(Trace &trace, FT_STATUS status, const DeviceConfig *config = nullptr)
{
    trace.status = status;
    if (config) {
        trace.device(*config);
        auto it = lamps.find(config->serial);
        if (it != lamps.end())
            trace.colour = colourText(config->firmware, it->second);
    }
    writeTrace(trace, nowMs());
    return status;
}

// ---------------------------------------------------------------- lamps

bool lineSettingsFit(const DeviceConfig &config, const OpenDevice &open)
{
    const bool frame8N2 = open.wordLength == FT_BITS_8 && open.stopBits == FT_STOP_BITS_2
        && open.parity == FT_PARITY_NONE;
    switch (config.firmware) {
    case Firmware::Text: return frame8N2 && open.baud == 115200;
    case Firmware::Byte: return frame8N2 && open.baud == 9600;
    case Firmware::Cable: return false;
    }
    return false;
}

void addHeard(std::string &heard, const std::string &what)
{
    if (!heard.empty())
        heard += ',';
    heard += what;
}

bool isColourCommand(const std::string &command)
{
    if (command.size() != 7 || command[0] != 'C')
        return false;
    return std::all_of(command.begin() + 1, command.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// A complete text line (without CR LF); returns the reply, if any.
std::optional<std::string> textCommand(const DeviceConfig &config, LampState &lamp, const std::string &command,
                                       std::string &heard)
{
    std::string normalReply;
    if (command == "VER") {
        addHeard(heard, "VER");
        normalReply = VersionReply;
    } else if (isColourCommand(command)) {
        lamp.rgb = *tintrava::parseInteger("$" + command.substr(1));
        addHeard(heard, "C:" + command.substr(1));
        normalReply = ColourReply;
    } else {
        addHeard(heard, "unknown:" + command);
        return std::nullopt;
    }
    if (config.noReply)
        return std::nullopt;
    return config.reply.value_or(normalReply);
}

void receive(const DeviceConfig &config, LampState &lamp, OpenDevice &open, const std::string &bytes,
             std::string &heard)
{
    if (config.firmware == Firmware::Cable || bytes.empty())
        return;
    if (!lineSettingsFit(config, open)) {
        // Wrong baud rate or framing: the lamp sees noise and loses any line
        // or frame it had begun.
        addHeard(heard, "garbled");
        lamp.line.clear();
        lamp.frameStarted = false;
        return;
    }
    const double due = nowMs() + config.delayMs;
    for (unsigned char c : bytes) {
        if (config.firmware == Firmware::Byte) {
            if (lamp.frameStarted && c >= 0x41 && c <= 0x4C) {
                lamp.colourNumber = c - 0x40;
                addHeard(heard, "colour:" + std::to_string(lamp.colourNumber));
                lamp.frameStarted = false;
            } else {
                lamp.frameStarted = c == 0xFF;
            }
            continue;
        }
        if (c != '\n') {
            lamp.line += char(c);
            if (lamp.line.size() > LineLimit) {
                addHeard(heard, "overlong");
                lamp.line.clear();
            }
            continue;
        }
        std::string line;
        line.swap(lamp.line);
        if (line.empty() || line.back() != '\r') {
            addHeard(heard, "unterminated:" + line);
            continue;
        }
        line.pop_back();
        if (auto reply = textCommand(config, lamp, line, heard); reply && !reply->empty())
            open.rx.push_back(Pending{due, *reply});
    }
}

std::size_t dueBytes(const OpenDevice &open, double now)
{
    std::size_t count = 0;
    for (const Pending &p : open.rx)
        if (p.dueMs <= now)
            count += p.bytes.size();
    return count;
}

std::string takeDue(OpenDevice &open, double now, std::size_t most)
{
    std::string out;
    while (out.size() < most && !open.rx.empty() && open.rx.front().dueMs <= now) {
        Pending &front = open.rx.front();
        const std::size_t n = std::min(most - out.size(), front.bytes.size());
        out += front.bytes.substr(0, n);
        front.bytes.erase(0, n);
        if (front.bytes.empty())
            open.rx.erase(open.rx.begin());
    }
    return out;
}

// The open device behind a handle, and its lamp; FT_OK or why not.
struct Bound {
    OpenDevice *open = nullptr;
    const DeviceConfig *config = nullptr;
    LampState *lamp = nullptr;
};

FT_STATUS bind(FT_HANDLE handle, Bound &bound)
{
    const auto id = reinterpret_cast<std::uintptr_t>(handle);
    auto it = handles.find(id);
    if (it == handles.end())
        return FT_INVALID_HANDLE;
    bound.open = it->second.get();
    refresh();
    bound.config = findAttached(bound.open->serial);
    if (bound.config)
        bound.open->config = *bound.config;
    LampState &lamp = lamps[bound.open->serial];
    bound.lamp = &lamp;
    if (!bound.config || lamp.generation != bound.open->generation)
        return FT_IO_ERROR;
    return FT_OK;
}

// The device a handle was opened on, for the trace (also once it is unplugged).
const DeviceConfig *traceDevice(const Bound &bound)
{
    return bound.open ? &bound.open->config : nullptr;
}

} // namespace

// ---------------------------------------------------------------- the nine calls

extern "C" {

VL_EXPORT FT_STATUS D2XX_CALL FT_ListDevices(void *pArg1, void *pArg2, DWORD Flags)
{
    std::lock_guard<std::mutex> lock(mutex);
    Trace trace("FT_ListDevices");
    if (Flags == FT_LIST_NUMBER_ONLY) {
        trace.args = "flags=NUMBER_ONLY";
        if (!pArg1)
            return finish(trace, FT_INVALID_PARAMETER);
        refresh();
        listing = attached;
        listed = true;
        *static_cast<DWORD *>(pArg1) = DWORD(listing.size());
        trace.result = "count=" + std::to_string(listing.size());
        return finish(trace, FT_OK);
    }
    const auto index = reinterpret_cast<std::uintptr_t>(pArg1);
    trace.args = "index=" + std::to_string(index) + " flags=" + tintrava::d2xxFlagsText(Flags);
    const bool serial = Flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
    const bool description = Flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION);
    if ((!serial && !description) || !pArg2)
        return finish(trace, FT_INVALID_PARAMETER);
    if (!listed) {
        refresh();
        listing = attached;
        listed = true;
    }
    if (index >= listing.size())
        return finish(trace, FT_DEVICE_NOT_FOUND);
    const DeviceConfig &device = listing[index];
    if ((serial && device.serialFails) || (description && device.descriptionFails))
        return finish(trace, FT_IO_ERROR, &device);
    // FTDI's buffers: 16 bytes for a serial, 64 for a description; the NUL
    // only fits when the text is shorter.
    const std::string &text = serial ? device.serial : device.description;
    const std::size_t limit = serial ? 16 : 64;
    const std::size_t n = std::min(text.size(), limit);
    std::memcpy(pArg2, text.data(), n);
    if (n < limit)
        static_cast<char *>(pArg2)[n] = '\0';
    trace.result = "text=" + text.substr(0, n);
    return finish(trace, FT_OK, &device);
}

VL_EXPORT FT_STATUS D2XX_CALL FT_OpenEx(void *pArg1, DWORD Flags, FT_HANDLE *pHandle)
{
    std::lock_guard<std::mutex> lock(mutex);
    Trace trace("FT_OpenEx");
    const std::string key = pArg1 ? static_cast<const char *>(pArg1) : "";
    trace.args = "key=" + key + " flags=" + tintrava::d2xxFlagsText(Flags);
    if (!pArg1 || !pHandle || (Flags != FT_OPEN_BY_SERIAL_NUMBER && Flags != FT_OPEN_BY_DESCRIPTION))
        return finish(trace, FT_INVALID_PARAMETER);
    refresh();
    const DeviceConfig *config = nullptr;
    for (const DeviceConfig &device : attached) {
        if ((Flags == FT_OPEN_BY_SERIAL_NUMBER ? device.serial : device.description) == key) {
            config = &device;
            break;
        }
    }
    if (!config)
        return finish(trace, FT_DEVICE_NOT_FOUND);
    LampState &lamp = lamps[config->serial];
    if (config->openFails || lamp.openBy != 0) // a broken or busy device
        return finish(trace, FT_DEVICE_NOT_OPENED, config);
    auto open = std::make_unique<OpenDevice>();
    open->serial = config->serial;
    open->config = *config;
    open->generation = lamp.generation;
    const std::uintptr_t id = nextHandle++;
    handles[id] = std::move(open);
    lamp.openBy = id;
    *pHandle = reinterpret_cast<FT_HANDLE>(id);
    trace.result = "handle=" + std::to_string(id);
    return finish(trace, FT_OK, config);
}

VL_EXPORT FT_STATUS D2XX_CALL FT_Close(FT_HANDLE ftHandle)
{
    std::lock_guard<std::mutex> lock(mutex);
    Trace trace("FT_Close");
    const auto id = reinterpret_cast<std::uintptr_t>(ftHandle);
    trace.args = "handle=" + std::to_string(id);
    Bound bound;
    const FT_STATUS status = bind(ftHandle, bound);
    if (status == FT_INVALID_HANDLE)
        return finish(trace, status);
    // Closing always releases the handle, also for a lamp that was unplugged;
    // replies not read by then are lost.
    const DeviceConfig config = bound.open->config; // outlives the handle, for the trace
    if (bound.lamp->openBy == id)
        bound.lamp->openBy = 0;
    handles.erase(id);
    rxChanged.notify_all();
    return finish(trace, FT_OK, &config);
}

VL_EXPORT FT_STATUS D2XX_CALL FT_Read(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToRead,
                                      DWORD *lpBytesReturned)
{
    std::unique_lock<std::mutex> lock(mutex);
    Trace trace("FT_Read");
    const double start = nowMs();
    Bound bound;
    FT_STATUS status = bind(ftHandle, bound);
    if (status != FT_OK) {
        trace.args = "want=" + std::to_string(dwBytesToRead);
        if (lpBytesReturned)
            *lpBytesReturned = 0;
        return finish(trace, status, traceDevice(bound));
    }
    const auto id = reinterpret_cast<std::uintptr_t>(ftHandle);
    const ULONG timeout = bound.open->readTimeout.value_or(DefaultReadTimeoutMs);
    trace.args = "want=" + std::to_string(dwBytesToRead) + " timeout=" + std::to_string(timeout);
    if (!lpBuffer || !lpBytesReturned)
        return finish(trace, FT_INVALID_PARAMETER, traceDevice(bound));
    std::string got;
    const double deadline = start + timeout;
    for (;;) {
        // One clock reading for both: a reply due by the deadline is never missed.
        const double now = nowMs();
        got += takeDue(*bound.open, now, dwBytesToRead - got.size());
        if (got.size() >= dwBytesToRead || now >= deadline)
            break;
        // Sleep until the next reply is due or the time-out ends; a write
        // from another thread that queues an earlier reply wakes us sooner.
        double wakeMs = deadline;
        if (!bound.open->rx.empty())
            wakeMs = std::min(wakeMs, bound.open->rx.front().dueMs);
        const auto wakeAt = std::chrono::steady_clock::now()
            + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double, std::milli>(std::max(0.0, wakeMs - now)));
        rxChanged.wait_until(lock, wakeAt);
        // Another thread may have closed the handle meanwhile.
        if (handles.find(id) == handles.end()) {
            *lpBytesReturned = 0;
            return finish(trace, FT_INVALID_HANDLE);
        }
    }
    std::memcpy(lpBuffer, got.data(), got.size());
    *lpBytesReturned = DWORD(got.size());
    trace.result = "got=" + std::to_string(got.size()) + " waited=" + millis(nowMs() - start);
    trace.data = got;
    return finish(trace, FT_OK, traceDevice(bound));
}

VL_EXPORT FT_STATUS D2XX_CALL FT_Write(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToWrite,
                                       DWORD *lpBytesWritten)
{
    std::lock_guard<std::mutex> lock(mutex);
    Trace trace("FT_Write");
    Bound bound;
    FT_STATUS status = bind(ftHandle, bound);
    trace.args = "count=" + std::to_string(dwBytesToWrite);
    if (status == FT_OK && (!lpBuffer || !lpBytesWritten))
        status = FT_INVALID_PARAMETER;
    if (status != FT_OK) {
        if (lpBytesWritten)
            *lpBytesWritten = 0;
        return finish(trace, status, traceDevice(bound));
    }
    const OpenDevice &open = *bound.open;
    trace.args += " line=" + std::to_string(open.baud) + "/" + std::to_string(open.wordLength) + "/"
        + std::to_string(open.stopBits) + "/" + std::to_string(open.parity);
    const DeviceConfig &config = *bound.config;
    if (config.writesBeforeFailing && bound.lamp->writes >= *config.writesBeforeFailing) {
        *lpBytesWritten = 0;
        return finish(trace, FT_IO_ERROR, bound.config);
    }
    ++bound.lamp->writes;
    const DWORD count = config.shortWrite && dwBytesToWrite > 0 ? dwBytesToWrite - 1 : dwBytesToWrite;
    const std::string bytes(static_cast<const char *>(lpBuffer), count);
    receive(*bound.config, *bound.lamp, *bound.open, bytes, trace.heard);
    rxChanged.notify_all();
    *lpBytesWritten = count;
    trace.result = "written=" + std::to_string(count);
    trace.data = bytes;
    return finish(trace, FT_OK, bound.config);
}

VL_EXPORT FT_STATUS D2XX_CALL FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate)
{
    std::lock_guard<std::mutex> lock(mutex);
    Trace trace("FT_SetBaudRate");
    trace.args = "baud=" + std::to_string(BaudRate);
    Bound bound;
    FT_STATUS status = bind(ftHandle, bound);
    if (status == FT_OK && BaudRate == 0)
        status = FT_INVALID_BAUD_RATE;
    if (status == FT_OK)
        bound.open->baud = BaudRate;
    return finish(trace, status, traceDevice(bound));
}

VL_EXPORT FT_STATUS D2XX_CALL FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits,
                                                        UCHAR Parity)
{
    std::lock_guard<std::mutex> lock(mutex);
    Trace trace("FT_SetDataCharacteristics");
    trace.args = "bits=" + std::to_string(WordLength) + " stop=" + std::to_string(StopBits)
        + " parity=" + std::to_string(Parity);
    Bound bound;
    FT_STATUS status = bind(ftHandle, bound);
    const bool valid = (WordLength == FT_BITS_7 || WordLength == FT_BITS_8)
        && (StopBits == FT_STOP_BITS_1 || StopBits == FT_STOP_BITS_2) && Parity <= 4;
    if (status == FT_OK && !valid)
        status = FT_INVALID_PARAMETER;
    if (status == FT_OK) {
        bound.open->wordLength = WordLength;
        bound.open->stopBits = StopBits;
        bound.open->parity = Parity;
    }
    return finish(trace, status, traceDevice(bound));
}

VL_EXPORT FT_STATUS D2XX_CALL FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout)
{
    std::lock_guard<std::mutex> lock(mutex);
    Trace trace("FT_SetTimeouts");
    trace.args = "read=" + std::to_string(ReadTimeout) + " write=" + std::to_string(WriteTimeout);
    Bound bound;
    const FT_STATUS status = bind(ftHandle, bound);
    if (status == FT_OK) {
        bound.open->readTimeout = ReadTimeout;
        bound.open->writeTimeout = WriteTimeout;
    }
    return finish(trace, status, traceDevice(bound));
}

VL_EXPORT FT_STATUS D2XX_CALL FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    Trace trace("FT_GetQueueStatus");
    Bound bound;
    FT_STATUS status = bind(ftHandle, bound);
    if (status == FT_OK && !dwRxBytes)
        status = FT_INVALID_PARAMETER;
    if (status == FT_OK) {
        *dwRxBytes = DWORD(dueBytes(*bound.open, nowMs()));
        trace.result = "queue=" + std::to_string(*dwRxBytes);
    }
    return finish(trace, status, traceDevice(bound));
}

} // extern "C"

// The program binds these through the typedefs of d2xx_api.h; a signature
// drifting from them would only show as a crash at run time.
static_assert(std::is_same_v<decltype(&FT_ListDevices), FT_ListDevices_t>);
static_assert(std::is_same_v<decltype(&FT_OpenEx), FT_OpenEx_t>);
static_assert(std::is_same_v<decltype(&FT_Close), FT_Close_t>);
static_assert(std::is_same_v<decltype(&FT_Read), FT_Read_t>);
static_assert(std::is_same_v<decltype(&FT_Write), FT_Write_t>);
static_assert(std::is_same_v<decltype(&FT_SetBaudRate), FT_SetBaudRate_t>);
static_assert(std::is_same_v<decltype(&FT_SetDataCharacteristics), FT_SetDataCharacteristics_t>);
static_assert(std::is_same_v<decltype(&FT_SetTimeouts), FT_SetTimeouts_t>);
static_assert(std::is_same_v<decltype(&FT_GetQueueStatus), FT_GetQueueStatus_t>);
