#pragma once
// The device layer: one module of free functions and module-level variables
// over the D2XX driver calls. Callers put settings and data into the variables
// and buffers, then call an operation; each operation makes exactly one driver
// call and returns the driver's status (read and write: the bytes moved).
// Nothing here shows anything to the user or throws.
//
// The driver itself is a table of function pointers (D2xxApi) chosen once
// (see driver_loader.h) and handed in with setDriver(), or chosen by the first
// operation that needs it after setDriverChooser(). Until then, and for any
// entry the table lacks, an operation fails with FT_OTHER_ERROR (or moves 0
// bytes) without calling anything.
//
// One thread at a time: one handle, one pair of buffers. Only the choice of
// the driver is safe from any thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lamp/d2xx/d2xx_api.h"

namespace D2XXUnit {

constexpr std::size_t BufferSize = 65536;      // InBuffer / OutBuffer
constexpr std::size_t SerialTextLimit = 16;    // serial number buffer handed to the driver
constexpr std::size_t DescriptionTextLimit = 64; // description buffer handed to the driver
constexpr std::size_t SerialToOpenSize = 50;   // at most 49 characters plus NUL

extern FT_HANDLE DeviceHandle;                 // the open device; null when none
extern unsigned char InBuffer[BufferSize];     // filled by ReadFTDevice
extern unsigned char OutBuffer[BufferSize];    // read by WriteFTDevice
extern std::uint32_t BaudRate;                 // for SetFTBaudRate
extern std::uint8_t WordLength;                // for SetFTDataCharacteristics (8 = 8 bits)
extern std::uint8_t StopBits;                  //   (0 = one, 2 = two stop bits)
extern std::uint8_t Parity;                    //   (0 = none)
extern std::uint32_t DeviceCount;              // written by the driver in GetFTDeviceCount
extern std::string DeviceText;                 // last successfully read serial or description
extern char SerialToOpen[SerialToOpenSize];    // NUL-terminated serial for the open
extern std::uint32_t QueueCount;               // receive-queue bytes from GetFTQueueStatus

// FT_ListDevices(&DeviceCount, nullptr, FT_LIST_NUMBER_ONLY). DeviceCount holds
// whatever the driver left there, also after a failure.
FT_STATUS GetFTDeviceCount();
// FT_ListDevices(index, 16-byte buffer, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER).
// On success DeviceText := the text up to the first NUL, at most 16 characters;
// on failure DeviceText is unchanged.
FT_STATUS GetFTDeviceSerialNo(DWORD index);
// As above with a 64-byte buffer and FT_OPEN_BY_DESCRIPTION, at most 64 characters.
FT_STATUS GetFTDeviceDescription(DWORD index);
// Copies at most 49 characters of serial into SerialToOpen (NUL-terminated),
// then FT_OpenEx(SerialToOpen, FT_OPEN_BY_SERIAL_NUMBER, &DeviceHandle).
// After a failure DeviceHandle is null.
FT_STATUS Open_USB_Device_By_Serial_Number(const std::string &serial);
// FT_Close(DeviceHandle); DeviceHandle is null afterwards when the close succeeded.
FT_STATUS CloseFTDevice();
// FT_Read(DeviceHandle, InBuffer, count, &returned): bytes now valid in InBuffer.
// count is clamped to BufferSize; a failed read gives 0, and the result never
// exceeds the (clamped) count.
DWORD ReadFTDevice(DWORD count);
// FT_Write(DeviceHandle, OutBuffer, count, &written): bytes written, same rules.
DWORD WriteFTDevice(DWORD count);
// FT_SetBaudRate(DeviceHandle, BaudRate).
FT_STATUS SetFTBaudRate();
// FT_SetDataCharacteristics(DeviceHandle, WordLength, StopBits, Parity).
FT_STATUS SetFTDataCharacteristics();
// FT_SetTimeouts(DeviceHandle, readMs, writeMs).
FT_STATUS SetFTTimeouts(ULONG readMs, ULONG writeMs);
// FT_GetQueueStatus(DeviceHandle, &QueueCount).
FT_STATUS GetFTQueueStatus();

// The driver's word on devices it sees but cannot reach (see D2xxLinkProblem);
// empty when there are none or the driver cannot tell. Not a D2XX call: the
// built-in binding answers it, other drivers simply have nothing to say.
std::vector<D2xxLinkProblem> GetLinkProblems();

// The driver table every operation calls through (copied).
void setDriver(const D2xxApi &api);
// Leaves the choice to the first operation that calls the driver (or to
// driver()): choose runs then, once, whichever thread gets there first, and
// what it returns is the driver from then on. Loading a driver library costs
// time and memory a start that never looks for a lamp need not pay.
void setDriverChooser(std::function<D2xxApi()> choose);
const D2xxApi &driver();

// Back to the start-of-run state: every variable above zero or empty, the
// buffers cleared. The driver table is kept.
void resetForTests();

} // namespace D2XXUnit
