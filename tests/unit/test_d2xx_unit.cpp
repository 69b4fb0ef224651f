#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "lamp/d2xx/d2xx_unit.h"
#include "support/fake_d2xx.h"

using tintrava::testing::FakeD2xx;
using tintrava::testing::FakeDevice;
using tintrava::testing::fakeD2xx;

namespace {

enum Op {
    OpCount,
    OpSerial,
    OpDescription,
    OpOpen,
    OpClose,
    OpRead,
    OpWrite,
    OpBaud,
    OpData,
    OpTimeouts,
    OpQueue,
};

// Runs one operation; the status, or for read/write 0 = something moved.
FT_STATUS runOp(int op)
{
    using namespace D2XXUnit;
    switch (op) {
    case OpCount: return GetFTDeviceCount();
    case OpSerial: return GetFTDeviceSerialNo(0);
    case OpDescription: return GetFTDeviceDescription(1);
    case OpOpen: return Open_USB_Device_By_Serial_Number("VL1");
    case OpClose: return CloseFTDevice();
    case OpRead: return ReadFTDevice(20) > 0 ? FT_OK : FT_OTHER_ERROR;
    case OpWrite: return WriteFTDevice(5) > 0 ? FT_OK : FT_OTHER_ERROR;
    case OpBaud: return SetFTBaudRate();
    case OpData: return SetFTDataCharacteristics();
    case OpTimeouts: return SetFTTimeouts(100, 100);
    case OpQueue: return GetFTQueueStatus();
    }
    return FT_OTHER_ERROR;
}

void addOpRows()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("member"); // index of the D2xxApi entry the op uses

    QTest::newRow("count") << int(OpCount) << "ListDevices(NUMBER_ONLY)" << 0;
    QTest::newRow("serial") << int(OpSerial) << "ListDevices(0,BY_INDEX|SERIAL)" << 0;
    QTest::newRow("description") << int(OpDescription) << "ListDevices(1,BY_INDEX|DESCRIPTION)" << 0;
    QTest::newRow("open") << int(OpOpen) << "OpenEx(VL1,SERIAL)" << 1;
    QTest::newRow("close") << int(OpClose) << "Close" << 2;
    QTest::newRow("read") << int(OpRead) << "Read(20)" << 3;
    QTest::newRow("write") << int(OpWrite) << "Write(56 45 52 0D 0A)" << 4;
    QTest::newRow("baud") << int(OpBaud) << "SetBaudRate(115200)" << 5;
    QTest::newRow("data") << int(OpData) << "SetDataCharacteristics(8,2,0)" << 6;
    QTest::newRow("timeouts") << int(OpTimeouts) << "SetTimeouts(100,100)" << 7;
    QTest::newRow("queue") << int(OpQueue) << "GetQueueStatus" << 8;
}

void clearMember(D2xxApi &api, int member)
{
    switch (member) {
    case 0: api.ListDevices = nullptr; break;
    case 1: api.OpenEx = nullptr; break;
    case 2: api.Close = nullptr; break;
    case 3: api.Read = nullptr; break;
    case 4: api.Write = nullptr; break;
    case 5: api.SetBaudRate = nullptr; break;
    case 6: api.SetDataCharacteristics = nullptr; break;
    case 7: api.SetTimeouts = nullptr; break;
    case 8: api.GetQueueStatus = nullptr; break;
    }
}

} // namespace

class TestD2xxUnit : public QObject {
    Q_OBJECT

    FakeD2xx &fake = fakeD2xx();

    // Two devices; the lamp VL1 open, settings and "VER\r\n" prepared, log empty.
    void openLamp()
    {
        QCOMPARE(D2XXUnit::Open_USB_Device_By_Serial_Number("VL1"), FT_OK);
        D2XXUnit::BaudRate = 115200;
        D2XXUnit::WordLength = 8;
        D2XXUnit::StopBits = 2;
        D2XXUnit::Parity = 0;
        std::memcpy(D2XXUnit::OutBuffer, "VER\r\n", 5);
        fake.clearLog();
    }

private slots:
    void init()
    {
        D2XXUnit::resetForTests();
        fake.reset();
        fake.devices = {FakeDevice{"Sela-Lumen", "VL1"}, FakeDevice{"TTL232R", "FT42"}};
        fake.install();
    }

    void eachOperationMakesOneCall_data() { addOpRows(); }
    void eachOperationMakesOneCall()
    {
        QFETCH(int, op);
        QFETCH(QString, call);
        if (op != OpOpen)
            openLamp();
        fake.rx = "reply";
        QCOMPARE(runOp(op), FT_OK);
        QCOMPARE(fake.callList(), QStringList{call});
    }

    void missingTableEntryFailsWithoutCalling_data() { addOpRows(); }
    void missingTableEntryFailsWithoutCalling()
    {
        QFETCH(int, op);
        QFETCH(int, member);
        if (op != OpOpen)
            openLamp();
        fake.rx = "reply";
        D2XXUnit::DeviceText = "before";
        D2XXUnit::DeviceCount = 7;
        D2xxApi api = FakeD2xx::api();
        clearMember(api, member);
        D2XXUnit::setDriver(api);

        QCOMPARE(runOp(op), FT_OTHER_ERROR);
        QVERIFY2(fake.calls.empty(), fake.callList().join("; ").toUtf8());
        QCOMPARE(D2XXUnit::DeviceText, std::string("before"));
        QCOMPARE(D2XXUnit::DeviceCount, 7u);
        if (op == OpOpen)
            QCOMPARE(D2XXUnit::DeviceHandle, nullptr);
    }

    // The driver chosen by the first operation, once, even when several
    // threads ask at the same time; a chooser that finds nothing leaves the
    // operations failing as without a driver.
    void driverChosenAtFirstUse_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("threads");
        QTest::newRow("count, one thread") << int(OpCount) << 1;
        QTest::newRow("open, one thread") << int(OpOpen) << 1;
        QTest::newRow("count, eight threads") << int(OpCount) << 8;
    }
    void driverChosenAtFirstUse()
    {
        QFETCH(int, op);
        QFETCH(int, threads);
        std::atomic<int> chosen{0};
        D2XXUnit::setDriverChooser([&chosen] {
            ++chosen;
            return FakeD2xx::api();
        });
        QCOMPARE(chosen.load(), 0);
        std::vector<std::thread> askers;
        std::atomic<bool> go{false};
        std::atomic<int> failed{0};
        for (int i = 0; i < threads; ++i)
            askers.emplace_back([&] {
                while (!go.load()) {
                }
                // Only the listing is safe to run side by side on the fake.
                if (D2xxApi(D2XXUnit::driver()).ListDevices == nullptr)
                    ++failed;
            });
        go = true;
        for (std::thread &asker : askers)
            asker.join();
        QCOMPARE(failed.load(), 0);
        QCOMPARE(chosen.load(), 1);
        QCOMPARE(runOp(op), FT_OK);
        QCOMPARE(chosen.load(), 1);
        // A table set later replaces the chosen one, and no chooser runs again.
        D2XXUnit::setDriver(D2xxApi{});
        QCOMPARE(runOp(op), FT_OTHER_ERROR);
        QCOMPARE(chosen.load(), 1);
    }

    void chooserWithoutDriver()
    {
        int chosen = 0;
        D2XXUnit::setDriverChooser([&chosen] {
            ++chosen;
            return D2xxApi{};
        });
        for (int op = OpCount; op <= OpQueue; ++op)
            QCOMPARE(runOp(op), FT_OTHER_ERROR);
        QVERIFY(fake.calls.empty());
        QCOMPARE(chosen, 1);
    }

    void emptyTableFailsEverything()
    {
        D2XXUnit::setDriver(D2xxApi{});
        for (int op = OpCount; op <= OpQueue; ++op)
            QCOMPARE(runOp(op), FT_OTHER_ERROR);
        QVERIFY(fake.calls.empty());
    }

    void textExchange()
    {
        fake.replies = {"Sela-Lumen V1.0\r\n"};
        using namespace D2XXUnit;
        QCOMPARE(Open_USB_Device_By_Serial_Number("VL1"), FT_OK);
        QCOMPARE(DeviceHandle, FakeD2xx::handleFor(0));
        BaudRate = 115200;
        QCOMPARE(SetFTBaudRate(), FT_OK);
        QCOMPARE(SetFTTimeouts(100, 100), FT_OK);
        WordLength = 8;
        StopBits = 2;
        Parity = 0;
        QCOMPARE(SetFTDataCharacteristics(), FT_OK);
        std::memcpy(OutBuffer, "VER\r\n", 5);
        QCOMPARE(WriteFTDevice(5), 5u);
        QCOMPARE(GetFTQueueStatus(), FT_OK);
        QCOMPARE(QueueCount, 17u);
        QCOMPARE(ReadFTDevice(20), 17u);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(InBuffer), 17), QByteArray("Sela-Lumen V1.0\r\n"));
        QCOMPARE(CloseFTDevice(), FT_OK);
        QCOMPARE(DeviceHandle, nullptr);

        const QStringList expected{"OpenEx(VL1,SERIAL)", "SetBaudRate(115200)", "SetTimeouts(100,100)",
                                   "SetDataCharacteristics(8,2,0)", "Write(56 45 52 0D 0A)", "GetQueueStatus",
                                   "Read(20)", "Close"};
        QCOMPARE(fake.callList(), expected);
        QCOMPARE(fake.baudRate, 115200u);
        QCOMPARE(int(fake.stopBits), 2);
        QCOMPARE(fake.readTimeout, 100u);
        QCOMPARE(fake.opens, 1);
        QCOMPARE(fake.closes, 1);
    }

    void deviceCount()
    {
        QCOMPARE(D2XXUnit::GetFTDeviceCount(), FT_OK);
        QCOMPARE(D2XXUnit::DeviceCount, 2u);

        // A failing count leaves whatever the driver wrote, or the old value.
        fake.failures["ListDevices"] = FT_IO_ERROR;
        QCOMPARE(D2XXUnit::GetFTDeviceCount(), FT_IO_ERROR);
        QCOMPARE(D2XXUnit::DeviceCount, 2u);
        fake.countOnFailure = 9;
        QCOMPARE(D2XXUnit::GetFTDeviceCount(), FT_IO_ERROR);
        QCOMPARE(D2XXUnit::DeviceCount, 9u);
    }

    void listingText_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QByteArray>("driverText");
        QTest::addColumn<bool>("ignoreLimits");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray s16 = "ABCDEFGHIJKLMNOP";
        const QByteArray d64 = QByteArray(60, 'd') + "WXYZ";
        QTest::newRow("serial short") << true << QByteArray("VL1") << false << QByteArray("VL1");
        QTest::newRow("serial empty") << true << QByteArray() << false << QByteArray();
        QTest::newRow("serial 16 without NUL") << true << s16 << false << s16;
        QTest::newRow("serial 20 overrunning") << true << s16 + "QRST" << true << s16;
        QTest::newRow("serial NUL inside") << true << QByteArray("VL\0XX", 5) << false << QByteArray("VL");
        QTest::newRow("description") << false << QByteArray("Sela-Lumen") << false << QByteArray("Sela-Lumen");
        QTest::newRow("description 64 without NUL") << false << d64 << false << d64;
        QTest::newRow("description 70 overrunning") << false << d64 + "123456" << true << d64;
        QTest::newRow("description empty") << false << QByteArray() << false << QByteArray();
    }
    void listingText()
    {
        QFETCH(bool, serial);
        QFETCH(QByteArray, driverText);
        QFETCH(bool, ignoreLimits);
        QFETCH(QByteArray, expected);

        const std::string text = driverText.toStdString();
        if (serial)
            fake.devices[1].serial = text;
        else
            fake.devices[1].description = text;
        fake.ignoreBufferLimits = ignoreLimits;
        D2XXUnit::DeviceText = "previous text that is longer than any other";

        const FT_STATUS status = serial ? D2XXUnit::GetFTDeviceSerialNo(1) : D2XXUnit::GetFTDeviceDescription(1);
        QCOMPARE(status, FT_OK);
        QCOMPARE(QByteArray::fromStdString(D2XXUnit::DeviceText), expected);
    }

    void failedListingKeepsDeviceText_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("status");

        QTest::newRow("serial fails") << true << 0 << int(FT_IO_ERROR);
        QTest::newRow("description fails") << false << 0 << int(FT_IO_ERROR);
        QTest::newRow("serial index past end") << true << 2 << int(FT_DEVICE_NOT_FOUND);
        QTest::newRow("description index past end") << false << 5 << int(FT_DEVICE_NOT_FOUND);
    }
    void failedListingKeepsDeviceText()
    {
        QFETCH(bool, serial);
        QFETCH(int, index);
        QFETCH(int, status);

        fake.devices[0].serialFails = true;
        fake.devices[0].descriptionFails = true;
        D2XXUnit::DeviceText = "Sela-Lumen";
        const FT_STATUS got = serial ? D2XXUnit::GetFTDeviceSerialNo(index) : D2XXUnit::GetFTDeviceDescription(index);
        QCOMPARE(int(got), status);
        QCOMPARE(D2XXUnit::DeviceText, std::string("Sela-Lumen"));
    }

    void serialToOpen_data()
    {
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QByteArray>("copied");

        const QByteArray s49(49, 's');
        QTest::newRow("short") << QByteArray("VL1") << QByteArray("VL1");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("49") << s49 << s49;
        QTest::newRow("50 cut") << s49 + "X" << s49;
        QTest::newRow("200 cut") << QByteArray(200, 'L') << QByteArray(49, 'L');
    }
    void serialToOpen()
    {
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, copied);

        // A longer serial opened before must not show through.
        D2XXUnit::Open_USB_Device_By_Serial_Number(std::string(60, 'Z'));
        fake.devices[0].serial = copied.toStdString();
        fake.clearLog();

        QCOMPARE(D2XXUnit::Open_USB_Device_By_Serial_Number(serial.toStdString()), FT_OK);
        QCOMPARE(QByteArray(D2XXUnit::SerialToOpen), copied);
        QCOMPARE(D2XXUnit::SerialToOpen[copied.size()], '\0');
        QCOMPARE(fake.callList(), QStringList{"OpenEx(" + QString::fromLatin1(copied) + ",SERIAL)"});
        QCOMPARE(fake.openIndex, 0);
    }

    void failedOpen_data()
    {
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<bool>("openFails");
        QTest::addColumn<int>("status");

        QTest::newRow("not attached") << QByteArray("GONE") << false << int(FT_DEVICE_NOT_FOUND);
        QTest::newRow("open fails") << QByteArray("VL1") << true << int(FT_DEVICE_NOT_OPENED);
    }
    void failedOpen()
    {
        QFETCH(QByteArray, serial);
        QFETCH(bool, openFails);
        QFETCH(int, status);

        // A handle from an earlier, closed open must not survive a failed open.
        QCOMPARE(D2XXUnit::Open_USB_Device_By_Serial_Number("FT42"), FT_OK);
        fake.openIndex = -1; // closed behind the layer's back
        fake.devices[0].openFails = openFails;
        QCOMPARE(int(D2XXUnit::Open_USB_Device_By_Serial_Number(serial.toStdString())), status);
        QCOMPARE(D2XXUnit::DeviceHandle, nullptr);
        // Operations on it fail without reaching a device.
        QCOMPARE(D2XXUnit::WriteFTDevice(2), 0u);
    }

    void failedCloseKeepsHandle()
    {
        openLamp();
        fake.failures["Close"] = FT_IO_ERROR;
        QCOMPARE(D2XXUnit::CloseFTDevice(), FT_IO_ERROR);
        QCOMPARE(D2XXUnit::DeviceHandle, FakeD2xx::handleFor(0));
    }

    void transferCounts_data()
    {
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("failure");      // injected status, 0 none
        QTest::addColumn<int>("reported");     // bytes the driver claims, -1 honest
        QTest::addColumn<uint>("requested");
        QTest::addColumn<uint>("expected");

        QTest::newRow("read") << true << 0 << -1 << 20u << 17u;
        QTest::newRow("read fails, claims bytes") << true << int(FT_IO_ERROR) << 5 << 20u << 0u;
        QTest::newRow("read fails honestly") << true << int(FT_IO_ERROR) << -1 << 20u << 0u;
        QTest::newRow("read claims more than asked") << true << 0 << 50 << 20u << 20u;
        QTest::newRow("read nothing waiting") << true << 0 << -1 << 0u << 0u;
        QTest::newRow("write") << false << 0 << -1 << 5u << 5u;
        QTest::newRow("write fails, claims bytes") << false << int(FT_IO_ERROR) << 5 << 5u << 0u;
        QTest::newRow("write fails honestly") << false << int(FT_IO_ERROR) << -1 << 5u << 0u;
        QTest::newRow("write claims more than asked") << false << 0 << 9 << 5u << 5u;
    }
    void transferCounts()
    {
        QFETCH(bool, read);
        QFETCH(int, failure);
        QFETCH(int, reported);
        QFETCH(uint, requested);
        QFETCH(uint, expected);

        openLamp();
        fake.rx = "Sela-Lumen V1.0\r\n";
        if (failure)
            fake.failures[read ? "Read" : "Write"] = FT_STATUS(failure);
        if (reported >= 0)
            fake.reportedBytes = DWORD(reported);
        const DWORD got = read ? D2XXUnit::ReadFTDevice(requested) : D2XXUnit::WriteFTDevice(requested);
        QCOMPARE(got, DWORD(expected));
        QCOMPARE(fake.calls.size(), std::size_t(1));
    }

    void countsClampedToBuffers()
    {
        openLamp();
        fake.rx = std::string(70000, 'x');
        QCOMPARE(D2XXUnit::ReadFTDevice(100000), DWORD(D2XXUnit::BufferSize));
        QCOMPARE(fake.calls.back(), std::string("Read(65536)"));
        QCOMPARE(D2XXUnit::WriteFTDevice(0xFFFFFFFFu), DWORD(D2XXUnit::BufferSize));
        QCOMPARE(fake.writes.back().size(), D2XXUnit::BufferSize);
    }

    void badHandleReachesDriverAsIs()
    {
        // Without an open the layer still makes its one call; the driver refuses it.
        QCOMPARE(D2XXUnit::SetFTBaudRate(), FT_INVALID_HANDLE);
        QCOMPARE(D2XXUnit::GetFTQueueStatus(), FT_INVALID_HANDLE);
        QCOMPARE(D2XXUnit::ReadFTDevice(20), 0u);
        QCOMPARE(fake.callList(), (QStringList{"SetBaudRate(0)", "GetQueueStatus", "Read(20)"}));
    }

    void resetClearsState()
    {
        openLamp();
        D2XXUnit::DeviceText = "x";
        D2XXUnit::DeviceCount = 3;
        D2XXUnit::QueueCount = 4;
        D2XXUnit::InBuffer[10] = 1;
        D2XXUnit::resetForTests();
        QCOMPARE(D2XXUnit::DeviceHandle, nullptr);
        QCOMPARE(D2XXUnit::BaudRate, 0u);
        QCOMPARE(int(D2XXUnit::StopBits), 0);
        QCOMPARE(D2XXUnit::DeviceCount, 0u);
        QCOMPARE(D2XXUnit::QueueCount, 0u);
        QVERIFY(D2XXUnit::DeviceText.empty());
        QCOMPARE(D2XXUnit::SerialToOpen[0], '\0');
        QCOMPARE(int(D2XXUnit::InBuffer[10]), 0);
        QCOMPARE(int(D2XXUnit::OutBuffer[0]), 0);
        // The driver stays.
        QVERIFY(D2XXUnit::driver().OpenEx == FakeD2xx::api().OpenEx);
    }
};

QTEST_GUILESS_MAIN(TestD2xxUnit)
#include "test_d2xx_unit.moc"
