#pragma once
// Finding the D2XX driver at start: a library named by the environment, FTDI's
// own library, or the built-in binding; bound at run time so the program
// starts (and says why the lamp is unreachable) on machines without FTDI's
// library.
#include <functional>
#include <string>

#include "lamp/d2xx/d2xx_api.h"

namespace tintrava {

// The variable naming a D2XX library file to use instead of any other.
constexpr const char *D2xxLibraryVariable = "TINTRAVA_D2XX_LIBRARY";

// FTDI's library under its usual name on this platform.
const char *ftdiLibraryName();

// Loads the library file at `path` (a bare name goes through the system's
// search path) and looks up the nine functions FT_ListDevices … FT_GetQueueStatus.
// On success fills `out` and keeps the library loaded for the rest of the run.
// If the file cannot be loaded or any function is missing: returns false,
// `error` says why in one line, `out` is untouched and the library is closed.
bool loadD2xxLibrary(const std::string &path, D2xxApi &out, std::string &error);

// A driver without devices: listing fails with FT_DEVICE_NOT_FOUND, every
// call on a handle with FT_INVALID_HANDLE; nothing is written to any output.
const D2xxApi &noDriverApi();

// Picks the driver once at start:
//  1. TINTRAVA_D2XX_LIBRARY, when set and not empty: that library, or if it
//     cannot be used, noDriverApi() and a one-line `warning` naming the path
//     and the reason (for the caller to print once to stderr);
//  2. FTDI's library (ftdiLibraryName()) when it loads with all nine functions;
//  3. the built-in binding when there is one: builtin() loads it and gives
//     its table, or null and why not (then noDriverApi() and a `warning`);
//     asked only when it is the one chosen, so its libraries are loaded
//     only then;
//  4. otherwise noDriverApi().
// `warning` is cleared when there is nothing to say.
using BuiltinDriver = std::function<const D2xxApi *(std::string &error)>;
D2xxApi chooseDriver(const BuiltinDriver &builtin, std::string &warning);

} // namespace tintrava
