#pragma once
// libftdi1 and libusb, loaded with dlopen when the built-in binding is first
// chosen rather than by the dynamic linker at every start: a window that
// drives a lamp through FTDI's library, or through none, never loads them.
//
// Only built where libftdi1 was found (TINTRAVA_HAVE_LIBFTDI1).
#if defined(TINTRAVA_HAVE_LIBFTDI1)

#include <ftdi.h>
#include <libusb.h>

#include <string>

namespace tintrava {

// The functions the binding calls, with the libraries' own declarations.
struct LibftdiLibrary {
#define TINTRAVA_LIBFTDI_FUNCTIONS(X)                                                                                  \
    X(ftdi_new)                                                                                                        \
    X(ftdi_free)                                                                                                       \
    X(ftdi_usb_open_dev)                                                                                               \
    X(ftdi_usb_close)                                                                                                  \
    X(ftdi_read_data)                                                                                                  \
    X(ftdi_write_data)                                                                                                 \
    X(ftdi_set_baudrate)                                                                                               \
    X(ftdi_set_line_property)                                                                                          \
    X(libusb_init)                                                                                                     \
    X(libusb_exit)                                                                                                     \
    X(libusb_get_device_list)                                                                                          \
    X(libusb_free_device_list)                                                                                         \
    X(libusb_get_device_descriptor)                                                                                    \
    X(libusb_get_bus_number)                                                                                           \
    X(libusb_get_device_address)                                                                                       \
    X(libusb_get_port_numbers)                                                                                         \
    X(libusb_open)                                                                                                     \
    X(libusb_close)                                                                                                    \
    X(libusb_control_transfer)                                                                                         \
    X(libusb_kernel_driver_active)                                                                                     \
    X(libusb_detach_kernel_driver)                                                                                     \
    X(libusb_attach_kernel_driver)                                                                                     \
    X(libusb_claim_interface)                                                                                          \
    X(libusb_release_interface)
#define TINTRAVA_LIBFTDI_MEMBER(name) decltype(&::name) name = nullptr;
    TINTRAVA_LIBFTDI_FUNCTIONS(TINTRAVA_LIBFTDI_MEMBER)
#undef TINTRAVA_LIBFTDI_MEMBER
};

// Loads both libraries once (thread-safe) and keeps them for the run. Null
// when either cannot be loaded or lacks a function; `error` then says why in
// one line. Later calls give the same answer without trying again.
const LibftdiLibrary *loadLibftdiLibrary(std::string &error);

// The table once loaded, else null; never loads.
const LibftdiLibrary *loadedLibftdiLibrary();

} // namespace tintrava

#endif
