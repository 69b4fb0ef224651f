#pragma once
// The nine D2XX calls the device layer needs, implemented on libftdi1 (and
// through it libusb), so the program runs on Linux without FTDI's own library.
//
// Only built where libftdi1 was found (TINTRAVA_HAVE_LIBFTDI1).
//
// Behaviour worth knowing:
// - Every USB device with FTDI's vendor ID 0x0403 is listed, whatever its
//   product ID; lamps ship with their own product IDs.
// - FT_ListDevices(FT_LIST_NUMBER_ONLY) enumerates afresh and reads each
//   device's description and serial number once; the by-index queries answer
//   from that snapshot. A string that could not be read makes its by-index
//   query fail, so a caller never mistakes stale text for the device's own.
// - FT_OpenEx accepts FT_OPEN_BY_SERIAL_NUMBER and FT_OPEN_BY_DESCRIPTION.
//   The kernel's ftdi_sio driver is detached while the device is open and
//   attached again by FT_Close.
// - A read time-out of 0 ("wait for ever" in D2XX) is capped at 5000 ms: the
//   calls run on the user-interface thread, which must never hang.
// - Single-threaded use, like the device layer above it.
#include "lamp/d2xx/d2xx_api.h"

#if defined(TINTRAVA_HAVE_LIBFTDI1)

namespace tintrava {

// The table of the nine functions; valid for the whole run.
const D2xxApi &libftdiApi();

} // namespace tintrava

#endif
