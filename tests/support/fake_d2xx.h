#pragma once
// A scripted stand-in for the D2XX driver, for tests of the device layer,
// discovery and the lamp protocols. It is one global object (fakeD2xx()) whose
// nine C functions go into a D2xxApi table; install() hands that table to
// D2XXUnit::setDriver.
//
// Typical use:
//     auto &fake = tintrava::testing::fakeD2xx();
//     fake.reset();                                  // clean state, no devices
//     fake.devices = {{"Sela-Lumen", "VL1"}, {"TTL232R", "FT99"}};
//     fake.replies = {"Sela-Lumen V1.0\r\n"};       // answer to the next write
//     fake.install();
//     ... run the code under test ...
//     QCOMPARE(fake.callList(), QStringList{"ListDevices(NUMBER_ONLY)", ...});
//
// Call log: one readable entry per driver call, whether it succeeds or not:
//     ListDevices(NUMBER_ONLY)
//     ListDevices(<index>,BY_INDEX|SERIAL)      ListDevices(<index>,BY_INDEX|DESCRIPTION)
//     OpenEx(<text>,SERIAL)                     OpenEx(<text>,DESCRIPTION)
//     Close
//     SetBaudRate(<baud>)
//     SetDataCharacteristics(<word>,<stop>,<parity>)   e.g. SetDataCharacteristics(8,2,0)
//     SetTimeouts(<read>,<write>)
//     Write(<bytes as upper-case hex pairs, space separated>)   e.g. Write(56 45 52 0D 0A)
//     GetQueueStatus
//     Read(<bytes requested>)
// Flags the fake does not know are shown as 0x<hex>.
//
// Receiving: the fake holds a receive queue (rx). After each successful Write,
// if responder is set, its result is appended to rx; otherwise the front of
// replies (if any) is moved to rx. GetQueueStatus reports rx.size(); Read(n)
// takes up to n bytes from the front of rx. Close discards what is left in rx.
// The fake does not model time: replies are there at once.
//
// Devices: one device may be open at a time (a second open fails with
// FT_DEVICE_NOT_OPENED, as a busy device does). Calls with a handle other than
// the open one fail with FT_INVALID_HANDLE. After an open the line settings
// are FTDI's defaults (9600 baud, 8 data bits, 1 stop bit (0), no parity,
// time-outs 0); the fields below show the current ones.
//
// Listing writes at most 16 (serial) or 64 (description) bytes into the
// caller's buffer, with a NUL only when the text is shorter, as FTDI's driver
// does; with ignoreBufferLimits it writes the whole text plus NUL.
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lamp/d2xx/d2xx_api.h"

namespace tintrava::testing {

struct FakeDevice {
    std::string description;
    std::string serial;
    bool descriptionFails = false; // ListDevices(..., DESCRIPTION) -> FT_IO_ERROR
    bool serialFails = false;      // ListDevices(..., SERIAL) -> FT_IO_ERROR
    bool openFails = false;        // OpenEx -> FT_DEVICE_NOT_OPENED
};

class FakeD2xx {
public:
    // --- set up by the test ---
    std::vector<FakeDevice> devices;
    std::deque<std::string> replies;   // one entry moved to rx per successful Write
    std::function<std::string(const std::string &written)> responder; // overrides replies
    std::string rx;                    // bytes waiting to be read
    // Makes every call of that name fail with the given status. Names as in the
    // log without arguments: "ListDevices" (every listing call), "OpenEx",
    // "Close", "SetBaudRate", "SetDataCharacteristics", "SetTimeouts", "Write",
    // "GetQueueStatus", "Read".
    std::map<std::string, FT_STATUS> failures;
    // Written to the count pointer by a failing NUMBER_ONLY listing (a driver
    // leaving junk behind); nothing is written when unset.
    std::optional<DWORD> countOnFailure;
    // When set, a successful NUMBER_ONLY listing reports this count instead of
    // the number of devices (a driver that lies about it).
    std::optional<DWORD> reportedCount;
    // When set, Read and Write report this many bytes moved, whatever happened
    // (also when they fail): a driver that lies about the count.
    std::optional<DWORD> reportedBytes;
    bool ignoreBufferLimits = false;
    // What the table's LinkProblems answers (not a D2XX call: not logged).
    std::vector<D2xxLinkProblem> linkProblems;

    // --- recorded by the fake ---
    std::vector<std::string> calls;                               // the call log
    std::vector<std::chrono::steady_clock::time_point> callTimes; // one per log entry
    std::vector<std::string> writes; // bytes of each successful Write
    int openIndex = -1;              // index into devices of the open device, -1 none
    int opens = 0;                   // successful opens
    int closes = 0;                  // successful closes
    ULONG baudRate = 0;
    UCHAR wordLength = 0, stopBits = 0, parity = 0;
    ULONG readTimeout = 0, writeTimeout = 0;

    // Everything back to the defaults above: no devices, empty logs, nothing open.
    void reset();
    // D2XXUnit::setDriver(api()).
    void install();
    // The table of the fake's nine functions and LinkProblems.
    static D2xxApi api();
    // The handle the fake gives out for devices[index].
    static FT_HANDLE handleFor(int index);

    bool isOpen() const { return openIndex >= 0; }
    QStringList callList() const;              // calls as a QStringList, for QCOMPARE
    std::string allWritten() const;            // every successful Write, concatenated
    void clearLog();                           // calls, callTimes, writes emptied
    // Milliseconds from the first log entry starting with `from` to the next
    // entry after it starting with `to` (e.g. "Write(", "Read("); -1 when missing.
    double msBetween(const std::string &from, const std::string &to) const;
};

// The one fake every test shares.
FakeD2xx &fakeD2xx();

// "56 45 52 0D 0A" for "VER\r\n".
std::string hexBytes(const std::string &bytes);

} // namespace tintrava::testing
