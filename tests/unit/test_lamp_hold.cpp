// The hold on a lamp: one holder per lamp, across processes and users, and
// gone with a holder that was killed.
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lamp/lamp_hold.h"

using tintrava::LampHold;

namespace {

// A process holding (or trying) a lamp from outside this one. It reports
// the result of its take() through a pipe and then waits to be killed.
class OtherProcess {
public:
    // uid: the user it runs as, -1 for this one.
    OtherProcess(const std::string &folder, const std::string &serial, int uid = -1)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            if (uid >= 0 && (::setgroups(0, nullptr), ::setgid(gid_t(uid)) != 0 || ::setuid(uid_t(uid)) != 0))
                ::_exit(10);
            LampHold hold(folder);
            const char result = char('0' + hold.take(serial));
            if (::write(fds[1], &result, 1) != 1)
                ::_exit(11);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        char result = 0;
        if (m_pid > 0 && ::read(fds[0], &result, 1) == 1)
            m_result = result - '0';
        ::close(fds[0]);
    }
    ~OtherProcess() { kill(); }

    int result() const { return m_result; }
    // SIGKILL: the process gets no chance to let go of anything itself.
    void kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_result = -1;
};

mode_t fileMode(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

} // namespace

class TestLampHold : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        // Each case its own folder: no lock file left by the one before.
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_folder = m_dir->path().toStdString();
    }

    void fileNames_data()
    {
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plain") << QByteArray("VL000001") << QByteArray("tintrava-lamp-VL000001.lock");
        QTest::newRow("dash and underscore") << QByteArray("A-b_9") << QByteArray("tintrava-lamp-A-b_9.lock");
        QTest::newRow("empty") << QByteArray("") << QByteArray("tintrava-lamp-.lock");
        QTest::newRow("up and out") << QByteArray("../../etc/x") << QByteArray("tintrava-lamp-%2E%2E%2F%2E%2E%2Fetc%2Fx.lock");
        QTest::newRow("percent stays apart") << QByteArray("%2F") << QByteArray("tintrava-lamp-%252F.lock");
        QTest::newRow("blank, backslash, umlaut") << QByteArray("a b\\\xC3\xA4") << QByteArray("tintrava-lamp-a%20b%5C%C3%A4.lock");
    }

    void fileNames()
    {
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, expected);
        QCOMPARE(QByteArray::fromStdString(LampHold::fileNameFor(serial.toStdString())), expected);
    }

    void longSerialsStayShortAndApart()
    {
        const std::string a(300, 'A');
        std::string b = a;
        b.back() = 'B';
        const std::string nameA = LampHold::fileNameFor(a);
        QVERIFY(nameA.size() < 200);
        QVERIFY(nameA != LampHold::fileNameFor(b));
        // And it works as a lock file.
        LampHold hold(m_folder);
        QCOMPARE(hold.take(a), LampHold::Held);
    }

    void oneHolderPerLamp()
    {
        LampHold first(m_folder), second(m_folder);
        QCOMPARE(first.take("S1"), LampHold::Held);
        QCOMPARE(first.take("S1"), LampHold::Held); // holding it already
        QCOMPARE(second.take("S1"), LampHold::HeldByOther);
        QVERIFY(!second.holding());
        // Another lamp is free.
        QCOMPARE(second.take("S2"), LampHold::Held);
        QCOMPARE(first.take("S2"), LampHold::HeldByOther);
        // A hold that failed on S2 keeps S1.
        QCOMPARE(first.heldSerial(), std::string("S1"));
        QCOMPARE(second.take("S1"), LampHold::HeldByOther);

        first.release();
        QVERIFY(!first.holding());
        // Taking S1 gives up S2.
        QCOMPARE(second.take("S1"), LampHold::Held);
        QCOMPARE(first.take("S2"), LampHold::Held);
    }

    void endsWithItsHolder()
    {
        {
            LampHold hold(m_folder);
            QCOMPARE(hold.take("S1"), LampHold::Held);
        }
        LampHold next(m_folder);
        QCOMPARE(next.take("S1"), LampHold::Held);
    }

    void noLampNothingHeld()
    {
        LampHold hold(m_folder);
        tintrava::LampState lamp;
        QCOMPARE(hold.takeFound(lamp), LampHold::NoLamp);
        QVERIFY(!hold.holding());
        lamp.LampEverFound = true;
        lamp.LampSerial = "S1";
        QCOMPARE(hold.takeFound(lamp), LampHold::Held);
        // A lamp gone again keeps its serial, and the hold on it.
        lamp.LampFound = false;
        QCOMPARE(hold.takeFound(lamp), LampHold::Held);
        QCOMPARE(hold.heldSerial(), std::string("S1"));
    }

    void anotherProcessAndItsKill()
    {
        OtherProcess other(m_folder, "S1");
        QCOMPARE(other.result(), int(LampHold::Held));
        LampHold hold(m_folder);
        QCOMPARE(hold.take("S1"), LampHold::HeldByOther);
        other.kill();
        QCOMPARE(hold.take("S1"), LampHold::Held);
        OtherProcess after(m_folder, "S1");
        QCOMPARE(after.result(), int(LampHold::HeldByOther));
    }

    void acrossUsers()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to start a process as another user");
        constexpr int Nobody = 65534;
        // A folder like /run/lock: everyone writes, nobody removes another's file.
        QVERIFY(::chmod(m_folder.c_str(), 01777) == 0);
        // A strict umask must not keep other users from testing the lock.
        const mode_t oldMask = ::umask(077);
        LampHold mine(m_folder);
        const LampHold::Result taken = mine.take("S1");
        ::umask(oldMask);
        QCOMPARE(taken, LampHold::Held);
        QCOMPARE(fileMode(mine.lockPath("S1")), mode_t(0644));
        {
            OtherProcess nobody(m_folder, "S1", Nobody);
            QCOMPARE(nobody.result(), int(LampHold::HeldByOther));
        }
        mine.release();

        // The other user makes the file and holds it; root opens a file it
        // does not own in a sticky folder.
        QVERIFY(::unlink(mine.lockPath("S1").c_str()) == 0);
        OtherProcess nobody(m_folder, "S1", Nobody);
        QCOMPARE(nobody.result(), int(LampHold::Held));
        struct stat info {};
        QVERIFY(::stat(mine.lockPath("S1").c_str(), &info) == 0);
        QCOMPARE(int(info.st_uid), Nobody);
        QCOMPARE(mine.take("S1"), LampHold::HeldByOther);
        nobody.kill();
        QCOMPARE(mine.take("S1"), LampHold::Held);
    }

    void defaultFolder()
    {
        const QByteArray saved = qgetenv("TINTRAVA_LOCK_DIR");
        qputenv("TINTRAVA_LOCK_DIR", QByteArray::fromStdString(m_folder));
        QCOMPARE(LampHold::defaultFolder(), m_folder);
        qunsetenv("TINTRAVA_LOCK_DIR");
        const std::string folder = LampHold::defaultFolder();
        if (!saved.isNull())
            qputenv("TINTRAVA_LOCK_DIR", saved);
        struct stat info {};
        if (::stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode))
            QCOMPARE(folder, std::string("/run/lock"));
        QVERIFY(::stat(folder.c_str(), &info) == 0);

        // The real folder works, for a lamp nobody else has.
        const std::string serial = "test-" + std::to_string(::getpid());
        LampHold first(folder), second(folder);
        const LampHold::Result taken = first.take(serial);
        const std::string path = first.lockPath(serial);
        if (taken == LampHold::Unavailable)
            QSKIP(qPrintable(QString::fromStdString(first.errorText())));
        QCOMPARE(taken, LampHold::Held);
        QCOMPARE(second.take(serial), LampHold::HeldByOther);
        QCOMPARE(fileMode(path), mode_t(0644));
        first.release();
        ::unlink(path.c_str());
    }

    void unusableLockFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("folder missing") << "missing";
        QTest::newRow("a FIFO in its place") << "fifo";
        QTest::newRow("a link in its place") << "link";
    }

    void unusableLockFile()
    {
        QFETCH(QString, what);
        std::string folder = m_folder;
        if (what == "missing")
            folder += "/not-there";
        LampHold hold(folder);
        const std::string path = hold.lockPath("S1");
        if (what == "fifo")
            QVERIFY(::mkfifo(path.c_str(), 0666) == 0);
        if (what == "link")
            QVERIFY(::symlink((m_folder + "/elsewhere").c_str(), path.c_str()) == 0);
        // Says why, holds nothing, and never waits.
        QCOMPARE(hold.take("S1"), LampHold::Unavailable);
        QVERIFY(!hold.holding());
        QVERIFY(hold.errorText().find(path) != std::string::npos);
        QVERIFY(!QFileInfo::exists(QString::fromStdString(m_folder + "/elsewhere")));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::string m_folder;
};

QTEST_APPLESS_MAIN(TestLampHold)
#include "test_lamp_hold.moc"
