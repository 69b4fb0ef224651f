#include <QtTest>

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/discovery.h"
#include "support/fake_d2xx.h"

using namespace tintrava;
using tintrava::testing::FakeDevice;
using tintrava::testing::fakeD2xx;

Q_DECLARE_METATYPE(std::vector<FakeDevice>)

class TestDiscovery : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        fakeD2xx().reset();
        fakeD2xx().install();
        D2XXUnit::resetForTests();
    }

    void patterns_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("lamp");
        QTest::addColumn<bool>("fallback");
        QTest::newRow("Sela-Lumen") << "Sela-Lumen" << true << false;
        QTest::newRow("case matters") << "sela-lumen" << false << false;
        QTest::newRow("trailing blank") << "Sela-Lumen " << false << false;
        QTest::newRow("22 chars, V 13th") << "VC0123456789V012345678" << true << false;
        QTest::newRow("22 chars, other 13th") << "VC0123456789X012345678" << false << false;
        QTest::newRow("22 chars, lower v 13th") << "VC0123456789v012345678" << false << false;
        QTest::newRow("21 chars") << "VC0123456789V01234567" << false << false;
        QTest::newRow("23 chars") << "VC0123456789V0123456789" << false << false;
        QTest::newRow("lower-case vc") << "vc0123456789V012345678" << false << false;
        QTest::newRow("22 chars, not VC") << "XC0123456789V012345678" << false << false;
        QTest::newRow("TTL232R") << "TTL232R" << false << true;
        QTest::newRow("TTL232R-3V3") << "TTL232R-3V3" << false << false;
        QTest::newRow("empty") << "" << false << false;
    }
    void patterns()
    {
        QFETCH(QString, description);
        QFETCH(bool, lamp);
        QFETCH(bool, fallback);
        QCOMPARE(matchesLampDescription(description.toStdString()), lamp);
        QCOMPARE(matchesFallbackDescription(description.toStdString()), fallback);
    }

    void choice_data()
    {
        QTest::addColumn<std::vector<FakeDevice>>("devices");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("serial");

        QTest::newRow("nothing attached") << std::vector<FakeDevice>{} << false << "OLD";
        QTest::newRow("lamp beside cable") << std::vector<FakeDevice>{{"Sela-Lumen", "L1"}, {"TTL232R", "C1"}}
                                           << true << "L1";
        QTest::newRow("cable only") << std::vector<FakeDevice>{{"TTL232R", "C1"}, {"FT232R USB UART", "X"}}
                                    << true << "C1";
        QTest::newRow("last lamp wins") << std::vector<FakeDevice>{{"Sela-Lumen", "L1"}, {"VC0123456789V012345678", "L2"}}
                                        << true << "L2";
        QTest::newRow("last cable wins") << std::vector<FakeDevice>{{"TTL232R", "C1"}, {"TTL232R", "C2"}} << true << "C2";
        QTest::newRow("other FTDI devices only") << std::vector<FakeDevice>{{"FT232R USB UART", "X"}} << false << "OLD";
        // A description that cannot be read is skipped, not tested with the
        // text the previous call left behind.
        QTest::newRow("unreadable description after a lamp")
            << std::vector<FakeDevice>{{"Sela-Lumen", "L1"}, {"Sela-Lumen", "L2", true}} << true << "L1";
        // A lamp whose serial cannot be read is not taken: the description
        // still sitting in DeviceText must never become the serial.
        QTest::newRow("unreadable serial") << std::vector<FakeDevice>{{"Sela-Lumen", "L1", false, true}} << false << "OLD";
        QTest::newRow("unreadable serial, cable taken")
            << std::vector<FakeDevice>{{"Sela-Lumen", "L1", false, true}, {"TTL232R", "C1"}} << true << "C1";
        QTest::newRow("unreadable serial of the last lamp")
            << std::vector<FakeDevice>{{"Sela-Lumen", "L1"}, {"Sela-Lumen", "L2", false, true}} << true << "L1";
    }
    void choice()
    {
        QFETCH(std::vector<FakeDevice>, devices);
        QFETCH(bool, found);
        QFETCH(QString, serial);
        fakeD2xx().devices = devices;
        LampState state;
        state.LampSerial = "OLD";
        state.LampProtocol = ProtocolText;
        QCOMPARE(getusbdev(state), found);
        QCOMPARE(state.LampFound, found);
        QCOMPARE(QString::fromStdString(state.LampSerial), serial);
    }

    // The protocol belongs to the lamp it was learnt from: the same lamp found
    // again keeps it, another lamp (or none) makes it unknown. Which lamp is
    // told by the serial the whole listing ends with, not by the devices
    // matched on the way.
    void protocolFollowsTheLamp_data()
    {
        QTest::addColumn<bool>("everFound");
        QTest::addColumn<QString>("serialBefore");
        QTest::addColumn<std::vector<FakeDevice>>("devices");
        QTest::addColumn<QString>("serialAfter");
        QTest::addColumn<int>("protocol");

        const int kept = ProtocolText;
        const int unknown = ProtocolUnknown;
        QTest::newRow("same lamp again") << true << "L1" << std::vector<FakeDevice>{{"Sela-Lumen", "L1"}} << "L1" << kept;
        QTest::newRow("another lamp in its place")
            << true << "L1" << std::vector<FakeDevice>{{"Sela-Lumen", "L2"}} << "L2" << unknown;
        QTest::newRow("no lamp") << true << "L1" << std::vector<FakeDevice>{} << "L1" << unknown;
        QTest::newRow("last-listed lamp gone, the other takes over")
            << true << "L2" << std::vector<FakeDevice>{{"Sela-Lumen", "L1"}} << "L1" << unknown;
        QTest::newRow("same lamp, another listed before it")
            << true << "L2" << std::vector<FakeDevice>{{"Sela-Lumen", "L1"}, {"Sela-Lumen", "L2"}} << "L2" << kept;
        QTest::newRow("a lamp listed after it takes over")
            << true << "L1" << std::vector<FakeDevice>{{"Sela-Lumen", "L1"}, {"Sela-Lumen", "L2"}} << "L2" << unknown;
        QTest::newRow("cable replaced by a lamp")
            << true << "C1" << std::vector<FakeDevice>{{"TTL232R", "C1"}, {"Sela-Lumen", "L1"}} << "L1" << unknown;
        QTest::newRow("blank-serial lamp again") << true << "" << std::vector<FakeDevice>{{"Sela-Lumen", ""}} << ""
                                                 << kept;
        QTest::newRow("blank-serial lamp in another's place")
            << true << "L1" << std::vector<FakeDevice>{{"Sela-Lumen", ""}} << "" << unknown;
        // The empty serial before the first find means "no lamp yet", so even a
        // lamp with a blank serial is a new lamp.
        QTest::newRow("first lamp of the run has a blank serial")
            << false << "" << std::vector<FakeDevice>{{"Sela-Lumen", ""}} << "" << unknown;
    }
    void protocolFollowsTheLamp()
    {
        QFETCH(bool, everFound);
        QFETCH(QString, serialBefore);
        QFETCH(std::vector<FakeDevice>, devices);
        QFETCH(QString, serialAfter);
        QFETCH(int, protocol);
        fakeD2xx().devices = devices;
        LampState state;
        state.LampEverFound = everFound;
        state.LampSerial = serialBefore.toStdString();
        state.LampProtocol = ProtocolText;
        const bool found = getusbdev(state);
        QCOMPARE(found, !devices.empty());
        QCOMPARE(QString::fromStdString(state.LampSerial), serialAfter);
        QCOMPARE(state.LampProtocol, protocol);
        // Once a lamp was found, it stays "found in this run" while absent.
        QCOMPARE(state.LampEverFound, everFound || found);
    }

    // The listing: count, then every description, the serial only of a match;
    // the fallback pass only when no lamp matched.
    void callOrder()
    {
        auto &fake = fakeD2xx();
        fake.devices = {{"TTL232R", "C1"}, {"Sela-Lumen", "L1"}};
        LampState state;
        getusbdev(state);
        QCOMPARE(fake.callList(), (QStringList{"ListDevices(NUMBER_ONLY)", "ListDevices(0,BY_INDEX|DESCRIPTION)",
                                               "ListDevices(1,BY_INDEX|DESCRIPTION)", "ListDevices(1,BY_INDEX|SERIAL)"}));

        fake.devices = {{"TTL232R", "C1"}};
        fake.clearLog();
        getusbdev(state);
        QCOMPARE(fake.callList(), (QStringList{"ListDevices(NUMBER_ONLY)", "ListDevices(0,BY_INDEX|DESCRIPTION)",
                                               "ListDevices(0,BY_INDEX|DESCRIPTION)", "ListDevices(0,BY_INDEX|SERIAL)"}));
        QCOMPARE(state.LampSerial, std::string("C1"));
    }

    // A failed count must not send discovery through whatever number the
    // driver left behind.
    void failedCountMeansNothingAttached()
    {
        auto &fake = fakeD2xx();
        fake.devices = {{"Sela-Lumen", "L1"}};
        fake.failures["ListDevices"] = FT_IO_ERROR;
        fake.countOnFailure = 4000000000u;
        LampState state;
        state.LampProtocol = ProtocolByte;
        QVERIFY(!getusbdev(state));
        QCOMPARE(fake.callList(), QStringList{"ListDevices(NUMBER_ONLY)"});
        QCOMPARE(state.LampProtocol, int(ProtocolUnknown));
    }

    // A count no USB host can carry, reported with FT_OK, is a failed listing
    // too: no index is walked and no lamp is found this pass. A count that is
    // merely larger than the devices there is walked as usual.
    void impossibleCountIsAFailedListing_data()
    {
        QTest::addColumn<quint32>("count");
        QTest::addColumn<bool>("walked");
        QTest::newRow("0xFFFFFFFF") << quint32(0xFFFFFFFFu) << false;
        QTest::newRow("4000000000") << quint32(4000000000u) << false;
        QTest::newRow("one past the bound") << quint32(MaxListedDevices + 1) << false;
        QTest::newRow("the bound") << quint32(MaxListedDevices) << true;
        QTest::newRow("three for one device") << quint32(3) << true;
    }
    void impossibleCountIsAFailedListing()
    {
        QFETCH(quint32, count);
        QFETCH(bool, walked);
        auto &fake = fakeD2xx();
        fake.devices = {{"Sela-Lumen", "L1"}};
        fake.reportedCount = count;
        LampState state;
        state.LampProtocol = ProtocolByte;
        QCOMPARE(getusbdev(state), walked);
        if (walked) {
            QCOMPARE(state.LampSerial, std::string("L1"));
            QCOMPARE(fake.callList().size(), qsizetype(count) + 2); // count, every description, one serial
        } else {
            QCOMPARE(fake.callList(), QStringList{"ListDevices(NUMBER_ONLY)"});
            QCOMPARE(state.LampProtocol, int(ProtocolUnknown));
            QVERIFY(!state.LampEverFound);
        }
    }

    // Unplugging keeps the serial (later commands still try it) but forgets
    // the protocol; plugging in again finds it.
    void unplugAndReplug()
    {
        auto &fake = fakeD2xx();
        fake.devices = {{"Sela-Lumen", "L1"}};
        LampState state;
        QVERIFY(getusbdev(state));
        state.LampProtocol = ProtocolByte;
        fake.devices.clear();
        QVERIFY(!getusbdev(state));
        QCOMPARE(state.LampSerial, std::string("L1"));
        QCOMPARE(state.LampProtocol, int(ProtocolUnknown));
        fake.devices = {{"Sela-Lumen", "L1"}};
        QVERIFY(getusbdev(state));
        QCOMPARE(state.LampProtocol, int(ProtocolUnknown));
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "test_discovery.moc"
