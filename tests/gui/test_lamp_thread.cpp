// Form1 with its lamp work on a thread of its own, as in the program: the
// window answers while an exchange waits for the lamp's reply, "Abbrechen"
// takes effect on screen at once and its off follows the exchange in flight
// once that has closed the device, and closing waits for the exchange.
#include <QtTest>

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "lamp/lamp_hold.h"
#include "lamp/lampstate.h"
#include "support/fake_d2xx.h"
#include "support/main_window_fixture.h"
#include "ui/main_window.h"

namespace {

// The wait of a text exchange, held until the test lets it go.
class ReplyWait {
public:
    void sleep(int ms)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_waits.push_back(ms);
        ++m_entered;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open || m_permits > 0; });
        if (!m_open)
            --m_permits;
    }
    // Blocks until the n-th wait has begun (and is held, unless let go).
    bool entered(int n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_entered >= n; });
    }
    void letOneGo()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_permits;
        m_changed.notify_all();
    }
    void openForGood()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    std::vector<int> waits()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waits;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_entered = 0;
    int m_permits = 0;
    bool m_open = false;
    std::vector<int> m_waits;
};

int indexOf(const QStringList &calls, const QString &call, int from = 0)
{
    return int(calls.indexOf(call, from));
}

const QString Orange = "Write(43 46 46 37 44 30 30 0D 0A)"; // CFF7D00, table row 3
const QString Off = "Write(43 30 30 30 30 30 30 0D 0A)";    // C000000

} // namespace

class TestLampThread : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void cancelDuringExchange();
    void closeDuringExchange();

private:
    TForm1 &form() { return *m_window.form; }
    // Starts a run of one Orange step and lets its first tick begin: the
    // probe's wait is let go, the colour command's wait is held.
    void startAndHoldColourCommand();

    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindowFixture m_window;
    std::unique_ptr<ReplyWait> m_wait;
    double m_clock = 45000.5;
};

void TestLampThread::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("TINTRAVA_LOCK_DIR", QFile::encodeName(m_dir->path()));
    auto &fake = tintrava::testing::fakeD2xx();
    fake.reset();
    fake.install();
    fake.devices = {{"Sela-Lumen", "VL1"}};
    fake.responder = [](const std::string &written) {
        return std::string(written == "VER\r\n" ? "Sela-Lumen V1.0\r\n" : "OK\r\n");
    };
    m_wait = std::make_unique<ReplyWait>();
    m_window.lampThread = true;
    m_window.open(m_dir->path(), "3\n");
    m_clock = 45000.5;
    form().hooks.now = [this] { return m_clock; };
    form().hooks.sleep = [this](int ms) { m_wait->sleep(ms); };
}

void TestLampThread::cleanup()
{
    // Nothing may stay held when the window goes.
    if (m_wait)
        m_wait->openForGood();
    m_window.close();
    m_wait.reset();
    m_dir.reset();
}

void TestLampThread::startAndHoldColourCommand()
{
    TForm1 &f = form();
    auto &fake = tintrava::testing::fakeD2xx();
    // No discovery of the timer's between the steps below.
    QTRY_VERIFY(!f.lampBusy());
    f.Timer2->stop();
    QTest::mouseClick(f.Panel9, Qt::LeftButton); // Orange
    QTest::mouseClick(f.Button5, Qt::LeftButton);
    QTRY_VERIFY(f.playing());
    // Ticks only when the test says so.
    f.Timer1->setInterval(3600 * 1000);
    QTRY_VERIFY(!f.lampBusy());
    fake.clearLog();

    m_clock += 1.0 / 86400;
    f.Timer1Timer();
    QVERIFY(m_wait->entered(1)); // the probe
    m_wait->letOneGo();
    QVERIFY(m_wait->entered(2)); // the colour command, device open
}

void TestLampThread::cancelDuringExchange()
{
    TForm1 &f = form();
    auto &fake = tintrava::testing::fakeD2xx();
    startAndHoldColourCommand();
    QVERIFY(fake.isOpen());
    QCOMPARE(fake.callList().count(Orange), 1);

    // The window goes on while the lamp's thread waits for the reply: the
    // discovery timer is off for the text exchange...
    QTRY_VERIFY(!f.Timer2->isActive());
    // ... and "Abbrechen" shows its effect before the call returns.
    QTest::mouseClick(f.Button4, Qt::LeftButton);
    QVERIFY(!f.Panel27->isVisible());
    for (QPushButton *b : {f.Button1, f.Button2, f.Button3, f.Button5})
        QVERIFY(b->isEnabled());
    QVERIFY(!f.playing());
    // A tick already due adds nothing behind the off.
    f.Timer1Timer();

    // The exchange in flight still has the device; the off waits for it.
    QVERIFY(fake.isOpen());
    QVERIFY(!fake.callList().contains(Off));
    m_wait->openForGood();
    QTRY_VERIFY(!f.lampBusy());

    const QStringList calls = fake.callList();
    const int colour = indexOf(calls, Orange);
    const int closed = indexOf(calls, "Close", colour);
    const int off = indexOf(calls, Off);
    QVERIFY2(closed > colour && off > closed, qPrintable(calls.join('\n')));
    const int reopened = indexOf(calls, "OpenEx(VL1,SERIAL)", colour);
    QVERIFY2(reopened > closed && reopened < off, qPrintable(calls.join('\n')));
    // The off's own discovery comes after the close too, and nothing else
    // went to the lamp between the two.
    QCOMPARE(calls.mid(closed + 1, 3),
             (QStringList{"ListDevices(NUMBER_ONLY)", "ListDevices(0,BY_INDEX|DESCRIPTION)",
                          "ListDevices(0,BY_INDEX|SERIAL)"}));
    QCOMPARE(calls.count(Orange), 1);
    QCOMPARE(calls.count(Off), 1);
    QCOMPARE(calls.last(), QString("Close"));
    QVERIFY(!fake.isOpen());
    QCOMPARE(fake.opens, fake.closes);
    // Probe, colour and off: each waited its 200 ms for the reply.
    QCOMPARE(m_wait->waits(), (std::vector<int>{200, 200, 200}));
    // The off's exchange switched the discovery timer on again.
    QTRY_VERIFY(f.Timer2->isActive());
    QVERIFY(!f.lampHold().holding());
}

void TestLampThread::closeDuringExchange()
{
    TForm1 &f = form();
    auto &fake = tintrava::testing::fakeD2xx();
    startAndHoldColourCommand();
    // The reply comes while the window is closing.
    std::thread reply([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_wait->openForGood();
    });
    f.close();
    reply.join();
    // The close waited for the exchange: the device is closed, and nothing
    // was started after it (closing while playing leaves the lamp's colour).
    QVERIFY(!f.lampBusy());
    QVERIFY(!fake.isOpen());
    QCOMPARE(fake.opens, fake.closes);
    const QStringList calls = fake.callList();
    QCOMPARE(calls.last(), QString("Close"));
    QCOMPARE(calls.count(Orange), 1);
    QVERIFY(!calls.contains(Off));
    // Ticks after the close reach nothing.
    m_clock += 1.0 / 86400;
    f.Timer1Timer();
    QCOMPARE(fake.callList().count(Orange), 1);
}

QTEST_MAIN(TestLampThread)
#include "test_lamp_thread.moc"
