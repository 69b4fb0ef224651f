#include <QtTest>

#include <vector>

#include "sequence/tick_grid.h"

using namespace tintrava;
using namespace std::chrono;

namespace {

// A beat against a fake clock: sleeping moves the clock, a tick may take
// time of its own; records when each tick came (ms after the start).
struct Rig {
    steady_clock::time_point start{seconds(1000)};
    steady_clock::time_point clock = start;
    std::vector<int> tickCosts; // ms each tick takes, by tick number
    int ticksWanted = 4;
    int interruptAtSleep = -1;  // the sleep that is interrupted, or none
    std::vector<long long> ticks;
    std::vector<int> sleeps;

    std::vector<long long> run()
    {
        TickGrid beat;
        beat.now = [this] { return clock; };
        beat.sleep = [this](int ms) {
            if (int(sleeps.size()) == interruptAtSleep)
                return false;
            sleeps.push_back(ms);
            clock += milliseconds(ms);
            return true;
        };
        beat.keepGoing = [this] { return int(ticks.size()) < ticksWanted; };
        beat.tick = [this] {
            ticks.push_back(duration_cast<milliseconds>(clock - start).count());
            const size_t n = ticks.size() - 1;
            if (n < tickCosts.size())
                clock += milliseconds(tickCosts[n]);
        };
        beat.run();
        return ticks;
    }
};

} // namespace

class TestTickGrid : public QObject {
    Q_OBJECT
private slots:
    void ticks_data()
    {
        QTest::addColumn<std::vector<int>>("costs");
        QTest::addColumn<std::vector<long long>>("expected");
        QTest::newRow("first at once, then every second") << std::vector<int>{} << std::vector<long long>{0, 1000, 2000, 3000};
        QTest::newRow("a slow tick does not shift the rest")
            << std::vector<int>{0, 300, 0} << std::vector<long long>{0, 1000, 2000, 3000};
        QTest::newRow("a missed tick is not caught up")
            << std::vector<int>{0, 2500, 0} << std::vector<long long>{0, 1000, 4000, 5000};
        QTest::newRow("a first tick that takes longer than a beat")
            << std::vector<int>{1200} << std::vector<long long>{0, 2000, 3000, 4000};
    }
    void ticks()
    {
        QFETCH(std::vector<int>, costs);
        QFETCH(std::vector<long long>, expected);
        Rig rig;
        rig.tickCosts = costs;
        QCOMPARE(rig.run(), expected);
    }

    void noSleepAfterTheLastTick()
    {
        Rig rig;
        rig.ticksWanted = 1;
        QCOMPARE(rig.run(), std::vector<long long>{0});
        QVERIFY(rig.sleeps.empty());
    }

    void anInterruptedSleepEndsTheBeat()
    {
        Rig rig;
        rig.interruptAtSleep = 1;
        QCOMPARE(rig.run(), (std::vector<long long>{0, 1000}));
    }

    void nothingWhenToldToStopBeforeTheFirstTick()
    {
        Rig rig;
        rig.ticksWanted = 0;
        QVERIFY(rig.run().empty());
    }
};

QTEST_APPLESS_MAIN(TestTickGrid)
#include "test_tick_grid.moc"
