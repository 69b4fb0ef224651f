// A D2XX library that lacks FT_SetTimeouts, for the loader's tests: a library
// missing any one of the nine functions must be refused as a whole.
#include "lamp/d2xx/d2xx_api.h"

#if defined(_WIN32)
#define VL_EXPORT __declspec(dllexport)
#else
#define VL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

VL_EXPORT FT_STATUS D2XX_CALL FT_ListDevices(void *, void *, DWORD) { return FT_DEVICE_NOT_FOUND; }
VL_EXPORT FT_STATUS D2XX_CALL FT_OpenEx(void *, DWORD, FT_HANDLE *) { return FT_DEVICE_NOT_FOUND; }
VL_EXPORT FT_STATUS D2XX_CALL FT_Close(FT_HANDLE) { return FT_INVALID_HANDLE; }
VL_EXPORT FT_STATUS D2XX_CALL FT_Read(FT_HANDLE, void *, DWORD, DWORD *) { return FT_INVALID_HANDLE; }
VL_EXPORT FT_STATUS D2XX_CALL FT_Write(FT_HANDLE, void *, DWORD, DWORD *) { return FT_INVALID_HANDLE; }
VL_EXPORT FT_STATUS D2XX_CALL FT_SetBaudRate(FT_HANDLE, ULONG) { return FT_INVALID_HANDLE; }
VL_EXPORT FT_STATUS D2XX_CALL FT_SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) { return FT_INVALID_HANDLE; }
VL_EXPORT FT_STATUS D2XX_CALL FT_GetQueueStatus(FT_HANDLE, DWORD *) { return FT_INVALID_HANDLE; }

} // extern "C"
