#include "lamp/d2xx/d2xx_unit.h"

#include <algorithm>
#include <cstring>

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

D2xxApi currentDriver; // empty until setDriver: every operation fails

// The driver is told nothing about the buffer size; it relies on the 16/64-byte
// convention. Extra zeroed room behind the part we read keeps a driver that
// writes a longer text from running over the stack.
constexpr std::size_t ListingBufferRoom = 256;

FT_STATUS listText(DWORD index, DWORD what, std::size_t limit)
{
    if (!currentDriver.ListDevices)
        return FT_OTHER_ERROR;
    char buffer[ListingBufferRoom] = {};
    void *indexArg = reinterpret_cast<void *>(static_cast<std::uintptr_t>(index));
    const FT_STATUS status = currentDriver.ListDevices(indexArg, buffer, FT_LIST_BY_INDEX | what);
    if (status == FT_OK)
        DeviceText.assign(buffer, strnlen(buffer, limit));
    return status;
}

} // namespace

FT_STATUS GetFTDeviceCount()
{
    if (!currentDriver.ListDevices)
        return FT_OTHER_ERROR;
    return currentDriver.ListDevices(&DeviceCount, nullptr, FT_LIST_NUMBER_ONLY);
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
    if (!currentDriver.OpenEx) {
        DeviceHandle = nullptr;
        return FT_OTHER_ERROR;
    }
    const FT_STATUS status = currentDriver.OpenEx(SerialToOpen, FT_OPEN_BY_SERIAL_NUMBER, &DeviceHandle);
    // Whatever a failing driver left in the handle must not be mistaken for an open device.
    if (status != FT_OK)
        DeviceHandle = nullptr;
    return status;
}

FT_STATUS CloseFTDevice()
{
    if (!currentDriver.Close)
        return FT_OTHER_ERROR;
    const FT_STATUS status = currentDriver.Close(DeviceHandle);
    if (status == FT_OK)
        DeviceHandle = nullptr; // a closed handle is never passed to the driver again
    return status;
}

DWORD ReadFTDevice(DWORD count)
{
    count = static_cast<DWORD>(std::min<std::size_t>(count, BufferSize));
    if (!currentDriver.Read)
        return 0;
    DWORD returned = 0;
    const FT_STATUS status = currentDriver.Read(DeviceHandle, InBuffer, count, &returned);
    // Callers take the result as the number of valid bytes in InBuffer.
    if (status != FT_OK)
        return 0;
    return std::min(returned, count);
}

DWORD WriteFTDevice(DWORD count)
{
    count = static_cast<DWORD>(std::min<std::size_t>(count, BufferSize));
    if (!currentDriver.Write)
        return 0;
    DWORD written = 0;
    const FT_STATUS status = currentDriver.Write(DeviceHandle, OutBuffer, count, &written);
    if (status != FT_OK)
        return 0;
    return std::min(written, count);
}

FT_STATUS SetFTBaudRate()
{
    if (!currentDriver.SetBaudRate)
        return FT_OTHER_ERROR;
    return currentDriver.SetBaudRate(DeviceHandle, BaudRate);
}

FT_STATUS SetFTDataCharacteristics()
{
    if (!currentDriver.SetDataCharacteristics)
        return FT_OTHER_ERROR;
    return currentDriver.SetDataCharacteristics(DeviceHandle, WordLength, StopBits, Parity);
}

FT_STATUS SetFTTimeouts(ULONG readMs, ULONG writeMs)
{
    if (!currentDriver.SetTimeouts)
        return FT_OTHER_ERROR;
    return currentDriver.SetTimeouts(DeviceHandle, readMs, writeMs);
}

FT_STATUS GetFTQueueStatus()
{
    if (!currentDriver.GetQueueStatus)
        return FT_OTHER_ERROR;
    // DWORD is unsigned long on Windows; the variable stays 32-bit unsigned
    // everywhere, and keeps whatever the driver left, as before.
    DWORD count = QueueCount;
    const FT_STATUS status = currentDriver.GetQueueStatus(DeviceHandle, &count);
    QueueCount = count;
    return status;
}

std::vector<D2xxLinkProblem> GetLinkProblems()
{
    if (!currentDriver.LinkProblems)
        return {};
    try {
        return currentDriver.LinkProblems();
    } catch (...) {
        // A hint the driver cannot give is no failure of the lamp link.
        return {};
    }
}

void setDriver(const D2xxApi &api)
{
    currentDriver = api;
}

const D2xxApi &driver()
{
    return currentDriver;
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
