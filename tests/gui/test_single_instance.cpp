// One running copy per user: the lock, its stale-lock rule, and what a later
// start hands to the running copy. Two SingleInstance objects on one folder
// stand for two starts; the end-to-end tests run the real program twice. The
// channel's own rules (rubbish from a peer, a holder killed in another
// process) are tests/instance's.
#include <QtTest>

#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/fake_dialogs.h"
#include "ui/single_instance.h"

using tintrava::SingleInstance;

namespace {

// The running copy's side, recording what later starts asked of it.
struct Running {
    explicit Running(const QString &folder) : instance(folder)
    {
        instance.bringToFront = [this] {
            ++raised;
            onOtherThread |= QThread::currentThread() != qApp->thread();
        };
        instance.openHandedFile = [this](const QString &path) {
            files << path;
            onOtherThread |= QThread::currentThread() != qApp->thread();
        };
    }
    SingleInstance instance;
    int raised = 0;
    QStringList files;
    // The window may only be touched from its own thread.
    bool onOtherThread = false;
};

// The pid of a process that has ended: a lock naming it was left behind.
qint64 deadPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    if (pid < 0 || ::waitpid(pid, nullptr, 0) != pid)
        return -1;
    return pid;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void init();
    void secondStartFindsTheFirst();
    void startOnlyOnce();
    void filesNobodyTookAreSaid();
    void handsOverFiles_data();
    void handsOverFiles();
    void runningCopysLockNeverGoesStale();
    void lockOfACrashedCopyIsTakenOver();
    void firstLockIsReleasedAtTheEnd();
    void foreignFolderIsNotTrusted();
    void fallbackFolderIsMadePrivate();
    void filesFromArguments_data();
    void filesFromArguments();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString folder() const { return m_dir->path(); }
};

void TestSingleInstance::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSingleInstance::secondStartFindsTheFirst()
{
    Running first(folder());
    QCOMPARE(first.instance.claim(), SingleInstance::Claimed);
    QVERIFY(QFileInfo::exists(first.instance.lockPath()));

    SingleInstance second(folder());
    QCOMPARE(second.claim(), SingleInstance::AlreadyRunning);
    QVERIFY(second.handOver({}));
    QTRY_COMPARE(first.raised, 1);
    QVERIFY(first.files.isEmpty());

    // And a third start, while the first still runs.
    SingleInstance third(folder());
    QCOMPARE(third.claim(), SingleInstance::AlreadyRunning);
    QVERIFY(third.handOver({}));
    QTRY_COMPARE(first.raised, 2);
}

// The start as the program makes it: the first goes on without a box; a
// second start with files hands them over and ends without a box (the
// running copy comes to the front with them); one without files shows
// "Tintrava läuft bereits." and ends; so does one whose files nobody took.
void TestSingleInstance::startOnlyOnce()
{
    Running first(folder());
    FakeDialogs firstBoxes;
    QString warning = "unset";
    QVERIFY(tintrava::startOnlyOnce(first.instance, firstBoxes, {"tintrava"}, "/home/anna", &warning));
    QVERIFY(firstBoxes.shown().empty());
    QVERIFY(warning.isEmpty());

    SingleInstance second(folder());
    FakeDialogs secondBoxes;
    QVERIFY(!tintrava::startOnlyOnce(second, secondBoxes, {"tintrava", "Abfolge.tin", "/tmp/b.tin"}, "/home/anna",
                                     &warning));
    QVERIFY(secondBoxes.shown().empty());
    QTRY_COMPARE(first.raised, 1);
    QCOMPARE(first.files, (QStringList{"/home/anna/Abfolge.tin", "/tmp/b.tin"}));

    SingleInstance third(folder());
    FakeDialogs thirdBoxes;
    QVERIFY(!tintrava::startOnlyOnce(third, thirdBoxes, {"tintrava", "--"}, "/home/anna", &warning));
    QCOMPARE(thirdBoxes.messages(), std::vector<std::string>{"Tintrava l\u00E4uft bereits."});
    QTRY_COMPARE(first.raised, 2);
    QCOMPARE(first.files.size(), 2);
}

void TestSingleInstance::filesNobodyTookAreSaid()
{
    // A running copy that holds its lock but does not listen.
    SingleInstance paths(folder());
    const int lock = ::open(QFile::encodeName(paths.lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(lock >= 0);
    QCOMPARE(::flock(lock, LOCK_EX | LOCK_NB), 0);
    auto unlock = qScopeGuard([lock] { ::close(lock); });
    SingleInstance second(folder());
    FakeDialogs boxes;
    QString warning;
    QVERIFY(!tintrava::startOnlyOnce(second, boxes, {"tintrava", "a.tintrava"}, "/home/anna", &warning));
    QCOMPARE(boxes.messages(), std::vector<std::string>{"Tintrava l\u00E4uft bereits."});
}

void TestSingleInstance::handsOverFiles_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::newRow("one") << QStringList{"/home/anna/Abfolge.tin"};
    QTest::newRow("several, in order") << QStringList{"/a/1.tin", "/b/2.tin", "/a/1.tin"};
    QTest::newRow("blanks, umlauts, a line break")
        << QStringList{"/home/anna/Meine Abfolgen/Grün und Blau.tin", "/tmp/zwei\nZeilen.tin"};
}

void TestSingleInstance::handsOverFiles()
{
    QFETCH(QStringList, files);
    Running first(folder());
    QCOMPARE(first.instance.claim(), SingleInstance::Claimed);
    SingleInstance second(folder());
    QCOMPARE(second.claim(), SingleInstance::AlreadyRunning);
    QVERIFY(second.handOver(files));
    // Heard on the channel's thread, delivered on the window's.
    QTRY_COMPARE(first.raised, 1);
    QCOMPARE(first.files, files);
    QVERIFY(!first.onOtherThread);
}

// However old its lock file, a copy that has run for an hour must still keep
// the second start out.
void TestSingleInstance::runningCopysLockNeverGoesStale()
{
    Running first(folder());
    QCOMPARE(first.instance.claim(), SingleInstance::Claimed);
    {
        QFile lock(first.instance.lockPath());
        QVERIFY(lock.open(QIODevice::ReadWrite));
        const QDateTime hourAgo = QDateTime::currentDateTime().addSecs(-3600);
        QVERIFY(lock.setFileTime(hourAgo, QFileDevice::FileModificationTime));
    }
    SingleInstance second(folder());
    QCOMPARE(second.claim(), SingleInstance::AlreadyRunning);
}

void TestSingleInstance::lockOfACrashedCopyIsTakenOver()
{
    // What a copy killed by a signal leaves behind: its lock naming a process
    // that is gone, and its socket file.
    const qint64 pid = deadPid();
    QVERIFY(pid > 0);
    SingleInstance paths(folder());
    {
        QFile lock(paths.lockPath());
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(pid) + "\ntintrava\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    }
    {
        // A socket file nobody listens on any more.
        const int left = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(paths.socketPath());
        QVERIFY(size_t(path.size()) < sizeof address.sun_path);
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(left, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QCOMPARE(::listen(left, 1), 0);
        ::close(left);
        QVERIFY(QFileInfo::exists(paths.socketPath()));
    }

    Running again(folder());
    QCOMPARE(again.instance.claim(), SingleInstance::Claimed);
    QVERIFY2(again.instance.errorText().isEmpty(), qPrintable(again.instance.errorText()));
    // It listens again: a later start reaches it.
    SingleInstance later(folder());
    QCOMPARE(later.claim(), SingleInstance::AlreadyRunning);
    QVERIFY(later.handOver({"/x.tin"}));
    QTRY_COMPARE(again.files, QStringList{"/x.tin"});
}

void TestSingleInstance::firstLockIsReleasedAtTheEnd()
{
    {
        SingleInstance first(folder());
        QCOMPARE(first.claim(), SingleInstance::Claimed);
    }
    SingleInstance next(folder());
    QCOMPARE(next.claim(), SingleInstance::Claimed);
}

void TestSingleInstance::foreignFolderIsNotTrusted()
{
    if (::getuid() != 0)
        QSKIP("giving a folder to another user needs root");
    const QString foreign = m_dir->filePath("foreign");
    QVERIFY(QDir().mkdir(foreign));
    QCOMPARE(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
    SingleInstance instance(foreign);
    QCOMPARE(instance.claim(), SingleInstance::Unavailable);
    QVERIFY(!instance.errorText().isEmpty());
    QVERIFY(!QFileInfo::exists(instance.lockPath()));

    // The program then runs unguarded and says why on its terminal.
    SingleInstance again(foreign);
    FakeDialogs boxes;
    QString warning;
    QVERIFY(tintrava::startOnlyOnce(again, boxes, {"tintrava"}, "/", &warning));
    QVERIFY(warning.contains(QDir::toNativeSeparators(foreign)));
    QVERIFY(boxes.shown().empty());
}

void TestSingleInstance::fallbackFolderIsMadePrivate()
{
    const QString made = m_dir->filePath("tintrava-user");
    SingleInstance instance(made);
    QCOMPARE(instance.claim(), SingleInstance::Claimed);
    QCOMPARE(QFileInfo(made).permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                               | QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
}

void TestSingleInstance::filesFromArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("none") << QStringList{"tintrava"} << QStringList{};
    QTest::newRow("relative made absolute") << QStringList{"tintrava", "Abfolge.tin"} << QStringList{"/work/Abfolge.tin"};
    QTest::newRow("cleaned") << QStringList{"tintrava", "../a/./b.tin"} << QStringList{"/a/b.tin"};
    QTest::newRow("absolute kept") << QStringList{"tintrava", "/x/y.tin"} << QStringList{"/x/y.tin"};
    QTest::newRow("options skipped") << QStringList{"tintrava", "-v", "--help", "a.tin"} << QStringList{"/work/a.tin"};
    QTest::newRow("after --, a name with a dash")
        << QStringList{"tintrava", "--", "-a.tin", "--"} << QStringList{"/work/-a.tin", "/work/--"};
    QTest::newRow("empty argument") << QStringList{"tintrava", ""} << QStringList{};
}

void TestSingleInstance::filesFromArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);
    QCOMPARE(tintrava::filesFromArguments(arguments, "/work"), files);
}

QTEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
