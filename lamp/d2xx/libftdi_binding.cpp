#include "lamp/d2xx/libftdi_binding.h"

#if defined(TINTRAVA_HAVE_LIBFTDI1)

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace tintrava {
namespace {

constexpr int kFtdiVendorId = 0x0403;

// Caller buffer sizes FTDI documents for FT_ListDevices by index.
constexpr std::size_t kDescriptionBufferSize = 64;
constexpr std::size_t kSerialBufferSize = 16;
// A USB string descriptor holds at most 126 characters.
constexpr int kStringReadSize = 256;

// D2XX treats a read time-out of 0 as "wait for ever"; libftdi's own default
// transfer time-out is the longest wait we allow.
constexpr DWORD kLongestWaitMs = 5000;
// One bulk transfer must outlast the chip's latency timer (at most 255 ms),
// after which the chip always answers, with status bytes alone if need be.
constexpr int kShortestTransferTimeoutMs = 300;
// What the binding keeps of bytes fetched from the chip but not read yet.
constexpr std::size_t kReceiveBufferLimit = 65536;

struct FtdiContextDeleter {
    void operator()(ftdi_context *ctx) const
    {
        if (ctx)
            ftdi_free(ctx);
    }
};
using FtdiContextPtr = std::unique_ptr<ftdi_context, FtdiContextDeleter>;

// One FTDI device as the latest enumeration saw it. A string that could not
// be read keeps the status its by-index query answers with.
struct ListedDevice {
    int productId = 0;
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    FT_STATUS descriptionStatus = FT_IO_ERROR;
    std::string description;
    FT_STATUS serialStatus = FT_IO_ERROR;
    std::string serial;
};

std::vector<ListedDevice> g_snapshot;
bool g_snapshotTaken = false;

struct OpenDevice {
    ftdi_context *ctx = nullptr;
    // Bytes fetched from the chip by FT_GetQueueStatus that no FT_Read took yet.
    std::deque<unsigned char> received;
    DWORD readTimeoutMs = 0;
    DWORD writeTimeoutMs = 0;
};

std::unordered_set<OpenDevice *> g_openDevices;

OpenDevice *findOpenDevice(FT_HANDLE handle)
{
    auto it = g_openDevices.find(static_cast<OpenDevice *>(handle));
    return it == g_openDevices.end() ? nullptr : *it;
}

// The driver functions are called through plain function pointers by code
// that expects a status, never an exception.
template <class Body>
FT_STATUS guarded(Body body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return FT_INSUFFICIENT_RESOURCES;
    } catch (...) {
        return FT_OTHER_ERROR;
    }
}

// The call's body on the open device behind handle; any other handle is
// FT_INVALID_HANDLE.
template <class Body>
FT_STATUS onOpenDevice(FT_HANDLE handle, Body body) noexcept
{
    return guarded([&]() -> FT_STATUS {
        OpenDevice *device = findOpenDevice(handle);
        return device ? body(device) : FT_INVALID_HANDLE;
    });
}

FT_STATUS stringReadStatus(int rc)
{
    // -4: the device could not be opened (permissions, or claimed elsewhere).
    return rc == -4 ? FT_DEVICE_NOT_OPENED : FT_IO_ERROR;
}

// ftdi_usb_get_strings leaves the device open on some failures; the listing
// context must not carry a stale handle into the next device.
void closeStrayHandle(ftdi_context *ctx)
{
    if (ctx->usb_dev) {
        libusb_close(ctx->usb_dev);
        ctx->usb_dev = nullptr;
    }
}

void readStrings(ftdi_context *ctx, libusb_device *dev, ListedDevice &entry)
{
    char description[kStringReadSize] = {};
    char serial[kStringReadSize] = {};
    int rc = ftdi_usb_get_strings(ctx, dev, nullptr, 0, description, kStringReadSize, serial,
                                  kStringReadSize);
    closeStrayHandle(ctx);
    description[kStringReadSize - 1] = '\0';
    serial[kStringReadSize - 1] = '\0';
    if (rc == 0) {
        entry.descriptionStatus = FT_OK;
        entry.description = description;
        entry.serialStatus = FT_OK;
        entry.serial = serial;
        return;
    }
    if (rc == -9) { // description read, serial not
        entry.descriptionStatus = FT_OK;
        entry.description = description;
        entry.serialStatus = FT_IO_ERROR;
        return;
    }
    if (rc == -8) { // no description; the serial may still be readable
        entry.descriptionStatus = FT_IO_ERROR;
        rc = ftdi_usb_get_strings(ctx, dev, nullptr, 0, nullptr, 0, serial, kStringReadSize);
        closeStrayHandle(ctx);
        serial[kStringReadSize - 1] = '\0';
        if (rc == 0) {
            entry.serialStatus = FT_OK;
            entry.serial = serial;
        } else {
            entry.serialStatus = stringReadStatus(rc);
        }
        return;
    }
    entry.descriptionStatus = stringReadStatus(rc);
    entry.serialStatus = stringReadStatus(rc);
}

// Lists every device with FTDI's vendor ID through a context of its own, so
// no string is ever read through a context that holds an open device.
// ftdi_usb_find_all cannot do this: with product ID 0 it matches only devices
// whose product ID is 0.
FT_STATUS enumerateFtdiDevices(std::vector<ListedDevice> &out)
{
    FtdiContextPtr ctx(ftdi_new());
    if (!ctx)
        return FT_IO_ERROR;
    libusb_device **list = nullptr;
    ssize_t count = libusb_get_device_list(ctx->usb_ctx, &list);
    if (count < 0)
        return FT_IO_ERROR;
    std::vector<ListedDevice> found;
    try {
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor;
            if (libusb_get_device_descriptor(list[i], &descriptor) != 0)
                continue;
            if (descriptor.idVendor != kFtdiVendorId)
                continue;
            ListedDevice entry;
            entry.productId = descriptor.idProduct;
            entry.bus = libusb_get_bus_number(list[i]);
            entry.address = libusb_get_device_address(list[i]);
            readStrings(ctx.get(), list[i], entry);
            found.push_back(std::move(entry));
        }
    } catch (...) {
        libusb_free_device_list(list, 1);
        throw;
    }
    libusb_free_device_list(list, 1);
    // libusb's list order is its own business; bus and address keep the
    // indices stable from one listing to the next.
    std::stable_sort(found.begin(), found.end(), [](const ListedDevice &a, const ListedDevice &b) {
        return a.bus != b.bus ? a.bus < b.bus : a.address < b.address;
    });
    out = std::move(found);
    return FT_OK;
}

// Copies at most `capacity` bytes, NUL-terminated when the text is shorter.
void copyToCallerBuffer(const std::string &text, char *buffer, std::size_t capacity)
{
    std::size_t n = std::min(text.size(), capacity);
    std::memcpy(buffer, text.data(), n);
    if (n < capacity)
        buffer[n] = '\0';
}

FT_STATUS D2XX_CALL listDevices(void *pArg1, void *pArg2, DWORD flags)
{
    return guarded([&]() -> FT_STATUS {
        if (flags & FT_LIST_NUMBER_ONLY) {
            if (!pArg1)
                return FT_INVALID_PARAMETER;
            std::vector<ListedDevice> fresh;
            FT_STATUS status = enumerateFtdiDevices(fresh);
            if (status != FT_OK)
                return status;
            g_snapshot = std::move(fresh);
            g_snapshotTaken = true;
            *static_cast<DWORD *>(pArg1) = static_cast<DWORD>(g_snapshot.size());
            return FT_OK;
        }
        if (flags & FT_LIST_BY_INDEX) {
            const DWORD what = flags & ~FT_LIST_BY_INDEX;
            if (what != FT_OPEN_BY_SERIAL_NUMBER && what != FT_OPEN_BY_DESCRIPTION)
                return FT_INVALID_PARAMETER;
            char *buffer = static_cast<char *>(pArg2);
            if (!buffer)
                return FT_INVALID_PARAMETER;
            if (!g_snapshotTaken) {
                std::vector<ListedDevice> fresh;
                FT_STATUS status = enumerateFtdiDevices(fresh);
                if (status != FT_OK)
                    return status;
                g_snapshot = std::move(fresh);
                g_snapshotTaken = true;
            }
            // D2XX passes the index itself in the pointer argument.
            const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(pArg1);
            if (index >= g_snapshot.size())
                return FT_DEVICE_NOT_FOUND;
            const ListedDevice &entry = g_snapshot[index];
            if (what == FT_OPEN_BY_SERIAL_NUMBER) {
                if (entry.serialStatus != FT_OK)
                    return entry.serialStatus;
                copyToCallerBuffer(entry.serial, buffer, kSerialBufferSize);
            } else {
                if (entry.descriptionStatus != FT_OK)
                    return entry.descriptionStatus;
                copyToCallerBuffer(entry.description, buffer, kDescriptionBufferSize);
            }
            return FT_OK;
        }
        // FT_LIST_ALL and opening by location are not offered.
        return FT_INVALID_PARAMETER;
    });
}

FT_STATUS openStatus(int rc)
{
    switch (rc) {
    case -3: // no device with that vendor, product and serial/description
        return FT_DEVICE_NOT_FOUND;
    case -4: // libusb_open failed
    case -5: // interface could not be claimed
    case -8: // no permission, or a device's description unreadable
    case -9: // a device's serial number unreadable
        return FT_DEVICE_NOT_OPENED;
    default: // reset, baud rate, descriptors, configuration, latency timer
        return FT_IO_ERROR;
    }
}

FT_STATUS D2XX_CALL openEx(void *pArg1, DWORD flags, FT_HANDLE *pHandle)
{
    return guarded([&]() -> FT_STATUS {
        if (!pHandle)
            return FT_INVALID_PARAMETER;
        *pHandle = nullptr;
        if (!pArg1)
            return FT_INVALID_PARAMETER;
        const bool bySerial = flags == FT_OPEN_BY_SERIAL_NUMBER;
        const bool byDescription = flags == FT_OPEN_BY_DESCRIPTION;
        if (!bySerial && !byDescription)
            return FT_INVALID_PARAMETER;
        const std::string wanted(static_cast<const char *>(pArg1));

        // libftdi opens by vendor and product ID, so find the product ID of
        // the device carrying that serial number (or description) first.
        std::vector<ListedDevice> devices;
        FT_STATUS status = enumerateFtdiDevices(devices);
        if (status != FT_OK)
            return status;
        auto match = std::find_if(devices.begin(), devices.end(), [&](const ListedDevice &d) {
            return bySerial ? d.serialStatus == FT_OK && d.serial == wanted
                            : d.descriptionStatus == FT_OK && d.description == wanted;
        });
        if (match == devices.end())
            return FT_DEVICE_NOT_FOUND;

        FtdiContextPtr ctx(ftdi_new()); // fails when libusb cannot start
        if (!ctx)
            return FT_IO_ERROR;
        // libftdi 1.5 has no setter for this. Detach ftdi_sio only while
        // the device is open; closing hands it back to the kernel driver.
        ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
        int rc = ftdi_usb_open_desc(ctx.get(), kFtdiVendorId, match->productId,
                                    byDescription ? wanted.c_str() : nullptr,
                                    bySerial ? wanted.c_str() : nullptr);
        if (rc != 0)
            return openStatus(rc);

        auto device = std::make_unique<OpenDevice>();
        device->ctx = ctx.get();
        try {
            g_openDevices.insert(device.get());
        } catch (...) {
            ftdi_usb_close(ctx.get());
            throw;
        }
        ctx.release();
        *pHandle = device.release();
        return FT_OK;
    });
}

FT_STATUS D2XX_CALL closeDevice(FT_HANDLE handle)
{
    return onOpenDevice(handle, [&](OpenDevice *device) -> FT_STATUS {
        g_openDevices.erase(device);
        // Releasing the interface lets libusb hand the device back to ftdi_sio.
        int rc = ftdi_usb_close(device->ctx);
        ftdi_free(device->ctx);
        delete device;
        return rc == 0 ? FT_OK : FT_IO_ERROR;
    });
}

DWORD effectiveReadTimeout(const OpenDevice &device)
{
    return device.readTimeoutMs == 0 ? kLongestWaitMs : std::min(device.readTimeoutMs, kLongestWaitMs);
}

// Moves bytes the binding already holds into the caller's buffer.
DWORD takeReceived(OpenDevice &device, unsigned char *buffer, DWORD count)
{
    DWORD n = static_cast<DWORD>(std::min<std::size_t>(count, device.received.size()));
    std::copy_n(device.received.begin(), n, buffer);
    device.received.erase(device.received.begin(), device.received.begin() + n);
    return n;
}

FT_STATUS D2XX_CALL readDevice(FT_HANDLE handle, void *lpBuffer, DWORD dwBytesToRead, DWORD *lpBytesReturned)
{
    return onOpenDevice(handle, [&](OpenDevice *device) -> FT_STATUS {
        if (!lpBytesReturned)
            return FT_INVALID_PARAMETER;
        *lpBytesReturned = 0;
        if (dwBytesToRead == 0)
            return FT_OK;
        if (!lpBuffer)
            return FT_INVALID_PARAMETER;
        auto *buffer = static_cast<unsigned char *>(lpBuffer);

        DWORD got = takeReceived(*device, buffer, dwBytesToRead);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(effectiveReadTimeout(*device));
        while (got < dwBytesToRead) {
            const int want = static_cast<int>(std::min<DWORD>(dwBytesToRead - got, INT_MAX));
            // The chip answers each transfer after its latency timer, with
            // nothing but its two status bytes when no data arrived: a read
            // of 0 bytes is the normal "not yet".
            int rc = ftdi_read_data(device->ctx, buffer + got, want);
            if (rc > 0) {
                got += static_cast<DWORD>(rc);
            } else if (rc < 0 && rc != LIBUSB_ERROR_TIMEOUT) {
                *lpBytesReturned = got;
                return FT_IO_ERROR;
            }
            if (got >= dwBytesToRead || std::chrono::steady_clock::now() >= deadline)
                break;
            if (rc <= 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        *lpBytesReturned = got;
        return FT_OK;
    });
}

FT_STATUS D2XX_CALL writeDevice(FT_HANDLE handle, void *lpBuffer, DWORD dwBytesToWrite, DWORD *lpBytesWritten)
{
    return onOpenDevice(handle, [&](OpenDevice *device) -> FT_STATUS {
        if (!lpBytesWritten)
            return FT_INVALID_PARAMETER;
        *lpBytesWritten = 0;
        if (dwBytesToWrite == 0)
            return FT_OK;
        if (!lpBuffer || dwBytesToWrite > static_cast<DWORD>(INT_MAX))
            return FT_INVALID_PARAMETER;
        int rc = ftdi_write_data(device->ctx, static_cast<const unsigned char *>(lpBuffer),
                                 static_cast<int>(dwBytesToWrite));
        if (rc < 0)
            return FT_IO_ERROR;
        *lpBytesWritten = static_cast<DWORD>(rc);
        return FT_OK;
    });
}

FT_STATUS D2XX_CALL setBaudRate(FT_HANDLE handle, ULONG baudRate)
{
    return onOpenDevice(handle, [&](OpenDevice *device) -> FT_STATUS {
        if (baudRate == 0 || baudRate > static_cast<ULONG>(INT_MAX / 4))
            return FT_INVALID_BAUD_RATE;
        switch (ftdi_set_baudrate(device->ctx, static_cast<int>(baudRate))) {
        case 0:
            return FT_OK;
        case -1: // not reachable within the chip's tolerance
            return FT_INVALID_BAUD_RATE;
        case -3: // no device open in this context
            return FT_INVALID_HANDLE;
        default:
            return FT_IO_ERROR;
        }
    });
}

FT_STATUS D2XX_CALL setDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity)
{
    return onOpenDevice(handle, [&](OpenDevice *device) -> FT_STATUS {
        ftdi_bits_type bits;
        switch (wordLength) {
        case FT_BITS_8: bits = BITS_8; break;
        case FT_BITS_7: bits = BITS_7; break;
        default: return FT_INVALID_PARAMETER;
        }
        ftdi_stopbits_type stop;
        switch (stopBits) {
        case FT_STOP_BITS_1: stop = STOP_BIT_1; break;
        case FT_STOP_BITS_2: stop = STOP_BIT_2; break;
        default: return FT_INVALID_PARAMETER;
        }
        ftdi_parity_type par;
        switch (parity) { // D2XX: none, odd, even, mark, space
        case 0: par = NONE; break;
        case 1: par = ODD; break;
        case 2: par = EVEN; break;
        case 3: par = MARK; break;
        case 4: par = SPACE; break;
        default: return FT_INVALID_PARAMETER;
        }
        switch (ftdi_set_line_property(device->ctx, bits, stop, par)) {
        case 0:
            return FT_OK;
        case -2:
            return FT_INVALID_HANDLE;
        default:
            return FT_IO_ERROR;
        }
    });
}

FT_STATUS D2XX_CALL setTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout)
{
    return onOpenDevice(handle, [&](OpenDevice *device) -> FT_STATUS {
        device->readTimeoutMs = readTimeout;
        device->writeTimeoutMs = writeTimeout;
        const DWORD write = writeTimeout == 0 ? kLongestWaitMs : std::min<DWORD>(writeTimeout, INT_MAX);
        device->ctx->usb_write_timeout = static_cast<int>(write);
        device->ctx->usb_read_timeout =
            std::max(static_cast<int>(effectiveReadTimeout(*device)), kShortestTransferTimeoutMs);
        return FT_OK;
    });
}

FT_STATUS D2XX_CALL getQueueStatus(FT_HANDLE handle, DWORD *dwRxBytes)
{
    return onOpenDevice(handle, [&](OpenDevice *device) -> FT_STATUS {
        if (!dwRxBytes)
            return FT_INVALID_PARAMETER;
        // libftdi cannot ask the chip how much it holds; fetch it instead and
        // count what the binding (and libftdi's own buffer) now holds.
        FT_STATUS status = FT_OK;
        const std::size_t space = kReceiveBufferLimit - std::min(kReceiveBufferLimit, device->received.size());
        if (space > 0) {
            std::vector<unsigned char> chunk(space);
            int rc = ftdi_read_data(device->ctx, chunk.data(), static_cast<int>(chunk.size()));
            if (rc > 0)
                device->received.insert(device->received.end(), chunk.begin(), chunk.begin() + rc);
            else if (rc < 0 && rc != LIBUSB_ERROR_TIMEOUT)
                status = FT_IO_ERROR;
        }
        *dwRxBytes = static_cast<DWORD>(device->received.size() + device->ctx->readbuffer_remaining);
        return status;
    });
}

const D2xxApi kLibftdiApi = [] {
    D2xxApi api;
    api.ListDevices = &listDevices;
    api.OpenEx = &openEx;
    api.Close = &closeDevice;
    api.Read = &readDevice;
    api.Write = &writeDevice;
    api.SetBaudRate = &setBaudRate;
    api.SetDataCharacteristics = &setDataCharacteristics;
    api.SetTimeouts = &setTimeouts;
    api.GetQueueStatus = &getQueueStatus;
    return api;
}();

} // namespace

const D2xxApi &libftdiApi()
{
    return kLibftdiApi;
}

} // namespace tintrava

#endif // TINTRAVA_HAVE_LIBFTDI1
