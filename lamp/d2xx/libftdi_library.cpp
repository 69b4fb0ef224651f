#include "lamp/d2xx/libftdi_library.h"

#if defined(TINTRAVA_HAVE_LIBFTDI1)

#include <dlfcn.h>

#include <atomic>
#include <type_traits>
#include <mutex>

namespace tintrava {
namespace {

// The sonames Debian 12 ships (libftdi1-2, libusb-1.0-0); the headers the
// table's types come from belong to these versions.
constexpr const char *LibftdiName = "libftdi1.so.2";
constexpr const char *LibusbName = "libusb-1.0.so.0";

std::once_flag g_once;
std::atomic<const LibftdiLibrary *> g_loaded{nullptr};
std::string g_error;

void *openLibrary(const char *name)
{
    void *handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *why = ::dlerror();
        g_error = std::string(name) + " konnte nicht geladen werden" + (why ? std::string(": ") + why : std::string());
    }
    return handle;
}

void load()
{
    static LibftdiLibrary library;
    // libusb first: libftdi1 needs it anyway, and its functions are looked
    // up in it by name rather than through libftdi1's dependencies.
    void *usb = openLibrary(LibusbName);
    if (!usb)
        return;
    void *ftdi = openLibrary(LibftdiName);
    if (!ftdi)
        return; // libusb stays loaded: harmless, and dlclose is not worth the risk
    bool complete = true;
    auto resolve = [&](auto &slot, void *handle, const char *libraryName, const char *symbol) {
        void *address = ::dlsym(handle, symbol);
        if (!address) {
            if (complete)
                g_error = std::string(libraryName) + " hat keine Funktion " + symbol;
            complete = false;
            return;
        }
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(address);
    };
    const auto libraryOf = [&](const char *symbol) { return symbol[0] == 'f' ? ftdi : usb; };
    const auto nameOf = [&](const char *symbol) { return symbol[0] == 'f' ? LibftdiName : LibusbName; };
#define TINTRAVA_LIBFTDI_RESOLVE(name) resolve(library.name, libraryOf(#name), nameOf(#name), #name);
    TINTRAVA_LIBFTDI_FUNCTIONS(TINTRAVA_LIBFTDI_RESOLVE)
#undef TINTRAVA_LIBFTDI_RESOLVE
    if (complete)
        g_loaded.store(&library, std::memory_order_release);
}

} // namespace

const LibftdiLibrary *loadLibftdiLibrary(std::string &error)
{
    std::call_once(g_once, load);
    const LibftdiLibrary *library = g_loaded.load(std::memory_order_acquire);
    error = library ? std::string() : g_error;
    return library;
}

const LibftdiLibrary *loadedLibftdiLibrary()
{
    return g_loaded.load(std::memory_order_acquire);
}

} // namespace tintrava

#endif
