// The one reader of a named file's head for the window and the player: what
// it reads, what it refuses unread, and the words for each refusal.
#include <QtTest>

#include <QTemporaryDir>

#include <cstring>
#include <string>

#include "storage/file_head.h"

#if defined(Q_OS_UNIX)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using tintrava::FileHead;

Q_DECLARE_METATYPE(FileHead::Status)

class TestFileHead : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    std::string path(const char *name) const { return (m_dir.path() + "/" + name).toStdString(); }

private slots:
    void kinds_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<FileHead::Status>("status");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("regular file") << "file" << FileHead::Read << "";
        QTest::newRow("empty file") << "empty" << FileHead::Read << "";
        QTest::newRow("missing") << "missing" << FileHead::Missing << "Die Datei gibt es nicht.";
        QTest::newRow("below a file") << "below a file" << FileHead::Missing << "Die Datei gibt es nicht.";
        QTest::newRow("folder") << "folder" << FileHead::Directory << "Das ist ein Ordner.";
#if defined(Q_OS_UNIX)
        // Each would block or never end if it were read.
        QTest::newRow("fifo") << "fifo" << FileHead::NotRegular << "Das ist keine gew\u00F6hnliche Datei.";
        QTest::newRow("device") << "/dev/zero" << FileHead::NotRegular << "Das ist keine gew\u00F6hnliche Datei.";
        QTest::newRow("socket") << "socket" << FileHead::NotRegular << "Das ist keine gew\u00F6hnliche Datei.";
        QTest::newRow("no permission") << "no permission" << FileHead::NoPermission << "Keine Berechtigung zum Lesen.";
#endif
    }
    void kinds()
    {
        QFETCH(QString, kind);
        QFETCH(FileHead::Status, status);
        QFETCH(QString, refusal);
        QVERIFY(m_dir.isValid());
        const std::string name = path(qPrintable(QString(kind).replace(' ', '_')));
        std::string target = name;
        int listener = -1;
        if (kind == "file" || kind == "no permission" || kind == "below a file") {
            QFile f(QString::fromStdString(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("4\nzwei\n");
            if (kind == "below a file")
                target = name + "/my.conf";
        } else if (kind == "empty") {
            QFile f(QString::fromStdString(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(QString::fromStdString(name)));
        } else if (kind.startsWith('/')) {
            target = kind.toStdString();
        }
#if defined(Q_OS_UNIX)
        if (kind == "fifo")
            QCOMPARE(mkfifo(name.c_str(), 0600), 0);
        if (kind == "socket") {
            listener = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(name.size() < sizeof address.sun_path);
            std::strcpy(address.sun_path, name.c_str());
            QCOMPARE(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
            QCOMPARE(listen(listener, 1), 0);
        }
        if (kind == "no permission") {
            if (geteuid() == 0)
                QSKIP("root reads any file");
            QCOMPARE(chmod(name.c_str(), 0200), 0);
        }
#endif
        const FileHead head = tintrava::readFileHead(target, 4096);
#if defined(Q_OS_UNIX)
        if (listener >= 0)
            close(listener);
#endif
        QCOMPARE(head.status, status);
        QCOMPARE(QString::fromStdString(tintrava::fileHeadRefusal(head)), refusal);
        if (kind == "file")
            QCOMPARE(head.bytes, std::string("4\nzwei\n"));
        if (status != FileHead::Read)
            QVERIFY(head.bytes.empty());
    }

    // Only the head is read; a file exactly at the limit is read whole.
    void limit_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("limit");
        QTest::newRow("longer") << 100000 << 4096;
        QTest::newRow("exactly") << 4096 << 4096;
        QTest::newRow("shorter") << 10 << 4096;
        QTest::newRow("nothing wanted") << 10 << 0;
    }
    void limit()
    {
        QFETCH(int, size);
        QFETCH(int, limit);
        const std::string name = path("limit");
        QFile f(QString::fromStdString(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(size, 'x'));
        f.close();
        const FileHead head = tintrava::readFileHead(name, std::size_t(limit));
        QCOMPARE(head.status, FileHead::Read);
        QCOMPARE(int(head.bytes.size()), std::min(size, limit));
    }

    void failedReadNamesTheSystemsReason()
    {
        FileHead head;
        head.status = FileHead::Failed;
        head.systemError = "Eingabe-/Ausgabefehler";
        QCOMPARE(tintrava::fileHeadRefusal(head), std::string("Lesefehler (Eingabe-/Ausgabefehler)"));
    }
};

QTEST_GUILESS_MAIN(TestFileHead)
#include "test_file_head.moc"
