#include <QtTest>

#include <QFile>
#include <QTemporaryDir>

#include "lamp/d2xx/driver_loader.h"
#include "support/fake_d2xx.h"

using namespace tintrava;

namespace {

QString buildFile(const char *compiledPath, const char *fileName)
{
    if (compiledPath && *compiledPath)
        return QString::fromLocal8Bit(compiledPath);
    return qEnvironmentVariable("TINTRAVA_BUILD_DIR") + "/" + fileName;
}

#ifndef TINTRAVA_VIRTUAL_LAMP_PATH
#define TINTRAVA_VIRTUAL_LAMP_PATH ""
#endif
#ifndef TINTRAVA_INCOMPLETE_D2XX_PATH
#define TINTRAVA_INCOMPLETE_D2XX_PATH ""
#endif

std::string virtualLampPath()
{
    return buildFile(TINTRAVA_VIRTUAL_LAMP_PATH, "libtintrava-virtual-lamp.so").toStdString();
}

std::string incompletePath()
{
    return buildFile(TINTRAVA_INCOMPLETE_D2XX_PATH, "libtintrava-test-incomplete-d2xx.so").toStdString();
}

bool sameTable(const D2xxApi &a, const D2xxApi &b)
{
    return a.ListDevices == b.ListDevices && a.OpenEx == b.OpenEx && a.Close == b.Close && a.Read == b.Read
        && a.Write == b.Write && a.SetBaudRate == b.SetBaudRate
        && a.SetDataCharacteristics == b.SetDataCharacteristics && a.SetTimeouts == b.SetTimeouts
        && a.GetQueueStatus == b.GetQueueStatus;
}

bool complete(const D2xxApi &a)
{
    return a.ListDevices && a.OpenEx && a.Close && a.Read && a.Write && a.SetBaudRate && a.SetDataCharacteristics
        && a.SetTimeouts && a.GetQueueStatus;
}

bool mapped(const QString &fileName)
{
    QFile maps("/proc/self/maps");
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains(fileName.toLocal8Bit());
}

} // namespace

class TestDriverLoader : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void cleanup()
    {
        qunsetenv(D2xxLibraryVariable);
        qunsetenv("TINTRAVA_VIRTUAL_LAMP");
    }

    void loadsVirtualLamp()
    {
        qunsetenv("TINTRAVA_VIRTUAL_LAMP"); // its single default lamp
        D2xxApi api;
        std::string error = "stale";
        QVERIFY2(loadD2xxLibrary(virtualLampPath(), api, error), error.c_str());
        QVERIFY(error.empty());
        QVERIFY(complete(api));

        // The entries are the library's own functions, each in its place.
        DWORD count = 0;
        QCOMPARE(api.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        QCOMPARE(count, 1u);
        char text[64] = {};
        QCOMPARE(api.ListDevices(nullptr, text, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
        QCOMPARE(QByteArray(text), QByteArray("Sela-Lumen"));
        FT_HANDLE handle = nullptr;
        char serial[] = "VL000001";
        QCOMPARE(api.OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
        QCOMPARE(api.SetBaudRate(handle, 0), FT_INVALID_BAUD_RATE);
        QCOMPARE(api.SetDataCharacteristics(handle, 9, 0, 0), FT_INVALID_PARAMETER);
        QCOMPARE(api.SetTimeouts(handle, 0, 0), FT_OK);
        DWORD queue = 99;
        QCOMPARE(api.GetQueueStatus(handle, &queue), FT_OK);
        QCOMPARE(queue, 0u);
        DWORD moved = 99;
        QCOMPARE(api.Read(handle, text, 5, &moved), FT_OK);
        QCOMPARE(moved, 0u);
        QCOMPARE(api.Write(handle, text, 3, &moved), FT_OK);
        QCOMPARE(moved, 3u);
        QCOMPARE(api.Close(handle), FT_OK);
        QCOMPARE(api.Close(handle), FT_INVALID_HANDLE);
    }

    void refusesUnusableLibrary_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason"); // part of the error text

        QTest::newRow("missing file") << dir.filePath("no-such-lib.so") << "l\u00E4sst sich nicht laden";
        QTest::newRow("not a library") << dir.filePath("text.so") << "l\u00E4sst sich nicht laden";
        QTest::newRow("lacks a function") << QString::fromStdString(incompletePath()) << "FT_SetTimeouts";
        QTest::newRow("empty path") << QString() << "keine Bibliotheksdatei angegeben";
    }
    void refusesUnusableLibrary()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QFile text(dir.filePath("text.so"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is no shared object\n");
        text.close();

        D2xxApi api = testing::FakeD2xx::api();
        std::string error;
        QVERIFY(!loadD2xxLibrary(path.toStdString(), api, error));
        QVERIFY2(sameTable(api, testing::FakeD2xx::api()), "the table must stay untouched");
        const QString message = QString::fromStdString(error);
        QVERIFY2(message.contains(reason), qPrintable(message));
        QVERIFY2(message.contains(path), qPrintable(message));
        QVERIFY(!message.contains('\n'));
        if (QFile::exists("/proc/self/maps") && !path.isEmpty())
            QVERIFY2(!mapped(QFileInfo(path).fileName()), "the refused library must be closed again");
    }

    void noDriverFailsEverything()
    {
        const D2xxApi &api = noDriverApi();
        QVERIFY(complete(api));
        DWORD count = 77;
        QCOMPARE(api.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_DEVICE_NOT_FOUND);
        QCOMPARE(count, 77u);
        char text[64] = "untouched";
        QCOMPARE(api.ListDevices(nullptr, text, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_DEVICE_NOT_FOUND);
        QCOMPARE(QByteArray(text), QByteArray("untouched"));
        FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(0x1234);
        QCOMPARE(api.OpenEx(text, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
        QCOMPARE(handle, reinterpret_cast<FT_HANDLE>(0x1234));
        DWORD moved = 5;
        QCOMPARE(api.Read(handle, text, 5, &moved), FT_INVALID_HANDLE);
        QCOMPARE(api.Write(handle, text, 5, &moved), FT_INVALID_HANDLE);
        QCOMPARE(moved, 5u);
        QCOMPARE(api.Close(handle), FT_INVALID_HANDLE);
        QCOMPARE(api.SetBaudRate(handle, 9600), FT_INVALID_HANDLE);
        QCOMPARE(api.SetDataCharacteristics(handle, 8, 2, 0), FT_INVALID_HANDLE);
        QCOMPARE(api.SetTimeouts(handle, 100, 100), FT_INVALID_HANDLE);
        QCOMPARE(api.GetQueueStatus(handle, &count), FT_INVALID_HANDLE);
        QCOMPARE(count, 77u);
    }

    void chooseDriver_data()
    {
        QTest::addColumn<QString>("variable"); // "<unset>" leaves it unset
        QTest::addColumn<QString>("builtinDriver"); // "yes", "none", or "fails" to load
        QTest::addColumn<QString>("expected"); // virtual, builtin, none, ftdi
        QTest::addColumn<QString>("warningPart");

        QTest::newRow("named library") << QString::fromStdString(virtualLampPath()) << "yes" << "virtual" << "";
        QTest::newRow("named library missing") << dir.filePath("gone.so") << "yes" << "none" << "gone.so";
        QTest::newRow("named library incomplete") << QString::fromStdString(incompletePath()) << "yes" << "none"
                                                  << "FT_SetTimeouts";
        QTest::newRow("unset, built-in") << "<unset>" << "yes" << "builtin" << "";
        QTest::newRow("unset, no built-in") << "<unset>" << "none" << "none" << "";
        QTest::newRow("unset, built-in cannot load") << "<unset>" << "fails" << "none" << "libftdi1.so.2 fehlt";
        QTest::newRow("empty counts as unset") << "" << "yes" << "builtin" << "";
    }
    void chooseDriver()
    {
        QFETCH(QString, variable);
        QFETCH(QString, builtinDriver);
        QFETCH(QString, expected);
        QFETCH(QString, warningPart);

        if (variable == "<unset>")
            qunsetenv(D2xxLibraryVariable);
        else
            qputenv(D2xxLibraryVariable, variable.toLocal8Bit());

        // FTDI's own library comes before the built-in binding where it is installed.
        D2xxApi ftdi;
        std::string ignored;
        const bool haveFtdi = loadD2xxLibrary(ftdiLibraryName(), ftdi, ignored);
        if (haveFtdi && (expected == "builtin" || (expected == "none" && (warningPart.isEmpty() || builtinDriver == "fails")))) {
            expected = "ftdi";
            if (builtinDriver == "fails")
                warningPart.clear();
        }

        D2xxApi virtualLamp;
        QVERIFY(loadD2xxLibrary(virtualLampPath(), virtualLamp, ignored));
        const D2xxApi builtin = testing::FakeD2xx::api();

        // The built-in binding's libraries are loaded only when it is the one chosen.
        int builtinAsked = 0;
        tintrava::BuiltinDriver builtinDriverFn;
        if (builtinDriver != "none")
            builtinDriverFn = [&](std::string &error) -> const D2xxApi * {
                ++builtinAsked;
                if (builtinDriver == "fails") {
                    error = "libftdi1.so.2 fehlt";
                    return nullptr;
                }
                return &builtin;
            };
        std::string warning = "stale";
        const D2xxApi chosen = tintrava::chooseDriver(builtinDriverFn, warning);
        const bool named = variable != "<unset>" && !variable.isEmpty();
        QCOMPARE(builtinAsked, !named && !haveFtdi && builtinDriver != "none" ? 1 : 0);

        const D2xxApi &want = expected == "virtual" ? virtualLamp
            : expected == "builtin"                 ? builtin
            : expected == "ftdi"                    ? ftdi
                                                    : noDriverApi();
        QVERIFY2(sameTable(chosen, want), qPrintable("expected the " + expected + " driver"));
        const QString message = QString::fromStdString(warning);
        if (warningPart.isEmpty()) {
            QVERIFY2(message.isEmpty(), qPrintable(message));
        } else {
            QVERIFY2(message.contains(warningPart), qPrintable(message));
            if (builtinDriver != "fails")
                QVERIFY2(message.contains(D2xxLibraryVariable), qPrintable(message));
            QVERIFY(!message.contains('\n'));
        }
    }
};

QTEST_GUILESS_MAIN(TestDriverLoader)
#include "test_driver_loader.moc"
