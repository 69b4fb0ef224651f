// Where "my.conf" is looked for, and what its first line means, without Qt:
// the rules the player without a window shares with the window.
#include <QtTest>

#include "storage/config_location.h"

using tintrava::ConfigPlace;

class TestConfigLocation : public QObject {
    Q_OBJECT

private slots:
    void location_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("expected");

        QTest::newRow("portable: writable folder") << false << false << true << "/x" << "/home/u" << "/opt/t/my.conf";
        QTest::newRow("file already beside the program")
            << false << true << false << "/x" << "/home/u" << "/opt/t/my.conf";
        QTest::newRow("read-only folder: XDG_CONFIG_HOME")
            << false << false << false << "/x" << "/home/u" << "/x/tintrava/my.conf";
        QTest::newRow("read-only folder: ~/.config without the variable")
            << false << false << false << "" << "/home/u" << "/home/u/.config/tintrava/my.conf";
        QTest::newRow("relative XDG_CONFIG_HOME is ignored")
            << false << false << false << "rel" << "/home/u" << "/home/u/.config/tintrava/my.conf";
        QTest::newRow("no home folder: beside the program") << false << false << false << "" << "" << "/opt/t/my.conf";
        // Root may write anywhere; an installed program must still not
        // start keeping everyone's settings beside itself.
        QTest::newRow("installed, folder writable") << true << false << true << "/x" << "/home/u" << "/x/tintrava/my.conf";
        QTest::newRow("installed, my.conf beside it is ignored")
            << true << true << true << "" << "/root" << "/root/.config/tintrava/my.conf";
        QTest::newRow("installed, read-only folder") << true << false << false << "/x" << "/home/u" << "/x/tintrava/my.conf";
        QTest::newRow("installed, no home folder at all") << true << true << false << "" << "" << "/opt/t/my.conf";
    }

    void location()
    {
        QFETCH(bool, installed);
        QFETCH(bool, exists);
        QFETCH(bool, writable);
        QFETCH(QString, xdg);
        QFETCH(QString, home);
        QFETCH(QString, expected);
        ConfigPlace place;
        place.programDir = "/opt/t";
        place.installed = installed;
        place.existsBesideProgram = exists;
        place.programDirWritable = writable;
        place.xdgConfigHome = xdg.toStdString();
        place.home = home.toStdString();
        QCOMPARE(QString::fromStdString(tintrava::chooseConfigPath(place)), expected);
    }

    void firstLine_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("row");

        QTest::newRow("0 is valid") << QByteArray("0\n") << 0;
        QTest::newRow("only the first line") << QByteArray("2\r\n4\n") << 2;
        QTest::newRow("leading blanks") << QByteArray("   3\n") << 3;
        QTest::newRow("plus sign") << QByteArray("+3") << 3;
        QTest::newRow("hexadecimal") << QByteArray("$3\n") << 3;
        QTest::newRow("trailing blank") << QByteArray("3 \n") << -1;
        QTest::newRow("empty file") << QByteArray() << -1;
        QTest::newRow("out of range stays") << QByteArray("5\n") << 5;
        QTest::newRow("negative") << QByteArray("-1\n") << -1;
        QTest::newRow("empty first line") << QByteArray("\n3\n") << -1;
    }

    void firstLine()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, row);
        const int got = tintrava::hardwareRowFromConfig(std::string_view(head.constData(), size_t(head.size())));
        QCOMPARE(got, row);
        QCOMPARE(tintrava::validHardwareRow(got), row >= 0 && row <= 4);
    }

    // The marker of an installed program is a file in share/tintrava beside
    // the program's bin folder; a folder of that name does not count.
    void installedMarker_data()
    {
        QTest::addColumn<QString>("marker");
        QTest::addColumn<bool>("installed");
        QTest::newRow("marker file") << "share/tintrava/installed" << true;
        QTest::newRow("nothing") << "" << false;
        QTest::newRow("a folder named like the marker") << "share/tintrava/installed/" << false;
        QTest::newRow("marker beside the program, not in share") << "bin/installed" << false;
    }
    void installedMarker()
    {
        QFETCH(QString, marker);
        QFETCH(bool, installed);
        QTemporaryDir prefix;
        QVERIFY(QDir().mkpath(prefix.filePath("bin")));
        if (marker.endsWith('/')) {
            QVERIFY(QDir().mkpath(prefix.filePath(marker)));
        } else if (!marker.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(prefix.filePath(marker)).absolutePath()));
            QFile file(prefix.filePath(marker));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("installed\n");
        }
        QCOMPARE(tintrava::isInstalledProgram(prefix.filePath("bin").toStdString()), installed);
        QVERIFY(!tintrava::isInstalledProgram(""));
    }

    void readsOnlyTheHead()
    {
        QTemporaryDir dir;
        const std::string path = (dir.path() + "/my.conf").toStdString();
        QCOMPARE(tintrava::readConfigHead(path).status, tintrava::ConfigRead::Missing);
        {
            QFile file(QString::fromStdString(path));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("4\n" + QByteArray(100000, 'x'));
        }
        const tintrava::ConfigRead read = tintrava::readConfigHead(path);
        QCOMPARE(read.status, tintrava::ConfigRead::Read);
        QCOMPARE(read.head.size(), tintrava::ConfigHeadLimit);
        QCOMPARE(tintrava::hardwareRowFromConfig(read.head), 4);

        const tintrava::ConfigRead folder = tintrava::readConfigHead(dir.path().toStdString());
        QCOMPARE(folder.status, tintrava::ConfigRead::Failed);
        QVERIFY(!folder.error.empty());
    }
};

QTEST_GUILESS_MAIN(TestConfigLocation)
#include "test_config_location.moc"
