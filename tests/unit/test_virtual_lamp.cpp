#include <QtTest>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/d2xx/driver_loader.h"

using namespace tintrava;

#ifndef TINTRAVA_VIRTUAL_LAMP_PATH
#define TINTRAVA_VIRTUAL_LAMP_PATH ""
#endif

namespace {

using Fields = QMap<QString, QString>;

const QStringList TraceKeys{"t", "pid", "call", "serial", "desc", "fw", "args", "status", "result", "data",
                            "heard", "colour"};

struct Line {
    ULONG baud;
    UCHAR bits, stop, parity;
};
constexpr Line TextLine{115200, 8, 2, 0};
constexpr Line ByteLine{9600, 8, 2, 0};

// What a whole exchange did; `failure` names the first call that did not succeed.
struct Exchange {
    QString failure;
    QByteArray reply;
};

} // namespace

class TestVirtualLamp : public QObject {
    Q_OBJECT

    D2xxApi lamp;
    std::unique_ptr<QTemporaryDir> dir;
    QString deviceFile;
    QString traceFile;
    int serialCounter = 0;

    // A serial no earlier case used: lamps keep their colour per serial.
    QString freshSerial() { return QString("T%1").arg(++serialCounter, 4, 10, QChar('0')); }

    // Replaces the device file in one step, as a user's editor or a test should.
    void writeDevices(const QByteArray &content)
    {
        const QString temp = deviceFile + ".new";
        QFile file(temp);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        file.close();
        QCOMPARE(std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(deviceFile).constData()), 0);
    }

    DWORD count()
    {
        DWORD n = 12345;
        const FT_STATUS status = lamp.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY);
        return status == FT_OK ? n : 12345;
    }

    // The text a by-index query gives, or "<status N>".
    QByteArray listed(DWORD index, DWORD what)
    {
        char buffer[80];
        std::memset(buffer, 'Z', sizeof buffer);
        const FT_STATUS status = lamp.ListDevices(reinterpret_cast<void *>(std::uintptr_t(index)), buffer,
                                                  FT_LIST_BY_INDEX | what);
        if (status != FT_OK)
            return "<status " + QByteArray::number(status) + ">";
        const int limit = what == FT_OPEN_BY_SERIAL_NUMBER ? 16 : 64;
        if (buffer[limit] != 'Z')
            return "<overrun>";
        return QByteArray(buffer, int(strnlen(buffer, limit)));
    }

    FT_STATUS open(const QString &serial, FT_HANDLE &handle)
    {
        QByteArray key = serial.toLatin1();
        return lamp.OpenEx(key.data(), FT_OPEN_BY_SERIAL_NUMBER, &handle);
    }

    FT_STATUS setLine(FT_HANDLE handle, Line line)
    {
        FT_STATUS status = lamp.SetBaudRate(handle, line.baud);
        if (status == FT_OK)
            status = lamp.SetDataCharacteristics(handle, line.bits, line.stop, line.parity);
        return status;
    }

    FT_STATUS write(FT_HANDLE handle, QByteArray bytes)
    {
        DWORD written = 0;
        FT_STATUS status = lamp.Write(handle, bytes.data(), DWORD(bytes.size()), &written);
        if (status == FT_OK && written != DWORD(bytes.size()))
            status = FT_OTHER_ERROR;
        return status;
    }

    QByteArray read(FT_HANDLE handle, DWORD want, FT_STATUS *status = nullptr)
    {
        char buffer[256];
        DWORD got = 9999;
        const FT_STATUS s = lamp.Read(handle, buffer, want, &got);
        if (status)
            *status = s;
        if (s != FT_OK || got > want)
            return "<failed>";
        return QByteArray(buffer, int(got));
    }

    // Times this thread gave up the CPU of its own accord; -1 if unknown.
    static long voluntarySwitches()
    {
        QFile status(QStringLiteral("/proc/thread-self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                return line.mid(24).trimmed().toLong();
        return -1;
    }

    DWORD queue(FT_HANDLE handle)
    {
        DWORD n = 9999;
        return lamp.GetQueueStatus(handle, &n) == FT_OK ? n : 9999;
    }

    // Open, line settings, time-outs, write, read up to `want` bytes, close.
    // The reply is due 20 ms after the write; a read never misses what is due
    // by its deadline, so 100 ms holds on a slow machine too.
    Exchange exchange(const QString &serial, Line line, const QByteArray &bytes, DWORD want = 20,
                      ULONG readTimeout = 100)
    {
        Exchange result;
        FT_HANDLE handle = nullptr;
        auto step = [&](const char *name, FT_STATUS status) {
            if (status != FT_OK && result.failure.isEmpty())
                result.failure = QString("%1 -> %2").arg(name).arg(status);
        };
        step("open", open(serial, handle));
        if (!result.failure.isEmpty())
            return result;
        step("line", setLine(handle, line));
        step("timeouts", lamp.SetTimeouts(handle, readTimeout, readTimeout));
        step("write", write(handle, bytes));
        FT_STATUS status = FT_OK;
        result.reply = read(handle, want, &status);
        step("read", status);
        step("close", lamp.Close(handle));
        return result;
    }

    QList<Fields> trace()
    {
        QList<Fields> lines;
        QFile file(traceFile);
        if (!file.open(QIODevice::ReadOnly))
            return lines;
        for (const QByteArray &raw : file.readAll().split('\n')) {
            if (raw.isEmpty())
                continue;
            Fields fields;
            QStringList keys;
            for (const QByteArray &item : raw.split('\t')) {
                const int eq = item.indexOf('=');
                keys << QString::fromLatin1(item.left(eq));
                fields.insert(keys.last(), QString::fromLatin1(item.mid(eq + 1)));
            }
            fields.insert("#order", keys.join(','));
            lines << fields;
        }
        return lines;
    }

    // The colour field of the last trace line that concerns `serial`.
    QString colourOf(const QString &serial)
    {
        const QList<Fields> lines = trace();
        for (auto it = lines.crbegin(); it != lines.crend(); ++it)
            if (it->value("serial") == serial)
                return it->value("colour");
        return "<no line>";
    }

private slots:
    void initTestCase()
    {
        std::string path = TINTRAVA_VIRTUAL_LAMP_PATH;
        if (path.empty())
            path = qEnvironmentVariable("TINTRAVA_BUILD_DIR").toStdString() + "/libtintrava-virtual-lamp.so";
        std::string error;
        QVERIFY2(loadD2xxLibrary(path, lamp, error), error.c_str());
    }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        deviceFile = dir->filePath("lamps.txt");
        traceFile = dir->filePath("trace.log");
        qputenv("TINTRAVA_VIRTUAL_LAMP", QFile::encodeName(deviceFile));
        qputenv("TINTRAVA_VIRTUAL_LAMP_LOG", QFile::encodeName(traceFile));
    }

    void cleanup()
    {
        qunsetenv("TINTRAVA_VIRTUAL_LAMP");
        qunsetenv("TINTRAVA_VIRTUAL_LAMP_LOG");
    }

    // ------------------------------------------------------------ listing

    void listing_data()
    {
        QTest::addColumn<QByteArray>("file"); // "<none>": variable unset, "<missing>": no file
        QTest::addColumn<QByteArrayList>("descriptions");
        QTest::addColumn<QByteArrayList>("serials");

        const QByteArray d70 = QByteArray(64, 'd') + "EXTRA!";
        QTest::newRow("variable unset") << QByteArray("<none>") << QByteArrayList{"Sela-Lumen"}
                                        << QByteArrayList{"VL000001"};
        QTest::newRow("file missing") << QByteArray("<missing>") << QByteArrayList{} << QByteArrayList{};
        QTest::newRow("file empty") << QByteArray() << QByteArrayList{} << QByteArrayList{};
        QTest::newRow("three kinds") << QByteArray("# lamps\n\nSela-Lumen|A1|text\r\n  # indented comment\n"
                                                   "VC0123456789V012345678|B2|byte|delay=5\nTTL232R|C3|cable")
                                     << QByteArrayList{"Sela-Lumen", "VC0123456789V012345678", "TTL232R"}
                                     << QByteArrayList{"A1", "B2", "C3"};
        QTest::newRow("broken lines left out")
            << QByteArray("only|two\nX|S1|firmware\nX|S2|text|bogus\nX|S3|text|delay=abc\nX|S4|text|delay=-5\n"
                          "X|S5|text|reply=\\q\nGood|S6|text| delay=$10 |no-reply\nHalf|S7|te")
            << QByteArrayList{"Good"} << QByteArrayList{"S6"};
        QTest::newRow("fields exact, escapes")
            << QByteArray("Sela-Lumen |  S 1|  text  \nA\\x7CB\\tC|S\\\\2|byte")
            << QByteArrayList{"Sela-Lumen ", "A|B\tC"} << QByteArrayList{"  S 1", "S\\2"};
        QTest::newRow("buffer sizes") << QByteArray(d70 + "|ABCDEFGHIJKLMNOPQR|text\n" + QByteArray(64, 'e')
                                                    + "|ABCDEFGHIJKLMNOP|text")
                                      << QByteArrayList{QByteArray(64, 'd'), QByteArray(64, 'e')}
                                      << QByteArrayList{"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP"};
    }
    void listing()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArrayList, descriptions);
        QFETCH(QByteArrayList, serials);

        if (file == "<none>")
            qunsetenv("TINTRAVA_VIRTUAL_LAMP");
        else if (file != "<missing>")
            writeDevices(file);

        QCOMPARE(count(), DWORD(descriptions.size()));
        QByteArrayList gotDescriptions, gotSerials;
        for (int i = 0; i < descriptions.size(); ++i) {
            gotDescriptions << listed(i, FT_OPEN_BY_DESCRIPTION);
            gotSerials << listed(i, FT_OPEN_BY_SERIAL_NUMBER);
        }
        QCOMPARE(gotDescriptions, descriptions);
        QCOMPARE(gotSerials, serials);
        QCOMPARE(listed(descriptions.size(), FT_OPEN_BY_DESCRIPTION),
                 "<status " + QByteArray::number(FT_DEVICE_NOT_FOUND) + ">");
    }

    void listingArguments()
    {
        char buffer[64];
        QCOMPARE(lamp.ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
        QCOMPARE(lamp.ListDevices(nullptr, nullptr, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_INVALID_PARAMETER);
        QCOMPARE(lamp.ListDevices(nullptr, buffer, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION), FT_INVALID_PARAMETER);
    }

    void plugAndUnplug()
    {
        writeDevices("Sela-Lumen|P1|text\n");
        QCOMPARE(count(), 1u);
        writeDevices("Sela-Lumen|P1|text\nTTL232R|P2|cable\n");
        QCOMPARE(count(), 2u);
        QCOMPARE(listed(1, FT_OPEN_BY_SERIAL_NUMBER), QByteArray("P2"));

        // By-index queries answer from the list of the last count.
        writeDevices("Sela-Lumen|P1|text\n");
        QCOMPARE(listed(1, FT_OPEN_BY_SERIAL_NUMBER), QByteArray("P2"));
        QCOMPARE(count(), 1u);
        QCOMPARE(listed(1, FT_OPEN_BY_SERIAL_NUMBER), "<status " + QByteArray::number(FT_DEVICE_NOT_FOUND) + ">");

        QVERIFY(QFile::remove(deviceFile));
        QCOMPARE(count(), 0u);
        FT_HANDLE handle = nullptr;
        QCOMPARE(open("P1", handle), FT_DEVICE_NOT_FOUND);
        writeDevices("Sela-Lumen|P1|text\n");
        QCOMPARE(open("P1", handle), FT_OK);
        QCOMPARE(lamp.Close(handle), FT_OK);
    }

    // ------------------------------------------------------------ open and handles

    void opening()
    {
        writeDevices("Sela-Lumen|O1|text\nSela-Lumen|O2|text|open-fails\nTTL232R|O3|cable\n");
        FT_HANDLE first = nullptr, second = nullptr, other = nullptr;
        QCOMPARE(open("O9", first), FT_DEVICE_NOT_FOUND);
        QCOMPARE(open("O2", first), FT_DEVICE_NOT_OPENED);
        QCOMPARE(open("O1", first), FT_OK);
        QCOMPARE(open("O1", second), FT_DEVICE_NOT_OPENED); // busy
        QCOMPARE(open("O3", other), FT_OK);                 // another device is free
        QVERIFY(first != other);
        QCOMPARE(lamp.Close(first), FT_OK);
        QCOMPARE(open("O1", second), FT_OK);
        QVERIFY(second != first);
        QCOMPARE(lamp.Close(second), FT_OK);
        QCOMPARE(lamp.Close(other), FT_OK);

        char description[] = "TTL232R";
        QCOMPARE(lamp.OpenEx(description, FT_OPEN_BY_DESCRIPTION, &other), FT_OK);
        QCOMPARE(lamp.Close(other), FT_OK);
        char serial[] = "O1";
        QCOMPARE(lamp.OpenEx(serial, FT_LIST_ALL, &other), FT_INVALID_PARAMETER);
        QCOMPARE(lamp.OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, nullptr), FT_INVALID_PARAMETER);
    }

    void badHandles_data()
    {
        QTest::addColumn<quintptr>("handle"); // 1: a handle that was open and is closed now
        QTest::newRow("null") << quintptr(0);
        QTest::newRow("closed") << quintptr(1);
        QTest::newRow("made up") << quintptr(0xDEADBEEF);
    }
    void badHandles()
    {
        QFETCH(quintptr, handle);
        writeDevices("Sela-Lumen|H1|text\n");
        FT_HANDLE h = reinterpret_cast<FT_HANDLE>(handle);
        if (handle == 1) {
            QCOMPARE(open("H1", h), FT_OK);
            QCOMPARE(lamp.Close(h), FT_OK);
        }
        char buffer[8] = "VER\r\n";
        DWORD n = 77;
        QCOMPARE(lamp.Write(h, buffer, 5, &n), FT_INVALID_HANDLE);
        QCOMPARE(n, 0u);
        n = 77;
        QCOMPARE(lamp.Read(h, buffer, 5, &n), FT_INVALID_HANDLE);
        QCOMPARE(n, 0u);
        QCOMPARE(lamp.SetBaudRate(h, 115200), FT_INVALID_HANDLE);
        QCOMPARE(lamp.SetDataCharacteristics(h, 8, 2, 0), FT_INVALID_HANDLE);
        QCOMPARE(lamp.SetTimeouts(h, 100, 100), FT_INVALID_HANDLE);
        QCOMPARE(lamp.GetQueueStatus(h, &n), FT_INVALID_HANDLE);
        QCOMPARE(lamp.Close(h), FT_INVALID_HANDLE);
    }

    void unplugWhileOpen()
    {
        writeDevices("Sela-Lumen|U1|text\n");
        FT_HANDLE handle = nullptr;
        QCOMPARE(open("U1", handle), FT_OK);
        QCOMPARE(setLine(handle, TextLine), FT_OK);
        writeDevices("TTL232R|U2|cable\n");
        QCOMPARE(write(handle, "VER\r\n"), FT_IO_ERROR);
        QCOMPARE(lamp.SetBaudRate(handle, 115200), FT_IO_ERROR);
        QCOMPARE(queue(handle), 9999u);
        FT_STATUS status = FT_OK;
        read(handle, 5, &status);
        QCOMPARE(status, FT_IO_ERROR);

        // Plugged in again, the old handle stays dead; a new open works once it is closed.
        writeDevices("Sela-Lumen|U1|text\n");
        QCOMPARE(lamp.SetBaudRate(handle, 115200), FT_IO_ERROR);
        FT_HANDLE fresh = nullptr;
        QCOMPARE(open("U1", fresh), FT_OK);
        QCOMPARE(lamp.Close(handle), FT_OK);
        QCOMPARE(lamp.Close(fresh), FT_OK);
    }

    // ------------------------------------------------------------ lamp behaviour

    void textLamp_data()
    {
        QTest::addColumn<quint32>("baud");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("stop");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("colour"); // after the exchange; "-" none yet

        QTest::newRow("VER 115200 8N2") << 115200u << 8 << 2 << 0 << QByteArray("VER\r\n")
                                        << QByteArray("Sela-Lumen V1.0\r\n") << "-";
        QTest::newRow("VER 9600") << 9600u << 8 << 2 << 0 << QByteArray("VER\r\n") << QByteArray() << "-";
        QTest::newRow("VER 8N1") << 115200u << 8 << 0 << 0 << QByteArray("VER\r\n") << QByteArray() << "-";
        QTest::newRow("VER 7 bits") << 115200u << 7 << 2 << 0 << QByteArray("VER\r\n") << QByteArray() << "-";
        QTest::newRow("VER even parity") << 115200u << 8 << 2 << 2 << QByteArray("VER\r\n") << QByteArray() << "-";
        QTest::newRow("colour") << 115200u << 8 << 2 << 0 << QByteArray("CFF7D00\r\n") << QByteArray("OK\r\n")
                                << "FF7D00";
        QTest::newRow("colour 9600") << 9600u << 8 << 2 << 0 << QByteArray("CFF7D00\r\n") << QByteArray() << "-";
        QTest::newRow("off") << 115200u << 8 << 2 << 0 << QByteArray("C000000\r\n") << QByteArray("OK\r\n")
                             << "000000";
        QTest::newRow("lower-case hex") << 115200u << 8 << 2 << 0 << QByteArray("Cff7d00\r\n") << QByteArray() << "-";
        QTest::newRow("five digits") << 115200u << 8 << 2 << 0 << QByteArray("CFF7D0\r\n") << QByteArray() << "-";
        QTest::newRow("LF only") << 115200u << 8 << 2 << 0 << QByteArray("VER\n") << QByteArray() << "-";
        QTest::newRow("no line end") << 115200u << 8 << 2 << 0 << QByteArray("VER") << QByteArray() << "-";
        QTest::newRow("two commands") << 115200u << 8 << 2 << 0 << QByteArray("VER\r\nC0000FF\r\n")
                                      << QByteArray("Sela-Lumen V1.0\r\nOK\r\n") << "0000FF";
        QTest::newRow("byte frame") << 115200u << 8 << 2 << 0 << QByteArray("\xFF\x45") << QByteArray() << "-";
    }
    void textLamp()
    {
        QFETCH(quint32, baud);
        QFETCH(int, bits);
        QFETCH(int, stop);
        QFETCH(int, parity);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        QFETCH(QString, colour);

        const QString serial = freshSerial();
        writeDevices("Sela-Lumen|" + serial.toLatin1() + "|text\n");
        const Exchange result = exchange(serial, Line{baud, UCHAR(bits), UCHAR(stop), UCHAR(parity)}, sent, 40);
        QVERIFY2(result.failure.isEmpty(), qPrintable(result.failure));
        QCOMPARE(result.reply, reply);
        QCOMPARE(colourOf(serial), colour);
    }

    void textLineAcrossWritesAndOpens()
    {
        const QString serial = freshSerial();
        writeDevices("Sela-Lumen|" + serial.toLatin1() + "|text\n");
        FT_HANDLE handle = nullptr;
        QCOMPARE(open(serial, handle), FT_OK);
        QCOMPARE(setLine(handle, TextLine), FT_OK);
        QCOMPARE(lamp.SetTimeouts(handle, 2000, 100), FT_OK);
        QCOMPARE(write(handle, "C12"), FT_OK);
        QCOMPARE(write(handle, "3456\r"), FT_OK);
        QCOMPARE(write(handle, "\n"), FT_OK);
        QCOMPARE(read(handle, 4), QByteArray("OK\r\n"));
        QCOMPARE(lamp.Close(handle), FT_OK);
        QCOMPARE(colourOf(serial), QString("123456"));

        // The colour belongs to the lamp: it is still there after re-opening.
        QCOMPARE(open(serial, handle), FT_OK);
        QCOMPARE(colourOf(serial), QString("123456"));
        // Noise loses a half-received line.
        QCOMPARE(setLine(handle, TextLine), FT_OK);
        QCOMPARE(write(handle, "CAB"), FT_OK);
        QCOMPARE(lamp.SetBaudRate(handle, 9600), FT_OK);
        QCOMPARE(write(handle, "xx"), FT_OK);
        QCOMPARE(lamp.SetBaudRate(handle, 115200), FT_OK);
        QCOMPARE(write(handle, "CDEF\r\n"), FT_OK);
        QCOMPARE(lamp.Close(handle), FT_OK);
        QCOMPARE(colourOf(serial), QString("123456"));
    }

    void byteLamp_data()
    {
        QTest::addColumn<quint32>("baud");
        QTest::addColumn<QByteArrayList>("writes");
        QTest::addColumn<QString>("colour");

        QTest::newRow("orange") << 9600u << QByteArrayList{"\xFF\x45"} << "5";
        QTest::newRow("off") << 9600u << QByteArrayList{"\xFF\x4B"} << "11";
        QTest::newRow("indigo") << 9600u << QByteArrayList{"\xFF\x4C"} << "12";
        QTest::newRow("split frame") << 9600u << QByteArrayList{"\xFF", "\x41"} << "1";
        QTest::newRow("repeated start") << 9600u << QByteArrayList{"\xFF\xFF\x43"} << "3";
        QTest::newRow("last frame wins") << 9600u << QByteArrayList{"\xFF\x41\xFF\x4A"} << "10";
        QTest::newRow("out of range") << 9600u << QByteArrayList{"\xFF\x4D"} << "-";
        QTest::newRow("no start byte") << 9600u << QByteArrayList{"\x45"} << "-";
        QTest::newRow("text command") << 9600u << QByteArrayList{"VER\r\n"} << "-";
        QTest::newRow("115200") << 115200u << QByteArrayList{"\xFF\x45"} << "-";
    }
    void byteLamp()
    {
        QFETCH(quint32, baud);
        QFETCH(QByteArrayList, writes);
        QFETCH(QString, colour);

        const QString serial = freshSerial();
        writeDevices("Sela-Lumen|" + serial.toLatin1() + "|byte\n");
        FT_HANDLE handle = nullptr;
        QCOMPARE(open(serial, handle), FT_OK);
        QCOMPARE(setLine(handle, Line{baud, 8, 2, 0}), FT_OK);
        for (const QByteArray &bytes : writes)
            QCOMPARE(write(handle, bytes), FT_OK);
        QCOMPARE(lamp.SetTimeouts(handle, 100, 100), FT_OK);
        QCOMPARE(read(handle, 20), QByteArray()); // never answers
        QCOMPARE(lamp.Close(handle), FT_OK);
        QCOMPARE(colourOf(serial), colour);
    }

    void cableNeverAnswers_data()
    {
        QTest::addColumn<quint32>("baud");
        QTest::newRow("115200") << 115200u;
        QTest::newRow("9600") << 9600u;
    }
    void cableNeverAnswers()
    {
        QFETCH(quint32, baud);
        writeDevices("TTL232R|CB1|cable\n");
        const Exchange result = exchange("CB1", Line{baud, 8, 2, 0}, "VER\r\n", 20, 100);
        QVERIFY2(result.failure.isEmpty(), qPrintable(result.failure));
        QCOMPARE(result.reply, QByteArray());
        const Fields written = trace().at(trace().size() - 3); // write, read, close
        QCOMPARE(written.value("call"), QString("FT_Write"));
        QCOMPARE(written.value("heard"), QString("-"));
        QCOMPARE(written.value("colour"), QString("-"));
    }

    // ------------------------------------------------------------ faults

    void faults_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");

        const QByteArray longReply = "Sela-Lumen V1.0 with a much longer reply than twenty bytes";
        QTest::newRow("reply with NUL") << QByteArray("reply=AB\\x00C\\r\\n") << QByteArray("VER\r\n")
                                        << QByteArray("AB\0C\r\n", 6);
        QTest::newRow("reply \\0 escape") << QByteArray("reply=\\0") << QByteArray("VER\r\n") << QByteArray("\0", 1);
        QTest::newRow("reply CR LF only") << QByteArray("reply=\\r\\n") << QByteArray("VER\r\n") << QByteArray("\r\n");
        QTest::newRow("reply LF CR") << QByteArray("reply=\\n\\r") << QByteArray("VER\r\n") << QByteArray("\n\r");
        QTest::newRow("reply over-long") << QByteArray("reply=" + longReply) << QByteArray("VER\r\n") << longReply;
        QTest::newRow("reply to colour too") << QByteArray("reply=X") << QByteArray("C010203\r\n") << QByteArray("X");
        QTest::newRow("empty reply") << QByteArray("reply=") << QByteArray("VER\r\n") << QByteArray();
        QTest::newRow("no reply") << QByteArray("no-reply") << QByteArray("VER\r\n") << QByteArray();
        QTest::newRow("no reply, no colour answer") << QByteArray("no-reply") << QByteArray("C010203\r\n")
                                                    << QByteArray();
    }
    void faults()
    {
        QFETCH(QByteArray, options);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);

        const QString serial = freshSerial();
        writeDevices("Sela-Lumen|" + serial.toLatin1() + "|text|" + options + "\n");
        const Exchange result = exchange(serial, TextLine, sent, 100);
        QVERIFY2(result.failure.isEmpty(), qPrintable(result.failure));
        QCOMPARE(result.reply, reply);
        if (sent.startsWith('C')) // understood even when the answer is odd or missing
            QCOMPARE(colourOf(serial), QString("010203"));
    }

    // Writes that fail, at once or after some that worked, and a write that
    // takes all but the last byte; the count survives closing and re-opening.
    void writeFaults_data()
    {
        QTest::addColumn<QByteArray>("option");
        QTest::addColumn<QList<int>>("written"); // per write of "C010203\r\n", -1 for FT_IO_ERROR
        QTest::newRow("write-fails") << QByteArray("write-fails") << QList<int>{-1, -1};
        QTest::newRow("write-fails-after=2") << QByteArray("write-fails-after=2") << QList<int>{9, 9, -1, -1};
        QTest::newRow("write-fails-after=0") << QByteArray("write-fails-after=0") << QList<int>{-1};
        QTest::newRow("short-write") << QByteArray("short-write") << QList<int>{8, 8};
        QTest::newRow("bad count: not attached") << QByteArray("write-fails-after=x") << QList<int>{};
    }
    void writeFaults()
    {
        QFETCH(QByteArray, option);
        QFETCH(QList<int>, written);
        const QString serial = freshSerial();
        writeDevices("Sela-Lumen|" + serial.toLatin1() + "|text|" + option + "\n");
        if (written.isEmpty()) {
            QCOMPARE(count(), 0u);
            return;
        }
        for (int expected : written) {
            FT_HANDLE handle = nullptr;
            QCOMPARE(open(serial, handle), FT_OK);
            QCOMPARE(setLine(handle, TextLine), FT_OK);
            QByteArray bytes = "C010203\r\n";
            DWORD got = 12345;
            const FT_STATUS status = lamp.Write(handle, bytes.data(), DWORD(bytes.size()), &got);
            QCOMPARE(status, expected < 0 ? FT_STATUS(FT_IO_ERROR) : FT_STATUS(FT_OK));
            QCOMPARE(int(got), expected < 0 ? 0 : expected);
            QCOMPARE(lamp.Close(handle), FT_OK);
        }
    }

    void overLongReplyReadInParts()
    {
        writeDevices("Sela-Lumen|LR1|text|reply=0123456789abcdefghijKLMNO\n");
        FT_HANDLE handle = nullptr;
        QCOMPARE(open("LR1", handle), FT_OK);
        QCOMPARE(setLine(handle, TextLine), FT_OK);
        QCOMPARE(lamp.SetTimeouts(handle, 2000, 100), FT_OK);
        QCOMPARE(write(handle, "VER\r\n"), FT_OK);
        QTRY_COMPARE_WITH_TIMEOUT(queue(handle), 25u, 5000);
        QCOMPARE(read(handle, 20), QByteArray("0123456789abcdefghij"));
        QCOMPARE(queue(handle), 5u);
        QCOMPARE(read(handle, 20), QByteArray("KLMNO"));
        // Unread replies go with the close.
        QCOMPARE(write(handle, "VER\r\n"), FT_OK);
        QTRY_COMPARE_WITH_TIMEOUT(queue(handle), 25u, 5000);
        QCOMPARE(lamp.Close(handle), FT_OK);
        QCOMPARE(open("LR1", handle), FT_OK);
        QCOMPARE(queue(handle), 0u);
        QCOMPARE(lamp.Close(handle), FT_OK);
    }

    void listingFaults()
    {
        writeDevices("Sela-Lumen|LF1|text|description-fails\nSela-Lumen|LF2|text|serial-fails\n");
        QCOMPARE(count(), 2u);
        const QByteArray ioError = "<status " + QByteArray::number(FT_IO_ERROR) + ">";
        QCOMPARE(listed(0, FT_OPEN_BY_DESCRIPTION), ioError);
        QCOMPARE(listed(0, FT_OPEN_BY_SERIAL_NUMBER), QByteArray("LF1"));
        QCOMPARE(listed(1, FT_OPEN_BY_DESCRIPTION), QByteArray("Sela-Lumen"));
        QCOMPARE(listed(1, FT_OPEN_BY_SERIAL_NUMBER), ioError);
    }

    // ------------------------------------------------------------ timing

    void replyDelay()
    {
        writeDevices("Sela-Lumen|D1|text|delay=300\n");
        FT_HANDLE handle = nullptr;
        QCOMPARE(open("D1", handle), FT_OK);
        QCOMPARE(setLine(handle, TextLine), FT_OK);
        QCOMPARE(lamp.SetTimeouts(handle, 0, 0), FT_OK);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(write(handle, "VER\r\n"), FT_OK);
        // Not there yet (unless the machine stalled for the whole delay).
        const DWORD early = queue(handle);
        const QByteArray earlyRead = read(handle, 20);
        if (clock.nsecsElapsed() < 250'000'000) {
            QCOMPARE(early, 0u);
            QCOMPARE(earlyRead, QByteArray());
        }
        QTRY_COMPARE_WITH_TIMEOUT(queue(handle), 17u, 5000);
        QVERIFY2(clock.nsecsElapsed() >= 299'000'000, qPrintable(QString::number(clock.nsecsElapsed())));
        QCOMPARE(read(handle, 20), QByteArray("Sela-Lumen V1.0\r\n"));
        QCOMPARE(lamp.Close(handle), FT_OK);
    }

    void readWaitsForReply()
    {
        writeDevices("Sela-Lumen|D2|text|delay=200\n");
        FT_HANDLE handle = nullptr;
        QCOMPARE(open("D2", handle), FT_OK);
        QCOMPARE(setLine(handle, TextLine), FT_OK);
        QCOMPARE(lamp.SetTimeouts(handle, 10000, 100), FT_OK);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(write(handle, "VER\r\n"), FT_OK);
        QCOMPARE(read(handle, 17), QByteArray("Sela-Lumen V1.0\r\n"));
        QVERIFY(clock.nsecsElapsed() >= 199'000'000);
        QCOMPARE(lamp.Close(handle), FT_OK);
    }

    // A read sleeps until the reply is due, instead of waking every
    // millisecond to look: the thread gives up the CPU a few times, not
    // once per millisecond of the wait (counted by the kernel, so a slow
    // machine cannot make this fail).
    void readSleepsInsteadOfPolling()
    {
#if defined(__linux__)
        writeDevices("Sela-Lumen|D3|text|delay=250\nSela-Lumen|D4|text\n");
        FT_HANDLE handle = nullptr;
        QCOMPARE(open("D3", handle), FT_OK);
        QCOMPARE(setLine(handle, TextLine), FT_OK);
        QCOMPARE(lamp.SetTimeouts(handle, 10000, 100), FT_OK);
        QCOMPARE(write(handle, "VER\r\n"), FT_OK);
        const long before = voluntarySwitches();
        QVERIFY(before >= 0);
        QCOMPARE(read(handle, 17), QByteArray("Sela-Lumen V1.0\r\n"));
        const long waitingForReply = voluntarySwitches() - before;
        QVERIFY2(waitingForReply < 50, qPrintable(QString::number(waitingForReply)));
        QCOMPARE(lamp.Close(handle), FT_OK);

        // No reply at all: the whole time-out in one sleep.
        QCOMPARE(open("D4", handle), FT_OK);
        QCOMPARE(lamp.SetTimeouts(handle, 250, 100), FT_OK);
        const long start = voluntarySwitches();
        QCOMPARE(read(handle, 20), QByteArray());
        const long waitingForNothing = voluntarySwitches() - start;
        QVERIFY2(waitingForNothing < 50, qPrintable(QString::number(waitingForNothing)));
        QCOMPARE(lamp.Close(handle), FT_OK);
#else
        QSKIP("counts the thread's context switches in /proc");
#endif
    }

    void readTimeout_data()
    {
        QTest::addColumn<int>("timeout"); // -1: never set
        QTest::addColumn<int>("atLeastMs");
        QTest::newRow("150 ms") << 150 << 150;
        QTest::newRow("not set: 500 ms") << -1 << 500;
    }
    void readTimeout()
    {
        QFETCH(int, timeout);
        QFETCH(int, atLeastMs);
        writeDevices("Sela-Lumen|D3|text|no-reply\n");
        FT_HANDLE handle = nullptr;
        QCOMPARE(open("D3", handle), FT_OK);
        QCOMPARE(setLine(handle, TextLine), FT_OK);
        if (timeout >= 0)
            QCOMPARE(lamp.SetTimeouts(handle, ULONG(timeout), 100), FT_OK);
        QCOMPARE(write(handle, "VER\r\n"), FT_OK);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(read(handle, 20), QByteArray());
        QVERIFY2(clock.nsecsElapsed() >= qint64(atLeastMs - 1) * 1'000'000,
                 qPrintable(QString::number(clock.nsecsElapsed())));
        QCOMPARE(lamp.Close(handle), FT_OK);
    }

    // The device layer's calls and buffers on the virtual lamp, as discovery
    // and the text protocol use them.
    void throughDeviceLayer()
    {
        writeDevices("TTL232R|DL1|cable\nSela-Lumen|DL000000000000002|text\n");
        const D2xxApi previous = D2XXUnit::driver();
        D2XXUnit::setDriver(lamp);
        auto restore = qScopeGuard([&] { D2XXUnit::setDriver(previous); });
        D2XXUnit::resetForTests();

        QCOMPARE(D2XXUnit::GetFTDeviceCount(), FT_OK);
        QCOMPARE(D2XXUnit::DeviceCount, 2u);
        QCOMPARE(D2XXUnit::GetFTDeviceDescription(1), FT_OK);
        QCOMPARE(D2XXUnit::DeviceText, std::string("Sela-Lumen"));
        QCOMPARE(D2XXUnit::GetFTDeviceSerialNo(1), FT_OK);
        QCOMPARE(D2XXUnit::DeviceText, std::string("DL00000000000000")); // 16 characters
        // FTDI's 16-byte buffer cuts such a serial; the device opens only by its full serial.
        QCOMPARE(D2XXUnit::Open_USB_Device_By_Serial_Number(D2XXUnit::DeviceText), FT_DEVICE_NOT_FOUND);
        QCOMPARE(D2XXUnit::DeviceHandle, nullptr);

        QCOMPARE(D2XXUnit::Open_USB_Device_By_Serial_Number("DL000000000000002"), FT_OK);
        D2XXUnit::BaudRate = 115200;
        QCOMPARE(D2XXUnit::SetFTBaudRate(), FT_OK);
        QCOMPARE(D2XXUnit::SetFTTimeouts(100, 100), FT_OK);
        D2XXUnit::WordLength = 8;
        D2XXUnit::StopBits = 2;
        D2XXUnit::Parity = 0;
        QCOMPARE(D2XXUnit::SetFTDataCharacteristics(), FT_OK);
        std::memcpy(D2XXUnit::OutBuffer, "VER\r\n", 5);
        QCOMPARE(D2XXUnit::WriteFTDevice(5), 5u);
        QTRY_COMPARE_WITH_TIMEOUT((D2XXUnit::GetFTQueueStatus(), D2XXUnit::QueueCount), 17u, 5000);
        QCOMPARE(D2XXUnit::ReadFTDevice(20), 17u);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(D2XXUnit::InBuffer), 17),
                 QByteArray("Sela-Lumen V1.0\r\n"));
        QCOMPARE(D2XXUnit::CloseFTDevice(), FT_OK);
        QCOMPARE(D2XXUnit::DeviceHandle, nullptr);
    }

    // ------------------------------------------------------------ trace

    void traceOfAnExchange()
    {
        writeDevices("Sela-Lumen|TR1|text|delay=10\nVC0123456789V01234567\\tX|TR2|byte\n");
        QCOMPARE(count(), 2u);
        QCOMPARE(listed(1, FT_OPEN_BY_DESCRIPTION), QByteArray("VC0123456789V01234567\tX"));
        FT_HANDLE handle = nullptr;
        QCOMPARE(open("TR1", handle), FT_OK);
        QCOMPARE(setLine(handle, TextLine), FT_OK);
        QCOMPARE(lamp.SetTimeouts(handle, 100, 100), FT_OK);
        QCOMPARE(write(handle, "VER\r\n"), FT_OK);
        QThread::msleep(200);
        QCOMPARE(queue(handle), 17u);
        QCOMPARE(read(handle, 20), QByteArray("Sela-Lumen V1.0\r\n"));
        QCOMPARE(write(handle, "CFF7D00\r\n"), FT_OK);
        QCOMPARE(lamp.Close(handle), FT_OK);
        QCOMPARE(lamp.SetBaudRate(handle, 9600), FT_INVALID_HANDLE);
        QCOMPARE(open("TR2", handle), FT_OK);
        QCOMPARE(setLine(handle, ByteLine), FT_OK);
        QCOMPARE(write(handle, "\xFF\x4B"), FT_OK);
        QCOMPARE(lamp.Close(handle), FT_OK);

        const QList<Fields> lines = trace();
        QStringList calls;
        for (const Fields &f : lines) {
            QCOMPARE(f.value("#order"), TraceKeys.join(','));
            QCOMPARE(f.value("pid").toLongLong(), QCoreApplication::applicationPid());
            calls << f.value("call");
        }
        const QStringList expected{"FT_ListDevices", "FT_ListDevices", "FT_OpenEx", "FT_SetBaudRate",
                                   "FT_SetDataCharacteristics", "FT_SetTimeouts", "FT_Write", "FT_GetQueueStatus",
                                   "FT_Read", "FT_Write", "FT_Close", "FT_SetBaudRate", "FT_OpenEx",
                                   "FT_SetBaudRate", "FT_SetDataCharacteristics", "FT_Write", "FT_Close"};
        QCOMPARE(calls, expected);

        auto check = [&](int i, const QString &key, const QString &value) {
            QVERIFY2(lines.at(i).value(key) == value,
                     qPrintable(QString("line %1 %2: %3").arg(i).arg(key, lines.at(i).value(key))));
        };
        check(0, "args", "flags=NUMBER_ONLY");
        check(0, "result", "count=2");
        check(0, "serial", "-");
        check(1, "args", "index=1 flags=BY_INDEX|DESCRIPTION");
        check(1, "desc", "VC0123456789V01234567\\tX");
        check(1, "result", "text=VC0123456789V01234567\\tX");
        check(2, "args", "key=TR1 flags=SERIAL");
        check(2, "serial", "TR1");
        check(2, "desc", "Sela-Lumen");
        check(2, "fw", "text");
        check(2, "status", "FT_OK");
        check(3, "args", "baud=115200");
        check(4, "args", "bits=8 stop=2 parity=0");
        check(5, "args", "read=100 write=100");
        check(6, "args", "count=5 line=115200/8/2/0");
        check(6, "data", "5645520D0A");
        check(6, "heard", "VER");
        check(6, "colour", "-");
        check(7, "result", "queue=17");
        check(8, "args", "want=20 timeout=100");
        check(8, "data", "53656C612D4C756D656E2056312E300D0A");
        QVERIFY(lines.at(8).value("result").startsWith("got=17 waited="));
        check(9, "heard", "C:FF7D00");
        check(9, "colour", "FF7D00");
        check(10, "colour", "FF7D00");
        check(11, "status", "FT_INVALID_HANDLE");
        check(11, "serial", "-");
        check(15, "fw", "byte");
        check(15, "data", "FF4B");
        check(15, "heard", "colour:11");
        check(15, "colour", "11");

        // Time stamps: monotonic milliseconds; the 200 ms pause shows between write and read.
        double previous = 0;
        for (const Fields &f : lines) {
            bool ok = false;
            const double t = f.value("t").toDouble(&ok);
            QVERIFY(ok);
            QVERIFY(t >= previous);
            previous = t;
        }
        QVERIFY(lines.at(8).value("t").toDouble() - lines.at(6).value("t").toDouble() >= 199.0);
    }

    void traceOfFailures()
    {
        writeDevices("Sela-Lumen|TF1|text\nTTL232R|TF2|cable|open-fails\n");
        FT_HANDLE handle = nullptr;
        QCOMPARE(open("TF2", handle), FT_DEVICE_NOT_OPENED);
        QCOMPARE(open("NOPE", handle), FT_DEVICE_NOT_FOUND);
        QCOMPARE(open("TF1", handle), FT_OK);
        QCOMPARE(lamp.SetBaudRate(handle, 9600), FT_OK);
        QCOMPARE(write(handle, "VER\r\n"), FT_OK); // 9600 8N1: noise to a text lamp
        writeDevices("");
        QCOMPARE(write(handle, "VER\r\n"), FT_IO_ERROR);
        QCOMPARE(lamp.Close(handle), FT_OK);

        const QList<Fields> lines = trace();
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines.at(0).value("status"), QString("FT_DEVICE_NOT_OPENED"));
        QCOMPARE(lines.at(0).value("fw"), QString("cable"));
        QCOMPARE(lines.at(1).value("status"), QString("FT_DEVICE_NOT_FOUND"));
        QCOMPARE(lines.at(1).value("serial"), QString("-"));
        QCOMPARE(lines.at(4).value("heard"), QString("garbled"));
        QCOMPARE(lines.at(4).value("args"), QString("count=5 line=9600/8/0/0"));
        QCOMPARE(lines.at(5).value("status"), QString("FT_IO_ERROR"));
        QCOMPARE(lines.at(5).value("serial"), QString("TF1")); // still named once unplugged
        QCOMPARE(lines.at(6).value("call"), QString("FT_Close"));
        QCOMPARE(lines.at(6).value("status"), QString("FT_OK"));
    }

    void noTraceWithoutVariable()
    {
        qunsetenv("TINTRAVA_VIRTUAL_LAMP_LOG");
        writeDevices("Sela-Lumen|NT1|text\n");
        QCOMPARE(count(), 1u);
        QVERIFY(!QFile::exists(traceFile));
    }
};

QTEST_GUILESS_MAIN(TestVirtualLamp)
#include "test_virtual_lamp.moc"
