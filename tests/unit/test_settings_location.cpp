// Whether the program's folder can keep "my.conf": the rule that picks the
// folder is in test_config_location; the real program in a read-only folder
// is driven end to end in tests/e2e/settings_location_e2e.py.
#include <QtTest>

#include <unistd.h>

#include "storage/config_location.h"

using namespace tintrava;

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
};

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "test_settings_location.moc"
