#include <QtTest>

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/protocols.h"
#include "support/fake_d2xx.h"

using namespace tintrava;
using tintrava::testing::fakeD2xx;

namespace {

const QStringList Discovery = {"ListDevices(NUMBER_ONLY)", "ListDevices(0,BY_INDEX|DESCRIPTION)",
                               "ListDevices(0,BY_INDEX|SERIAL)"};

// One text exchange as the lamp sees it, with the discovery timer paused
// around it and the blocking wait between write and read.
QStringList textExchange(const QString &serial, const QString &hex)
{
    return {"timer off", "OpenEx(" + serial + ",SERIAL)", "SetBaudRate(115200)", "SetTimeouts(100,100)",
            "SetDataCharacteristics(8,2,0)", "Write(" + hex + ")", "sleep(200)", "GetQueueStatus",
            "Read(20)", "Close", "timer on"};
}

QStringList byteFrame(const QString &serial, const QString &hex)
{
    return {"OpenEx(" + serial + ",SERIAL)", "SetBaudRate(9600)", "SetDataCharacteristics(8,2,0)",
            "Write(" + hex + ")", "Close"};
}

} // namespace

class TestProtocols : public QObject {
    Q_OBJECT
private:
    LampState state;
    std::unique_ptr<LampCommander> commander;
    bool timerOn = true;

private slots:
    void init()
    {
        auto &fake = fakeD2xx();
        fake.reset();
        fake.install();
        D2XXUnit::resetForTests();
        fake.devices = {{"Sela-Lumen", "VL1"}};
        state = LampState();
        HardwareRow = 3;
        timerOn = true;
        // The wait and the timer go into the driver's call log, so their
        // place among the driver calls can be checked.
        commander = std::make_unique<LampCommander>(
            state, LampCommander::Hooks{
                       [](int ms) { fakeD2xx().calls.push_back("sleep(" + std::to_string(ms) + ")"); },
                       [this](bool on) {
                           timerOn = on;
                           fakeD2xx().calls.push_back(on ? "timer on" : "timer off");
                       },
                       {},
                   });
    }
    void cleanup() { HardwareRow = -1; }

    void textLamp()
    {
        auto &fake = fakeD2xx();
        fake.replies = {"Sela-Lumen V1.0\r\n", "OK\r\n", "OK\r\n"};
        commander->selectcolor(5);
        QCOMPARE(state.LampProtocol, int(ProtocolText));
        QCOMPARE(fake.callList(), Discovery + textExchange("VL1", "56 45 52 0D 0A")
                                      + textExchange("VL1", "43 46 46 37 44 30 30 0D 0A"));
        QVERIFY(timerOn);
        QVERIFY(!fake.isOpen());

        // Once known, no probe: straight to the command.
        fake.clearLog();
        commander->selectcolor(ColourOff);
        QCOMPARE(fake.writes, std::vector<std::string>{"C000000\r\n"});
        QCOMPARE(fake.callList(), Discovery + textExchange("VL1", "43 30 30 30 30 30 30 0D 0A"));
    }

    void byteLamp()
    {
        auto &fake = fakeD2xx();
        commander->selectcolor(5);
        QCOMPARE(state.LampProtocol, int(ProtocolByte));
        QCOMPARE(fake.callList(),
                 Discovery + textExchange("VL1", "56 45 52 0D 0A") + byteFrame("VL1", "FF 45"));
        fake.clearLog();
        commander->selectcolor(ColourOff);
        commander->selectcolor(12);
        QCOMPARE(fake.writes, (std::vector<std::string>{"\xFF\x4B", "\xFF\x4C"}));
        // No time-outs, no reading and the timer left alone in the byte protocol.
        QVERIFY(!fake.callList().join(' ').contains("SetTimeouts"));
        QVERIFY(!fake.callList().join(' ').contains("Read"));
        QVERIFY(!fake.callList().contains("timer off"));
    }

    void probeReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("protocol");
        QTest::newRow("version line") << QByteArray("V1\r\n") << int(ProtocolText);
        QTest::newRow("only CR LF") << QByteArray("\r\n\r\n") << int(ProtocolByte);
        QTest::newRow("only LF") << QByteArray("\n") << int(ProtocolByte);
        QTest::newRow("a NUL byte") << QByteArray("\0", 1) << int(ProtocolText);
        QTest::newRow("no reply") << QByteArray() << int(ProtocolByte);
    }
    void probeReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, protocol);
        if (!reply.isEmpty())
            fakeD2xx().replies = {reply.toStdString()};
        commander->selectcolor(1);
        QCOMPARE(state.LampProtocol, protocol);
    }

    // CR and LF dropped, every other byte kept, at most 20 bytes read once.
    void replyText_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("line") << QByteArray("OK\r\n") << QByteArray("OK");
        QTest::newRow("NUL inside") << QByteArray("A\0B\r\n", 5) << QByteArray("A\0B", 3);
        QTest::newRow("CR LF inside") << QByteArray("A\rB\nC") << QByteArray("ABC");
        QTest::newRow("over-long") << QByteArray("0123456789ABCDEFGHIJKLMNOP") << QByteArray("0123456789ABCDEFGHIJ");
    }
    void replyText()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, text);
        state.LampSerial = "VL1";
        fakeD2xx().replies = {reply.toStdString()};
        QCOMPARE(QByteArray::fromStdString(commander->sendstr("VER")), text);
    }

    // A driver that claims more bytes than were asked for must not make the
    // reply read past what was requested.
    void lyingReadCount()
    {
        state.LampSerial = "VL1";
        fakeD2xx().replies = {"AB"};
        fakeD2xx().reportedBytes = 60000;
        QVERIFY(commander->sendstr("VER").size() <= 20);
    }

    // When the lamp cannot be opened nothing was learnt: the protocol stays
    // unknown, the command is dropped, and the next command probes again.
    void failedOpenDecidesNothing()
    {
        auto &fake = fakeD2xx();
        fake.devices = {{"Sela-Lumen", "VL1", false, false, true}};
        commander->selectcolor(5);
        QCOMPARE(state.LampProtocol, int(ProtocolUnknown));
        QCOMPARE(fake.callList(), (Discovery + QStringList{"timer off", "OpenEx(VL1,SERIAL)", "timer on"}));
        QVERIFY(timerOn);

        fake.devices[0].openFails = false;
        fake.replies = {"V1\r\n"};
        fake.clearLog();
        commander->selectcolor(5);
        QCOMPARE(state.LampProtocol, int(ProtocolText));
        QCOMPARE(fake.writes, (std::vector<std::string>{"VER\r\n", "CFF7D00\r\n"}));
    }

    void noLampEverFound()
    {
        auto &fake = fakeD2xx();
        fake.devices.clear();
        commander->selectcolor(5);
        QCOMPARE(state.LampProtocol, int(ProtocolUnknown));
        QVERIFY(fake.writes.empty());
        QCOMPARE(fake.callList(), (QStringList{"ListDevices(NUMBER_ONLY)", "timer off", "OpenEx(,SERIAL)", "timer on"}));
    }

    // After an unplug the protocol is forgotten and asked again; a byte lamp
    // replaced by a text lamp is then driven with text.
    void reprobeAfterUnplug()
    {
        auto &fake = fakeD2xx();
        commander->selectcolor(1);
        QCOMPARE(state.LampProtocol, int(ProtocolByte));
        fake.devices.clear();
        commander->selectcolor(1);
        QCOMPARE(state.LampProtocol, int(ProtocolUnknown));
        fake.devices = {{"Sela-Lumen", "VL2"}};
        fake.replies = {"V2\r\n"};
        fake.writes.clear();
        commander->selectcolor(1);
        QCOMPARE(state.LampProtocol, int(ProtocolText));
        QCOMPARE(fake.writes, (std::vector<std::string>{"VER\r\n", "CFF0000\r\n"}));
        QCOMPARE(state.LampSerial, std::string("VL2"));
    }

    void wavelength_data()
    {
        QTest::addColumn<bool>("textLamp");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("text 442 row 1") << true << 1 << "442" << QByteArray("C571FC0\r\n");
        QTest::newRow("text 750 row 3") << true << 3 << "750" << QByteArray("CFF0000\r\n");
        QTest::newRow("text letters as 500 nm") << true << 3 << "abc" << QByteArray("C00E0BF\r\n");
        QTest::newRow("text 0500 is 500 nm") << true << 3 << "0500" << QByteArray("C00E0BF\r\n");
        QTest::newRow("text $1F4 is 500 nm") << true << 3 << "$1F4" << QByteArray("C00E0BF\r\n");
        QTest::newRow("text 040 is 40 nm") << true << 3 << "040" << QByteArray("CFF00B4\r\n");
        QTest::newRow("byte 550") << false << 3 << "550" << QByteArray("\xFF" "B");
        QTest::newRow("byte letters as 500 nm") << false << 3 << "abc" << QByteArray("\xFF" "F");
        QTest::newRow("byte $19 is 25 nm") << false << 3 << "$19" << QByteArray("\xFF" "G");
        QTest::newRow("byte 650") << false << 3 << "650" << QByteArray("\xFF" "A");
    }
    void wavelength()
    {
        QFETCH(bool, textLamp);
        QFETCH(int, row);
        QFETCH(QString, text);
        QFETCH(QByteArray, sent);
        HardwareRow = row;
        state.LampSerial = "VL1";
        state.LampFound = true;
        state.LampProtocol = textLamp ? ProtocolText : ProtocolByte;
        commander->selectcolor2(text.toStdString());
        QCOMPARE(fakeD2xx().writes, std::vector<std::string>{sent.toStdString()});
    }

    // The model chosen in the hardware dialog picks the colour-table row.
    void hardwareRowPicksTheLampValues_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("row 0") << 0 << QByteArray("CFF5800\r\n");
        QTest::newRow("row 1") << 1 << QByteArray("CFF9600\r\n");
        QTest::newRow("row 2") << 2 << QByteArray("CFF6E00\r\n");
        QTest::newRow("row 4") << 4 << QByteArray("CFF7D00\r\n");
        QTest::newRow("not read") << -1 << QByteArray("CFF5800\r\n");
    }
    void hardwareRowPicksTheLampValues()
    {
        QFETCH(int, row);
        QFETCH(QByteArray, sent);
        HardwareRow = row;
        state.LampSerial = "VL1";
        state.LampProtocol = ProtocolText;
        commander->selectcolor(5);
        QCOMPARE(fakeD2xx().writes, std::vector<std::string>{sent.toStdString()});
    }
};

QTEST_GUILESS_MAIN(TestProtocols)
#include "test_protocols.moc"
