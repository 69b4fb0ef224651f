// Whether the program's folder can keep "my.conf": the rule that picks the
// folder is in test_config_location; the real program in a read-only folder
// is driven end to end in tests/e2e/settings_location_e2e.py.
#include <QtTest>

#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/config_location.h"
#include "storage/settings_file.h"

using namespace tintrava;

namespace {

// Root may write anywhere: what a user may not do is tried as user nobody,
// in a child process, which reports by its exit status.
constexpr uid_t Nobody = 65534;

int asUser(const std::function<bool()> &work)
{
    if (geteuid() != 0)
        return work() ? 0 : 1;
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(Nobody) != 0 || setuid(Nobody) != 0)
            _exit(3);
        _exit(work() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class TestSettingsLocation : public QObject {
    Q_OBJECT
private slots:
    // Whether a file can be created is tried for real; root may create files
    // in a folder without write permission, and the program then uses it.
    void creatingAFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("possible");
        QTest::newRow("writable folder") << "writable" << true;
        QTest::newRow("folder without write permission") << "read-only" << (geteuid() == 0);
        QTest::newRow("missing folder") << "missing" << false;
        QTest::newRow("a file, not a folder") << "file" << false;
        QTest::newRow("/proc") << "proc" << false;
        QTest::newRow("empty path") << "empty" << false;
    }
    void creatingAFile()
    {
        QFETCH(QString, kind);
        QFETCH(bool, possible);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QString dir = tmp.filePath("dir");
        QVERIFY(QDir().mkdir(dir));
        if (kind == "read-only") {
            QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        } else if (kind == "missing") {
            dir = tmp.filePath("gone");
        } else if (kind == "file") {
            dir = tmp.filePath("plain");
            QFile f(dir);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (kind == "proc") {
            dir = "/proc";
        } else if (kind == "empty") {
            dir.clear();
        }
        QCOMPARE(canCreateFileIn(dir.toStdString()), possible);
        if (kind == "writable" || kind == "read-only") {
            // The probe leaves nothing behind.
            QCOMPARE(QDir(tmp.filePath("dir")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList());
            QFile::setPermissions(tmp.filePath("dir"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    // A portable copy on a shared drive: the user may write my.conf but not
    // create files in its folder. The choice is then written into the file
    // itself; a file the user may not write is still refused, and a folder
    // that takes a new file keeps the all-or-nothing save.
    void savedInPlace_data()
    {
        QTest::addColumn<bool>("folderWritable");
        QTest::addColumn<bool>("fileWritable");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("sameFile");
        QTest::newRow("closed folder, own file: in place") << false << true << true << true;
        QTest::newRow("closed folder, file of another user: refused") << false << false << false << true;
        QTest::newRow("open folder: replaced whole") << true << true << true << false;
    }
    void savedInPlace()
    {
        QFETCH(bool, folderWritable);
        QFETCH(bool, fileWritable);
        QFETCH(bool, saved);
        QFETCH(bool, sameFile);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                      | QFile::ReadOther | QFile::ExeOther));
        const QString dir = tmp.filePath("portable");
        QVERIFY(QDir().mkdir(dir));
        const QString conf = dir + "/my.conf";
        {
            QFile f(conf);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("3\n");
        }
        const bool root = geteuid() == 0;
        if (root) {
            if (folderWritable)
                QCOMPARE(chown(QFile::encodeName(dir).constData(), Nobody, Nobody), 0);
            if (fileWritable)
                QCOMPARE(chown(QFile::encodeName(conf).constData(), Nobody, Nobody), 0);
            QCOMPARE(chmod(QFile::encodeName(dir).constData(), 0755), 0);
            QCOMPARE(chmod(QFile::encodeName(conf).constData(), 0644), 0);
        } else {
            QCOMPARE(chmod(QFile::encodeName(dir).constData(), folderWritable ? 0755 : 0555), 0);
            QCOMPARE(chmod(QFile::encodeName(conf).constData(), fileWritable ? 0644 : 0444), 0);
        }
        struct stat before {};
        QCOMPARE(stat(QFile::encodeName(conf).constData(), &before), 0);

        setConfigDirectory(dir);
        const int status = asUser([] {
            QString error;
            if (writeConfigNumber(2, &error))
                return true;
            qInfo("%s", qPrintable(error));
            return false;
        });
        setConfigDirectory(QString());
        chmod(QFile::encodeName(dir).constData(), 0755);

        QCOMPARE(status, saved ? 0 : 1);
        QCOMPARE(contents(conf), QByteArray(saved ? "2\n" : "3\n"));
        QCOMPARE(entries(dir), QStringList{"my.conf"});
        struct stat after {};
        QCOMPARE(stat(QFile::encodeName(conf).constData(), &after), 0);
        QCOMPARE(after.st_ino == before.st_ino, sameFile);
    }
};

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "test_settings_location.moc"
