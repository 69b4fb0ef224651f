// One discovery pass (the discovery timer's work: list the devices, match the
// lamp) through the built-in libftdi binding against 1, 4 and 16 FT232R chips
// emulated at the USB level. Run under umockdev-wrapper (scripts/bench does).
//     tintrava-bench-discovery PASSES udev|no-udev
// "udev" keeps one listing context for the run, as the binding does on a
// desktop where udev runs (the emulator announces plugging like udev);
// "no-udev" builds a fresh one for every pass, as it does without udev.
// Prints one line per pass for scripts/bench:
//     pass mode=M devices=N cpu_ms=… wall_ms=… string_requests=… control_transfers=… found=0|1
// string_requests counts the GET_DESCRIPTOR requests for strings 1-3 that
// reached the chips during the pass, all chips together; control_transfers
// every control transfer they received, or -1 where the emulator does not
// count them.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "ftdi_usb_emulator.h"
#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/d2xx/libftdi_binding.h"
#include "lamp/discovery.h"

using tintrava::test::EmulatedChipSpec;
using tintrava::test::EmulatedFt232r;
using tintrava::test::FtdiUsbEmulator;

namespace {

double clockMs(clockid_t clock)
{
    timespec ts {};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

int stringRequests(const std::vector<EmulatedFt232r *> &chips)
{
    int sum = 0;
    for (const EmulatedFt232r *chip : chips)
        sum += chip->stringDescriptorRequests();
    return sum;
}

// Every control transfer the chips received so far, where the emulator
// counts them; -1 otherwise.
template <typename Usb>
int controlTransfers(const Usb &usb)
{
    if constexpr (requires(const Usb &u) { u.controlTransfers(); })
        return usb.controlTransfers();
    else
        return -1;
}

} // namespace

int main(int argc, char **argv)
{
    const int passes = argc > 1 ? std::atoi(argv[1]) : 20;
    const std::string mode = argc > 2 ? argv[2] : "udev";
    if (mode != "udev" && mode != "no-udev") {
        std::fprintf(stderr, "bench_discovery: mode is udev or no-udev, not %s\n", mode.c_str());
        return 2;
    }
    if (!FtdiUsbEmulator::inMockEnvironment()) {
        std::fprintf(stderr, "bench_discovery: run under umockdev-wrapper\n");
        return 2;
    }
    try {
        FtdiUsbEmulator usb;
        D2XXUnit::setDriver(tintrava::libftdiApi());
        tintrava::setListingContextPolicy(mode == "udev" ? tintrava::ListingContextPolicy::KeepForRun
                                                         : tintrava::ListingContextPolicy::RenewEachListing);
        std::vector<EmulatedFt232r *> chips;
        for (int devices : {1, 4, 16}) {
            // The lamp first, then plain cables, as on a bench full of adapters.
            while (int(chips.size()) < devices) {
                EmulatedChipSpec spec;
                const int n = int(chips.size());
                if (n == 0) {
                    spec.productId = 0xFA33;
                    spec.manufacturer = "Sela";
                    spec.product = "Sela-Lumen";
                } else {
                    spec.product = "TTL232R";
                }
                char serial[32];
                std::snprintf(serial, sizeof serial, "BENCH%03d", n);
                spec.serial = serial;
                chips.push_back(&usb.plug(spec));
            }
            tintrava::LampState state;
            // The first pass after plugging in may read what is new.
            tintrava::getusbdev(state);
            for (int i = 0; i < passes; ++i) {
                const int requestsBefore = stringRequests(chips);
                const int transfersBefore = controlTransfers(usb);
                const double cpu0 = clockMs(CLOCK_PROCESS_CPUTIME_ID);
                const double wall0 = clockMs(CLOCK_MONOTONIC);
                const bool found = tintrava::getusbdev(state);
                const double wall = clockMs(CLOCK_MONOTONIC) - wall0;
                const double cpu = clockMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
                const int transfers = transfersBefore < 0 ? -1 : controlTransfers(usb) - transfersBefore;
                std::printf("pass mode=%s devices=%d cpu_ms=%.3f wall_ms=%.3f string_requests=%d control_transfers=%d "
                            "found=%d\n",
                            mode.c_str(), devices, cpu, wall, stringRequests(chips) - requestsBefore, transfers,
                            found ? 1 : 0);
            }
        }
        std::fflush(stdout);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_discovery: %s\n", e.what());
        return 1;
    }
    return 0;
}
