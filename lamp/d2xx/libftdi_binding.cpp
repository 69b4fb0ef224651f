#include "lamp/d2xx/libftdi_binding.h"
#include "lamp/d2xx/driver_loader.h"
#include "lamp/d2xx/libftdi_library.h"

#if defined(TINTRAVA_HAVE_LIBFTDI1)

#include <ftdi.h>
#include <libusb.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <set>
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
// Listings that try to read a device's strings before leaving it alone until
// it is plugged in again: a device just plugged in may not answer at once,
// one that never answers must not cost transfers every second.
constexpr int kStringReadAttempts = 3;

// Reached only through the table, which is handed out once both libraries
// are loaded.
const LibftdiLibrary &lib()
{
    return *loadedLibftdiLibrary();
}

// libusb.h's inline libusb_get_string_descriptor, through the loaded library.
int getStringDescriptor(libusb_device_handle *handle, std::uint8_t index, std::uint16_t langId, unsigned char *data,
                        int length)
{
    return lib().libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                         static_cast<std::uint16_t>((LIBUSB_DT_STRING << 8) | index), langId, data,
                                         static_cast<std::uint16_t>(length), 1000);
}

struct FtdiContextDeleter {
    void operator()(ftdi_context *ctx) const
    {
        if (ctx)
            lib().ftdi_free(ctx);
    }
};
using FtdiContextPtr = std::unique_ptr<ftdi_context, FtdiContextDeleter>;

// Where a device sits: its bus, the chain of hub ports leading to it, and the
// address the kernel gave it, which is new at every plug-in. Equal keys mean
// the same device, still plugged in since it was last seen.
struct DeviceKey {
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;
    std::uint8_t address = 0;
    auto operator<=>(const DeviceKey &) const = default;
};

DeviceKey keyOf(libusb_device *dev)
{
    DeviceKey key;
    key.bus = lib().libusb_get_bus_number(dev);
    key.address = lib().libusb_get_device_address(dev);
    std::uint8_t ports[8]; // USB allows at most 7 tiers
    const int n = lib().libusb_get_port_numbers(dev, ports, static_cast<int>(sizeof ports));
    if (n > 0)
        key.ports.assign(ports, ports + n);
    return key;
}

// The device's product string as the kernel keeps it in sysfs. Readable by
// everyone, also when the device node is not.
std::string sysfsProduct(const DeviceKey &key)
{
    if (key.ports.empty())
        return {};
    std::string path = "/sys/bus/usb/devices/" + std::to_string(key.bus) + "-";
    for (std::size_t i = 0; i < key.ports.size(); ++i) {
        if (i > 0)
            path += '.';
        path += std::to_string(key.ports[i]);
    }
    path += "/product";
    std::FILE *file = std::fopen(path.c_str(), "re");
    if (!file)
        return {};
    char buffer[kStringReadSize] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

enum class Problem { None, NoAccess, Busy };

// One FTDI device as the latest listing saw it. A string that could not be
// read keeps the status its by-index query answers with.
struct ListedDevice {
    DeviceKey key;
    int productId = 0;
    FT_STATUS descriptionStatus = FT_IO_ERROR;
    std::string description;
    FT_STATUS serialStatus = FT_IO_ERROR;
    std::string serial;
    Problem problem = Problem::None;
    std::string product; // for a problem: the name to tell the user about
    int readAttempts = 0; // listings that asked the device for its strings
};

// What the binding keeps between calls. Strings are read once per plug-in:
// a listing reuses the entry of every device whose key it saw before, so a
// listing of unchanged devices makes no USB transfer.
struct ListingState {
    // libusb learns of plugging from udev, so one context can serve every
    // listing of the run; where udev does not run it would never hear of a
    // new device, and each listing gets a fresh context instead.
    libusb_context *ctx = nullptr;
    bool keepContext = false;
    int contextsCreated = 0;
    std::vector<ListedDevice> devices; // in (bus, ports, address) order
    bool listed = false;
    // Devices whose kernel driver this binding detached and has not given
    // back; pruned when a device is gone (a new plug-in gets its driver anew).
    std::set<DeviceKey> detached;
    bool endOfRunRegistered = false;
};

ListingContextPolicy g_policy = ListingContextPolicy::Automatic;

ListingState &state()
{
    static ListingState s;
    return s;
}

struct OpenDevice {
    ftdi_context *ctx = nullptr;
    DeviceKey key;
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

void registerEndOfRun()
{
    ListingState &s = state();
    if (!s.endOfRunRegistered) {
        // Registered after state() was built, so it runs before its destructor.
        s.endOfRunRegistered = std::atexit([] { libftdiEndOfRun(); }) == 0;
    }
}

// One string descriptor as text; characters outside ASCII become '?', as
// libusb's own ASCII reader has it.
FT_STATUS readString(libusb_device_handle *handle, std::uint8_t index, std::uint16_t langId, std::string &out)
{
    if (index == 0)
        return FT_IO_ERROR; // the device has no such string
    unsigned char buffer[255];
    const int rc = getStringDescriptor(handle, index, langId, buffer, sizeof buffer);
    if (rc < 2 || buffer[1] != LIBUSB_DT_STRING || buffer[0] > rc)
        return FT_IO_ERROR;
    std::string text;
    for (int i = 2; i + 1 < buffer[0]; i += 2)
        text += (buffer[i + 1] == 0 && buffer[i] < 0x80) ? static_cast<char>(buffer[i]) : '?';
    out = std::move(text);
    return FT_OK;
}

// Reads description and serial: one request for the language, one per string.
void readStrings(libusb_device *dev, const libusb_device_descriptor &descriptor, ListedDevice &entry)
{
    entry.problem = Problem::None;
    entry.product.clear();
    libusb_device_handle *handle = nullptr;
    const int rc = lib().libusb_open(dev, &handle);
    if (rc != LIBUSB_ERROR_ACCESS)
        ++entry.readAttempts;
    if (rc != 0) {
        entry.descriptionStatus = FT_DEVICE_NOT_OPENED;
        entry.serialStatus = FT_DEVICE_NOT_OPENED;
        if (rc == LIBUSB_ERROR_ACCESS) {
            entry.problem = Problem::NoAccess;
            entry.product = sysfsProduct(entry.key);
        }
        return;
    }
    unsigned char languages[255];
    const int n = getStringDescriptor(handle, 0, 0, languages, sizeof languages);
    if (n >= 4 && languages[1] == LIBUSB_DT_STRING) {
        const std::uint16_t langId = static_cast<std::uint16_t>(languages[2] | (languages[3] << 8));
        entry.descriptionStatus = readString(handle, descriptor.iProduct, langId, entry.description);
        entry.serialStatus = readString(handle, descriptor.iSerialNumber, langId, entry.serial);
    } else {
        entry.descriptionStatus = FT_IO_ERROR;
        entry.serialStatus = FT_IO_ERROR;
    }
    lib().libusb_close(handle);
}

// Whether another program still holds a device it held at our last open:
// a claim and release on a handle of our own tell, without a USB transfer.
// A kernel driver bound again counts as held until the next open detaches it.
bool heldElsewhere(libusb_device *dev)
{
    libusb_device_handle *probe = nullptr;
    if (lib().libusb_open(dev, &probe) != 0)
        return true;
    bool held = lib().libusb_kernel_driver_active(probe, 0) == 1;
    if (!held) {
        const int rc = lib().libusb_claim_interface(probe, 0);
        held = rc != 0;
        if (rc == 0)
            lib().libusb_release_interface(probe, 0);
    }
    lib().libusb_close(probe);
    return held;
}

// Lists every device with FTDI's vendor ID. ftdi_usb_find_all cannot do
// this: with product ID 0 it matches only devices whose product ID is 0.
FT_STATUS refreshListing()
{
    ListingState &s = state();
    registerEndOfRun();
    if (!s.ctx) {
        if (lib().libusb_init(&s.ctx) != 0) {
            s.ctx = nullptr;
            return FT_IO_ERROR;
        }
        ++s.contextsCreated;
        s.keepContext = g_policy == ListingContextPolicy::KeepForRun
            || (g_policy == ListingContextPolicy::Automatic && access("/run/udev/control", F_OK) == 0);
    }
    libusb_device **list = nullptr;
    const ssize_t count = lib().libusb_get_device_list(s.ctx, &list);
    if (count < 0) {
        lib().libusb_exit(s.ctx);
        s.ctx = nullptr;
        return FT_IO_ERROR;
    }
    std::vector<ListedDevice> fresh;
    try {
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor;
            if (lib().libusb_get_device_descriptor(list[i], &descriptor) != 0) // from sysfs, no transfer
                continue;
            if (descriptor.idVendor != kFtdiVendorId)
                continue;
            const DeviceKey key = keyOf(list[i]);
            auto known = std::find_if(s.devices.begin(), s.devices.end(),
                                      [&](const ListedDevice &d) { return d.key == key; });
            // A device we may not open is tried again: a failed open costs
            // no transfer, and access may have been granted meanwhile. One
            // whose strings did not come is asked again a few times.
            const bool complete = known != s.devices.end() && known->descriptionStatus == FT_OK
                && known->serialStatus == FT_OK;
            if (known != s.devices.end() && known->problem != Problem::NoAccess
                && (complete || known->readAttempts >= kStringReadAttempts)) {
                ListedDevice entry = *known;
                if (entry.problem == Problem::Busy && !heldElsewhere(list[i])) {
                    entry.problem = Problem::None;
                    entry.product.clear();
                }
                fresh.push_back(std::move(entry));
                continue;
            }
            ListedDevice entry;
            entry.key = key;
            entry.productId = descriptor.idProduct;
            entry.readAttempts = known != s.devices.end() ? known->readAttempts : 0;
            readStrings(list[i], descriptor, entry);
            fresh.push_back(std::move(entry));
        }
    } catch (...) {
        lib().libusb_free_device_list(list, 1);
        throw;
    }
    lib().libusb_free_device_list(list, 1);
    // libusb's list order is its own business; where devices sit keeps the
    // indices stable from one listing to the next.
    std::sort(fresh.begin(), fresh.end(),
              [](const ListedDevice &a, const ListedDevice &b) { return a.key < b.key; });
    for (auto it = s.detached.begin(); it != s.detached.end();) {
        const bool present = std::any_of(fresh.begin(), fresh.end(),
                                         [&](const ListedDevice &d) { return d.key == *it; });
        it = present ? std::next(it) : s.detached.erase(it);
    }
    s.devices = std::move(fresh);
    s.listed = true;
    if (!s.keepContext) {
        lib().libusb_exit(s.ctx);
        s.ctx = nullptr;
    }
    return FT_OK;
}

void setProblem(const DeviceKey &key, Problem problem)
{
    for (ListedDevice &d : state().devices) {
        if (d.key != key)
            continue;
        d.problem = problem;
        if (problem == Problem::None)
            d.product.clear();
        else
            d.product = d.descriptionStatus == FT_OK ? d.description : sysfsProduct(key);
    }
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
        ListingState &s = state();
        if (flags & FT_LIST_NUMBER_ONLY) {
            if (!pArg1)
                return FT_INVALID_PARAMETER;
            FT_STATUS status = refreshListing();
            if (status != FT_OK)
                return status;
            *static_cast<DWORD *>(pArg1) = static_cast<DWORD>(s.devices.size());
            return FT_OK;
        }
        if (flags & FT_LIST_BY_INDEX) {
            const DWORD what = flags & ~FT_LIST_BY_INDEX;
            if (what != FT_OPEN_BY_SERIAL_NUMBER && what != FT_OPEN_BY_DESCRIPTION)
                return FT_INVALID_PARAMETER;
            char *buffer = static_cast<char *>(pArg2);
            if (!buffer)
                return FT_INVALID_PARAMETER;
            if (!s.listed) {
                FT_STATUS status = refreshListing();
                if (status != FT_OK)
                    return status;
            }
            // D2XX passes the index itself in the pointer argument.
            const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(pArg1);
            if (index >= s.devices.size())
                return FT_DEVICE_NOT_FOUND;
            const ListedDevice &entry = s.devices[index];
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

// Opens the device through a probe handle of our own, so a refusal comes
// with libusb's reason, and takes the kernel's serial driver off it at the
// first open of this plug-in; later opens find the interface free.
FT_STATUS prepareForClaim(libusb_device *dev, const DeviceKey &key)
{
    libusb_device_handle *probe = nullptr;
    const int rc = lib().libusb_open(dev, &probe);
    if (rc == LIBUSB_ERROR_ACCESS) {
        setProblem(key, Problem::NoAccess);
        return FT_DEVICE_NOT_OPENED;
    }
    if (rc == LIBUSB_ERROR_NO_DEVICE || rc == LIBUSB_ERROR_NOT_FOUND)
        return FT_DEVICE_NOT_FOUND;
    if (rc != 0)
        return FT_DEVICE_NOT_OPENED;
    ListingState &s = state();
    FT_STATUS status = FT_OK;
    if (!s.detached.count(key) && lib().libusb_kernel_driver_active(probe, 0) == 1) {
        const int detach = lib().libusb_detach_kernel_driver(probe, 0);
        if (detach == 0) {
            s.detached.insert(key);
        } else if (detach != LIBUSB_ERROR_NOT_FOUND) {
            setProblem(key, Problem::Busy);
            status = FT_DEVICE_NOT_OPENED;
        }
    }
    // Without a kernel driver a failing claim below means another program
    // holds the interface.
    lib().libusb_close(probe);
    return status;
}

// After a refused claim: if a kernel driver took the device back meanwhile,
// it is detached afresh at the next open. A handle of our own holding the
// device is no other program's doing.
void claimRefused(libusb_device *dev, const DeviceKey &key)
{
    const bool ours = std::any_of(g_openDevices.begin(), g_openDevices.end(),
                                  [&](const OpenDevice *d) { return d->key == key; });
    if (ours)
        return;
    setProblem(key, Problem::Busy);
    libusb_device_handle *probe = nullptr;
    if (state().detached.count(key) && lib().libusb_open(dev, &probe) == 0) {
        if (lib().libusb_kernel_driver_active(probe, 0) == 1)
            state().detached.erase(key);
        lib().libusb_close(probe);
    }
}

FT_STATUS openAt(const DeviceKey &key, FT_HANDLE *pHandle)
{
    FtdiContextPtr ctx(lib().ftdi_new()); // a context of its own; fails when libusb cannot start
    if (!ctx)
        return FT_IO_ERROR;
    // The kernel driver is handled by prepareForClaim and given back at the
    // end of the run, not at every close.
    ctx->module_detach_mode = DONT_DETACH_SIO_MODULE;
    libusb_device **list = nullptr;
    const ssize_t count = lib().libusb_get_device_list(ctx->usb_ctx, &list);
    if (count < 0)
        return FT_IO_ERROR;
    libusb_device *dev = nullptr;
    for (ssize_t i = 0; i < count && !dev; ++i)
        if (keyOf(list[i]) == key)
            dev = list[i];
    FT_STATUS status = dev ? prepareForClaim(dev, key) : FT_DEVICE_NOT_FOUND;
    int rc = 0;
    if (status == FT_OK) {
        rc = lib().ftdi_usb_open_dev(ctx.get(), dev); // holds its own reference to dev
        if (rc == -5 || rc == -8)
            claimRefused(dev, key);
    }
    lib().libusb_free_device_list(list, 1);
    if (status != FT_OK)
        return status;
    switch (rc) {
    case 0:
        break;
    case -5: // the interface could not be claimed: someone else has it
    case -8:
        return FT_DEVICE_NOT_OPENED;
    case -4: // libusb_open failed this time
        return FT_DEVICE_NOT_OPENED;
    default: // reset, baud rate, descriptors, configuration
        return FT_IO_ERROR;
    }
    setProblem(key, Problem::None);

    auto device = std::make_unique<OpenDevice>();
    device->ctx = ctx.get();
    device->key = key;
    try {
        g_openDevices.insert(device.get());
    } catch (...) {
        lib().ftdi_usb_close(ctx.get());
        throw;
    }
    ctx.release();
    *pHandle = device.release();
    return FT_OK;
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

        // Find where the device with that serial number (or description)
        // sits; the listing answers from what it already read.
        FT_STATUS status = refreshListing();
        if (status != FT_OK)
            return status;
        const auto &devices = state().devices;
        auto match = std::find_if(devices.begin(), devices.end(), [&](const ListedDevice &d) {
            return bySerial ? d.serialStatus == FT_OK && d.serial == wanted
                            : d.descriptionStatus == FT_OK && d.description == wanted;
        });
        if (match == devices.end())
            return FT_DEVICE_NOT_FOUND;
        const DeviceKey key = match->key;
        return openAt(key, pHandle);
    });
}

void closeOpenDevice(OpenDevice *device, int *rc)
{
    g_openDevices.erase(device);
    const int result = lib().ftdi_usb_close(device->ctx); // releases the interface; ftdi_sio stays off
    lib().ftdi_free(device->ctx);
    delete device;
    if (rc)
        *rc = result;
}

FT_STATUS D2XX_CALL closeDevice(FT_HANDLE handle)
{
    return onOpenDevice(handle, [&](OpenDevice *device) -> FT_STATUS {
        int rc = 0;
        closeOpenDevice(device, &rc);
        return rc == 0 ? FT_OK : FT_IO_ERROR;
    });
}

std::vector<D2xxLinkProblem> linkProblems()
{
    std::vector<D2xxLinkProblem> out;
    for (const ListedDevice &d : state().devices) {
        if (d.problem == Problem::NoAccess)
            out.push_back({D2xxLinkProblemKind::NoAccess, d.product});
        else if (d.problem == Problem::Busy)
            out.push_back({D2xxLinkProblemKind::Busy, d.product});
    }
    return out;
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
            int rc = lib().ftdi_read_data(device->ctx, buffer + got, want);
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
        int rc = lib().ftdi_write_data(device->ctx, static_cast<const unsigned char *>(lpBuffer),
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
        switch (lib().ftdi_set_baudrate(device->ctx, static_cast<int>(baudRate))) {
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
        switch (lib().ftdi_set_line_property(device->ctx, bits, stop, par)) {
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
            int rc = lib().ftdi_read_data(device->ctx, chunk.data(), static_cast<int>(chunk.size()));
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
    api.LinkProblems = &linkProblems;
    return api;
}();

} // namespace

const D2xxApi *loadLibftdiApi(std::string &error)
{
    return loadLibftdiLibrary(error) ? &kLibftdiApi : nullptr;
}

const D2xxApi &libftdiApi()
{
    std::string error;
    if (const D2xxApi *api = loadLibftdiApi(error))
        return *api;
    std::fprintf(stderr, "tintrava: %s\n", error.c_str());
    return noDriverApi();
}

void setListingContextPolicy(ListingContextPolicy policy)
{
    g_policy = policy;
    ListingState &s = state();
    if (s.ctx) { // the next listing starts under the new policy
        lib().libusb_exit(s.ctx);
        s.ctx = nullptr;
    }
}

int listingContextsCreated()
{
    return state().contextsCreated;
}

void libftdiEndOfRun() noexcept
{
    if (!loadedLibftdiLibrary())
        return; // nothing was ever opened or listed
    try {
        while (!g_openDevices.empty())
            closeOpenDevice(*g_openDevices.begin(), nullptr);
        ListingState &s = state();
        if (!s.detached.empty()) {
            libusb_context *ctx = nullptr;
            if (lib().libusb_init(&ctx) == 0) {
                libusb_device **list = nullptr;
                const ssize_t count = lib().libusb_get_device_list(ctx, &list);
                for (ssize_t i = 0; i < count; ++i) {
                    if (!s.detached.count(keyOf(list[i])))
                        continue;
                    libusb_device_handle *handle = nullptr;
                    if (lib().libusb_open(list[i], &handle) == 0) {
                        lib().libusb_attach_kernel_driver(handle, 0); // nothing more to do if it fails
                        lib().libusb_close(handle);
                    }
                }
                if (count >= 0)
                    lib().libusb_free_device_list(list, 1);
                lib().libusb_exit(ctx);
            }
            s.detached.clear();
        }
        s.devices.clear();
        s.listed = false;
        if (s.ctx) {
            lib().libusb_exit(s.ctx);
            s.ctx = nullptr;
        }
    } catch (...) {
        // The program is ending; a device left without its driver is all that is lost.
    }
}

} // namespace tintrava

#endif // TINTRAVA_HAVE_LIBFTDI1
