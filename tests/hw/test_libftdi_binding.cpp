// The libftdi1 D2XX binding against FT232R chips emulated at the USB level:
// libftdi and libusb run unchanged, only the kernel's side is played by the
// emulator. Runs under umockdev-wrapper.
#include "ftdi_usb_emulator.h"

#include "lamp/d2xx/libftdi_binding.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QFile>
#include <QtTest>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using tintrava::test::EmulatedChipSpec;
using tintrava::test::EmulatedFt232r;
using tintrava::test::FtdiUsbEmulator;

namespace {

const D2xxApi &api()
{
    return tintrava::libftdiApi();
}

// Whether a file whose path contains `part` is mapped into this process.
bool mapped(const char *part)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains(part);
}

void *indexArg(DWORD index)
{
    return reinterpret_cast<void *>(static_cast<std::uintptr_t>(index));
}

struct Listed {
    FT_STATUS descriptionStatus;
    std::string description;
    FT_STATUS serialStatus;
    std::string serial;
};

// The listing the way the device layer does it: count, then each index.
std::vector<Listed> listAll(FT_STATUS *countStatus = nullptr)
{
    DWORD count = 0;
    FT_STATUS status = api().ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    if (countStatus)
        *countStatus = status;
    std::vector<Listed> out;
    if (status != FT_OK)
        return out;
    for (DWORD i = 0; i < count; ++i) {
        char description[64];
        char serial[16];
        Listed l;
        l.descriptionStatus = api().ListDevices(indexArg(i), description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION);
        if (l.descriptionStatus == FT_OK)
            l.description.assign(description, strnlen(description, sizeof description));
        l.serialStatus = api().ListDevices(indexArg(i), serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
        if (l.serialStatus == FT_OK)
            l.serial.assign(serial, strnlen(serial, sizeof serial));
        out.push_back(l);
    }
    return out;
}

const Listed *findBySerial(const std::vector<Listed> &list, const std::string &serial)
{
    for (const Listed &l : list)
        if (l.serialStatus == FT_OK && l.serial == serial)
            return &l;
    return nullptr;
}

std::vector<D2xxLinkProblem> problems()
{
    return api().LinkProblems ? api().LinkProblems() : std::vector<D2xxLinkProblem>{};
}

// One exchange as the lamp protocols run it: open, line settings, a write, close.
bool exchange(const std::string &serial)
{
    FT_HANDLE handle = nullptr;
    char buffer[50];
    std::snprintf(buffer, sizeof buffer, "%s", serial.c_str());
    if (api().OpenEx(buffer, FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK)
        return false;
    char frame[] = "\xFF\x45";
    DWORD written = 0;
    const bool ok = api().SetBaudRate(handle, 9600) == FT_OK
        && api().SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE) == FT_OK
        && api().Write(handle, frame, 2, &written) == FT_OK && written == 2;
    return api().Close(handle) == FT_OK && ok;
}

FT_HANDLE openBySerial(const char *serial, FT_STATUS *status)
{
    FT_HANDLE handle = nullptr;
    char buffer[50];
    std::snprintf(buffer, sizeof buffer, "%s", serial);
    *status = api().OpenEx(buffer, FT_OPEN_BY_SERIAL_NUMBER, &handle);
    return handle;
}

} // namespace

class TestLibftdiBinding : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FtdiUsbEmulator> usb;
    EmulatedFt232r *lamp = nullptr;
    EmulatedFt232r *cable = nullptr;
    std::vector<FT_HANDLE> toClose;

    // Chips a single test plugs in; unplugged when it ends, even on failure.
    struct Plugged {
        FtdiUsbEmulator &usb;
        EmulatedFt232r &chip;
        ~Plugged() { usb.unplug(chip); }
    };

    FT_HANDLE openLamp()
    {
        FT_STATUS status = FT_OTHER_ERROR;
        FT_HANDLE handle = openBySerial(lamp->spec().serial.c_str(), &status);
        if (status == FT_OK)
            toClose.push_back(handle);
        else
            qWarning("open of the lamp failed with status %u", status);
        return status == FT_OK ? handle : nullptr;
    }

    FT_STATUS closeHandle(FT_HANDLE handle)
    {
        toClose.erase(std::remove(toClose.begin(), toClose.end(), handle), toClose.end());
        return api().Close(handle);
    }

    void checkNoUnhandledRequests(const EmulatedFt232r &chip)
    {
        const auto unhandled = chip.unhandledRequests();
        for (const std::string &r : unhandled)
            qWarning("%s: unhandled %s", chip.spec().serial.c_str(), r.c_str());
        QVERIFY(unhandled.empty());
    }

private slots:
    void initTestCase()
    {
        if (!FtdiUsbEmulator::inMockEnvironment())
            QFAIL("run this test under umockdev-wrapper (ctest does)");
        // libftdi1 and libusb come with the binding's first use, not with
        // the program that contains it.
        QVERIFY(!mapped("/libftdi1.so"));
        QVERIFY(!mapped("/libusb-1.0.so"));
        std::string error;
        QVERIFY2(tintrava::loadLibftdiApi(error), error.c_str());
        QVERIFY(error.empty());
        QVERIFY(mapped("/libftdi1.so"));
        QVERIFY(mapped("/libusb-1.0.so"));
        QVERIFY(tintrava::loadLibftdiApi(error) == &api());

        usb = std::make_unique<FtdiUsbEmulator>();
        // The emulator announces plugging with uevents as udev does, so the
        // listing context may live for the whole run, as on a desktop.
        tintrava::setListingContextPolicy(tintrava::ListingContextPolicy::KeepForRun);
        // The lamp has a product ID of its own, the cable FTDI's default one.
        EmulatedChipSpec lampSpec;
        lampSpec.productId = 0xFA33;
        lampSpec.manufacturer = "Sela";
        lampSpec.product = "Sela-Lumen";
        lampSpec.serial = "SL4711A";
        lamp = &usb->plug(lampSpec);
        EmulatedChipSpec cableSpec;
        cableSpec.productId = 0x6001;
        cableSpec.product = "TTL232R";
        cableSpec.serial = "FT9ZK2Q1";
        cable = &usb->plug(cableSpec);
    }

    void cleanup()
    {
        for (FT_HANDLE h : toClose)
            api().Close(h);
        toClose.clear();
        lamp->takeBulkOut();
        checkNoUnhandledRequests(*lamp);
        checkNoUnhandledRequests(*cable);
    }

    void cleanupTestCase()
    {
        // The end of the run, while the emulated chips can still answer.
        tintrava::libftdiEndOfRun();
        usb.reset();
    }

    void listsEveryFtdiDeviceWithBothStrings()
    {
        const auto list = listAll();
        QCOMPARE(list.size(), std::size_t(2));
        const Listed *l = findBySerial(list, "SL4711A");
        QVERIFY(l);
        QCOMPARE(l->descriptionStatus, FT_OK);
        QCOMPARE(l->description, std::string("Sela-Lumen"));
        const Listed *c = findBySerial(list, "FT9ZK2Q1");
        QVERIFY(c);
        QCOMPARE(c->descriptionStatus, FT_OK);
        QCOMPARE(c->description, std::string("TTL232R"));
        // Listing must leave the chips to their kernel driver.
        QVERIFY(lamp->kernelDriverBound());
        QVERIFY(!lamp->interfaceClaimed());
    }

    void stringsAreReadOncePerPlugIn()
    {
        DWORD count = 0;
        QCOMPARE(api().ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        const int afterCount = lamp->stringDescriptorRequests();
        for (DWORD i = 0; i < count; ++i) {
            char buffer[64];
            QCOMPARE(api().ListDevices(indexArg(i), buffer, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
            QCOMPARE(api().ListDevices(indexArg(i), buffer, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER), FT_OK);
        }
        // A new count lists afresh but asks an unchanged device nothing.
        QCOMPARE(api().ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        QCOMPARE(lamp->stringDescriptorRequests(), afterCount);
    }

    // Discovery lists every second: with nothing plugged or unplugged, a pass
    // costs no USB transfer and no new libusb context; a replugged device is
    // read once, and only it.
    void discoveryPassesMakeNoTransfersWhileNothingChanges()
    {
        QCOMPARE(listAll().size(), std::size_t(2)); // whatever is new gets read here
        const int contexts = tintrava::listingContextsCreated();
        const int before = usb->controlTransfers();
        for (int pass = 0; pass < 10; ++pass)
            QCOMPARE(listAll().size(), std::size_t(2));
        QCOMPARE(usb->controlTransfers(), before);

        const int lampBefore = lamp->controlTransfers();
        cable = &usb->replug(*cable);
        const int afterReplug = usb->controlTransfers();
        std::vector<int> perPass;
        for (int pass = 0; pass < 10; ++pass) {
            const int start = usb->controlTransfers();
            const auto list = listAll();
            QCOMPARE(list.size(), std::size_t(2));
            QVERIFY(findBySerial(list, "FT9ZK2Q1"));
            QCOMPARE(findBySerial(list, "FT9ZK2Q1")->description, std::string("TTL232R"));
            perPass.push_back(usb->controlTransfers() - start);
        }
        // The replugged cable is asked for its language, description and serial once.
        QCOMPARE(perPass.front(), 3);
        QCOMPARE(cable->controlTransfers(), usb->controlTransfers() - afterReplug);
        for (std::size_t i = 1; i < perPass.size(); ++i)
            QCOMPARE(perPass[i], 0);
        QCOMPARE(lamp->controlTransfers(), lampBefore);
        QCOMPARE(tintrava::listingContextsCreated(), contexts);
    }

    // Where udev does not run, libusb would not hear of plugging in a kept
    // context: every listing builds its own, and still asks unchanged
    // devices nothing.
    void renewedListingContextStillReadsStringsOnce()
    {
        tintrava::setListingContextPolicy(tintrava::ListingContextPolicy::RenewEachListing);
        QCOMPARE(listAll().size(), std::size_t(2));
        const int contexts = tintrava::listingContextsCreated();
        const int before = usb->controlTransfers();
        for (int pass = 0; pass < 3; ++pass)
            QCOMPARE(listAll().size(), std::size_t(2));
        QCOMPARE(usb->controlTransfers(), before);
        QCOMPARE(tintrava::listingContextsCreated(), contexts + 3);
        tintrava::setListingContextPolicy(tintrava::ListingContextPolicy::KeepForRun);
    }

    void indexOutsideTheListingIsNotFound()
    {
        DWORD count = 0;
        QCOMPARE(api().ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        char buffer[64] = "untouched";
        QCOMPARE(api().ListDevices(indexArg(count), buffer, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
                 FT_DEVICE_NOT_FOUND);
        QCOMPARE(api().ListDevices(indexArg(count + 7), buffer, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
                 FT_DEVICE_NOT_FOUND);
        QCOMPARE(std::string(buffer), std::string("untouched"));
    }

    void unreadableStringFailsOnlyItsOwnQuery_data()
    {
        QTest::addColumn<bool>("productUnreadable");
        QTest::addColumn<bool>("serialUnreadable");
        QTest::newRow("description stalls") << true << false;
        QTest::newRow("serial stalls") << false << true;
        QTest::newRow("both stall") << true << true;
    }

    void unreadableStringFailsOnlyItsOwnQuery()
    {
        QFETCH(bool, productUnreadable);
        QFETCH(bool, serialUnreadable);
        EmulatedChipSpec spec;
        spec.productId = 0x6015;
        spec.product = "Broken-Lamp";
        spec.serial = "BRK00001";
        spec.productUnreadable = productUnreadable;
        spec.serialUnreadable = serialUnreadable;
        Plugged broken{*usb, usb->plug(spec)};

        const auto list = listAll();
        QCOMPARE(list.size(), std::size_t(3));
        int brokenRows = 0;
        for (const Listed &l : list) {
            if (l.serial == "SL4711A" || l.serial == "FT9ZK2Q1") {
                QCOMPARE(l.descriptionStatus, FT_OK);
                continue;
            }
            ++brokenRows;
            QCOMPARE(l.descriptionStatus != FT_OK, productUnreadable);
            QCOMPARE(l.serialStatus != FT_OK, serialUnreadable);
            if (!productUnreadable)
                QCOMPARE(l.description, std::string("Broken-Lamp"));
            if (!serialUnreadable)
                QCOMPARE(l.serial, std::string("BRK00001"));
        }
        QCOMPARE(brokenRows, 1);
        checkNoUnhandledRequests(broken.chip);
    }

    // A device that does not answer at once (just plugged in) is asked again
    // at the next listings; one that never answers is left alone after a
    // few, so it does not cost transfers every second.
    void unreadableStringsAreAskedForAFewTimes_data()
    {
        QTest::addColumn<int>("answersFromListing"); // 0: never
        QTest::newRow("answers at the second listing") << 2;
        QTest::newRow("answers at the third listing") << 3;
        QTest::newRow("never answers") << 0;
    }

    void unreadableStringsAreAskedForAFewTimes()
    {
        QFETCH(int, answersFromListing);
        EmulatedChipSpec spec;
        spec.productId = 0x6001;
        spec.product = "Sela-Lumen";
        spec.serial = "SLOW0001";
        spec.productUnreadable = true;
        Plugged slow{*usb, usb->plug(spec)};
        std::vector<int> transfers;
        bool found = false;
        for (int listing = 1; listing <= 8; ++listing) {
            if (listing == answersFromListing)
                slow.chip.setStringsUnreadable(false, false);
            const int before = slow.chip.controlTransfers();
            const auto list = listAll();
            transfers.push_back(slow.chip.controlTransfers() - before);
            const Listed *l = findBySerial(list, "SLOW0001");
            if (l && l->descriptionStatus == FT_OK) {
                QCOMPARE(l->description, std::string("Sela-Lumen"));
                found = true;
            }
        }
        QCOMPARE(found, answersFromListing != 0);
        const int asked = int(std::count_if(transfers.begin(), transfers.end(), [](int n) { return n > 0; }));
        QCOMPARE(asked, answersFromListing != 0 ? answersFromListing : 3);
        for (std::size_t i = std::size_t(asked); i < transfers.size(); ++i)
            QCOMPARE(transfers[i], 0);
    }

    void longStringsAreCutToTheCallersBuffer()
    {
        EmulatedChipSpec spec;
        spec.productId = 0x6014;
        spec.product = std::string(70, 'D');
        spec.serial = "SERIAL-0123456789"; // 17 characters
        Plugged longOne{*usb, usb->plug(spec)};
        DWORD count = 0;
        QCOMPARE(api().ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        QCOMPARE(count, DWORD(3));
        bool seen = false;
        for (DWORD i = 0; i < count; ++i) {
            // Guard bytes after the documented sizes must stay untouched.
            char description[64 + 8];
            char serial[16 + 8];
            std::memset(description, '#', sizeof description);
            std::memset(serial, '#', sizeof serial);
            QCOMPARE(api().ListDevices(indexArg(i), description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
            QCOMPARE(api().ListDevices(indexArg(i), serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER), FT_OK);
            QCOMPARE(std::string(description + 64, 8), std::string(8, '#'));
            QCOMPARE(std::string(serial + 16, 8), std::string(8, '#'));
            if (description[0] == 'D') {
                seen = true;
                QCOMPARE(std::string(description, 64), std::string(64, 'D'));
                QCOMPARE(std::string(serial, 16), std::string("SERIAL-012345678"));
            } else {
                // Shorter strings end with a NUL inside the buffer.
                QVERIFY(std::memchr(description, '\0', 64));
                QVERIFY(std::memchr(serial, '\0', 16));
            }
        }
        QVERIFY(seen);
    }

    void relistingSeesPluggedAndUnpluggedChips()
    {
        QCOMPARE(listAll().size(), std::size_t(2));
        EmulatedChipSpec spec;
        spec.productId = 0x6010;
        spec.product = "VC0123456789V123456789"; // a lamp description of the second kind
        spec.serial = "VC000042";
        {
            Plugged second{*usb, usb->plug(spec)};
            const auto list = listAll();
            QCOMPARE(list.size(), std::size_t(3));
            QVERIFY(findBySerial(list, "VC000042"));
            QCOMPARE(findBySerial(list, "VC000042")->description, spec.product);
        }
        const auto list = listAll();
        QCOMPARE(list.size(), std::size_t(2));
        QVERIFY(!findBySerial(list, "VC000042"));
    }

    // The text exchange with the lamp, as the lamp protocol runs it.
    void textExchangeReachesTheChip()
    {
        lamp->answerLine("VER", "Sela-Lumen 2.3\r\n");
        const int resetsBefore = lamp->chipResets();
        const int baudRequestsBefore = lamp->baudRateRequests();

        FT_HANDLE handle = openLamp();
        QVERIFY(handle);
        QVERIFY(!lamp->kernelDriverBound());
        QVERIFY(lamp->interfaceClaimed());
        QVERIFY(lamp->chipResets() > resetsBefore);
        QVERIFY(cable->kernelDriverBound()); // only the lamp was taken

        QCOMPARE(api().SetBaudRate(handle, 115200), FT_OK);
        QVERIFY(lamp->baudRateRequests() > baudRequestsBefore);
        QVERIFY2(std::fabs(lamp->baudRate() - 115200.0) < 115200.0 * 0.03,
                 qPrintable(QString::number(lamp->baudRate())));
        QCOMPARE(api().SetTimeouts(handle, 100, 100), FT_OK);
        QCOMPARE(api().SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE), FT_OK);
        QVERIFY(lamp->lineSettingsReceived());
        const auto line = lamp->lineSettings();
        QCOMPARE(line.dataBits, 8);
        QCOMPARE(line.stopBitsCode, 2);
        QCOMPARE(line.parity, 0);
        QVERIFY(!line.breakOn);

        char out[] = "VER\r\n";
        DWORD written = 0;
        QCOMPARE(api().Write(handle, out, 5, &written), FT_OK);
        QCOMPARE(written, DWORD(5));
        QCOMPARE(lamp->takeBulkOut(), std::string("VER\r\n"));

        DWORD queued = 0;
        QCOMPARE(api().GetQueueStatus(handle, &queued), FT_OK);
        QCOMPARE(queued, DWORD(16));
        char in[20] = {};
        DWORD got = 0;
        QCOMPARE(api().Read(handle, in, 20, &got), FT_OK);
        QCOMPARE(got, DWORD(16));
        QCOMPARE(std::string(in, got), std::string("Sela-Lumen 2.3\r\n"));

        QCOMPARE(closeHandle(handle), FT_OK);
        QVERIFY(!lamp->interfaceClaimed());
        QVERIFY(!lamp->kernelDriverBound()); // ftdi_sio gets it back at the end of the run
    }

    void baudRateReachesTheChip_data()
    {
        QTest::addColumn<ULONG>("baud");
        QTest::newRow("byte protocol") << ULONG(9600);
        QTest::newRow("text protocol") << ULONG(115200);
        QTest::newRow("slow") << ULONG(1200);
    }

    void baudRateReachesTheChip()
    {
        QFETCH(ULONG, baud);
        FT_HANDLE handle = openLamp();
        QVERIFY(handle);
        const int before = lamp->baudRateRequests();
        QCOMPARE(api().SetBaudRate(handle, baud), FT_OK);
        QCOMPARE(lamp->baudRateRequests(), before + 1);
        QVERIFY2(std::fabs(lamp->baudRate() - baud) < baud * 0.03, qPrintable(QString::number(lamp->baudRate())));
        QCOMPARE(closeHandle(handle), FT_OK);
    }

    void lineSettingsReachTheChip_data()
    {
        QTest::addColumn<int>("wordLength");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<FT_STATUS>("status");
        QTest::addColumn<int>("chipDataBits");
        QTest::addColumn<int>("chipStopCode");
        QTest::addColumn<int>("chipParity");
        QTest::newRow("8N2") << 8 << 2 << 0 << FT_STATUS(FT_OK) << 8 << 2 << 0;
        QTest::newRow("8N1") << 8 << 0 << 0 << FT_STATUS(FT_OK) << 8 << 0 << 0;
        QTest::newRow("7E1") << 7 << 0 << 2 << FT_STATUS(FT_OK) << 7 << 0 << 2;
        QTest::newRow("8O2") << 8 << 2 << 1 << FT_STATUS(FT_OK) << 8 << 2 << 1;
        QTest::newRow("8S1") << 8 << 0 << 4 << FT_STATUS(FT_OK) << 8 << 0 << 4;
        QTest::newRow("9 data bits") << 9 << 0 << 0 << FT_STATUS(FT_INVALID_PARAMETER) << -1 << -1 << -1;
        QTest::newRow("stop bits 3") << 8 << 3 << 0 << FT_STATUS(FT_INVALID_PARAMETER) << -1 << -1 << -1;
        QTest::newRow("parity 5") << 8 << 0 << 5 << FT_STATUS(FT_INVALID_PARAMETER) << -1 << -1 << -1;
    }

    void lineSettingsReachTheChip()
    {
        QFETCH(int, wordLength);
        QFETCH(int, stopBits);
        QFETCH(int, parity);
        QFETCH(FT_STATUS, status);
        QFETCH(int, chipDataBits);
        QFETCH(int, chipStopCode);
        QFETCH(int, chipParity);
        FT_HANDLE handle = openLamp();
        QVERIFY(handle);
        // Something the row under test must overwrite.
        QCOMPARE(api().SetDataCharacteristics(handle, 7, 2, 3), FT_OK);
        QCOMPARE(api().SetDataCharacteristics(handle, UCHAR(wordLength), UCHAR(stopBits), UCHAR(parity)), status);
        const auto line = lamp->lineSettings();
        if (status == FT_OK) {
            QCOMPARE(line.dataBits, chipDataBits);
            QCOMPARE(line.stopBitsCode, chipStopCode);
            QCOMPARE(line.parity, chipParity);
        } else { // refused before anything reached the chip
            QCOMPARE(line.dataBits, 7);
            QCOMPARE(line.stopBitsCode, 2);
            QCOMPARE(line.parity, 3);
        }
        QCOMPARE(closeHandle(handle), FT_OK);
    }

    void readWaitsNoLongerThanItsTimeout()
    {
        FT_HANDLE handle = openLamp();
        QVERIFY(handle);
        QCOMPARE(api().SetTimeouts(handle, 100, 100), FT_OK);
        char in[20];
        DWORD got = 99;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(api().Read(handle, in, 20, &got), FT_OK);
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(got, DWORD(0));
        QVERIFY2(elapsed >= 90, qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
        QCOMPARE(closeHandle(handle), FT_OK);
    }

    // More than one USB packet's worth: the status bytes of every packet are
    // dropped, the queue count is exact, and bytes the binding already
    // fetched are handed out first.
    void queuedBytesAreCountedAndReadInOrder()
    {
        FT_HANDLE handle = openLamp();
        QVERIFY(handle);
        QCOMPARE(api().SetTimeouts(handle, 100, 100), FT_OK);
        std::string reply;
        for (int i = 0; i < 150; ++i)
            reply += char('A' + i % 26);
        lamp->queueBulkIn(reply);

        DWORD queued = 0;
        QCOMPARE(api().GetQueueStatus(handle, &queued), FT_OK);
        QCOMPARE(queued, DWORD(150));
        // Asking again fetches nothing new and still counts what is held.
        QCOMPARE(api().GetQueueStatus(handle, &queued), FT_OK);
        QCOMPARE(queued, DWORD(150));

        char in[200];
        DWORD got = 0;
        QCOMPARE(api().Read(handle, in, 40, &got), FT_OK);
        QCOMPARE(std::string(in, got), reply.substr(0, 40));
        QCOMPARE(api().GetQueueStatus(handle, &queued), FT_OK);
        QCOMPARE(queued, DWORD(110));

        lamp->queueBulkIn("xyz");
        QCOMPARE(api().Read(handle, in, 113, &got), FT_OK);
        QCOMPARE(std::string(in, got), reply.substr(40) + "xyz");
        QCOMPARE(api().GetQueueStatus(handle, &queued), FT_OK);
        QCOMPARE(queued, DWORD(0));

        // A read shorter than what one transfer brought leaves the rest in
        // libftdi's buffer; the count must include it.
        lamp->queueBulkIn("0123456789abcdefghij");
        QCOMPARE(api().Read(handle, in, 5, &got), FT_OK);
        QCOMPARE(std::string(in, got), std::string("01234"));
        QCOMPARE(api().GetQueueStatus(handle, &queued), FT_OK);
        QCOMPARE(queued, DWORD(15));
        QCOMPARE(api().Read(handle, in, 15, &got), FT_OK);
        QCOMPARE(std::string(in, got), std::string("56789abcdefghij"));
        QCOMPARE(closeHandle(handle), FT_OK);
    }

    void openFailuresMapToD2xxStatus()
    {
        FT_STATUS status = FT_OK;
        FT_HANDLE handle = openBySerial("NOSUCH01", &status);
        QCOMPARE(status, FT_DEVICE_NOT_FOUND);
        QVERIFY(!handle);
        handle = openBySerial("", &status);
        QCOMPARE(status, FT_DEVICE_NOT_FOUND);

        // A lamp that another handle holds cannot be claimed twice.
        FT_HANDLE first = openLamp();
        QVERIFY(first);
        handle = openBySerial(lamp->spec().serial.c_str(), &status);
        QCOMPARE(status, FT_DEVICE_NOT_OPENED);
        QVERIFY(!handle);
        QCOMPARE(closeHandle(first), FT_OK);
        QVERIFY(!lamp->interfaceClaimed());
    }

    void openByDescription()
    {
        FT_HANDLE handle = nullptr;
        char description[] = "TTL232R";
        QCOMPARE(api().OpenEx(description, FT_OPEN_BY_DESCRIPTION, &handle), FT_OK);
        QVERIFY(handle);
        toClose.push_back(handle);
        QVERIFY(cable->interfaceClaimed());
        QVERIFY(!lamp->interfaceClaimed());
        QCOMPARE(closeHandle(handle), FT_OK);
        QVERIFY(!cable->interfaceClaimed());
    }

    void unknownHandlesAreRefused_data()
    {
        QTest::addColumn<QString>("which");
        QTest::newRow("null") << "null";
        QTest::newRow("made up") << "made up";
        QTest::newRow("closed") << "closed";
    }

    void unknownHandlesAreRefused()
    {
        QFETCH(QString, which);
        int madeUp = 0;
        FT_HANDLE handle = nullptr;
        if (which == "made up") {
            handle = &madeUp;
        } else if (which == "closed") {
            handle = openLamp();
            QVERIFY(handle);
            QCOMPARE(closeHandle(handle), FT_OK);
        }
        char buffer[8] = "abc";
        DWORD n = 0;
        QCOMPARE(api().Close(handle), FT_INVALID_HANDLE);
        QCOMPARE(api().Read(handle, buffer, 3, &n), FT_INVALID_HANDLE);
        QCOMPARE(api().Write(handle, buffer, 3, &n), FT_INVALID_HANDLE);
        QCOMPARE(api().SetBaudRate(handle, 9600), FT_INVALID_HANDLE);
        QCOMPARE(api().SetDataCharacteristics(handle, 8, 2, 0), FT_INVALID_HANDLE);
        QCOMPARE(api().SetTimeouts(handle, 100, 100), FT_INVALID_HANDLE);
        QCOMPARE(api().GetQueueStatus(handle, &n), FT_INVALID_HANDLE);
        QCOMPARE(lamp->takeBulkOut(), std::string());
    }

    void unpluggedWhileOpen()
    {
        EmulatedChipSpec spec;
        spec.productId = 0x6001;
        spec.product = "Sela-Lumen";
        spec.serial = "GONE0001";
        auto *chip = &usb->plug(spec);
        FT_STATUS status = FT_OTHER_ERROR;
        FT_HANDLE handle = openBySerial("GONE0001", &status);
        QCOMPARE(status, FT_OK);
        usb->unplug(*chip);
        char out[] = "VER\r\n";
        DWORD written = 99;
        QCOMPARE(api().Write(handle, out, 5, &written), FT_IO_ERROR);
        QCOMPARE(written, DWORD(0));
        char in[20];
        DWORD got = 99;
        QCOMPARE(api().Read(handle, in, 20, &got), FT_IO_ERROR);
        QCOMPARE(got, DWORD(0));
        api().Close(handle); // may report the failed release; the handle is gone either way
        QCOMPARE(api().Close(handle), FT_INVALID_HANDLE);
        QCOMPARE(listAll().size(), std::size_t(2));
    }

    // While a sequence plays the lamp is opened every second; its serial
    // port must not come and go with every exchange.
    void kernelDriverIsDetachedOnceAndGivenBackAtTheEnd()
    {
        EmulatedChipSpec spec;
        spec.productId = 0x6001;
        spec.product = "Sela-Lumen";
        spec.serial = "DTC00001";
        EmulatedFt232r *chip = &usb->plug(spec);
        QVERIFY(chip->kernelDriverBound());
        for (int i = 0; i < 12; ++i) {
            QVERIFY(exchange("DTC00001"));
            QVERIFY(!chip->interfaceClaimed());
        }
        QCOMPARE(chip->takeBulkOut().size(), std::size_t(24));
        QCOMPARE(chip->kernelDriverDetaches(), 1);
        QCOMPARE(chip->kernelDriverAttaches(), 0);
        QVERIFY(!chip->kernelDriverBound());

        // A replug brings a device with its driver bound: detached afresh, once.
        chip = &usb->replug(*chip);
        for (int i = 0; i < 3; ++i)
            QVERIFY(exchange("DTC00001"));
        QCOMPARE(chip->kernelDriverDetaches(), 1);

        // A device open at the end is closed first, then every device whose
        // driver was taken gets it back: this chip, and the lamp and cable
        // that earlier tests opened.
        FT_STATUS status = FT_OTHER_ERROR;
        FT_HANDLE stillOpen = openBySerial("DTC00001", &status);
        QCOMPARE(status, FT_OK);
        tintrava::libftdiEndOfRun();
        QCOMPARE(api().Close(stillOpen), FT_INVALID_HANDLE);
        QCOMPARE(chip->kernelDriverAttaches(), 1);
        QVERIFY(chip->kernelDriverBound());
        QVERIFY(lamp->kernelDriverBound());
        QVERIFY(cable->kernelDriverBound());
        // Nothing is given back twice, and the binding works on afterwards.
        tintrava::libftdiEndOfRun();
        QCOMPARE(chip->kernelDriverAttaches(), 1);
        QVERIFY(exchange("DTC00001"));
        QCOMPARE(chip->kernelDriverDetaches(), 2);
        tintrava::libftdiEndOfRun();
        QVERIFY(chip->kernelDriverBound());
        usb->unplug(*chip);
    }

    // The same in a program of its own that just ends: the binding gives the
    // driver back by itself.
    void kernelDriverIsGivenBackWhenAProgramEnds()
    {
        EmulatedChipSpec spec;
        spec.productId = 0x6001;
        spec.product = "Sela-Lumen";
        spec.serial = "EXIT0001";
        Plugged plugged{*usb, usb->plug(spec)};
        QProcess helper;
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper.start(QStringLiteral(TINTRAVA_EXCHANGE_HELPER), {QStringLiteral("EXIT0001"), QStringLiteral("8")});
        QVERIFY(helper.waitForFinished(60000));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.readAllStandardOutput().trimmed(), QByteArray("exchanges=8"));
        QCOMPARE(helper.exitCode(), 0);
        QCOMPARE(plugged.chip.takeBulkOut().size(), std::size_t(16));
        QCOMPARE(plugged.chip.kernelDriverDetaches(), 1);
        QCOMPARE(plugged.chip.kernelDriverAttaches(), 1);
        QVERIFY(plugged.chip.kernelDriverBound());
        QVERIFY(!plugged.chip.interfaceClaimed());
    }

    // Another program holds the lamp: it is listed as usual (discovery finds
    // it), the open fails, and the binding says why until an open succeeds.
    void deviceHeldByAnotherProgramIsToldApart()
    {
        QVERIFY(problems().empty());
        lamp->setHeldByAnotherProgram(true);
        const auto list = listAll();
        QVERIFY(findBySerial(list, "SL4711A"));
        QCOMPARE(findBySerial(list, "SL4711A")->description, std::string("Sela-Lumen"));
        QVERIFY(problems().empty()); // listing needs no claim

        FT_STATUS status = FT_OK;
        FT_HANDLE handle = openBySerial("SL4711A", &status);
        QCOMPARE(status, FT_DEVICE_NOT_OPENED);
        QVERIFY(!handle);
        auto found = problems();
        QCOMPARE(found.size(), std::size_t(1));
        QVERIFY(found[0].kind == D2xxLinkProblemKind::Busy);
        QCOMPARE(found[0].product, std::string("Sela-Lumen"));
        // It lasts over listings while the other program keeps the lamp.
        listAll();
        openBySerial("SL4711A", &status);
        QCOMPARE(status, FT_DEVICE_NOT_OPENED);
        QCOMPARE(problems().size(), std::size_t(1));

        // The other program lets go: the next listing sees it, without a transfer.
        lamp->setHeldByAnotherProgram(false);
        const int transfers = usb->controlTransfers();
        listAll();
        QVERIFY(problems().empty());
        QCOMPARE(usb->controlTransfers(), transfers);
        QVERIFY(!lamp->interfaceClaimed());
        QVERIFY(exchange("SL4711A"));
        QVERIFY(problems().empty());
        // Other devices never shared the problem, and an absent device is no problem either.
        openBySerial("NOSUCH01", &status);
        QCOMPARE(status, FT_DEVICE_NOT_FOUND);
        QVERIFY(problems().empty());
    }

    // Run by the unprivileged ctest entry (setpriv to user 65534): a device
    // node the user may not open, as without the udev rule.
    void deviceWithoutAccessIsToldApart_data()
    {
        QTest::addColumn<QString>("product");
        QTest::newRow("lamp") << "Sela-Lumen";
        QTest::newRow("other FTDI gadget") << "FT232R USB UART";
    }

    void deviceWithoutAccessIsToldApart()
    {
        if (geteuid() == 0)
            QSKIP("root opens any node; test_libftdi_binding_unprivileged runs this as user 65534");
        QFETCH(QString, product);
        EmulatedChipSpec spec;
        spec.productId = 0x6001;
        spec.product = product.toStdString();
        spec.serial = "NOPERM01";
        {
            Plugged denied{*usb, usb->plug(spec)};
            usb->denyAccess(denied.chip);

            const auto list = listAll();
            QCOMPARE(list.size(), std::size_t(3));
            int deniedRows = 0;
            for (const Listed &l : list) {
                if (l.serial == "SL4711A" || l.serial == "FT9ZK2Q1")
                    continue;
                ++deniedRows;
                QCOMPARE(l.descriptionStatus, FT_DEVICE_NOT_OPENED);
                QCOMPARE(l.serialStatus, FT_DEVICE_NOT_OPENED);
            }
            QCOMPARE(deniedRows, 1);
            QCOMPARE(denied.chip.controlTransfers(), 0);
            const auto found = problems();
            QCOMPARE(found.size(), std::size_t(1));
            QVERIFY(found[0].kind == D2xxLinkProblemKind::NoAccess);
            // Read from sysfs: the device itself could not be asked.
            QCOMPARE(QString::fromStdString(found[0].product), product);
            // The reachable devices still work.
            QVERIFY(exchange("SL4711A"));
        }
        // Unplugged, the problem is gone with it.
        QCOMPARE(listAll().size(), std::size_t(2));
        QVERIFY(problems().empty());
    }

    void badBaudRateIsRefused()
    {
        FT_HANDLE handle = openLamp();
        QVERIFY(handle);
        QCOMPARE(api().SetBaudRate(handle, 0), FT_INVALID_BAUD_RATE);
        QCOMPARE(api().SetBaudRate(handle, 50000000), FT_INVALID_BAUD_RATE); // beyond the chip's 3 MBd
        QCOMPARE(closeHandle(handle), FT_OK);
    }
};

QTEST_GUILESS_MAIN(TestLibftdiBinding)
#include "test_libftdi_binding.moc"
