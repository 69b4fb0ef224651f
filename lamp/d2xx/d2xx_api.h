#pragma once
// The part of FTDI's D2XX C interface this program uses, declared from FTDI's
// public API documentation. Every driver binding (FTDI's own library loaded at
// run time, the built-in libftdi1 binding, the virtual lamp, a test's fake)
// fills one D2xxApi table; nothing above the device layer knows which one.
#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
// FTDI's header takes DWORD, ULONG and UCHAR from <windows.h> (DWORD and ULONG
// are unsigned long there, 32 bits wide) and declares every call WINAPI.
// Our own typedefs would clash with the ones any other Windows header brings.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#define D2XX_CALL WINAPI
#else
#define D2XX_CALL
#endif

extern "C" {

typedef void *FT_HANDLE;
#if defined(_WIN32)
typedef ULONG FT_STATUS;
#else
typedef std::uint32_t FT_STATUS; // ULONG in FTDI's headers; the value fits 32 bits
typedef std::uint32_t DWORD;
typedef std::uint32_t ULONG;
typedef unsigned char UCHAR;
#endif

static_assert(sizeof(DWORD) == 4 && sizeof(ULONG) == 4 && sizeof(FT_STATUS) == 4,
              "the D2XX interface passes 32-bit values");

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_OTHER_ERROR = 18,
};

constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr DWORD FT_LIST_BY_INDEX = 0x40000000u;
constexpr DWORD FT_LIST_ALL = 0x20000000u;
constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;

constexpr UCHAR FT_BITS_8 = 8;
constexpr UCHAR FT_BITS_7 = 7;
constexpr UCHAR FT_STOP_BITS_1 = 0;
constexpr UCHAR FT_STOP_BITS_2 = 2;
constexpr UCHAR FT_PARITY_NONE = 0;

typedef FT_STATUS(D2XX_CALL *FT_ListDevices_t)(void *pArg1, void *pArg2, DWORD Flags);
typedef FT_STATUS(D2XX_CALL *FT_OpenEx_t)(void *pArg1, DWORD Flags, FT_HANDLE *pHandle);
typedef FT_STATUS(D2XX_CALL *FT_Close_t)(FT_HANDLE ftHandle);
typedef FT_STATUS(D2XX_CALL *FT_Read_t)(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToRead,
                                        DWORD *lpBytesReturned);
typedef FT_STATUS(D2XX_CALL *FT_Write_t)(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToWrite,
                                         DWORD *lpBytesWritten);
typedef FT_STATUS(D2XX_CALL *FT_SetBaudRate_t)(FT_HANDLE ftHandle, ULONG BaudRate);
typedef FT_STATUS(D2XX_CALL *FT_SetDataCharacteristics_t)(FT_HANDLE ftHandle, UCHAR WordLength,
                                                          UCHAR StopBits, UCHAR Parity);
typedef FT_STATUS(D2XX_CALL *FT_SetTimeouts_t)(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout);
typedef FT_STATUS(D2XX_CALL *FT_GetQueueStatus_t)(FT_HANDLE ftHandle, DWORD *dwRxBytes);

} // extern "C"

// Why the driver sees a device but cannot use it. Only some drivers can tell;
// the others leave D2xxApi::LinkProblems empty.
enum class D2xxLinkProblemKind {
    NoAccess, // the user may not open the device (no permission on its node)
    Busy,     // another program holds it, or its kernel driver would not let go
};

struct D2xxLinkProblem {
    D2xxLinkProblemKind kind;
    std::string product; // the device's product string, also when unreadable over USB
};

typedef std::vector<D2xxLinkProblem> (*D2xxLinkProblems_t)();

// The nine driver functions the device layer calls, and the optional query above.
struct D2xxApi {
    FT_ListDevices_t ListDevices = nullptr;
    FT_OpenEx_t OpenEx = nullptr;
    FT_Close_t Close = nullptr;
    FT_Read_t Read = nullptr;
    FT_Write_t Write = nullptr;
    FT_SetBaudRate_t SetBaudRate = nullptr;
    FT_SetDataCharacteristics_t SetDataCharacteristics = nullptr;
    FT_SetTimeouts_t SetTimeouts = nullptr;
    FT_GetQueueStatus_t GetQueueStatus = nullptr;
    // Devices the latest listing or open could not reach, and why; may be null.
    D2xxLinkProblems_t LinkProblems = nullptr;
};
