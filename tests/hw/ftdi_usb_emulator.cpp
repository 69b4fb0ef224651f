#include "ftdi_usb_emulator.h"

#include <umockdev.h>
#include <glib/gstdio.h>

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tintrava::test {

namespace {

// Endpoints of an FT232R: data from the chip on 0x81, to the chip on 0x02.
constexpr std::uint8_t kBulkInEndpoint = 0x81;
constexpr std::uint8_t kBulkOutEndpoint = 0x02;
constexpr std::size_t kMaxPacketSize = 64;
// Modem and line status the chip puts at the start of every IN packet.
constexpr std::uint8_t kModemStatus = 0x01;
constexpr std::uint8_t kLineStatus = 0x60;

// FTDI vendor requests (host to device unless noted).
constexpr std::uint8_t kSioReset = 0x00;
constexpr std::uint8_t kSioModemCtrl = 0x01;
constexpr std::uint8_t kSioSetFlowCtrl = 0x02;
constexpr std::uint8_t kSioSetBaudRate = 0x03;
constexpr std::uint8_t kSioSetData = 0x04;
constexpr std::uint8_t kSioPollModemStatus = 0x05; // device to host
constexpr std::uint8_t kSioSetLatencyTimer = 0x09;
constexpr std::uint8_t kSioGetLatencyTimer = 0x0A; // device to host
constexpr std::uint8_t kSioSetBitmode = 0x0B;

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    std::string out;
    char digits[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}

struct GErrorHolder {
    GError *error = nullptr;
    ~GErrorHolder()
    {
        if (error)
            g_error_free(error);
    }
    std::string message() const { return error ? error->message : "unknown error"; }
};

} // namespace

double ft232rBaudRate(std::uint16_t value, std::uint16_t index)
{
    // Bits 0-13 of wValue: integer divisor; bits 14-15 of wValue and bit 0 of
    // wIndex: the fraction, coded as 0, 1/2, 1/4, 1/8, 3/8, 5/8, 3/4, 7/8.
    static const int kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
    const std::uint32_t encoded = value | (static_cast<std::uint32_t>(index & 1u) << 16);
    if (encoded == 0)
        return 3000000.0;
    if (encoded == 1)
        return 2000000.0;
    const double divisor = (encoded & 0x3FFFu) + kEighths[(encoded >> 14) & 7u] / 8.0;
    return 3000000.0 / divisor;
}

EmulatedFt232r::EmulatedFt232r(const EmulatedChipSpec &spec, int busNumber, int port, int address)
    : spec_(spec), busNumber_(busNumber), port_(port), address_(address)
{
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedFt232r::handleIoctlThunk), this);
}

EmulatedFt232r::~EmulatedFt232r()
{
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
    for (Completed &c : completed_)
        g_object_unref(c.urb);
}

std::string EmulatedFt232r::devnode() const
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", busNumber_, address_);
    return path;
}

std::string EmulatedFt232r::sysfsPath() const
{
    char path[64];
    std::snprintf(path, sizeof path, "/sys/devices/usb%d/%d-%d", busNumber_, busNumber_, port_);
    return path;
}

std::string EmulatedFt232r::sysfsRecord() const
{
    char head[1024];
    std::snprintf(head, sizeof head,
                  "P: /devices/usb%d/%d-%d\n"
                  "N: bus/usb/%03d/%03d\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DRIVER=usb\n"
                  "E: BUSNUM=%03d\n"
                  "E: DEVNUM=%03d\n"
                  "E: DEVNAME=/dev/bus/usb/%03d/%03d\n"
                  "E: PRODUCT=403/%x/600\n"
                  "A: idVendor=0403\\n\n"
                  "A: idProduct=%04x\\n\n"
                  "A: bcdDevice=0600\\n\n"
                  "A: busnum=%d\\n\n"
                  "A: devnum=%d\\n\n"
                  "A: dev=189:%d\\n\n"
                  "A: speed=12\\n\n"
                  "A: bConfigurationValue=1\\n\n"
                  "A: bNumConfigurations=1\\n\n"
                  "A: maxchild=0\\n\n",
                  busNumber_, busNumber_, port_, busNumber_, address_, busNumber_, address_, busNumber_,
                  address_, spec_.productId, spec_.productId, busNumber_, address_,
                  (busNumber_ - 1) * 128 + address_ - 1);
    std::string record = head;
    record += "A: manufacturer=" + spec_.manufacturer + "\\n\n";
    record += "A: product=" + spec_.product + "\\n\n";
    record += "A: serial=" + spec_.serial + "\\n\n";
    std::vector<std::uint8_t> descriptors = deviceDescriptor();
    std::vector<std::uint8_t> config = configDescriptor();
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    record += "H: descriptors=" + hex(descriptors) + "\n";
    return record;
}

std::vector<std::uint8_t> EmulatedFt232r::deviceDescriptor() const
{
    return {0x12, 0x01, 0x00, 0x02, // USB 2.0
            0x00, 0x00, 0x00, 0x08, // class per interface, ep0 packets of 8
            0x03, 0x04,             // FTDI
            static_cast<std::uint8_t>(spec_.productId & 0xFF), static_cast<std::uint8_t>(spec_.productId >> 8),
            0x00, 0x06, // bcdDevice 6.00: FT232R
            0x01, 0x02, 0x03, 0x01};
}

std::vector<std::uint8_t> EmulatedFt232r::configDescriptor()
{
    return {0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0xA0, 0x2D, // one interface, 90 mA
            0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0x02, // vendor class, two endpoints
            0x07, 0x05, kBulkInEndpoint, 0x02, 0x40, 0x00, 0x00,  // bulk IN, 64 bytes
            0x07, 0x05, kBulkOutEndpoint, 0x02, 0x40, 0x00, 0x00}; // bulk OUT, 64 bytes
}

std::vector<std::uint8_t> EmulatedFt232r::stringDescriptor(int index, bool &ok) const
{
    ok = true;
    if (index == 0)
        return {0x04, 0x03, 0x09, 0x04}; // English (US)
    const std::string *text = nullptr;
    switch (index) {
    case 1: text = &spec_.manufacturer; break;
    case 2: text = spec_.productUnreadable ? nullptr : &spec_.product; break;
    case 3: text = spec_.serialUnreadable ? nullptr : &spec_.serial; break;
    default: break;
    }
    if (!text) {
        ok = false;
        return {};
    }
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(2 + 2 * text->size()), 0x03};
    for (char c : *text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

bool EmulatedFt232r::kernelDriverBound() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return driverBound_;
}

bool EmulatedFt232r::interfaceClaimed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return claimed_;
}

int EmulatedFt232r::chipResets() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return resets_;
}

int EmulatedFt232r::baudRateRequests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return baudRequests_;
}

double EmulatedFt232r::baudRate() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return baudRequests_ == 0 ? 0.0 : ft232rBaudRate(baudValue_, baudIndex_);
}

bool EmulatedFt232r::lineSettingsReceived() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lineReceived_;
}

EmulatedLineSettings EmulatedFt232r::lineSettings() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    EmulatedLineSettings s;
    s.dataBits = lineValue_ & 0xFF;
    s.parity = (lineValue_ >> 8) & 0x7;
    s.stopBitsCode = (lineValue_ >> 11) & 0x3;
    s.breakOn = ((lineValue_ >> 14) & 0x1) != 0;
    return s;
}

std::string EmulatedFt232r::takeBulkOut()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    out.swap(bulkOut_);
    return out;
}

int EmulatedFt232r::stringDescriptorRequests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stringRequests_;
}

int EmulatedFt232r::controlTransfers() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return controlTransfers_;
}

int EmulatedFt232r::kernelDriverDetaches() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return detaches_;
}

int EmulatedFt232r::kernelDriverAttaches() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return attaches_;
}

void EmulatedFt232r::setHeldByAnotherProgram(bool held)
{
    std::lock_guard<std::mutex> lock(mutex_);
    heldElsewhere_ = held;
}

void EmulatedFt232r::setStringsUnreadable(bool product, bool serial)
{
    std::lock_guard<std::mutex> lock(mutex_);
    spec_.productUnreadable = product;
    spec_.serialUnreadable = serial;
}

std::vector<std::string> EmulatedFt232r::unhandledRequests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return unhandled_;
}

void EmulatedFt232r::queueBulkIn(const std::string &bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bulkIn_.insert(bulkIn_.end(), bytes.begin(), bytes.end());
}

void EmulatedFt232r::answerLine(const std::string &line, const std::string &answer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[line] = answer;
}

int EmulatedFt232r::handleIoctlThunk(UMockdevIoctlBase *, UMockdevIoctlClient *client, void *self)
{
    return static_cast<EmulatedFt232r *>(self)->handleIoctl(client) ? TRUE : FALSE;
}

// Runs on umockdev's ioctl thread while the host's ioctl call waits.
bool EmulatedFt232r::handleIoctl(UMockdevIoctlClient *client)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    GErrorHolder err;
    std::lock_guard<std::mutex> lock(mutex_);

    auto resolveArg = [&](std::size_t size) { return umockdev_ioctl_data_resolve(arg, 0, size, &err.error); };

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *d = resolveArg(sizeof(guint32));
        if (!d)
            break;
        *reinterpret_cast<guint32 *>(d->data) = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        g_object_unref(d);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE: {
        UMockdevIoctlData *d = resolveArg(sizeof(unsigned int));
        if (!d)
            break;
        const unsigned int iface = *reinterpret_cast<unsigned int *>(d->data);
        g_object_unref(d);
        if (iface != 0)
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        else if (driverBound_ || claimed_ || heldElsewhere_)
            umockdev_ioctl_client_complete(client, -1, EBUSY); // ftdi_sio or another handle has it
        else {
            claimed_ = true;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return true;
    }
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData *d = resolveArg(sizeof(unsigned int));
        if (!d)
            break;
        const unsigned int iface = *reinterpret_cast<unsigned int *>(d->data);
        g_object_unref(d);
        if (iface != 0 || !claimed_)
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        else {
            claimed_ = false;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return true;
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
        UMockdevIoctlData *d = resolveArg(sizeof(usbdevfs_disconnect_claim));
        if (!d)
            break;
        auto *dc = reinterpret_cast<usbdevfs_disconnect_claim *>(d->data);
        const unsigned int iface = dc->interface;
        g_object_unref(d);
        if (iface != 0)
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        else if (claimed_ || heldElsewhere_)
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        else {
            if (driverBound_)
                ++detaches_;
            driverBound_ = false;
            claimed_ = true;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return true;
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData *d = resolveArg(sizeof(usbdevfs_getdriver));
        if (!d)
            break;
        auto *gd = reinterpret_cast<usbdevfs_getdriver *>(d->data);
        if (gd->interface != 0 || (!driverBound_ && !claimed_ && !heldElsewhere_)) {
            g_object_unref(d);
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return true;
        }
        std::snprintf(gd->driver, sizeof gd->driver, "%s", driverBound_ ? "ftdi_sio" : "usbfs");
        g_object_unref(d);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData *d = resolveArg(sizeof(usbdevfs_ioctl));
        if (!d)
            break;
        auto *cmd = reinterpret_cast<usbdevfs_ioctl *>(d->data);
        const int iface = cmd->ifno;
        const int code = cmd->ioctl_code;
        g_object_unref(d);
        if (iface != 0) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        } else if (code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            if (!driverBound_) {
                umockdev_ioctl_client_complete(client, -1, ENODATA);
            } else {
                driverBound_ = false;
                ++detaches_;
                umockdev_ioctl_client_complete(client, 0, 0);
            }
        } else if (code == static_cast<int>(USBDEVFS_CONNECT)) {
            if (claimed_ || heldElsewhere_) {
                umockdev_ioctl_client_complete(client, -1, EBUSY);
            } else {
                if (!driverBound_)
                    ++attaches_;
                driverBound_ = true;
                umockdev_ioctl_client_complete(client, 0, 0);
            }
        } else {
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
        }
        return true;
    }
    case USBDEVFS_SUBMITURB:
        return submitUrb(client, arg);
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        return reapUrb(client, arg);
    case USBDEVFS_DISCARDURB:
        // Every URB completes at once, so there is never one left to discard.
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return true;
    case USBDEVFS_RESET:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    default:
        break;
    }
    char text[96];
    std::snprintf(text, sizeof text, "ioctl 0x%lx%s%s", static_cast<unsigned long>(request),
                  err.error ? ": " : "", err.error ? err.message().c_str() : "");
    unhandled_.push_back(text);
    umockdev_ioctl_client_complete(client, -1, err.error ? EFAULT : ENOTTY);
    return true;
}

bool EmulatedFt232r::submitUrb(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    GErrorHolder err;
    UMockdevIoctlData *urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &err.error);
    if (!urbData) {
        unhandled_.push_back("SUBMITURB without URB: " + err.message());
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return true;
    }
    auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
    UMockdevIoctlData *buffer = nullptr;
    if (urb->buffer_length > 0) {
        buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                             static_cast<gsize>(urb->buffer_length), &err.error);
        if (!buffer) {
            unhandled_.push_back("SUBMITURB buffer unreadable: " + err.message());
            g_object_unref(urbData);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return true;
        }
    }
    const std::uint8_t *bytes = buffer ? buffer->data : nullptr;
    const std::size_t length = static_cast<std::size_t>(std::max(urb->buffer_length, 0));

    Completed done;
    done.urb = urbData; // the reference resolve() gave us
    bool accepted = true;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL && length >= 8) {
        ++controlTransfers_;
        done.dataOffset = 8;
        const bool toHost = (bytes[0] & 0x80) != 0;
        const std::size_t wLength = bytes[6] | (bytes[7] << 8);
        std::vector<std::uint8_t> in;
        if (!controlRequest(bytes, in)) {
            done.status = -EPIPE; // stall
        } else if (toHost) {
            in.resize(std::min({in.size(), wLength, length - 8}));
            done.actualLength = static_cast<int>(in.size());
            done.inData = std::move(in);
        } else {
            done.actualLength = static_cast<int>(std::min(wLength, length - 8));
        }
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == kBulkOutEndpoint) {
        receiveBulkOut(bytes, length);
        done.actualLength = static_cast<int>(length);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == kBulkInEndpoint) {
        done.inData = nextBulkIn(length);
        done.actualLength = static_cast<int>(done.inData.size());
    } else {
        char text[96];
        std::snprintf(text, sizeof text, "URB type %d endpoint 0x%02x", urb->type, urb->endpoint);
        unhandled_.push_back(text);
        accepted = false;
    }
    if (buffer)
        g_object_unref(buffer);
    if (!accepted) {
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return true;
    }
    completed_.push_back(std::move(done));
    umockdev_ioctl_client_complete(client, 0, 0);
    return true;
}

bool EmulatedFt232r::reapUrb(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    if (completed_.empty()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return true;
    }
    GErrorHolder err;
    UMockdevIoctlData *urbPointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), &err.error);
    if (!urbPointer) {
        unhandled_.push_back("REAPURB without pointer: " + err.message());
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return true;
    }
    Completed done = std::move(completed_.front());
    completed_.pop_front();
    auto *urb = reinterpret_cast<usbdevfs_urb *>(done.urb->data);
    urb->status = done.status;
    urb->actual_length = done.actualLength;
    // After resolve() the URB's buffer pointer refers to umockdev's local
    // copy, which goes back to the host when this ioctl completes.
    if (!done.inData.empty() && urb->buffer)
        std::memcpy(static_cast<std::uint8_t *>(urb->buffer) + done.dataOffset, done.inData.data(),
                    done.inData.size());
    umockdev_ioctl_data_set_ptr(urbPointer, 0, done.urb);
    g_object_unref(done.urb);
    g_object_unref(urbPointer);
    umockdev_ioctl_client_complete(client, 0, 0);
    return true;
}

bool EmulatedFt232r::controlRequest(const std::uint8_t *setup, std::vector<std::uint8_t> &in)
{
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const std::uint16_t value = setup[2] | (setup[3] << 8);
    const std::uint16_t index = setup[4] | (setup[5] << 8);

    if (requestType == 0x80 && request == 0x06) { // GET_DESCRIPTOR
        const int type = value >> 8;
        if (type == 1) {
            in = deviceDescriptor();
            return true;
        }
        if (type == 2) {
            in = configDescriptor();
            return true;
        }
        if (type == 3) {
            if ((value & 0xFF) != 0)
                ++stringRequests_;
            bool ok = false;
            in = stringDescriptor(value & 0xFF, ok);
            return ok;
        }
        return false;
    }
    if (requestType == 0x80 && request == 0x08) { // GET_CONFIGURATION
        in = {0x01};
        return true;
    }
    if (requestType == 0x80 && request == 0x00) { // GET_STATUS
        in = {0x00, 0x00};
        return true;
    }
    if (requestType == 0x00 && request == 0x09) // SET_CONFIGURATION
        return value == 1;
    if (requestType == 0x40) {
        switch (request) {
        case kSioReset:
            if (value == 0) { // chip reset: FIFOs are emptied too
                ++resets_;
                bulkIn_.clear();
            } else if (value == 1) {
                bulkIn_.clear();
            }
            return value <= 2;
        case kSioSetBaudRate:
            ++baudRequests_;
            baudValue_ = value;
            baudIndex_ = index;
            return true;
        case kSioSetData:
            lineReceived_ = true;
            lineValue_ = value;
            return true;
        case kSioSetLatencyTimer:
            latencyTimer_ = static_cast<std::uint8_t>(value & 0xFF);
            return true;
        case kSioModemCtrl:
        case kSioSetFlowCtrl:
        case kSioSetBitmode:
            return true;
        default:
            break;
        }
    }
    if (requestType == 0xC0) {
        if (request == kSioGetLatencyTimer) {
            in = {latencyTimer_};
            return true;
        }
        if (request == kSioPollModemStatus) {
            in = {kModemStatus, kLineStatus};
            return true;
        }
    }
    char text[96];
    std::snprintf(text, sizeof text, "control %02x %02x %04x %04x", requestType, request, value, index);
    unhandled_.push_back(text);
    return false;
}

void EmulatedFt232r::receiveBulkOut(const std::uint8_t *data, std::size_t length)
{
    if (!data)
        return;
    bulkOut_.append(reinterpret_cast<const char *>(data), length);
    partialLine_.append(reinterpret_cast<const char *>(data), length);
    std::size_t end;
    while ((end = partialLine_.find("\r\n")) != std::string::npos) {
        const std::string line = partialLine_.substr(0, end);
        partialLine_.erase(0, end + 2);
        auto it = answers_.find(line);
        if (it != answers_.end())
            bulkIn_.insert(bulkIn_.end(), it->second.begin(), it->second.end());
    }
}

// One IN transfer: packets of at most 64 bytes, each led by the two status
// bytes; a packet shorter than 64 bytes ends the transfer, so an idle chip
// answers with the status bytes alone.
std::vector<std::uint8_t> EmulatedFt232r::nextBulkIn(std::size_t capacity)
{
    std::vector<std::uint8_t> out;
    while (capacity - out.size() >= 2) {
        const std::size_t room = std::min(kMaxPacketSize, capacity - out.size());
        out.push_back(kModemStatus);
        out.push_back(kLineStatus);
        const std::size_t n = std::min(room - 2, bulkIn_.size());
        out.insert(out.end(), bulkIn_.begin(), bulkIn_.begin() + static_cast<std::ptrdiff_t>(n));
        bulkIn_.erase(bulkIn_.begin(), bulkIn_.begin() + static_cast<std::ptrdiff_t>(n));
        if (n + 2 < kMaxPacketSize || bulkIn_.empty())
            break;
    }
    return out;
}

FtdiUsbEmulator::FtdiUsbEmulator()
{
    testbed_ = umockdev_testbed_new();
    if (!testbed_)
        throw std::runtime_error("umockdev_testbed_new failed");
}

FtdiUsbEmulator::~FtdiUsbEmulator()
{
    for (auto &chip : chips_) {
        const std::string node = chip->devnode();
        umockdev_testbed_detach_ioctl(testbed_, node.c_str(), nullptr);
    }
    chips_.clear();
    g_object_unref(testbed_);
}

bool FtdiUsbEmulator::inMockEnvironment()
{
    // umockdev_in_mock_environment() looks for a path with a slash, which
    // umockdev-wrapper's bare library name does not have.
    const char *preload = g_getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload.so");
}

EmulatedFt232r &FtdiUsbEmulator::plug(const EmulatedChipSpec &spec)
{
    int port = 1;
    while (std::any_of(chips_.begin(), chips_.end(), [&](const auto &c) { return c->port() == port; }))
        ++port;
    return plugAt(spec, port);
}

EmulatedFt232r &FtdiUsbEmulator::plugAt(const EmulatedChipSpec &spec, int port)
{
    // Addresses 2..127; the kernel wraps around past the highest one.
    int address = nextAddress_;
    auto taken = [&](int a) {
        return std::any_of(chips_.begin(), chips_.end(), [&](const auto &c) { return c->address() == a; });
    };
    for (int tries = 0; taken(address) && tries < 127; ++tries)
        address = address >= 127 ? 2 : address + 1;
    if (taken(address))
        throw std::runtime_error("no free USB address");
    nextAddress_ = address >= 127 ? 2 : address + 1;

    auto chip = std::make_unique<EmulatedFt232r>(spec, 1, port, address);
    const std::string node = chip->devnode();
    GErrorHolder err;
    // The handler goes in first, so the node answers from the moment it exists.
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), chip->ioctlHandler(), &err.error))
        throw std::runtime_error("attach_ioctl " + node + ": " + err.message());
    // Adding the device also sends its "add" uevent.
    const std::string record = chip->sysfsRecord();
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &err.error)) {
        umockdev_testbed_detach_ioctl(testbed_, node.c_str(), nullptr);
        throw std::runtime_error("add_from_string " + node + ": " + err.message());
    }
    chips_.push_back(std::move(chip));
    return *chips_.back();
}

std::vector<EmulatedFt232r *> FtdiUsbEmulator::plugMany(int n, const EmulatedChipSpec &spec)
{
    std::vector<EmulatedFt232r *> out;
    for (int i = 0; i < n; ++i) {
        EmulatedChipSpec one = spec;
        char number[16];
        std::snprintf(number, sizeof number, "%02d", i);
        one.serial += number;
        out.push_back(&plug(one));
    }
    return out;
}

void FtdiUsbEmulator::unplug(EmulatedFt232r &chip)
{
    auto it = std::find_if(chips_.begin(), chips_.end(), [&](const auto &c) { return c.get() == &chip; });
    if (it == chips_.end())
        return;
    const std::string node = chip.devnode();
    const std::string syspath = chip.sysfsPath();
    // Removing a device sends no uevent of its own; udev would.
    umockdev_testbed_uevent(testbed_, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, syspath.c_str());
    umockdev_testbed_detach_ioctl(testbed_, node.c_str(), nullptr);
    retiredControlTransfers_ += chip.controlTransfers();
    chips_.erase(it);
}

EmulatedFt232r &FtdiUsbEmulator::replug(EmulatedFt232r &chip)
{
    const EmulatedChipSpec spec = chip.spec();
    const int port = chip.port();
    unplug(chip);
    return plugAt(spec, port);
}

void FtdiUsbEmulator::denyAccess(EmulatedFt232r &chip)
{
    gchar *root = umockdev_testbed_get_root_dir(testbed_);
    const std::string path = std::string(root) + chip.devnode();
    g_free(root);
    if (g_chmod(path.c_str(), 0) != 0)
        throw std::runtime_error("chmod " + path + " failed");
}

int FtdiUsbEmulator::controlTransfers() const
{
    int total = retiredControlTransfers_;
    for (const auto &chip : chips_)
        total += chip->controlTransfers();
    return total;
}

} // namespace tintrava::test
