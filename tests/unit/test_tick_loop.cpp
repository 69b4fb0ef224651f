// tintrava-play's ticks: the first at once, then every second on the
// second; an overrun does not shift the ticks after it, missed ones are not
// caught up, and a cut-short wait ends the ticking.
#include <QtTest>

#include <vector>

#include "sequence/tick_loop.h"

using tintrava::TickClock;

namespace {

struct FakeTime {
    TickClock::time_point start{std::chrono::seconds(1000)};
    TickClock::time_point now = start;
    long long ms() const { return std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count(); }
};

} // namespace

class TestTickLoop : public QObject {
    Q_OBJECT
private slots:
    void ticks_data();
    void ticks();
    void interruptedWaitEnds();
};

void TestTickLoop::ticks_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<std::vector<int>>("tickCost");   // ms each tick takes, by tick
    QTest::addColumn<std::vector<long long>>("expected"); // ms of each tick from the start

    QTest::newRow("first at once") << 4 << std::vector<int>{0, 0, 0, 0} << std::vector<long long>{0, 1000, 2000, 3000};
    QTest::newRow("slow exchange keeps the beat")
        << 4 << std::vector<int>{300, 300, 300, 300} << std::vector<long long>{0, 1000, 2000, 3000};
    QTest::newRow("overrun not caught up")
        << 4 << std::vector<int>{2500, 0, 0, 0} << std::vector<long long>{0, 3000, 4000, 5000};
}

void TestTickLoop::ticks()
{
    QFETCH(int, ticks);
    QFETCH(std::vector<int>, tickCost);
    QFETCH(std::vector<long long>, expected);
    FakeTime time;
    std::vector<long long> at;
    tintrava::runTicks([&] { return time.now; },
                       [&](int ms) {
                           time.now += std::chrono::milliseconds(ms);
                           return true;
                       },
                       [&] { return int(at.size()) < ticks; },
                       [&] {
                           at.push_back(time.ms());
                           time.now += std::chrono::milliseconds(tickCost[at.size() - 1]);
                       });
    QCOMPARE(at, expected);
}

void TestTickLoop::interruptedWaitEnds()
{
    FakeTime time;
    int ticks = 0;
    int waits = 0;
    tintrava::runTicks([&] { return time.now; },
                       [&](int) {
                           ++waits;
                           return false; // a signal came
                       },
                       [] { return true; }, [&] { ++ticks; });
    QCOMPARE(ticks, 1);
    QCOMPARE(waits, 1);
}

QTEST_GUILESS_MAIN(TestTickLoop)
#include "test_tick_loop.moc"
