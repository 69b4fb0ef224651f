// Lamp discovery seen from the main window, with the virtual lamp loaded as the
// D2XX driver: plugging and unplugging by editing its device file, which of
// several attached devices becomes the lamp, and the protocol being found out
// afresh after the lamp was gone.
#include <QtTest>

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "ui/hardware_dialog.h"
#include "storage/settings_file.h"
#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/d2xx/driver_loader.h"
#include "lamp/lampstate.h"
#include "support/fake_dialogs.h"
#include "support/main_window_fixture.h"
#include "ui/main_window.h"

namespace {

using TraceLine = QMap<QString, QString>;

// Generous: discovery runs every second, a loaded machine may take longer.
constexpr int DiscoveryTimeoutMs = 10000;

const QString Usb = QStringLiteral("USB");
const QString NoConnection = QStringLiteral("keine Verbindung");

} // namespace

class TestDiscoveryWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void plugAndUnplug();
    void chosenDevice_data();
    void chosenDevice();
    void protocolFoundAfreshAfterUnplug();

private:
    // Replaces the device file in one step, the way the virtual lamp expects
    // it to be edited while it is being read.
    void writeDevices(const QByteArray &content);
    QList<TraceLine> traceFrom(qint64 offset) const;
    qint64 traceSize() const { return QFileInfo(m_traceFile).size(); }
    // Waits until the discovery timer has listed the devices with the current
    // device file, i.e. a count call after `offset` saw `count` devices.
    bool discoveredSince(qint64 offset, int count) const;
    // What the lamp heard from this process after `offset`, one entry per write.
    QStringList writesSince(qint64 offset) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_deviceFile;
    QString m_traceFile;
    MainWindowFixture m_window;
};

void TestDiscoveryWindow::initTestCase()
{
    const QString buildDir = qEnvironmentVariable("TINTRAVA_BUILD_DIR");
    QVERIFY2(!buildDir.isEmpty(), "TINTRAVA_BUILD_DIR is not set (run the test through ctest)");
    const std::string path = (buildDir + QStringLiteral("/libtintrava-virtual-lamp.so")).toStdString();
    D2xxApi api{};
    std::string error;
    QVERIFY2(tintrava::loadD2xxLibrary(path, api, error), error.c_str());
    D2XXUnit::setDriver(api);
}

void TestDiscoveryWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_deviceFile = m_dir->filePath(QStringLiteral("lamps.txt"));
    m_traceFile = m_dir->filePath(QStringLiteral("trace.log"));
    writeDevices(QByteArray()); // nothing attached at start
    QFile trace(m_traceFile);
    QVERIFY(trace.open(QIODevice::WriteOnly));
    trace.close();
    qputenv("TINTRAVA_VIRTUAL_LAMP", QFile::encodeName(m_deviceFile));
    qputenv("TINTRAVA_VIRTUAL_LAMP_LOG", QFile::encodeName(m_traceFile));

    D2XXUnit::resetForTests();
    m_window.open(m_dir->path(), "3\n");
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(tintrava::HardwareRow, 3);
    QCOMPARE(m_window.form->ComboBox1->currentText(), NoConnection);
}

void TestDiscoveryWindow::cleanup()
{
    m_window.close();
    qunsetenv("TINTRAVA_VIRTUAL_LAMP");
    qunsetenv("TINTRAVA_VIRTUAL_LAMP_LOG");
    m_dir.reset();
}

void TestDiscoveryWindow::writeDevices(const QByteArray &content)
{
    const QString temp = m_deviceFile + QStringLiteral(".new");
    QFile file(temp);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
    file.close();
    QCOMPARE(std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(m_deviceFile).constData()), 0);
}

QList<TraceLine> TestDiscoveryWindow::traceFrom(qint64 offset) const
{
    QList<TraceLine> lines;
    QFile file(m_traceFile);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return lines;
    const QString ownPid = QString::number(QCoreApplication::applicationPid());
    const QList<QByteArray> rawLines = file.readAll().split('\n');
    for (const QByteArray &raw : rawLines) {
        if (raw.isEmpty())
            continue;
        TraceLine line;
        for (const QByteArray &field : raw.split('\t')) {
            const int eq = field.indexOf('=');
            if (eq > 0)
                line.insert(QString::fromLatin1(field.left(eq)), QString::fromLatin1(field.mid(eq + 1)));
        }
        if (line.value(QStringLiteral("pid")) == ownPid)
            lines << line;
    }
    return lines;
}

bool TestDiscoveryWindow::discoveredSince(qint64 offset, int count) const
{
    const QString result = QStringLiteral("count=%1").arg(count);
    for (const TraceLine &line : traceFrom(offset))
        if (line.value(QStringLiteral("args")) == QLatin1String("flags=NUMBER_ONLY")
            && line.value(QStringLiteral("result")) == result)
            return true;
    return false;
}

QStringList TestDiscoveryWindow::writesSince(qint64 offset) const
{
    QStringList writes;
    for (const TraceLine &line : traceFrom(offset))
        if (line.value(QStringLiteral("call")) == QLatin1String("FT_Write"))
            writes << line.value(QStringLiteral("serial")) + QLatin1Char(' ') + line.value(QStringLiteral("data"))
                          + QLatin1Char(' ') + line.value(QStringLiteral("heard"));
    return writes;
}

// The indicator follows the device file through the discovery timer alone.
void TestDiscoveryWindow::plugAndUnplug()
{
    TForm1 &f = *m_window.form;
    QElapsedTimer clock;

    writeDevices("Sela-Lumen|VL000001|text\n");
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(f.ComboBox1->currentText(), Usb, DiscoveryTimeoutMs);
    qInfo("\"USB\" shown %lld ms after plugging in", static_cast<long long>(clock.elapsed()));
    QCOMPARE(QString::fromStdString(f.Lamp.LampSerial), QStringLiteral("VL000001"));
    QVERIFY(f.Lamp.LampFound);

    writeDevices(QByteArray());
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(f.ComboBox1->currentText(), NoConnection, DiscoveryTimeoutMs);
    qInfo("\"keine Verbindung\" shown %lld ms after unplugging", static_cast<long long>(clock.elapsed()));
    QVERIFY(!f.Lamp.LampFound);
    // The serial is kept for the next command's open.
    QCOMPARE(QString::fromStdString(f.Lamp.LampSerial), QStringLiteral("VL000001"));

    writeDevices("Sela-Lumen|VL000001|text\n");
    QTRY_COMPARE_WITH_TIMEOUT(f.ComboBox1->currentText(), Usb, DiscoveryTimeoutMs);
}

void TestDiscoveryWindow::chosenDevice_data()
{
    QTest::addColumn<QByteArray>("devices");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("serial"); // empty: no lamp found

    const QByteArray cable = "TTL232R|FT000009|cable\n";
    // "VC" + 10 characters + 'V' as the 13th + 9 characters: 22 in all.
    const QByteArray vc22 = "VC0123456789V012345678";
    QCOMPARE(vc22.size(), 22);
    QCOMPARE(vc22.at(12), 'V');

    QTest::newRow("lamp, cable after it") << "Sela-Lumen|VL000001|text\n" + cable << 2 << "VL000001";
    QTest::newRow("cable, lamp after it") << cable + "Sela-Lumen|VL000001|text\n" << 2 << "VL000001";
    QTest::newRow("cable alone") << cable << 1 << "FT000009";
    QTest::newRow("two lamps: the last") << QByteArray("Sela-Lumen|VL000001|text\nSela-Lumen|VL000002|text\n") << 2
                                         << "VL000002";
    QTest::newRow("Sela-Lumen, then VC lamp") << "Sela-Lumen|VL000001|text\n" + vc22 + "|VB000002|byte\n" << 2
                                              << "VB000002";
    QTest::newRow("nothing that matches") << QByteArray("FT232R USB UART|FT000001|cable\n") << 1 << "";

    // The description patterns, each with a cable listed before the device:
    // the cable is taken exactly when the device does not count as a lamp.
    const auto afterCable = [&](const char *name, const QByteArray &description, bool matches) {
        QTest::newRow(name) << cable + description + "|VB000002|byte\n" << 2
                            << (matches ? QStringLiteral("VB000002") : QStringLiteral("FT000009"));
    };
    afterCable("VC, 22 characters, 13th V", vc22, true);
    afterCable("VC, 22 characters, other letters", "VCxyzABCDEFGVhijklmnop", true);
    afterCable("VC, 22 characters, 13th X", "VC0123456789X012345678", false);
    afterCable("VC, 22 characters, 13th v", "VC0123456789v012345678", false);
    afterCable("VC, 21 characters", "VC0123456789V01234567", false);
    afterCable("VC, 23 characters", "VC0123456789V0123456789", false);
    afterCable("vc lower case", "vc0123456789V012345678", false);
    afterCable("Vc mixed case", "Vc0123456789V012345678", false);
    afterCable("V at the 12th place", "VC012345678V0123456789", false);
    afterCable("sela-lumen lower case", "sela-lumen", false);
    afterCable("Sela-Lumen with a blank", "Sela-Lumen ", false);
    afterCable("TTL232R twice: the last", "TTL232R", true);

    // A lamp whose serial cannot be read is passed over; the earlier lamp stays.
    QTest::newRow("last lamp's serial unreadable")
        << QByteArray("Sela-Lumen|VL000001|text\nSela-Lumen|VL000002|text|serial-fails\n") << 2 << "VL000001";
}

void TestDiscoveryWindow::chosenDevice()
{
    QFETCH(QByteArray, devices);
    QFETCH(int, count);
    QFETCH(QString, serial);
    TForm1 &f = *m_window.form;

    writeDevices(devices);
    const qint64 offset = traceSize();
    QTRY_VERIFY_WITH_TIMEOUT(discoveredSince(offset, count), DiscoveryTimeoutMs);
    QCOMPARE(QString::fromStdString(f.Lamp.LampSerial), serial);
    QCOMPARE(f.Lamp.LampFound, !serial.isEmpty());
    QCOMPARE(f.ComboBox1->currentText(), serial.isEmpty() ? NoConnection : Usb);
}

// After the lamp was gone the protocol is unknown again, and the next command
// asks the lamp with "VER" before sending its colour, so a lamp of the other
// kind plugged in meanwhile is driven the right way.
void TestDiscoveryWindow::protocolFoundAfreshAfterUnplug()
{
    TForm1 &f = *m_window.form;
    const QByteArray textLamp = "Sela-Lumen|VL000001|text\n";
    const QString ver = QStringLiteral("VL000001 5645520D0A VER");
    const QString red = QStringLiteral("VL000001 434646303030300D0A C:FF0000");
    const QString orange = QStringLiteral("VL000001 434646374430300D0A C:FF7D00");

    writeDevices(textLamp);
    QTRY_COMPARE_WITH_TIMEOUT(f.ComboBox1->currentText(), Usb, DiscoveryTimeoutMs);
    QCOMPARE(f.Lamp.LampProtocol, int(tintrava::ProtocolUnknown));

    qint64 offset = traceSize();
    f.selectcolor(1);
    QCOMPARE(writesSince(offset), QStringList({ver, red}));
    QCOMPARE(f.Lamp.LampProtocol, int(tintrava::ProtocolText));

    // Known now: no probe.
    offset = traceSize();
    f.selectcolor(5);
    QCOMPARE(writesSince(offset), QStringList({orange}));

    writeDevices(QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(f.ComboBox1->currentText(), NoConnection, DiscoveryTimeoutMs);
    QCOMPARE(f.Lamp.LampProtocol, int(tintrava::ProtocolUnknown));

    writeDevices(textLamp);
    QTRY_COMPARE_WITH_TIMEOUT(f.ComboBox1->currentText(), Usb, DiscoveryTimeoutMs);
    // Finding the lamp does not decide the protocol; the next command does.
    QCOMPARE(f.Lamp.LampProtocol, int(tintrava::ProtocolUnknown));
    offset = traceSize();
    f.selectcolor(1);
    QCOMPARE(writesSince(offset), QStringList({ver, red}));
    QCOMPARE(f.Lamp.LampProtocol, int(tintrava::ProtocolText));

    // A byte lamp in its place: the probe goes unanswered (the byte lamp hears
    // noise at 115200 baud), and the colour goes out as a byte frame.
    writeDevices(QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(f.ComboBox1->currentText(), NoConnection, DiscoveryTimeoutMs);
    writeDevices("VC0123456789V012345678|VB000002|byte\n");
    QTRY_COMPARE_WITH_TIMEOUT(f.ComboBox1->currentText(), Usb, DiscoveryTimeoutMs);
    QCOMPARE(QString::fromStdString(f.Lamp.LampSerial), QStringLiteral("VB000002"));
    offset = traceSize();
    f.selectcolor(5);
    QCOMPARE(writesSince(offset),
             QStringList({QStringLiteral("VB000002 5645520D0A garbled"), QStringLiteral("VB000002 FF45 colour:5")}));
    QCOMPARE(f.Lamp.LampProtocol, int(tintrava::ProtocolByte));
}

QTEST_MAIN(TestDiscoveryWindow)
#include "test_discovery_window.moc"
