// Measures discovery passes through the built-in libftdi1 binding against N
// FTDI chips emulated at the USB level: control transfers and CPU per pass.
// For benchmarks, not a test. Run under umockdev-wrapper:
//
//   umockdev-wrapper build/tests/hw/usb_discovery_probe --devices 16 --passes 100
//
// Prints one line of key=value pairs:
//   devices=16 passes=100 policy=keep first_pass_transfers=48
//   transfers_per_pass=0 process_cpu_us_per_pass=… thread_cpu_us_per_pass=…
//   wall_us_per_pass=… listing_contexts=1 lamp_found=1
// The first pass reads every new device's strings; the passes counted after
// it are those of unchanged devices. --replug K replugs K devices before the
// counted passes (their strings are read again once). --policy renew builds a
// libusb context per pass, as happens where udev does not run.
#include "ftdi_usb_emulator.h"

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/d2xx/libftdi_binding.h"
#include "lamp/discovery.h"
#include "lamp/lampstate.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

using tintrava::test::EmulatedChipSpec;
using tintrava::test::FtdiUsbEmulator;

namespace {

double clockUs(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) / 1e3;
}

int usage()
{
    std::fprintf(stderr, "usage: usb_discovery_probe [--devices N] [--passes P] [--replug K] "
                         "[--policy keep|renew|automatic]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    int devices = 1;
    int passes = 100;
    int replug = 0;
    std::string policy = "keep";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        const char *value = argv[++i];
        if (arg == "--devices")
            devices = std::atoi(value);
        else if (arg == "--passes")
            passes = std::atoi(value);
        else if (arg == "--replug")
            replug = std::atoi(value);
        else if (arg == "--policy")
            policy = value;
        else
            return usage();
    }
    if (devices < 0 || devices > 100 || passes < 1 || replug < 0 || replug > devices)
        return usage();
    if (!FtdiUsbEmulator::inMockEnvironment()) {
        std::fprintf(stderr, "usb_discovery_probe: run under umockdev-wrapper\n");
        return 2;
    }
    if (policy == "keep")
        tintrava::setListingContextPolicy(tintrava::ListingContextPolicy::KeepForRun);
    else if (policy == "renew")
        tintrava::setListingContextPolicy(tintrava::ListingContextPolicy::RenewEachListing);
    else if (policy == "automatic")
        tintrava::setListingContextPolicy(tintrava::ListingContextPolicy::Automatic);
    else
        return usage();

    try {
        FtdiUsbEmulator usb;
        EmulatedChipSpec spec;
        spec.productId = 0x6001;
        spec.product = "Sela-Lumen";
        spec.serial = "BENCH";
        auto chips = usb.plugMany(devices, spec);
        D2XXUnit::setDriver(tintrava::libftdiApi());
        tintrava::LampState lamp;

        int before = usb.controlTransfers();
        tintrava::getusbdev(lamp);
        const int firstPass = usb.controlTransfers() - before;
        for (int i = 0; i < replug; ++i)
            chips[std::size_t(i)] = &usb.replug(*chips[std::size_t(i)]);

        before = usb.controlTransfers();
        const double wall0 = clockUs(CLOCK_MONOTONIC);
        const double process0 = clockUs(CLOCK_PROCESS_CPUTIME_ID);
        const double thread0 = clockUs(CLOCK_THREAD_CPUTIME_ID);
        bool found = true;
        for (int i = 0; i < passes; ++i)
            found = tintrava::getusbdev(lamp) && found;
        const double thread = clockUs(CLOCK_THREAD_CPUTIME_ID) - thread0;
        const double process = clockUs(CLOCK_PROCESS_CPUTIME_ID) - process0;
        const double wall = clockUs(CLOCK_MONOTONIC) - wall0;
        const int transfers = usb.controlTransfers() - before;

        std::printf("devices=%d passes=%d policy=%s replugged=%d first_pass_transfers=%d "
                    "transfers=%d transfers_per_pass=%.2f process_cpu_us_per_pass=%.1f "
                    "thread_cpu_us_per_pass=%.1f wall_us_per_pass=%.1f listing_contexts=%d lamp_found=%d\n",
                    devices, passes, policy.c_str(), replug, firstPass, transfers, double(transfers) / passes,
                    process / passes, thread / passes, wall / passes, tintrava::listingContextsCreated(),
                    devices == 0 ? 0 : int(found));
        tintrava::libftdiEndOfRun();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "usb_discovery_probe: %s\n", e.what());
        return 1;
    }
    return 0;
}
