#include <QtTest>

#include <vector>

#include "sequence/player.h"

using namespace tintrava;

namespace {

// Just enough grid for the player: rows of three cells, row 0 the header.
class RowsGrid : public SequenceGrid {
public:
    explicit RowsGrid(std::vector<std::vector<std::string>> steps)
    {
        rows.push_back({"FarbNr", "Bezeichnung", "Minuten"});
        for (auto &s : steps)
            rows.push_back(s);
    }
    int rowCount() const override { return int(rows.size()); }
    void setRowCount(int n) override { rows.resize(size_t(n), {"", "", ""}); }
    std::string cell(int col, int row) const override
    {
        return row >= 0 && row < rowCount() ? rows[size_t(row)][size_t(col)] : std::string();
    }
    void setCell(int col, int row, const std::string &text) override { rows[size_t(row)][size_t(col)] = text; }
    int fixedRows() const override { return rows.size() > 1 ? 1 : 0; }
    void setFixedRows(int) override {}
    int selectedRow() const override { return 1; }
    void setSelectedRow(int) override {}

    std::vector<std::vector<std::string>> rows;
};

constexpr double Second = 1.0 / 86400.0;
constexpr double Minute = 60.0 * Second;

// A player against a fake clock, recording what it would send and show.
struct Rig {
    explicit Rig(std::vector<std::vector<std::string>> steps)
        : grid(std::move(steps)),
          player(grid, SequencePlayer::Hooks{
                           [this] { return clock; },
                           [this](int n) { sent.push_back(QString::number(n)); },
                           [this](const std::string &w) { sent.push_back("w" + QString::fromStdString(w)); },
                           [this] {
                               running = false;
                               sent.push_back("off");
                           },
                           [this] { return running; },
                           [this](const std::string &s) { label4 = QString::fromStdString(s); },
                           [this](const std::string &s) { label9 = QString::fromStdString(s); },
                       })
    {
    }

    void start()
    {
        QVERIFY(player.canStart());
        running = true;
        player.start();
    }
    // One timer tick, dt days after the previous moment.
    void tickAfter(double dt)
    {
        clock += dt;
        player.tick();
    }

    double clock = 46000.25; // some afternoon
    bool running = false;
    QStringList sent;
    QString label4, label9;
    RowsGrid grid;
    SequencePlayer player;
};

} // namespace

class TestPlayer : public QObject {
    Q_OBJECT
private slots:
    void formatDuration_data()
    {
        QTest::addColumn<double>("days");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "00:00:00";
        QTest::newRow("seconds truncated") << 59.8 * Second << "00:00:59";
        QTest::newRow("rounded to ms first") << 59.9996 * Second << "00:01:00";
        QTest::newRow("just below a minute") << 59.9994 * Second << "00:00:59";
        QTest::newRow("4:59") << 299.5 * Second << "00:04:59";
        QTest::newRow("hours") << (13 * 60 + 5) * Minute << "13:05:00";
        QTest::newRow("just below a day") << 1.0 - Second << "23:59:59";
        QTest::newRow("exactly one day") << 1.0 << "24:00:00";
        QTest::newRow("more than a day keeps its hours") << 1.0 + 90 * Minute << "25:30:00";
        QTest::newRow("1501 minutes, 3 s gone") << 1501 * Minute - 3 * Second << "25:00:57";
        QTest::newRow("100 days") << 100.0 + 59 * Second << "2400:00:59";
        QTest::newRow("negative by magnitude") << -5 * Minute << "00:05:00";
        QTest::newRow("negative beyond a day") << -(1.0 + 5 * Minute) << "24:05:00";
        QTest::newRow("largest step") << 2147483647.0 / 1440.0 << "35791394:07:00";
        QTest::newRow("three largest steps") << 2147483647.0 * 3 / 1440.0 << "107374182:21:00";
    }
    void formatDuration()
    {
        QFETCH(double, days);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(tintrava::formatDuration(days)), text);
    }

    void emptyGridCannotStart()
    {
        Rig rig({});
        QVERIFY(!rig.player.canStart());
    }

    // One step of one minute: starts at the first tick, is re-sent every
    // tick, and the first tick more than a minute later switches off.
    void oneStepOfOneMinute()
    {
        Rig rig({{"5", "Orange", "1"}});
        rig.start();
        QVERIFY(rig.sent.isEmpty());
        rig.tickAfter(Second);
        QCOMPARE(rig.player.SequenceRow, 1);
        QCOMPARE(rig.sent, QStringList{"5"});
        QCOMPARE(rig.label4, QString("Restdauer dieser Farbe: 00:01:00"));
        QCOMPARE(rig.label9, QString("Gesamtrestdauer: 00:01:00"));
        for (int i = 0; i < 59; ++i)
            rig.tickAfter(Second);
        QCOMPARE(rig.sent.size(), 60);
        QVERIFY(rig.running);
        QCOMPARE(rig.label4, QString("Restdauer dieser Farbe: 00:00:01"));
        rig.clock = rig.player.StepEndTime; // exactly at the end: not yet over
        rig.tickAfter(0);
        QVERIFY(rig.running);
        QCOMPARE(rig.sent.last(), QString("5"));
        rig.tickAfter(Second / 1000);
        QVERIFY(!rig.running);
        QCOMPARE(rig.sent.last(), QString("off"));
        QCOMPARE(rig.sent.count("off"), 1);
    }

    void advancesThroughSteps()
    {
        Rig rig({{"1", "Rot", "2"}, {"3", "Blau", "1"}, {"4", "Weiß", "3"}});
        rig.start();
        rig.tickAfter(Second);
        QCOMPARE(rig.label4, QString("Restdauer dieser Farbe: 00:02:00"));
        QCOMPARE(rig.label9, QString("Gesamtrestdauer: 00:06:00"));
        rig.tickAfter(Second * 30);
        QCOMPARE(rig.label4, QString("Restdauer dieser Farbe: 00:01:30"));
        QCOMPARE(rig.label9, QString("Gesamtrestdauer: 00:05:30"));
        rig.tickAfter(Second * 91);
        QCOMPARE(rig.player.SequenceRow, 2);
        QCOMPARE(rig.sent.last(), QString("3"));
        QCOMPARE(rig.label9, QString("Gesamtrestdauer: 00:04:00"));
        rig.tickAfter(Minute + Second);
        QCOMPARE(rig.player.SequenceRow, 3);
        // On the last step both labels agree.
        QCOMPARE(rig.label4, QString("Restdauer dieser Farbe: 00:03:00"));
        QCOMPARE(rig.label9, QString("Gesamtrestdauer: 00:03:00"));
        rig.tickAfter(3 * Minute + Second);
        QVERIFY(!rig.running);
        QCOMPARE(rig.sent, (QStringList{"1", "1", "3", "4", "off"}));
    }

    void zeroAndNegativeMinutesLastOneTick_data()
    {
        QTest::addColumn<QString>("minutes");
        QTest::addColumn<QString>("label");
        QTest::newRow("zero") << "0" << "Restdauer dieser Farbe: 00:00:00";
        QTest::newRow("negative") << "-5" << "Restdauer dieser Farbe: 00:05:00";
    }
    void zeroAndNegativeMinutesLastOneTick()
    {
        QFETCH(QString, minutes);
        QFETCH(QString, label);
        Rig rig({{"2", "Grün", minutes.toStdString()}, {"8", "Gelb", "1"}});
        rig.start();
        rig.tickAfter(Second);
        QCOMPARE(rig.player.SequenceRow, 1);
        QCOMPARE(rig.label4, label);
        rig.tickAfter(Second);
        QCOMPARE(rig.player.SequenceRow, 2);
        QCOMPARE(rig.sent, (QStringList{"2", "8"}));
    }

    void allZeroStepsRunToTheEnd()
    {
        Rig rig({{"2", "Grün", "0"}, {"3", "Blau", "0"}});
        rig.start();
        rig.tickAfter(Second);
        rig.tickAfter(Second);
        rig.tickAfter(Second);
        QVERIFY(!rig.running);
        QCOMPARE(rig.sent, (QStringList{"2", "3", "off"}));
    }

    // Cells that are not integers: minutes count as 1, a colour as off.
    void cellsThatAreNotIntegers()
    {
        Rig rig({{"abc", "?", "x"}, {"7", "Violett", "2 "}});
        rig.start();
        rig.tickAfter(Second);
        QCOMPARE(rig.sent, QStringList{"11"});
        QCOMPARE(rig.label4, QString("Restdauer dieser Farbe: 00:01:00"));
        QCOMPARE(rig.label9, QString("Gesamtrestdauer: 00:02:00"));
    }

    // A wavelength step sends the number the wavelength box accepted, however
    // it was spelt; selectcolor2 reads it by the integer rule.
    void wavelengthStepsSendTheAcceptedNumber_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sent");
        QTest::newRow("550") << "550 nm" << "w550";
        QTest::newRow("leading zero") << "0400 nm" << "w0400";
        QTest::newRow("hex") << "$190 nm" << "w$190";
        QTest::newRow("0x prefix") << "0x1F4 nm" << "w0x1F4";
        QTest::newRow("plus sign") << "+500 nm" << "w+500";
        QTest::newRow("leading blanks") << "  500 nm" << "w  500";
        QTest::newRow("only the last nm is the unit") << "500 nm nm" << "w500 nm";
        QTest::newRow("no unit: the whole name") << "ä12" << "wä12";
    }
    void wavelengthStepsSendTheAcceptedNumber()
    {
        QFETCH(QString, name);
        QFETCH(QString, sent);
        Rig rig({{"13", name.toStdString(), "1"}});
        rig.start();
        rig.tickAfter(Second);
        QCOMPARE(rig.sent, QStringList{sent});
    }

    void minuteSumsDoNotOverflow()
    {
        std::vector<std::vector<std::string>> steps(4, {"1", "Rot", "2147483647"});
        Rig rig(steps);
        rig.start();
        rig.tickAfter(Second);
        // Four steps of 2147483647 minutes: 8589934588 minutes in all, which
        // summed in 32 bits would wrap; every hour of it is shown.
        QCOMPARE(rig.label4, QString("Restdauer dieser Farbe: 35791394:07:00"));
        QCOMPARE(rig.label9, QString("Gesamtrestdauer: 143165576:28:00"));
    }

    // A clock put back moves the step's end along with it.
    void clockChangesMoveStepEnds()
    {
        Rig rig({{"1", "Rot", "1"}, {"3", "Blau", "1"}});
        rig.start();
        rig.tickAfter(Second);
        rig.tickAfter(-Minute); // clock set back one minute
        QCOMPARE(rig.label4, QString("Restdauer dieser Farbe: 00:02:00"));
        rig.tickAfter(Minute + Second);
        QCOMPARE(rig.player.SequenceRow, 1);
    }

    // tintrava-play ticks at the start itself: step 1 at once, not the header.
    void startNowBeginsStepOneAtOnce()
    {
        Rig rig({{"5", "Orange", "1"}, {"3", "Blau", "1"}});
        rig.start();
        rig.player.startNow();
        rig.tickAfter(0);
        QCOMPARE(rig.player.SequenceRow, 1);
        QCOMPARE(rig.sent, QStringList{"5"});
        QCOMPARE(rig.label4, QString("Restdauer dieser Farbe: 00:01:00"));
        rig.tickAfter(Second);
        QCOMPARE(rig.player.SequenceRow, 1);
    }

    void restartBeginsAtStepOne()
    {
        Rig rig({{"1", "Rot", "1"}, {"3", "Blau", "1"}});
        rig.start();
        rig.tickAfter(Second);
        rig.tickAfter(Minute + Second);
        QCOMPARE(rig.player.SequenceRow, 2);
        rig.start();
        QCOMPARE(rig.player.SequenceRow, 0);
        rig.tickAfter(Second);
        QCOMPARE(rig.player.SequenceRow, 1);
        QCOMPARE(rig.sent.last(), QString("1"));
    }
};

QTEST_GUILESS_MAIN(TestPlayer)
#include "test_player.moc"
