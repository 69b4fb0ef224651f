#pragma once
// The nine D2XX calls the device layer needs, implemented on libftdi1 (and
// through it libusb), so the program runs on Linux without FTDI's own library.
//
// Only built where libftdi1 was found (TINTRAVA_HAVE_LIBFTDI1).
//
// Behaviour worth knowing:
// - Every USB device with FTDI's vendor ID 0x0403 is listed, whatever its
//   product ID; lamps ship with their own product IDs.
// - FT_ListDevices(FT_LIST_NUMBER_ONLY) lists afresh; the by-index queries
//   answer from that listing. Description and serial are read once per
//   plug-in (a device is known by bus, port path and address, and the address
//   is new at every plug-in), so listing unchanged devices makes no USB
//   transfer. A string that could not be read makes its by-index query fail,
//   so a caller never mistakes stale text for the device's own.
// - One libusb context serves the listings of the whole run where udev runs
//   (libusb hears of plugging through it); each open has a context of its own.
// - FT_OpenEx accepts FT_OPEN_BY_SERIAL_NUMBER and FT_OPEN_BY_DESCRIPTION.
//   The kernel's ftdi_sio driver is detached at the first open of a device
//   and given back to every device still attached at the end of the run, so
//   its serial port does not come and go with every exchange.
// - The table's LinkProblems tells devices it may not open (no permission on
//   the node; the product string then comes from sysfs) and devices another
//   program holds from devices that are simply absent.
// - A read time-out of 0 ("wait for ever" in D2XX) is capped at 5000 ms: the
//   calls run on the user-interface thread, which must never hang.
// - Single-threaded use, like the device layer above it.
// - libftdi1 and libusb are not linked: they are loaded when the binding is
//   first asked for, so a start that never looks for a lamp through them
//   never pays for them.
#include "lamp/d2xx/d2xx_api.h"

#include <string>

#if defined(TINTRAVA_HAVE_LIBFTDI1)

namespace tintrava {

// The table of the nine functions and LinkProblems, valid for the whole run.
// libftdi1 and libusb are loaded at the first call (libftdi_library.h); when
// they cannot be, null and `error` says why.
const D2xxApi *loadLibftdiApi(std::string &error);
// The same for tests and tools: without the libraries, it says why on stderr
// and gives the driver without devices.
const D2xxApi &libftdiApi();

// Whether listings share one libusb context. Automatic keeps it when udev
// runs (/run/udev/control); where it does not, nobody would tell libusb about
// plugging, so every listing builds a fresh context. Tests and benchmarks
// whose emulated devices announce themselves like udev does pick KeepForRun.
enum class ListingContextPolicy { Automatic, KeepForRun, RenewEachListing };
void setListingContextPolicy(ListingContextPolicy policy);
// Listing contexts built so far in this run.
int listingContextsCreated();

// Closes whatever is still open and gives the kernel's serial driver back to
// every device it was taken from; forgets what was listed. Registered with
// atexit at the first use of the binding; may be called earlier.
void libftdiEndOfRun() noexcept;

} // namespace tintrava

#endif
