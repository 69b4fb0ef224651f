#include "lamp/d2xx/driver_loader.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tintrava {

namespace {

#if defined(_WIN32)
using LibraryHandle = HMODULE;

LibraryHandle openLibrary(const std::string &path, std::string &error)
{
    LibraryHandle library = LoadLibraryA(path.c_str());
    if (!library)
        error = "l\u00E4sst sich nicht laden (Windows-Fehler " + std::to_string(GetLastError()) + ")";
    return library;
}

void *findSymbol(LibraryHandle library, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(library, name));
}

void closeLibrary(LibraryHandle library)
{
    FreeLibrary(library);
}
#else
using LibraryHandle = void *;

LibraryHandle openLibrary(const std::string &path, std::string &error)
{
    // RTLD_LOCAL: the library's FT_* names must not stand in for anyone else's.
    LibraryHandle library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char *reason = dlerror();
        error = std::string("l\u00E4sst sich nicht laden (") + (reason ? reason : "Grund unbekannt") + ")";
    }
    return library;
}

void *findSymbol(LibraryHandle library, const char *name)
{
    dlerror();
    return dlsym(library, name);
}

void closeLibrary(LibraryHandle library)
{
    dlclose(library);
}
#endif

template <typename Function>
bool bind(LibraryHandle library, const char *name, Function &slot, std::string &missing)
{
    void *symbol = findSymbol(library, name);
    if (!symbol) {
        if (!missing.empty())
            missing += ", ";
        missing += name;
        return false;
    }
    slot = reinterpret_cast<Function>(symbol);
    return true;
}

FT_STATUS D2XX_CALL noListDevices(void *, void *, DWORD)
{
    return FT_DEVICE_NOT_FOUND;
}

FT_STATUS D2XX_CALL noOpenEx(void *, DWORD, FT_HANDLE *)
{
    return FT_DEVICE_NOT_FOUND;
}

FT_STATUS D2XX_CALL noClose(FT_HANDLE)
{
    return FT_INVALID_HANDLE;
}

FT_STATUS D2XX_CALL noRead(FT_HANDLE, void *, DWORD, DWORD *)
{
    return FT_INVALID_HANDLE;
}

FT_STATUS D2XX_CALL noWrite(FT_HANDLE, void *, DWORD, DWORD *)
{
    return FT_INVALID_HANDLE;
}

FT_STATUS D2XX_CALL noSetBaudRate(FT_HANDLE, ULONG)
{
    return FT_INVALID_HANDLE;
}

FT_STATUS D2XX_CALL noSetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR)
{
    return FT_INVALID_HANDLE;
}

FT_STATUS D2XX_CALL noSetTimeouts(FT_HANDLE, ULONG, ULONG)
{
    return FT_INVALID_HANDLE;
}

FT_STATUS D2XX_CALL noGetQueueStatus(FT_HANDLE, DWORD *)
{
    return FT_INVALID_HANDLE;
}

D2xxApi makeNoDriverApi()
{
    D2xxApi api;
    api.ListDevices = noListDevices;
    api.OpenEx = noOpenEx;
    api.Close = noClose;
    api.Read = noRead;
    api.Write = noWrite;
    api.SetBaudRate = noSetBaudRate;
    api.SetDataCharacteristics = noSetDataCharacteristics;
    api.SetTimeouts = noSetTimeouts;
    api.GetQueueStatus = noGetQueueStatus;
    return api;
}

} // namespace

const char *ftdiLibraryName()
{
#if defined(_WIN32)
    return "ftd2xx.dll";
#elif defined(__APPLE__)
    return "libftd2xx.dylib";
#else
    return "libftd2xx.so";
#endif
}

bool loadD2xxLibrary(const std::string &path, D2xxApi &out, std::string &error)
{
    // An empty name would give the running program itself on POSIX systems.
    if (path.empty()) {
        error = "keine Bibliotheksdatei angegeben";
        return false;
    }
    std::string reason;
    LibraryHandle library = openLibrary(path, reason);
    if (!library) {
        error = path + ": " + reason;
        return false;
    }
    D2xxApi api;
    std::string missing;
    bool complete = true;
    complete &= bind(library, "FT_ListDevices", api.ListDevices, missing);
    complete &= bind(library, "FT_OpenEx", api.OpenEx, missing);
    complete &= bind(library, "FT_Close", api.Close, missing);
    complete &= bind(library, "FT_Read", api.Read, missing);
    complete &= bind(library, "FT_Write", api.Write, missing);
    complete &= bind(library, "FT_SetBaudRate", api.SetBaudRate, missing);
    complete &= bind(library, "FT_SetDataCharacteristics", api.SetDataCharacteristics, missing);
    complete &= bind(library, "FT_SetTimeouts", api.SetTimeouts, missing);
    complete &= bind(library, "FT_GetQueueStatus", api.GetQueueStatus, missing);
    if (!complete) {
        closeLibrary(library);
        error = path + ": es fehlt die D2XX-Funktion " + missing;
        return false;
    }
    // The library stays loaded: the table points into it for the rest of the run.
    out = api;
    error.clear();
    return true;
}

const D2xxApi &noDriverApi()
{
    static const D2xxApi api = makeNoDriverApi();
    return api;
}

D2xxApi chooseDriver(const BuiltinDriver &builtin, std::string &warning)
{
    warning.clear();
    D2xxApi api;
    std::string error;
    const char *named = std::getenv(D2xxLibraryVariable);
    if (named && *named) {
        if (loadD2xxLibrary(named, api, error))
            return api;
        // The user asked for this library: falling back to another driver
        // would drive other hardware behind their back.
        warning = std::string(D2xxLibraryVariable) + ": " + error + "; es wird kein Lampentreiber verwendet";
        return noDriverApi();
    }
    if (loadD2xxLibrary(ftdiLibraryName(), api, error))
        return api;
    if (builtin) {
        if (const D2xxApi *table = builtin(error))
            return *table;
        warning = error + "; es wird kein Lampentreiber verwendet";
    }
    return noDriverApi();
}

} // namespace tintrava
