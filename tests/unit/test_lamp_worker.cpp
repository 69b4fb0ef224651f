// The lamp's thread: jobs one at a time in the order posted, a finish that
// waits for them, and the two ways of running.
#include <QtTest>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "lamp/lamp_worker.h"

using tintrava::LampWorker;

class TestLampWorker : public QObject {
    Q_OBJECT
private slots:
    void jobsInOrderOneAtATime();
    void failedJobLeavesTheRestRunning();
    void finishRunsWhatWasPosted();
    void callerThreadRunsAtOnce();
};

void TestLampWorker::jobsInOrderOneAtATime()
{
    LampWorker worker;
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onCaller{false};
    const auto caller = std::this_thread::get_id();
    for (int i = 0; i < 50; ++i) {
        worker.post([&, i] {
            if (running.fetch_add(1) != 0)
                overlapped = true;
            if (std::this_thread::get_id() == caller)
                onCaller = true;
            // Long enough for later posts to queue up behind it.
            if (i % 10 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            {
                std::lock_guard<std::mutex> lock(mutex);
                order.push_back(i);
            }
            running.fetch_sub(1);
        });
    }
    QVERIFY(worker.ownThread());
    worker.waitIdle();
    QCOMPARE(worker.pending(), 0);
    QVERIFY(!overlapped);
    QVERIFY(!onCaller);
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i)
        expected[i] = i;
    QCOMPARE(order, expected);
}

void TestLampWorker::failedJobLeavesTheRestRunning()
{
    LampWorker worker;
    std::atomic<int> done{0};
    worker.post([] { throw std::runtime_error("device gone"); });
    worker.post([&] { ++done; });
    worker.waitIdle();
    QCOMPARE(done.load(), 1);
}

void TestLampWorker::finishRunsWhatWasPosted()
{
    LampWorker worker;
    std::mutex gate;
    gate.lock(); // holds the first job until the test lets it go
    std::vector<int> order;
    std::mutex orderMutex;
    const auto note = [&](int i) {
        std::lock_guard<std::mutex> lock(orderMutex);
        order.push_back(i);
    };
    worker.post([&] {
        std::lock_guard<std::mutex> held(gate);
        note(1);
    });
    worker.post([&] { note(2); });
    QCOMPARE(worker.pending(), 2);
    std::thread letGo([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.unlock();
    });
    worker.finish();
    letGo.join();
    QCOMPARE(order, (std::vector<int>{1, 2}));
    QCOMPARE(worker.pending(), 0);

    // Afterwards a job runs at once on the caller's thread.
    QVERIFY(!worker.ownThread());
    bool ran = false;
    worker.post([&] { ran = true; });
    QVERIFY(ran);
}

void TestLampWorker::callerThreadRunsAtOnce()
{
    LampWorker worker(LampWorker::Mode::CallerThread);
    QVERIFY(!worker.ownThread());
    std::vector<int> order;
    worker.post([&] {
        order.push_back(1);
        // A job that asks for another (a stop from inside a command) gets it
        // at once, as a direct call would.
        worker.post([&] { order.push_back(2); });
        order.push_back(3);
    });
    QCOMPARE(order, (std::vector<int>{1, 2, 3}));
    QCOMPARE(worker.pending(), 0);
}

QTEST_GUILESS_MAIN(TestLampWorker)
#include "test_lamp_worker.moc"
