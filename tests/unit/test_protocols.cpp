#include <QtTest>

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/discovery.h"
#include "lamp/protocols.h"
#include "support/fake_d2xx.h"

using namespace tintrava;
using tintrava::testing::FakeDevice;
using tintrava::testing::fakeD2xx;

Q_DECLARE_METATYPE(std::vector<FakeDevice>)

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

// The lamps behind the fake as the firmware behaves: a "Sela-Lumen" lamp
// answers every line it hears at 115200 baud, a "VC…" lamp never answers.
std::string textLampsAnswer(const std::string &)
{
    const auto &fake = fakeD2xx();
    if (!fake.isOpen() || fake.baudRate != 115200)
        return {};
    return fake.devices[fake.openIndex].description == "Sela-Lumen" ? "OK\r\n" : "";
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

    // A colour command reports whether it reached the lamp: the open
    // succeeded and the whole command was written. The calls on the lamp do
    // not depend on the answer.
    void delivered_data()
    {
        QTest::addColumn<bool>("textLamp");
        QTest::addColumn<QString>("fault"); // "", "unplugged", "open", "write", "short write"
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<int>("why"); // LampDelivery
        const int opened = int(LampDelivery::OpenFailed), written = int(LampDelivery::WriteFailed);
        for (const bool text : {true, false}) {
            const QString kind = text ? "text lamp: " : "byte lamp: ";
            QTest::newRow(qPrintable(kind + "reached")) << text << "" << true << int(LampDelivery::Delivered);
            QTest::newRow(qPrintable(kind + "unplugged")) << text << "unplugged" << false << opened;
            QTest::newRow(qPrintable(kind + "open fails")) << text << "open" << false << opened;
            QTest::newRow(qPrintable(kind + "write fails")) << text << "write" << false << written;
            QTest::newRow(qPrintable(kind + "short write")) << text << "short write" << false << written;
        }
    }
    void delivered()
    {
        QFETCH(bool, textLamp);
        QFETCH(QString, fault);
        QFETCH(bool, delivered);
        QFETCH(int, why);
        auto &fake = fakeD2xx();
        if (textLamp)
            fake.responder = [](const std::string &) { return std::string("OK\r\n"); };
        // The protocol is learnt while the lamp is fine.
        QVERIFY(commander->selectcolor(1));
        QCOMPARE(state.LampProtocol, int(textLamp ? ProtocolText : ProtocolByte));
        if (fault == "unplugged")
            fake.devices.clear();
        else if (fault == "open")
            fake.devices[0].openFails = true;
        else if (fault == "write")
            fake.failures["Write"] = FT_IO_ERROR;
        else if (fault == "short write")
            fake.reportedBytes = 1;
        fake.clearLog();
        QCOMPARE(commander->selectcolor(5), delivered);
        const QStringList firstCalls = fake.callList();
        QCOMPARE(commander->selectcolor2("550"), delivered);
        QCOMPARE(commander->selectcolor(ColourOff), delivered);
        QCOMPARE(int(commander->lastDelivery()), why);
        QVERIFY(!fake.isOpen());
        if (fault.isEmpty())
            QCOMPARE(firstCalls, Discovery + (textLamp ? textExchange("VL1", "43 46 46 37 44 30 30 0D 0A")
                                                       : byteFrame("VL1", "FF 45")));
    }

    // Before any lamp was found nothing is opened, and that is what it says.
    void nothingDeliveredWithoutALamp()
    {
        fakeD2xx().devices.clear();
        QVERIFY(!commander->selectcolor(5));
        QVERIFY(!commander->selectcolor2("550"));
        QCOMPARE(int(commander->lastDelivery()), int(LampDelivery::NoLamp));
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
        state.LampEverFound = true;
        fakeD2xx().replies = {reply.toStdString()};
        QCOMPARE(QByteArray::fromStdString(commander->sendstr("VER")), text);
    }

    // A driver that claims more bytes than were asked for must not make the
    // reply read past what was requested.
    void lyingReadCount()
    {
        state.LampSerial = "VL1";
        state.LampEverFound = true;
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

    // A command kept off the lamp (another program holds it) opens nothing,
    // probe included, after its discovery; allowed again, it goes out.
    void mayDriveKeepsCommandsOff()
    {
        auto &fake = fakeD2xx();
        bool allowed = false;
        int asked = 0;
        LampCommander gated(state, LampCommander::Hooks{[](int) {}, [](bool) {}, {}, [&] {
                                ++asked;
                                // Asked after discovery has named the lamp.
                                return state.LampFound && allowed;
                            }});
        gated.selectcolor(5);
        gated.selectcolor2("550");
        QCOMPARE(asked, 2);
        QCOMPARE(fake.callList(), Discovery + Discovery);
        QCOMPARE(state.LampProtocol, int(ProtocolUnknown));

        allowed = true;
        fake.replies = {"V1\r\n"};
        fake.clearLog();
        gated.selectcolor(5);
        QCOMPARE(fake.writes, (std::vector<std::string>{"VER\r\n", "CFF7D00\r\n"}));
    }

    // Until a lamp was found, the empty serial stands for "no lamp": opening
    // by it would reach any FTDI device with a blank serial (here one that no
    // description pattern takes), so nothing is opened and nothing written,
    // and the discovery timer is not paused for an exchange that never happens.
    void noLampEverFound_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("strangerAttached");
        for (const char *command : {"selectcolor", "selectcolor2", "sendstr"}) {
            QTest::addRow("%s, nothing attached", command) << QString(command) << false;
            QTest::addRow("%s, blank-serial stranger", command) << QString(command) << true;
        }
    }
    void noLampEverFound()
    {
        QFETCH(QString, command);
        QFETCH(bool, strangerAttached);
        auto &fake = fakeD2xx();
        fake.devices.clear();
        if (strangerAttached)
            fake.devices = {{"FT232R USB UART", ""}};
        fake.responder = [](const std::string &) { return std::string("?\r\n"); };

        for (int i = 0; i < 3; ++i) {
            if (command == "selectcolor")
                commander->selectcolor(i == 2 ? ColourOff : 5);
            else if (command == "selectcolor2")
                commander->selectcolor2("550");
            else
                QCOMPARE(commander->sendstr("VER"), std::string());
        }

        QCOMPARE(fake.opens, 0);
        QVERIFY(fake.writes.empty());
        const QString calls = fake.callList().join(' ');
        QVERIFY2(!calls.contains("OpenEx") && !calls.contains("timer"), qPrintable(calls));
        QCOMPARE(state.LampProtocol, int(ProtocolUnknown));
        QVERIFY(!state.LampEverFound);
        QVERIFY(timerOn);
    }

    // The discovery a command runs first may find the lamp; the command then
    // goes ahead at once.
    void lampFoundByTheCommandsOwnDiscovery()
    {
        auto &fake = fakeD2xx();
        fake.devices = {{"FT232R USB UART", ""}};
        commander->selectcolor(5);
        QCOMPARE(fake.opens, 0);

        fake.devices.push_back({"Sela-Lumen", "VL1"});
        fake.replies = {"V1\r\n"};
        fake.clearLog();
        commander->selectcolor(5);
        QCOMPARE(fake.callList(), (QStringList{"ListDevices(NUMBER_ONLY)", "ListDevices(0,BY_INDEX|DESCRIPTION)",
                                               "ListDevices(1,BY_INDEX|DESCRIPTION)", "ListDevices(1,BY_INDEX|SERIAL)"}
                                   + textExchange("VL1", "56 45 52 0D 0A")
                                   + textExchange("VL1", "43 46 46 37 44 30 30 0D 0A")));
    }

    // A lamp whose own serial is blank is still a lamp once discovery found
    // it: probe and commands open it by the empty serial, in either protocol,
    // also when a later discovery misses it (the serial is kept and tried).
    void blankSerialLamp_data()
    {
        QTest::addColumn<bool>("textLamp");
        QTest::addColumn<bool>("wavelength");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("text, colour") << true << false << QByteArray("CFF7D00\r\n");
        QTest::newRow("text, wavelength") << true << true << QByteArray("CFF0000\r\n");
        QTest::newRow("byte, colour") << false << false << QByteArray("\xFF\x45");
        QTest::newRow("byte, wavelength") << false << true << QByteArray("\xFF\x41");
    }
    void blankSerialLamp()
    {
        QFETCH(bool, textLamp);
        QFETCH(bool, wavelength);
        QFETCH(QByteArray, command);
        auto &fake = fakeD2xx();
        fake.devices = {{"Sela-Lumen", ""}};
        // A text lamp answers whatever it hears at its own baud rate.
        fake.responder = [textLamp](const std::string &) {
            return textLamp && fakeD2xx().baudRate == 115200 ? std::string("OK\r\n") : std::string();
        };
        const auto send = [&] { wavelength ? commander->selectcolor2("750") : commander->selectcolor(5); };

        send();
        QVERIFY(state.LampEverFound);
        QCOMPARE(state.LampProtocol, textLamp ? int(ProtocolText) : int(ProtocolByte));
        QCOMPARE(fake.writes, (std::vector<std::string>{"VER\r\n", command.toStdString()}));
        QVERIFY(fake.callList().contains("OpenEx(,SERIAL)"));

        // Still attached, but its description can no longer be read: discovery
        // misses it and forgets the protocol, the probe still reaches it.
        fake.devices[0].descriptionFails = true;
        fake.writes.clear();
        send();
        QVERIFY(!state.LampFound);
        QCOMPARE(fake.writes, (std::vector<std::string>{"VER\r\n", command.toStdString()}));
        QCOMPARE(fake.opens, 4);
        QVERIFY(!fake.isOpen());
    }

    // Another lamp taking the place of the one whose protocol was learnt, by a
    // swap between two commands or by the lamp listed last going away, is
    // asked with "VER" afresh and driven in its own protocol.
    void newLampIsProbed_data()
    {
        QTest::addColumn<std::vector<FakeDevice>>("before");
        QTest::addColumn<std::vector<FakeDevice>>("after");
        QTest::addColumn<QString>("newSerial");
        QTest::addColumn<int>("newProtocol");
        QTest::addColumn<QByteArray>("command");
        const FakeDevice text1{"Sela-Lumen", "VL1"};
        const FakeDevice text3{"Sela-Lumen", "VL3"};
        const FakeDevice byte2{"VC0123456789V012345678", "VB2"};
        QTest::newRow("text lamp swapped for a byte lamp")
            << std::vector<FakeDevice>{text1} << std::vector<FakeDevice>{byte2} << "VB2" << int(ProtocolByte)
            << QByteArray("\xFF\x45");
        QTest::newRow("byte lamp swapped for a text lamp")
            << std::vector<FakeDevice>{byte2} << std::vector<FakeDevice>{text1} << "VL1" << int(ProtocolText)
            << QByteArray("CFF7D00\r\n");
        QTest::newRow("text lamp swapped for another text lamp")
            << std::vector<FakeDevice>{text1} << std::vector<FakeDevice>{text3} << "VL3" << int(ProtocolText)
            << QByteArray("CFF7D00\r\n");
        QTest::newRow("last-listed byte lamp unplugged, text lamp takes over")
            << std::vector<FakeDevice>{text1, byte2} << std::vector<FakeDevice>{text1} << "VL1" << int(ProtocolText)
            << QByteArray("CFF7D00\r\n");
        QTest::newRow("text lamp plugged in after the byte lamp")
            << std::vector<FakeDevice>{byte2} << std::vector<FakeDevice>{byte2, text1} << "VL1" << int(ProtocolText)
            << QByteArray("CFF7D00\r\n");
    }
    void newLampIsProbed()
    {
        QFETCH(std::vector<FakeDevice>, before);
        QFETCH(std::vector<FakeDevice>, after);
        QFETCH(QString, newSerial);
        QFETCH(int, newProtocol);
        QFETCH(QByteArray, command);
        auto &fake = fakeD2xx();
        fake.responder = textLampsAnswer;

        fake.devices = before;
        commander->selectcolor(5);
        QVERIFY(state.LampProtocol != ProtocolUnknown);

        fake.devices = after;
        fake.clearLog();
        commander->selectcolor(5);
        QCOMPARE(QString::fromStdString(state.LampSerial), newSerial);
        QCOMPARE(state.LampProtocol, newProtocol);
        QCOMPARE(fake.writes, (std::vector<std::string>{"VER\r\n", command.toStdString()}));
        QVERIFY(fake.callList().contains("OpenEx(" + newSerial + ",SERIAL)"));
    }

    // The same lamp found again keeps its protocol: no second probe, neither
    // through the command's own discovery nor after the discovery timer's
    // listings in between, and not when another device is listed before it.
    void sameLampNotProbedAgain_data()
    {
        QTest::addColumn<bool>("textLamp");
        QTest::newRow("text lamp") << true;
        QTest::newRow("byte lamp") << false;
    }
    void sameLampNotProbedAgain()
    {
        QFETCH(bool, textLamp);
        auto &fake = fakeD2xx();
        fake.responder = textLampsAnswer;
        const FakeDevice lamp = textLamp ? FakeDevice{"Sela-Lumen", "VL1"} : FakeDevice{"VC0123456789V012345678", "VB2"};
        fake.devices = {lamp};
        commander->selectcolor(5);
        const int protocol = state.LampProtocol;

        fake.devices = {{"Sela-Lumen", "VL9", false, true}, {"TTL232R", "FT1"}, lamp};
        getusbdev(state);
        getusbdev(state);
        fake.writes.clear();
        commander->selectcolor(1);
        commander->selectcolor(ColourOff);
        QCOMPARE(state.LampProtocol, protocol);
        QCOMPARE(fake.writes, textLamp ? (std::vector<std::string>{"CFF0000\r\n", "C000000\r\n"})
                                       : (std::vector<std::string>{"\xFF\x41", "\xFF\x4B"}));
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
        state.LampEverFound = true;
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
        state.LampEverFound = true;
        state.LampProtocol = ProtocolText;
        commander->selectcolor(5);
        QCOMPARE(fakeD2xx().writes, std::vector<std::string>{sent.toStdString()});
    }
};

QTEST_GUILESS_MAIN(TestProtocols)
#include "test_protocols.moc"
