#include "lamp/d2xx/d2xx_unit.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace D2XXUnit {

FT_HANDLE DeviceHandle = nullptr;
unsigned char InBuffer[BufferSize] = {};
unsigned char OutBuffer[BufferSize] = {};
std::uint32_t BaudRate = 0;
std::uint8_t WordLength = 0;
std::uint8_t StopBits = 0;
std::uint8_t Parity = 0;
std::uint32_t DeviceCount = 0;
std::string DeviceText;
char SerialToOpen[SerialToOpenSize] = {};
std::uint32_t QueueCount = 0;

namespace {

D2xxApi chosenDriver; // empty until setDriver or the chooser: every operation fails

// A chooser waiting for the first operation. The flag is read without the
// lock on every call; once it is false the table no longer changes (but for
// setDriver, which is not called while operations run).
std::mutex chooserMutex;
std::function<D2xxApi()> pendingChooser;
std::atomic<bool> choicePending{false};

const D2xxApi &current()
{
    if (choicePending.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(chooserMutex);
        if (pendingChooser) {
            std::function<D2xxApi()> choose = std::move(pendingChooser);
            pendingChooser = nullptr;
            chosenDriver = choose();
        }
        choicePending.store(false, std::memory_order_release);
    }
    return chosenDriver;
}

// The driver is told nothing about the buffer size; it relies on the 16/64-byte
// convention. Extra zeroed room behind the part we read keeps a driver that
// writes a longer text from running over the stack.
constexpr std::size_t ListingBufferRoom = 256;

FT_STATUS listText(DWORD index, DWORD what, std::size_t limit)
{
    if (!current().ListDevices)
        return FT_OTHER_ERROR;
    char buffer[ListingBufferRoom] = {};
    void *indexArg = reinterpret_cast<void *>(static_cast<std::uintptr_t>(index));
    const FT_STATUS status = current().ListDevices(indexArg, buffer, FT_LIST_BY_INDEX | what);
    if (status == FT_OK)
        DeviceText.assign(buffer, strnlen(buffer, limit));
    return status;
}

} // namespace

FT_STATUS GetFTDeviceCount()
{
    if (!current().ListDevices)
        return FT_OTHER_ERROR;
    return current().ListDevices(&DeviceCount, nullptr, FT_LIST_NUMBER_ONLY);
}

FT_STATUS GetFTDeviceSerialNo(DWORD index)
{
    return listText(index, FT_OPEN_BY_SERIAL_NUMBER, SerialTextLimit);
}

FT_STATUS GetFTDeviceDescription(DWORD index)
{
    return listText(index, FT_OPEN_BY_DESCRIPTION, DescriptionTextLimit);
}

FT_STATUS Open_USB_Device_By_Serial_Number(const std::string &serial)
{
    const std::size_t length = std::min(serial.size(), SerialToOpenSize - 1);
    std::memcpy(SerialToOpen, serial.data(), length);
    SerialToOpen[length] = '\0';
    if (!current().OpenEx) {
        DeviceHandle = nullptr;
        return FT_OTHER_ERROR;
    }
    const FT_STATUS status = current().OpenEx(SerialToOpen, FT_OPEN_BY_SERIAL_NUMBER, &DeviceHandle);
    // Whatever a failing driver left in the handle must not be mistaken for an open device.
    if (status != FT_OK)
        DeviceHandle = nullptr;
    return status;
}

FT_STATUS CloseFTDevice()
{
    if (!current().Close)
        return FT_OTHER_ERROR;
    const FT_STATUS status = current().Close(DeviceHandle);
    if (status == FT_OK)
        DeviceHandle = nullptr; // a closed handle is never passed to the driver again
    return status;
}

DWORD ReadFTDevice(DWORD count)
{
    count = static_cast<DWORD>(std::min<std::size_t>(count, BufferSize));
    if (!current().Read)
        return 0;
    DWORD returned = 0;
    const FT_STATUS status = current().Read(DeviceHandle, InBuffer, count, &returned);
    // Callers take the result as the number of valid bytes in InBuffer.
    if (status != FT_OK)
        return 0;
    return std::min(returned, count);
}

DWORD WriteFTDevice(DWORD count)
{
    count = static_cast<DWORD>(std::min<std::size_t>(count, BufferSize));
    if (!current().Write)
        return 0;
    DWORD written = 0;
    const FT_STATUS status = current().Write(DeviceHandle, OutBuffer, count, &written);
    if (status != FT_OK)
        return 0;
    return std::min(written, count);
}

FT_STATUS SetFTBaudRate()
{
    if (!current().SetBaudRate)
        return FT_OTHER_ERROR;
    return current().SetBaudRate(DeviceHandle, BaudRate);
}

FT_STATUS SetFTDataCharacteristics()
{
    if (!current().SetDataCharacteristics)
        return FT_OTHER_ERROR;
    return current().SetDataCharacteristics(DeviceHandle, WordLength, StopBits, Parity);
}

FT_STATUS SetFTTimeouts(ULONG readMs, ULONG writeMs)
{
    if (!current().SetTimeouts)
        return FT_OTHER_ERROR;
    return current().SetTimeouts(DeviceHandle, readMs, writeMs);
}

FT_STATUS GetFTQueueStatus()
{
    if (!current().GetQueueStatus)
        return FT_OTHER_ERROR;
    // DWORD is unsigned long on Windows; the variable stays 32-bit unsigned
    // everywhere, and keeps whatever the driver left, as before.
    DWORD count = QueueCount;
    const FT_STATUS status = current().GetQueueStatus(DeviceHandle, &count);
    QueueCount = count;
    return status;
}

std::vector<D2xxLinkProblem> GetLinkProblems()
{
    if (!current().LinkProblems)
        return {};
    try {
        return current().LinkProblems();
    } catch (...) {
        // A hint the driver cannot give is no failure of the lamp link.
        return {};
    }
}

void setDriver(const D2xxApi &api)
{
    std::lock_guard<std::mutex> lock(chooserMutex);
    pendingChooser = nullptr;
    choicePending.store(false, std::memory_order_release);
    chosenDriver = api;
}

void setDriverChooser(std::function<D2xxApi()> choose)
{
    std::lock_guard<std::mutex> lock(chooserMutex);
    pendingChooser = std::move(choose);
    choicePending.store(pendingChooser != nullptr, std::memory_order_release);
}

const D2xxApi &driver()
{
    return current();
}

void resetForTests()
{
    DeviceHandle = nullptr;
    std::memset(InBuffer, 0, sizeof InBuffer);
    std::memset(OutBuffer, 0, sizeof OutBuffer);
    BaudRate = 0;
    WordLength = 0;
    StopBits = 0;
    Parity = 0;
    DeviceCount = 0;
    DeviceText.clear();
    std::memset(SerialToOpen, 0, sizeof SerialToOpen);
    QueueCount = 0;
}

} // namespace D2XXUnit
