#include <QtTest>

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <string>

#include "tools/virtual-lamp/viewer/lamp_trace.h"

using namespace tintrava;

namespace {

const char *const Keys[12] = {"t", "pid", "call", "serial", "desc", "fw",
                              "args", "status", "result", "data", "heard", "colour"};

using Fields = std::map<std::string, std::string>;

// A trace line as the virtual lamp writes it; by default a text lamp's write
// that it made nothing of.
std::string traceLine(const Fields &overrides = {})
{
    Fields fields{{"t", "100.125"},
                  {"pid", "42"},
                  {"call", "FT_Write"},
                  {"serial", "VL000001"},
                  {"desc", "Sela-Lumen"},
                  {"fw", "text"},
                  {"args", "count=5 line=115200/8/2/0"},
                  {"status", "FT_OK"},
                  {"result", "written=5"},
                  {"data", "5645520D0A"},
                  {"heard", "-"},
                  {"colour", "-"}};
    for (const auto &[key, value] : overrides)
        fields[key] = value;
    std::string line;
    for (const char *key : Keys) {
        line += line.empty() ? "" : "\t";
        line += std::string(key) + "=" + fields[key];
    }
    return line;
}

std::string textWrite(const std::string &serial, const std::string &heard, const std::string &colour,
                      const std::string &pid = "42")
{
    return traceLine({{"serial", serial}, {"heard", heard}, {"colour", colour}, {"pid", pid}});
}

std::string byteWrite(const std::string &serial, int number, const std::string &pid = "42")
{
    const std::string n = std::to_string(number);
    return traceLine({{"serial", serial}, {"desc", "VC0123456789V012345678"}, {"fw", "byte"},
                      {"args", "count=2 line=9600/8/2/0"}, {"result", "written=2"}, {"data", "FF4" + n},
                      {"heard", "colour:" + n}, {"colour", n}, {"pid", pid}});
}

std::string countLine(int n, const std::string &pid = "42")
{
    return traceLine({{"call", "FT_ListDevices"}, {"serial", "-"}, {"desc", "-"}, {"fw", "-"},
                      {"args", "flags=NUMBER_ONLY"}, {"result", "count=" + std::to_string(n)},
                      {"data", "-"}, {"pid", pid}});
}

std::string descriptionLine(int index, const std::string &serial, const std::string &colour = "-",
                            const std::string &pid = "42")
{
    return traceLine({{"call", "FT_ListDevices"}, {"serial", serial},
                      {"args", "index=" + std::to_string(index) + " flags=BY_INDEX|DESCRIPTION"},
                      {"result", "text=Sela-Lumen"}, {"data", "-"}, {"colour", colour}, {"pid", pid}});
}

QString hexRgb(const TraceLamp &lamp)
{
    return QString::asprintf("%02X%02X%02X", lamp.r, lamp.g, lamp.b);
}

// Everything the window shows of the lamps, one lamp per "; ".
QString describe(const LampTrace &trace)
{
    QStringList parts;
    for (const TraceLamp &lamp : trace.lamps()) {
        QString part = QString::fromStdString(lamp.serial + " " + lamp.description + " " + lamp.firmware);
        part += lamp.hasColour ? " shows=" + hexRgb(lamp) : QString(" shows=none");
        if (lamp.colourNumber)
            part += " number=" + QString::number(lamp.colourNumber);
        if (lamp.off)
            part += " off";
        part += " heard=" + (lamp.lastHeard.empty() ? QString("-") : QString::fromStdString(lamp.lastHeard));
        if (!lamp.attached)
            part += " unplugged";
        parts << part;
    }
    return parts.join("; ");
}

QByteArray joinLines(const QList<std::string> &lines)
{
    QByteArray all;
    for (const std::string &line : lines)
        all += QByteArray::fromStdString(line) + '\n';
    return all;
}

} // namespace

class TestLampTrace : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString path;

    void writeFile(const QByteArray &content, QIODevice::OpenMode mode)
    {
        QFile file(path);
        QVERIFY(file.open(mode));
        QCOMPARE(file.write(content), content.size());
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        path = dir->filePath("trace.log");
    }

    void lampState_data()
    {
        QTest::addColumn<QList<std::string>>("lines");
        QTest::addColumn<QString>("expected");

        const std::string open = traceLine({{"call", "FT_OpenEx"}, {"args", "key=VL000001 flags=SERIAL"},
                                            {"result", "handle=3"}, {"data", "-"}});
        QTest::newRow("opened, no colour yet")
            << QList<std::string>{open} << "VL000001 Sela-Lumen text shows=none heard=-";
        QTest::newRow("probe") << QList<std::string>{open, textWrite("VL000001", "VER", "-")}
                               << "VL000001 Sela-Lumen text shows=none heard=VER";
        QTest::newRow("probe and orange")
            << QList<std::string>{open, textWrite("VL000001", "VER", "-"), textWrite("VL000001", "C:FF7D00", "FF7D00")}
            << "VL000001 Sela-Lumen text shows=FF7D00 heard=C:FF7D00";
        QTest::newRow("colour changes")
            << QList<std::string>{textWrite("VL000001", "C:FF7D00", "FF7D00"), textWrite("VL000001", "C:0000FF", "0000FF")}
            << "VL000001 Sela-Lumen text shows=0000FF heard=C:0000FF";
        QTest::newRow("lower-case hex")
            << QList<std::string>{textWrite("VL000001", "-", "ff7d00")} << "VL000001 Sela-Lumen text shows=FF7D00 heard=-";
        QTest::newRow("text lamp off")
            << QList<std::string>{textWrite("VL000001", "C:FF0000", "FF0000"), textWrite("VL000001", "C:000000", "000000")}
            << "VL000001 Sela-Lumen text shows=000000 off heard=C:000000";
        // A read after a command keeps what was heard; its colour field still
        // carries the lamp's colour.
        QTest::newRow("read keeps heard")
            << QList<std::string>{textWrite("VL000001", "C:FF7D00", "FF7D00"),
                                  traceLine({{"call", "FT_Read"}, {"args", "want=20 timeout=100"},
                                             {"result", "got=4 waited=0.100"}, {"data", "4F4B0D0A"},
                                             {"colour", "FF7D00"}})}
            << "VL000001 Sela-Lumen text shows=FF7D00 heard=C:FF7D00";
        QTest::newRow("wrong line settings")
            << QList<std::string>{textWrite("VL000001", "C:FF7D00", "FF7D00"), textWrite("VL000001", "garbled", "FF7D00")}
            << "VL000001 Sela-Lumen text shows=FF7D00 heard=garbled";
        // Every process has its own virtual lamps: a new program run starts without colour.
        QTest::newRow("new process forgets the colour")
            << QList<std::string>{textWrite("VL000001", "C:FF7D00", "FF7D00"), descriptionLine(0, "VL000001", "-", "77")}
            << "VL000001 Sela-Lumen text shows=none heard=C:FF7D00";
        QTest::newRow("byte lamp orange, palette colour")
            << QList<std::string>{byteWrite("VB000002", 5)}
            << "VB000002 VC0123456789V012345678 byte shows=FF5800 number=5 heard=colour:5";
        QTest::newRow("byte lamp green, palette colour")
            << QList<std::string>{byteWrite("VB000002", 2)}
            << "VB000002 VC0123456789V012345678 byte shows=00EC00 number=2 heard=colour:2";
        QTest::newRow("byte lamp indigo")
            << QList<std::string>{byteWrite("VB000002", 12)}
            << "VB000002 VC0123456789V012345678 byte shows=280B35 number=12 heard=colour:12";
        QTest::newRow("byte lamp off")
            << QList<std::string>{byteWrite("VB000002", 5), byteWrite("VB000002", 11)}
            << "VB000002 VC0123456789V012345678 byte shows=000000 number=11 off heard=colour:11";
        QTest::newRow("two lamps in order of appearance")
            << QList<std::string>{byteWrite("VB000002", 3), textWrite("VL000001", "C:FF7D00", "FF7D00"),
                                  byteWrite("VB000002", 4)}
            << "VB000002 VC0123456789V012345678 byte shows=FFFFFF number=4 heard=colour:4; "
               "VL000001 Sela-Lumen text shows=FF7D00 heard=C:FF7D00";
        QTest::newRow("cable")
            << QList<std::string>{traceLine({{"serial", "FT000003"}, {"desc", "TTL232R"}, {"fw", "cable"}})}
            << "FT000003 TTL232R cable shows=none heard=-";
        QTest::newRow("escaped description")
            << QList<std::string>{traceLine({{"desc", "Lamp\\x7C\\\\1\\tA"}})}
            << "VL000001 Lamp|\\1\tA text shows=none heard=-";
        QTest::newRow("description changes with the device file")
            << QList<std::string>{traceLine({{"desc", "Alt"}}), traceLine({{"desc", "Neu"}})}
            << "VL000001 Neu text shows=none heard=-";
        QTest::newRow("lines without a device change nothing")
            << QList<std::string>{countLine(1), traceLine({{"call", "FT_OpenEx"}, {"serial", "-"}, {"desc", "-"},
                                                          {"fw", "-"}, {"status", "FT_DEVICE_NOT_FOUND"},
                                                          {"result", "-"}, {"data", "-"}})}
            << "";

        // Plugging and unplugging as the program's discovery sees it.
        QTest::newRow("nothing listed: unplugged")
            << QList<std::string>{textWrite("VL000001", "C:FF7D00", "FF7D00"), countLine(0)}
            << "VL000001 Sela-Lumen text shows=FF7D00 heard=C:FF7D00 unplugged";
        QTest::newRow("listing names only the other lamp")
            << QList<std::string>{textWrite("VL000001", "VER", "-"), textWrite("VL000002", "C:0000FF", "0000FF"),
                                  countLine(1), descriptionLine(0, "VL000002", "0000FF")}
            << "VL000001 Sela-Lumen text shows=none heard=VER unplugged; "
               "VL000002 Sela-Lumen text shows=0000FF heard=C:0000FF";
        QTest::newRow("listing not finished yet")
            << QList<std::string>{textWrite("VL000001", "VER", "-"), textWrite("VL000002", "C:0000FF", "0000FF"),
                                  countLine(2), descriptionLine(0, "VL000002", "0000FF")}
            << "VL000001 Sela-Lumen text shows=none heard=VER; "
               "VL000002 Sela-Lumen text shows=0000FF heard=C:0000FF";
        QTest::newRow("another process's listing does not count")
            << QList<std::string>{textWrite("VL000001", "VER", "-"), countLine(1, "42"),
                                  descriptionLine(0, "VL000002", "-", "43")}
            << "VL000001 Sela-Lumen text shows=none heard=VER; VL000002 Sela-Lumen text shows=none heard=-";
        QTest::newRow("plugged in again")
            << QList<std::string>{textWrite("VL000001", "VER", "-"), countLine(0), countLine(1),
                                  descriptionLine(0, "VL000001")}
            << "VL000001 Sela-Lumen text shows=none heard=VER";
        QTest::newRow("write fails with I/O error")
            << QList<std::string>{textWrite("VL000001", "C:FF7D00", "FF7D00"),
                                  traceLine({{"status", "FT_IO_ERROR"}, {"result", "-"}, {"colour", "FF7D00"}})}
            << "VL000001 Sela-Lumen text shows=FF7D00 heard=C:FF7D00 unplugged";
        QTest::newRow("close after unplugging")
            << QList<std::string>{traceLine({{"call", "FT_SetBaudRate"}, {"status", "FT_IO_ERROR"}}),
                                  traceLine({{"call", "FT_Close"}, {"args", "handle=3"}, {"result", "-"}})}
            << "VL000001 Sela-Lumen text shows=none heard=- unplugged";
        QTest::newRow("unreadable description is still a device")
            << QList<std::string>{countLine(1), traceLine({{"call", "FT_ListDevices"}, {"status", "FT_IO_ERROR"},
                                                           {"args", "index=0 flags=BY_INDEX|DESCRIPTION"},
                                                           {"result", "-"}, {"data", "-"}})}
            << "VL000001 Sela-Lumen text shows=none heard=-";
    }

    void lampState()
    {
        QFETCH(QList<std::string>, lines);
        QFETCH(QString, expected);
        LampTrace trace;
        for (const std::string &line : lines)
            QVERIFY2(trace.applyLine(line), line.c_str());
        QCOMPARE(describe(trace), expected);
        QCOMPARE(trace.linesIgnored(), std::size_t(0));
    }

    // Lines that are almost right must not touch the lamps.
    void garbageIgnored_data()
    {
        QTest::addColumn<std::string>("line");
        const std::string good = textWrite("VL000001", "C:0000FF", "0000FF");
        std::string thirteen = good + "\textra=1";
        std::string eleven = good.substr(0, good.rfind('\t'));
        std::string swapped = traceLine();
        swapped.replace(swapped.find("serial="), 7, "desc=").replace(swapped.find("desc=Sela"), 5, "serial=");

        QTest::newRow("empty") << std::string();
        QTest::newRow("prose") << std::string("the lamp is blue");
        QTest::newRow("thirteen fields") << thirteen;
        QTest::newRow("eleven fields") << eleven;
        QTest::newRow("keys swapped") << swapped;
        QTest::newRow("blank instead of tab") << std::string(good).replace(good.find("\tcolour="), 1, " ");
        QTest::newRow("unknown firmware") << traceLine({{"fw", "laser"}, {"colour", "0000FF"}});
        QTest::newRow("device without firmware") << traceLine({{"fw", "-"}, {"colour", "0000FF"}});
        QTest::newRow("unknown call") << traceLine({{"call", "FT_Reset"}, {"colour", "0000FF"}});
        QTest::newRow("status without FT_") << traceLine({{"status", "OK"}, {"colour", "0000FF"}});
        QTest::newRow("pid not a number") << traceLine({{"pid", "abc"}, {"colour", "0000FF"}});
        QTest::newRow("time not a number") << traceLine({{"t", "soon"}, {"colour", "0000FF"}});
        QTest::newRow("five hex digits") << traceLine({{"colour", "0000F"}});
        QTest::newRow("seven hex digits") << traceLine({{"colour", "0000FF0"}});
        QTest::newRow("not hex") << traceLine({{"colour", "0000FG"}});
        QTest::newRow("hex prefix") << traceLine({{"colour", "$0000FF"}});
        QTest::newRow("byte colour 0") << traceLine({{"fw", "byte"}, {"colour", "0"}});
        QTest::newRow("byte colour 13") << traceLine({{"fw", "byte"}, {"colour", "13"}});
        QTest::newRow("byte colour in hex") << traceLine({{"fw", "byte"}, {"colour", "$5"}});
        QTest::newRow("byte colour as RGB") << traceLine({{"fw", "byte"}, {"colour", "0000FF"}});
        QTest::newRow("cable with colour") << traceLine({{"fw", "cable"}, {"colour", "0000FF"}});
        QTest::newRow("broken escape") << traceLine({{"desc", "Sela\\q"}, {"colour", "0000FF"}});
        QTest::newRow("short hex escape") << traceLine({{"desc", "Sela\\x4"}, {"colour", "0000FF"}});
        QTest::newRow("trailing backslash") << traceLine({{"desc", "Sela\\"}, {"colour", "0000FF"}});
    }

    void garbageIgnored()
    {
        QFETCH(std::string, line);
        LampTrace trace;
        QVERIFY(trace.applyLine(textWrite("VL000001", "C:FF7D00", "FF7D00")));
        const QString before = describe(trace);
        QVERIFY(!trace.applyLine(line));
        QCOMPARE(describe(trace), before);
        QCOMPARE(trace.linesIgnored(), std::size_t(1));
        QCOMPARE(trace.linesApplied(), std::size_t(1));
    }

    // However the bytes arrive, the result is that of the whole text; a line
    // counts only once its newline is there.
    void partialLines()
    {
        const QByteArray all = joinLines({textWrite("VL000001", "VER", "-"), "garbage", byteWrite("VB000002", 8),
                                          textWrite("VL000001", "C:FF7D00", "FF7D00")});
        LampTrace whole;
        QVERIFY(whole.feed(all.toStdString()));
        const QString expected = describe(whole);
        QCOMPARE(expected, "VL000001 Sela-Lumen text shows=FF7D00 heard=C:FF7D00; "
                           "VB000002 VC0123456789V012345678 byte shows=FFAF00 number=8 heard=colour:8");
        QCOMPARE(whole.linesIgnored(), std::size_t(1));

        for (qsizetype cut = 0; cut <= all.size(); ++cut) {
            LampTrace split;
            split.feed(all.left(cut).toStdString());
            split.feed(all.mid(cut).toStdString());
            QVERIFY2(describe(split) == expected, qPrintable(QString("cut at %1").arg(cut)));
            QCOMPARE(split.linesApplied(), whole.linesApplied());
            QCOMPARE(split.linesIgnored(), whole.linesIgnored());
        }

        LampTrace bytewise;
        for (char c : all)
            bytewise.feed(std::string(1, c));
        QCOMPARE(describe(bytewise), expected);

        // The last line without its newline is not applied yet.
        LampTrace unfinished;
        const std::string last = textWrite("VL000001", "C:0000FF", "0000FF");
        unfinished.feed(all.toStdString() + last);
        QCOMPARE(describe(unfinished), expected);
        QVERIFY(unfinished.feed("\n"));
        QCOMPARE(hexRgb(unfinished.lamps().front()), "0000FF");
    }

    void feedReportsChanges()
    {
        LampTrace trace;
        QVERIFY(trace.feed(textWrite("VL000001", "C:FF7D00", "FF7D00") + "\n"));
        // The same state again, a garbage line, or half a line: nothing to repaint.
        QVERIFY(!trace.feed(textWrite("VL000001", "C:FF7D00", "FF7D00") + "\n"));
        QVERIFY(!trace.feed("garbage\n"));
        QVERIFY(!trace.feed(textWrite("VL000001", "C:0000FF", "0000FF")));
        QVERIFY(trace.feed("\n"));
    }

    // A line far longer than any trace line is dropped without being kept
    // whole, and the next line is read normally.
    void overlongLine()
    {
        LampTrace trace;
        const std::string junk(LampTrace::MaxLineBytes / 3, 'x');
        for (int i = 0; i < 5; ++i)
            trace.feed(junk);
        trace.feed("tail\n" + textWrite("VL000001", "C:FF7D00", "FF7D00") + "\n");
        QCOMPARE(describe(trace), "VL000001 Sela-Lumen text shows=FF7D00 heard=C:FF7D00");
        QCOMPARE(trace.linesIgnored(), std::size_t(1));

        LampTrace inOne;
        inOne.feed(std::string(LampTrace::MaxLineBytes + 1, 'y') + "\n" + textWrite("VL000001", "VER", "-") + "\n");
        QCOMPARE(describe(inOne), "VL000001 Sela-Lumen text shows=none heard=VER");
        QCOMPARE(inOne.linesIgnored(), std::size_t(1));
    }

    void followerReadsAppendedBytes()
    {
        LampTrace trace;
        TraceFollower follower(QFile::encodeName(path).toStdString());

        // Not there yet.
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Unchanged);
        QVERIFY(!follower.exists());
        QVERIFY(trace.lamps().empty());

        writeFile(QByteArray::fromStdString(textWrite("VL000001", "VER", "-") + "\n"), QIODevice::WriteOnly);
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Appended);
        QVERIFY(follower.exists());
        QCOMPARE(describe(trace), "VL000001 Sela-Lumen text shows=none heard=VER");
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Unchanged);

        // Half a line, then the rest.
        const std::string line = textWrite("VL000001", "C:FF7D00", "FF7D00") + "\n";
        writeFile(QByteArray::fromStdString(line.substr(0, 30)), QIODevice::Append);
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Appended);
        QCOMPARE(describe(trace), "VL000001 Sela-Lumen text shows=none heard=VER");
        writeFile(QByteArray::fromStdString(line.substr(30)), QIODevice::Append);
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Appended);
        QCOMPARE(describe(trace), "VL000001 Sela-Lumen text shows=FF7D00 heard=C:FF7D00");
        // Each line was read once.
        QCOMPARE(trace.linesApplied(), std::size_t(2));
    }

    // A trace that shrinks, is replaced, or is emptied and written anew
    // between two polls is read again from its start.
    void followerRestarts_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("truncated") << "truncate";
        QTest::newRow("replaced by rename") << "rename";
        QTest::newRow("deleted and recreated") << "recreate";
        QTest::newRow("truncated and regrown longer") << "regrow";
    }

    void followerRestarts()
    {
        QFETCH(QString, how);
        LampTrace trace;
        TraceFollower follower(QFile::encodeName(path).toStdString());
        writeFile(joinLines({textWrite("VL000001", "VER", "-"), textWrite("VL000001", "C:FF7D00", "FF7D00"),
                             byteWrite("VB000002", 3)}),
                  QIODevice::WriteOnly);
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Appended);
        QCOMPARE(trace.lamps().size(), std::size_t(2));

        const std::string fresh = traceLine({{"t", "5.000"}, {"serial", "VL000009"}, {"heard", "C:00EC00"},
                                             {"colour", "00EC00"}}) + "\n";
        QByteArray content = QByteArray::fromStdString(fresh);
        if (how == "regrow")
            content += joinLines({textWrite("VL000009", "-", "00EC00"), textWrite("VL000009", "-", "00EC00"),
                                  textWrite("VL000009", "-", "00EC00"), textWrite("VL000009", "-", "00EC00")});
        if (how == "truncate" || how == "regrow") {
            writeFile(content, QIODevice::WriteOnly | QIODevice::Truncate);
        } else if (how == "rename") {
            const QString other = dir->filePath("new.log");
            QFile file(other);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(content), content.size());
            file.close();
            QCOMPARE(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
        } else {
            QVERIFY(QFile::remove(path));
            writeFile(content, QIODevice::WriteOnly);
        }

        QCOMPARE(follower.poll(trace), TraceFollower::Result::Restarted);
        QCOMPARE(describe(trace), "VL000009 Sela-Lumen text shows=00EC00 heard=C:00EC00");
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Unchanged);

        // And it follows the new file from there.
        writeFile(QByteArray::fromStdString(textWrite("VL000009", "C:FF0000", "FF0000") + "\n"), QIODevice::Append);
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Appended);
        QCOMPARE(describe(trace), "VL000009 Sela-Lumen text shows=FF0000 heard=C:FF0000");
    }

    void followerForgetsADeletedTrace()
    {
        LampTrace trace;
        TraceFollower follower(QFile::encodeName(path).toStdString());
        writeFile(QByteArray::fromStdString(textWrite("VL000001", "VER", "-") + "\n"), QIODevice::WriteOnly);
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Appended);
        QVERIFY(QFile::remove(path));
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Restarted);
        QVERIFY(!follower.exists());
        QVERIFY(trace.lamps().empty());
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Unchanged);
    }

    // A large old trace is read in slices, none of it twice.
    void followerReadsLargeTraceInSlices()
    {
        std::string big;
        const std::string line = textWrite("VL000001", "C:0000FF", "0000FF") + "\n";
        while (big.size() <= TraceFollower::MaxBytesPerPoll + line.size())
            big += line;
        big += textWrite("VL000001", "C:FF7D00", "FF7D00") + "\n";
        writeFile(QByteArray::fromStdString(big), QIODevice::WriteOnly);

        LampTrace trace;
        TraceFollower follower(QFile::encodeName(path).toStdString());
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Appended);
        QCOMPARE(hexRgb(trace.lamps().front()), "0000FF");
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Appended);
        QCOMPARE(hexRgb(trace.lamps().front()), "FF7D00");
        QCOMPARE(trace.linesApplied(), std::size_t(big.size() / line.size()));
        QCOMPARE(trace.linesIgnored(), std::size_t(0));
        QCOMPARE(follower.poll(trace), TraceFollower::Result::Unchanged);
    }

    void displayColours()
    {
        // Row 0 of the colour table: the palette's screen colours.
        const auto orange = byteLampColour(5);
        QVERIFY(orange);
        QCOMPARE(QString::asprintf("%02X%02X%02X", orange->r, orange->g, orange->b), "FF5800");
        const auto off = byteLampColour(11);
        QVERIFY(off);
        QCOMPARE(QString::asprintf("%02X%02X%02X", off->r, off->g, off->b), "000000");
        QVERIFY(!byteLampColour(0));
        QVERIFY(!byteLampColour(13));
        QCOMPARE(QString::fromStdString(colourName(2)), "Grün");
        QCOMPARE(QString::fromStdString(colourName(11)), "aus");
        QCOMPARE(QString::fromStdString(colourName(12)), "Indigo");
        QVERIFY(colourName(13).empty());
    }
};

QTEST_GUILESS_MAIN(TestLampTrace)
#include "test_lamp_trace.moc"
