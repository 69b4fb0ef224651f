#include "fake_d2xx.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lamp/d2xx/d2xx_names.h"
#include "lamp/d2xx/d2xx_unit.h"

namespace tintrava::testing {

namespace {

FakeD2xx theFake;

// Handles are small fake addresses, never dereferenced; 0x1000 + index.
constexpr std::uintptr_t HandleBase = 0x1000;

void log(const std::string &entry)
{
    theFake.calls.push_back(entry);
    theFake.callTimes.push_back(std::chrono::steady_clock::now());
}

std::optional<FT_STATUS> injected(const char *name)
{
    auto it = theFake.failures.find(name);
    if (it == theFake.failures.end())
        return std::nullopt;
    return it->second;
}


// The status for a call on `handle`, before any injected failure.
FT_STATUS checkHandle(FT_HANDLE handle)
{
    if (!theFake.isOpen() || handle != FakeD2xx::handleFor(theFake.openIndex))
        return FT_INVALID_HANDLE;
    return FT_OK;
}

FT_STATUS D2XX_CALL fakeListDevices(void *pArg1, void *pArg2, DWORD flags)
{
    if (flags == FT_LIST_NUMBER_ONLY) {
        log("ListDevices(NUMBER_ONLY)");
        if (!pArg1)
            return FT_INVALID_PARAMETER;
        if (auto status = injected("ListDevices")) {
            if (theFake.countOnFailure)
                *static_cast<DWORD *>(pArg1) = *theFake.countOnFailure;
            return *status;
        }
        *static_cast<DWORD *>(pArg1) = theFake.reportedCount.value_or(static_cast<DWORD>(theFake.devices.size()));
        return FT_OK;
    }
    const auto index = reinterpret_cast<std::uintptr_t>(pArg1);
    log("ListDevices(" + std::to_string(index) + "," + d2xxFlagsText(flags) + ")");
    const bool serial = flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
    const bool description = flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION);
    if ((!serial && !description) || !pArg2)
        return FT_INVALID_PARAMETER;
    if (auto status = injected("ListDevices"))
        return *status;
    if (index >= theFake.devices.size())
        return FT_DEVICE_NOT_FOUND;
    const FakeDevice &device = theFake.devices[index];
    if ((serial && device.serialFails) || (description && device.descriptionFails))
        return FT_IO_ERROR;
    const std::string &text = serial ? device.serial : device.description;
    const std::size_t limit = serial ? 16 : 64;
    char *out = static_cast<char *>(pArg2);
    if (theFake.ignoreBufferLimits) {
        std::memcpy(out, text.c_str(), text.size() + 1);
    } else {
        const std::size_t n = std::min(text.size(), limit);
        std::memcpy(out, text.data(), n);
        if (n < limit)
            out[n] = '\0';
    }
    return FT_OK;
}

FT_STATUS D2XX_CALL fakeOpenEx(void *pArg1, DWORD flags, FT_HANDLE *pHandle)
{
    const std::string key = pArg1 ? static_cast<const char *>(pArg1) : "";
    log("OpenEx(" + key + "," + d2xxFlagsText(flags) + ")");
    if (!pArg1 || !pHandle)
        return FT_INVALID_PARAMETER;
    if (auto status = injected("OpenEx"))
        return *status;
    if (flags != FT_OPEN_BY_SERIAL_NUMBER && flags != FT_OPEN_BY_DESCRIPTION)
        return FT_INVALID_PARAMETER;
    for (std::size_t i = 0; i < theFake.devices.size(); ++i) {
        const FakeDevice &device = theFake.devices[i];
        const std::string &name = flags == FT_OPEN_BY_SERIAL_NUMBER ? device.serial : device.description;
        if (name != key)
            continue;
        if (device.openFails || theFake.isOpen())
            return FT_DEVICE_NOT_OPENED;
        theFake.openIndex = static_cast<int>(i);
        ++theFake.opens;
        theFake.baudRate = 9600;
        theFake.wordLength = FT_BITS_8;
        theFake.stopBits = FT_STOP_BITS_1;
        theFake.parity = FT_PARITY_NONE;
        theFake.readTimeout = theFake.writeTimeout = 0;
        theFake.rx.clear();
        *pHandle = FakeD2xx::handleFor(static_cast<int>(i));
        return FT_OK;
    }
    return FT_DEVICE_NOT_FOUND;
}

FT_STATUS D2XX_CALL fakeClose(FT_HANDLE handle)
{
    log("Close");
    if (FT_STATUS status = checkHandle(handle); status != FT_OK)
        return status;
    if (auto status = injected("Close"))
        return *status;
    theFake.openIndex = -1;
    theFake.rx.clear();
    ++theFake.closes;
    return FT_OK;
}

FT_STATUS D2XX_CALL fakeRead(FT_HANDLE handle, void *buffer, DWORD toRead, DWORD *returned)
{
    log("Read(" + std::to_string(toRead) + ")");
    FT_STATUS status = checkHandle(handle);
    if (status == FT_OK && (!buffer || !returned))
        status = FT_INVALID_PARAMETER;
    if (status == FT_OK)
        status = injected("Read").value_or(FT_OK);
    DWORD moved = 0;
    if (status == FT_OK) {
        moved = static_cast<DWORD>(std::min<std::size_t>(toRead, theFake.rx.size()));
        std::memcpy(buffer, theFake.rx.data(), moved);
        theFake.rx.erase(0, moved);
    }
    if (returned)
        *returned = theFake.reportedBytes.value_or(moved);
    return status;
}

FT_STATUS D2XX_CALL fakeWrite(FT_HANDLE handle, void *buffer, DWORD toWrite, DWORD *written)
{
    const std::string bytes = buffer ? std::string(static_cast<const char *>(buffer), toWrite) : std::string();
    log("Write(" + hexBytes(bytes) + ")");
    FT_STATUS status = checkHandle(handle);
    if (status == FT_OK && (!buffer || !written))
        status = FT_INVALID_PARAMETER;
    if (status == FT_OK)
        status = injected("Write").value_or(FT_OK);
    if (status == FT_OK) {
        theFake.writes.push_back(bytes);
        if (theFake.responder) {
            theFake.rx += theFake.responder(bytes);
        } else if (!theFake.replies.empty()) {
            theFake.rx += theFake.replies.front();
            theFake.replies.pop_front();
        }
    }
    if (written)
        *written = theFake.reportedBytes.value_or(status == FT_OK ? toWrite : 0);
    return status;
}

FT_STATUS D2XX_CALL fakeSetBaudRate(FT_HANDLE handle, ULONG baud)
{
    log("SetBaudRate(" + std::to_string(baud) + ")");
    if (FT_STATUS status = checkHandle(handle); status != FT_OK)
        return status;
    if (auto status = injected("SetBaudRate"))
        return *status;
    theFake.baudRate = baud;
    return FT_OK;
}

FT_STATUS D2XX_CALL fakeSetDataCharacteristics(FT_HANDLE handle, UCHAR word, UCHAR stop, UCHAR parity)
{
    log("SetDataCharacteristics(" + std::to_string(word) + "," + std::to_string(stop) + ","
        + std::to_string(parity) + ")");
    if (FT_STATUS status = checkHandle(handle); status != FT_OK)
        return status;
    if (auto status = injected("SetDataCharacteristics"))
        return *status;
    theFake.wordLength = word;
    theFake.stopBits = stop;
    theFake.parity = parity;
    return FT_OK;
}

FT_STATUS D2XX_CALL fakeSetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs)
{
    log("SetTimeouts(" + std::to_string(readMs) + "," + std::to_string(writeMs) + ")");
    if (FT_STATUS status = checkHandle(handle); status != FT_OK)
        return status;
    if (auto status = injected("SetTimeouts"))
        return *status;
    theFake.readTimeout = readMs;
    theFake.writeTimeout = writeMs;
    return FT_OK;
}

FT_STATUS D2XX_CALL fakeGetQueueStatus(FT_HANDLE handle, DWORD *rxBytes)
{
    log("GetQueueStatus");
    if (FT_STATUS status = checkHandle(handle); status != FT_OK)
        return status;
    if (!rxBytes)
        return FT_INVALID_PARAMETER;
    if (auto status = injected("GetQueueStatus"))
        return *status;
    *rxBytes = static_cast<DWORD>(theFake.rx.size());
    return FT_OK;
}

} // namespace

void FakeD2xx::reset()
{
    *this = FakeD2xx();
}

void FakeD2xx::install()
{
    D2XXUnit::setDriver(api());
}

D2xxApi FakeD2xx::api()
{
    D2xxApi table;
    table.ListDevices = fakeListDevices;
    table.OpenEx = fakeOpenEx;
    table.Close = fakeClose;
    table.Read = fakeRead;
    table.Write = fakeWrite;
    table.SetBaudRate = fakeSetBaudRate;
    table.SetDataCharacteristics = fakeSetDataCharacteristics;
    table.SetTimeouts = fakeSetTimeouts;
    table.GetQueueStatus = fakeGetQueueStatus;
    table.LinkProblems = [] { return fakeD2xx().linkProblems; };
    return table;
}

FT_HANDLE FakeD2xx::handleFor(int index)
{
    return reinterpret_cast<FT_HANDLE>(HandleBase + static_cast<std::uintptr_t>(index));
}

QStringList FakeD2xx::callList() const
{
    QStringList list;
    for (const std::string &call : calls)
        list << QString::fromStdString(call);
    return list;
}

std::string FakeD2xx::allWritten() const
{
    std::string all;
    for (const std::string &w : writes)
        all += w;
    return all;
}

void FakeD2xx::clearLog()
{
    calls.clear();
    callTimes.clear();
    writes.clear();
}

double FakeD2xx::msBetween(const std::string &from, const std::string &to) const
{
    auto starts = [](const std::string &entry, const std::string &prefix) {
        return entry.compare(0, prefix.size(), prefix) == 0;
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (!starts(calls[i], from))
            continue;
        for (std::size_t j = i + 1; j < calls.size(); ++j) {
            if (starts(calls[j], to))
                return std::chrono::duration<double, std::milli>(callTimes[j] - callTimes[i]).count();
        }
        return -1;
    }
    return -1;
}

FakeD2xx &fakeD2xx()
{
    return theFake;
}

std::string hexBytes(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[c >> 4];
        text += digits[c & 0x0F];
    }
    return text;
}

} // namespace tintrava::testing
