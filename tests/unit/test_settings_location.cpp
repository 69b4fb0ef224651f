// Where "my.conf" lives: beside a portable copy of the program, in the user's
// config folder for an installed one. The real program in a read-only folder
// is driven end to end in tests/e2e/settings_location_e2e.py.
#include <QtTest>

#include <unistd.h>

#include "storage/settings_file.h"

using namespace tintrava;

namespace {

bool writable(const QString &) { return true; }
bool readOnly(const QString &) { return false; }

} // namespace

class TestSettingsLocation : public QObject {
    Q_OBJECT
private slots:
    void chosenFolder_data()
    {
        QTest::addColumn<bool>("programDirWritable");
        QTest::addColumn<bool>("confBesideProgram");
        QTest::addColumn<QString>("userConfigDir");
        QTest::addColumn<bool>("besideProgram");
        QTest::newRow("portable, first start") << true << false << "/home/u/.config/tintrava" << true;
        QTest::newRow("portable, my.conf there") << true << true << "/home/u/.config/tintrava" << true;
        // An administrator put my.conf beside an installed program: it is read.
        QTest::newRow("read-only, my.conf there") << false << true << "/home/u/.config/tintrava" << true;
        QTest::newRow("installed") << false << false << "/home/u/.config/tintrava" << false;
        QTest::newRow("installed, no home") << false << false << "" << true;
    }
    void chosenFolder()
    {
        QFETCH(bool, programDirWritable);
        QFETCH(bool, confBesideProgram);
        QFETCH(QString, userConfigDir);
        QFETCH(bool, besideProgram);
        QTemporaryDir programDir;
        QVERIFY(programDir.isValid());
        if (confBesideProgram) {
            QFile conf(programDir.filePath("my.conf"));
            QVERIFY(conf.open(QIODevice::WriteOnly));
        }
        const QString chosen = configDirectoryFor(programDir.path(), userConfigDir, programDirWritable ? writable : readOnly);
        QCOMPARE(chosen, besideProgram ? programDir.path() : userConfigDir);
    }

    void userConfigFolderFollowsXdg()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QByteArray old = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
        const QString dir = userConfigDirectory();
        if (old.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", old);
        QCOMPARE(dir, QDir(home.path()).filePath("tintrava"));
    }

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
        QCOMPARE(canCreateFileIn(dir), possible);
        if (kind == "writable" || kind == "read-only") {
            // The probe leaves nothing behind.
            QCOMPARE(QDir(tmp.filePath("dir")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList());
            QFile::setPermissions(tmp.filePath("dir"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "test_settings_location.moc"
