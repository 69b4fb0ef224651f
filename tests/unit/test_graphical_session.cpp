// The check before Qt starts: where a display is reached, and whether the
// program has a graphical session to open its windows in.
#include <QtTest>

#include <cstring>
#include <map>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ui/graphical_session.h"

using namespace tintrava;

Q_DECLARE_METATYPE(std::string)

namespace {

// A listening socket for the length of a test; nobody ever accepts.
class Listener {
public:
    // A Unix socket at path.
    explicit Listener(const std::string &path)
    {
        sockaddr_un addr {};
        if (path.size() >= sizeof addr.sun_path)
            return;
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        m_ok = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && ::listen(m_fd, 4) == 0;
    }
    // TCP on 127.0.0.1, on the first free port at or above 6000 + firstDisplay.
    explicit Listener(int firstDisplay)
    {
        for (int display = firstDisplay; display < firstDisplay + 200 && !m_ok; ++display) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr {};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(quint16(6000 + display));
            m_ok = ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && ::listen(m_fd, 4) == 0;
            m_display = display;
        }
    }
    ~Listener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_ok; }
    int display() const { return m_display; }

private:
    int m_fd = -1;
    bool m_ok = false;
    int m_display = -1;
};

// An X display number nobody serves: no socket, nothing on its TCP port.
int freeDisplayNumber()
{
    for (int n = 399; n > 100; --n)
        if (!QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(n))
            && !unixSocketReachable(std::string(1, '\0') + "/tmp/.X11-unix/X" + std::to_string(n))
            && !tcpReachable("localhost", 6000 + n, 2000))
            return n;
    return -1;
}

} // namespace

class TestGraphicalSession : public QObject {
    Q_OBJECT
private slots:
    void xDisplayAddress_data();
    void xDisplayAddress();
    void waylandSocketPath_data();
    void waylandSocketPath();
    void session_data();
    void session();
    void reachability();
};

void TestGraphicalSession::xDisplayAddress_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("sockets"); // abstract names shown with a leading '@'
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow(":0") << ":0" << true << QStringList{"@/tmp/.X11-unix/X0", "/tmp/.X11-unix/X0"} << "localhost" << 6000;
    QTest::newRow(":1.0, screen ignored") << ":1.0" << true << QStringList{"@/tmp/.X11-unix/X1", "/tmp/.X11-unix/X1"}
                                          << "localhost" << 6001;
    QTest::newRow("unix:2 is local only") << "unix:2" << true << QStringList{"@/tmp/.X11-unix/X2", "/tmp/.X11-unix/X2"}
                                          << "" << 0;
    QTest::newRow("unix/:3") << "unix/:3" << true << QStringList{"@/tmp/.X11-unix/X3", "/tmp/.X11-unix/X3"} << "" << 0;
    QTest::newRow("forwarded over ssh") << "localhost:10.0" << true << QStringList{} << "localhost" << 6010;
    QTest::newRow("remote host") << "lampen-pc:1" << true << QStringList{} << "lampen-pc" << 6001;
    QTest::newRow("tcp/host:0") << "tcp/lampen-pc:0" << true << QStringList{} << "lampen-pc" << 6000;
    QTest::newRow("tcp/:5 is this machine") << "tcp/:5" << true << QStringList{} << "localhost" << 6005;
    QTest::newRow("IPv6 host") << "::1:0" << true << QStringList{} << "::1" << 6000;
    QTest::newRow("socket path with display") << "/tmp/launch-x/org.x:0" << true << QStringList{"/tmp/launch-x/org.x"}
                                              << "" << 0;
    QTest::newRow("empty") << "" << false << QStringList{} << "" << 0;
    QTest::newRow("no colon") << "nonsense" << false << QStringList{} << "" << 0;
    QTest::newRow("no number") << ":" << false << QStringList{} << "" << 0;
    QTest::newRow("letters") << ":x" << false << QStringList{} << "" << 0;
    QTest::newRow("bad screen") << ":0.x" << false << QStringList{} << "" << 0;
    QTest::newRow("number beyond the ports") << ":60000" << false << QStringList{} << "" << 0;
    QTest::newRow("DECnet") << "node::0" << false << QStringList{} << "" << 0;
    QTest::newRow("unknown protocol") << "smoke/host:0" << false << QStringList{} << "" << 0;
}

void TestGraphicalSession::xDisplayAddress()
{
    QFETCH(QString, display);
    QFETCH(bool, valid);
    QFETCH(QStringList, sockets);
    QFETCH(QString, host);
    QFETCH(int, port);
    const XDisplayAddress a = tintrava::xDisplayAddress(display.toStdString());
    QCOMPARE(a.valid, valid);
    if (!valid)
        return;
    QStringList got;
    for (const std::string &s : a.unixSockets)
        got << (s[0] == '\0' ? "@" + QString::fromStdString(s.substr(1)) : QString::fromStdString(s));
#ifndef __linux__
    sockets.removeIf([](const QString &s) { return s.startsWith('@'); });
#endif
    QCOMPARE(got, sockets);
    QCOMPARE(QString::fromStdString(a.tcpHost), host);
    QCOMPARE(a.tcpPort, port);
}

void TestGraphicalSession::waylandSocketPath_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<QString>("path");
    QTest::newRow("name in the runtime folder") << "wayland-0" << "/run/user/1000" << "/run/user/1000/wayland-0";
    QTest::newRow("absolute path") << "/tmp/w/sock" << "/run/user/1000" << "/tmp/w/sock";
    QTest::newRow("no runtime folder") << "wayland-0" << "" << "";
    QTest::newRow("no display") << "" << "/run/user/1000" << "";
}

void TestGraphicalSession::waylandSocketPath()
{
    QFETCH(QString, display);
    QFETCH(QString, runtime);
    QFETCH(QString, path);
    QCOMPARE(QString::fromStdString(tintrava::waylandSocketPath(display.toStdString(), runtime.toStdString())), path);
}

// Each row is an environment; "$X" stands for a display whose socket
// listens, "$DEAD" for one nobody serves, "$W" for a listening Wayland
// socket's name inside "$RUN".
void TestGraphicalSession::session_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("platform"); // QT_QPA_PLATFORM
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("reason"); // empty: the program may start; else part of the message

    const QStringList none{"tintrava"};
    QTest::newRow("nothing set") << none << "" << "" << "" << "weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt";
    QTest::newRow("X display answers") << none << "" << "$X" << "" << "";
    QTest::newRow("X display nobody serves") << none << "" << "$DEAD" << "" << "ist nicht erreichbar";
    QTest::newRow("DISPLAY that is no display") << none << "" << "Bildschirm" << "" << "keine g\u00FCltige X-Anzeige";
    QTest::newRow("Wayland only") << none << "" << "" << "$W" << "";
    QTest::newRow("Wayland gone, X answers") << none << "" << "$X" << "gone-0" << "";
    QTest::newRow("both gone") << none << "" << "$DEAD" << "gone-0" << "Wayland-Anzeige \u201Egone-0\u201C ist nicht erreichbar";
    QTest::newRow("offscreen needs no display") << none << "offscreen" << "" << "" << "";
    QTest::newRow("minimal needs no display") << none << "minimal" << "" << "" << "";
    QTest::newRow("offscreen with options") << none << "offscreen:fontengine=freetype" << "" << "" << "";
    QTest::newRow("-platform offscreen on the command line") << QStringList{"tintrava", "-platform", "offscreen"}
                                                             << "xcb" << "" << "" << "";
    QTest::newRow("-platform xcb beats offscreen") << QStringList{"tintrava", "-platform", "xcb"} << "offscreen" << ""
                                                   << "" << "DISPLAY ist nicht gesetzt";
    QTest::newRow("xcb without DISPLAY") << none << "xcb" << "" << "$W" << "DISPLAY ist nicht gesetzt";
    QTest::newRow("wayland, socket there") << none << "wayland" << "" << "$W" << "";
    QTest::newRow("wayland, default name not there") << none << "wayland" << "$X" << ""
                                                     << "Wayland-Anzeige \u201Ewayland-0\u201C ist nicht erreichbar";
    QTest::newRow("wayland;xcb falls back to X") << none << "wayland;xcb" << "$X" << "gone-0" << "";
    QTest::newRow("xcb;offscreen") << none << "xcb;offscreen" << "" << "" << "";
}

void TestGraphicalSession::session()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, platform);
    QFETCH(QString, display);
    QFETCH(QString, wayland);
    QFETCH(QString, reason);

    QTemporaryDir run;
    QVERIFY(run.isValid());
    Listener x(run.filePath("X").toStdString());
    QVERIFY(x.ok());
    Listener w(run.filePath("wayland-test").toStdString());
    QVERIFY(w.ok());
    const int dead = freeDisplayNumber();
    QVERIFY(dead > 0);

    auto expand = [&](QString text) {
        // A display given as a socket path, so the test needs no /tmp/.X11-unix.
        text.replace("$X", run.filePath("X") + ":0");
        text.replace("$DEAD", ":" + QString::number(dead));
        text.replace("$W", "wayland-test");
        return text.toStdString();
    };
    std::map<std::string, std::string> env{
        {"QT_QPA_PLATFORM", platform.toStdString()},
        {"DISPLAY", expand(display)},
        {"WAYLAND_DISPLAY", expand(wayland)},
        {"XDG_RUNTIME_DIR", run.path().toStdString()},
    };
    std::vector<std::string> args;
    for (const QString &a : arguments)
        args.push_back(a.toStdString());
    const QString message = QString::fromStdString(
        missingGraphicalSession(args, [&](const char *name) { return env.count(name) ? env[name] : std::string(); }));
    if (reason.isEmpty()) {
        QVERIFY2(message.isEmpty(), qPrintable(message));
    } else {
        QVERIFY2(message.startsWith("Keine grafische Sitzung gefunden: "), qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
    }
}

void TestGraphicalSession::reachability()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = dir.filePath("sock").toStdString();
    QVERIFY(!unixSocketReachable(path));
    {
        Listener l(path);
        QVERIFY(l.ok());
        QVERIFY(unixSocketReachable(path));
    }
    // The socket file stays behind when its server is gone: refused.
    QVERIFY(QFileInfo::exists(dir.filePath("sock")));
    QVERIFY(!unixSocketReachable(path));
    QVERIFY(!unixSocketReachable(""));
    QVERIFY(!unixSocketReachable(std::string(200, 'x')));

    Listener tcp(350);
    QVERIFY(tcp.ok());
    QVERIFY(tcpReachable("127.0.0.1", 6000 + tcp.display(), 5000));
    const XDisplayAddress a = tintrava::xDisplayAddress("127.0.0.1:" + std::to_string(tcp.display()));
    QVERIFY(a.valid);
    QCOMPARE(a.tcpPort, 6000 + tcp.display());
    QVERIFY(!tcpReachable("host.invalid", 6000, 5000));
}

QTEST_MAIN(TestGraphicalSession)
#include "test_graphical_session.moc"
