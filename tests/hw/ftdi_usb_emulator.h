#pragma once
// FTDI FT232R chips emulated at the USB level with umockdev, so libftdi and
// libusb run their real code paths (sysfs enumeration, usbfs ioctls, control
// and bulk URBs) against them. The program using it must run under
// umockdev-wrapper. Plain C++ and GLib; no Qt here, because GLib's headers
// and Qt's keywords do not mix.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace tintrava::test {

struct EmulatedChipSpec {
    std::uint16_t productId = 0x6001;
    std::string manufacturer = "FTDI";
    std::string product;
    std::string serial;
    // The chip stalls the GET_DESCRIPTOR request for that string.
    bool productUnreadable = false;
    bool serialUnreadable = false;
};

// The line settings as the chip received them in SIO_SET_DATA.
struct EmulatedLineSettings {
    int dataBits = 0;
    int parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBitsCode = 0; // 0 one, 1 one and a half, 2 two
    bool breakOn = false;
};

// Baud rate an FT232R produces from the wValue/wIndex of SIO_SET_BAUDRATE
// (3 MHz divided by a 14-bit divisor with a fraction in eighths).
double ft232rBaudRate(std::uint16_t value, std::uint16_t index);

class EmulatedFt232r {
public:
    // On hub port `port` of the root hub of bus `busNumber`, at USB address `address`.
    EmulatedFt232r(const EmulatedChipSpec &spec, int busNumber, int port, int address);
    ~EmulatedFt232r();
    EmulatedFt232r(const EmulatedFt232r &) = delete;
    EmulatedFt232r &operator=(const EmulatedFt232r &) = delete;

    const EmulatedChipSpec &spec() const { return spec_; }
    std::string devnode() const;
    std::string sysfsPath() const; // /sys/devices/usb1/1-<port>
    std::string sysfsRecord() const;
    int port() const { return port_; }
    int address() const { return address_; }

    // What the host did to the chip. Safe to call while the host talks to it.
    bool kernelDriverBound() const;
    bool interfaceClaimed() const;
    int chipResets() const;
    int baudRateRequests() const;
    double baudRate() const; // of the latest SIO_SET_BAUDRATE, 0 if none
    bool lineSettingsReceived() const;
    EmulatedLineSettings lineSettings() const;
    std::string takeBulkOut(); // bytes that arrived on the bulk OUT endpoint
    std::vector<std::string> unhandledRequests() const;
    int stringDescriptorRequests() const; // GET_DESCRIPTOR for strings 1-3
    int controlTransfers() const;         // every control URB, whatever it asked
    int kernelDriverDetaches() const;     // times ftdi_sio was taken off the chip
    int kernelDriverAttaches() const;     // times it was given back

    // Another program has claimed the interface through usbfs: claims fail
    // with EBUSY and the interface's driver reads "usbfs".
    void setHeldByAnotherProgram(bool held);
    // From now on the chip stalls (or answers) requests for these strings.
    void setStringsUnreadable(bool product, bool serial);

    // What the chip sends: bytes queued now, or an answer to a line the host
    // writes later (the line without its CR LF).
    void queueBulkIn(const std::string &bytes);
    void answerLine(const std::string &line, const std::string &answer);

    UMockdevIoctlBase *ioctlHandler() const { return handler_; }

private:
    struct Completed {
        UMockdevIoctlData *urb = nullptr; // owned reference
        int status = 0;
        int actualLength = 0;
        std::size_t dataOffset = 0; // 8 for control transfers: data follows the setup packet
        std::vector<std::uint8_t> inData;
    };

    static int handleIoctlThunk(UMockdevIoctlBase *handler, UMockdevIoctlClient *client, void *self);
    bool handleIoctl(UMockdevIoctlClient *client);
    bool submitUrb(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    bool reapUrb(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    // Returns false to stall; fills `in` for device-to-host requests.
    bool controlRequest(const std::uint8_t *setup, std::vector<std::uint8_t> &in);
    std::vector<std::uint8_t> stringDescriptor(int index, bool &ok) const;
    std::vector<std::uint8_t> deviceDescriptor() const;
    static std::vector<std::uint8_t> configDescriptor();
    void receiveBulkOut(const std::uint8_t *data, std::size_t length);
    std::vector<std::uint8_t> nextBulkIn(std::size_t capacity);

    EmulatedChipSpec spec_;
    int busNumber_;
    int port_;
    int address_;
    UMockdevIoctlBase *handler_ = nullptr;

    mutable std::mutex mutex_;
    bool driverBound_ = true; // ftdi_sio holds the chip until someone detaches it
    bool claimed_ = false;
    int resets_ = 0;
    int baudRequests_ = 0;
    int stringRequests_ = 0;
    int controlTransfers_ = 0;
    int detaches_ = 0;
    int attaches_ = 0;
    bool heldElsewhere_ = false;
    std::uint16_t baudValue_ = 0;
    std::uint16_t baudIndex_ = 0;
    bool lineReceived_ = false;
    std::uint16_t lineValue_ = 0;
    std::uint8_t latencyTimer_ = 16;
    std::string bulkOut_;
    std::string partialLine_;
    std::map<std::string, std::string> answers_;
    std::deque<std::uint8_t> bulkIn_;
    std::deque<Completed> completed_;
    std::vector<std::string> unhandled_;
};

// Typical use (the program must run under umockdev-wrapper):
//     FtdiUsbEmulator usb;
//     auto chips = usb.plugMany(16, spec);     // serials spec.serial + "00" … "15"
//     const int before = usb.controlTransfers();
//     … one discovery pass through the binding …
//     const int perPass = usb.controlTransfers() - before;
// Plugging and unplugging announce themselves with uevents, as udev does, so
// a libusb context kept for the whole run sees them.
class FtdiUsbEmulator {
public:
    // Creates the umockdev test bed; throws std::runtime_error when that fails.
    FtdiUsbEmulator();
    ~FtdiUsbEmulator();
    FtdiUsbEmulator(const FtdiUsbEmulator &) = delete;
    FtdiUsbEmulator &operator=(const FtdiUsbEmulator &) = delete;

    // True when the umockdev preload library is active (umockdev-wrapper).
    static bool inMockEnvironment();

    // Plugs in another chip on bus 1, on the lowest free root-hub port, with
    // the next USB address; throws std::runtime_error on failure.
    EmulatedFt232r &plug(const EmulatedChipSpec &spec);
    // n chips like spec, serials spec.serial followed by a two-digit number.
    std::vector<EmulatedFt232r *> plugMany(int n, const EmulatedChipSpec &spec);
    // Unplugs it again; the reference is invalid afterwards.
    void unplug(EmulatedFt232r &chip);
    // Out and in again: the same port, a new address, a fresh chip (ftdi_sio
    // bound). The old reference is invalid afterwards.
    EmulatedFt232r &replug(EmulatedFt232r &chip);

    // Makes the chip's device node unopenable (mode 000), as for a user
    // without a udev rule; only takes effect for a process without root's
    // privileges. Its sysfs attributes stay readable.
    void denyAccess(EmulatedFt232r &chip);

    // Control transfers all chips received since the emulator started,
    // unplugged ones included.
    int controlTransfers() const;

private:
    EmulatedFt232r &plugAt(const EmulatedChipSpec &spec, int port);

    UMockdevTestbed *testbed_ = nullptr;
    std::vector<std::unique_ptr<EmulatedFt232r>> chips_;
    int nextAddress_ = 2; // 1 is the root hub's address
    int retiredControlTransfers_ = 0;
};

} // namespace tintrava::test
