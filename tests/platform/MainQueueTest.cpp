#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/DeterministicMainQueue.h"
#include "platform/LoopMainQueue.h"

using platform::DeterministicMainQueue;
using platform::LoopMainQueue;
using platform::Timer;

// Timers of different intervals fire in due-time order as virtual time advances.
TEST(DeterministicMainQueue, FiresTimersInTimeOrder) {
    DeterministicMainQueue queue;
    std::vector<std::string> fired;
    queue.scheduleTimer(0.3, false,
                        [&](Timer&) { fired.push_back("c@" + std::to_string(queue.now())); });
    queue.scheduleTimer(0.1, false, [&](Timer&) { fired.push_back("a"); });
    queue.postAfter(0.2, [&] { fired.push_back("b"); });
    queue.advance(0.25);
    EXPECT_EQ(fired, (std::vector<std::string>{"a", "b"}));
    queue.advance(0.05);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[2].substr(0, 2), "c@");
    EXPECT_NEAR(queue.now(), 0.3, 1e-9);
}

// A repeating timer fires once per interval, 80 times over 8 s of 0.1 s ticks.
TEST(DeterministicMainQueue, RepeatingTimerCountsEveryTick) {
    DeterministicMainQueue queue;
    int ticks = 0;
    auto timer = queue.scheduleTimer(0.1, true, [&](Timer&) { ++ticks; });
    queue.advance(8.0);
    EXPECT_EQ(ticks, 80);
    EXPECT_TRUE(timer->isValid());
}

// Invalidating a timer from inside its own callback stops it for good; a one-shot timer is
// invalid after it fired.
TEST(DeterministicMainQueue, InvalidationFromInsideCallback) {
    DeterministicMainQueue queue;
    int ticks = 0;
    auto repeating = queue.scheduleTimer(0.01, true, [&](Timer& t) {
        if (++ticks == 5) t.invalidate();
    });
    auto once = queue.scheduleTimer(0.02, false, [](Timer&) {});
    queue.advance(1.0);
    EXPECT_EQ(ticks, 5);
    EXPECT_FALSE(repeating->isValid());
    EXPECT_FALSE(once->isValid());
}

// A timer invalidated by another callback before it is due never fires.
TEST(DeterministicMainQueue, InvalidatedTimerNeverFires) {
    DeterministicMainQueue queue;
    bool fired = false;
    auto victim = queue.scheduleTimer(0.5, false, [&](Timer&) { fired = true; });
    queue.postAfter(0.2, [&] { victim->invalidate(); });
    queue.advance(1.0);
    EXPECT_FALSE(fired);
}

// Tasks posted from other threads run only when the main thread drains, in post order.
TEST(DeterministicMainQueue, PostFromOtherThreadsRunsOnMainThread) {
    DeterministicMainQueue queue;
    std::vector<int> seen;
    std::atomic<bool> allOnMain{true};
    std::thread worker([&] {
        EXPECT_FALSE(queue.isMainThread());
        for (int i = 0; i < 100; ++i) {
            queue.post([&, i] {
                if (!queue.isMainThread()) allOnMain = false;
                seen.push_back(i);
            });
        }
    });
    worker.join();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(queue.drain(), 100u);
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
}

// runUntil wakes as soon as another thread posts, without sleeping out a timeout.
TEST(DeterministicMainQueue, RunUntilWaitsForPostsFromWorkers) {
    DeterministicMainQueue queue;
    bool done = false;
    std::thread worker([&] { queue.post([&] { done = true; }); });
    EXPECT_TRUE(queue.runUntil([&] { return done; }, std::chrono::seconds(5)));
    worker.join();
}

// A delayed post from another thread counts its delay from when the main thread sees it.
TEST(DeterministicMainQueue, PostAfterFromWorkerHopsToMainThread) {
    DeterministicMainQueue queue;
    bool fired = false;
    std::thread worker([&] { queue.postAfter(0.5, [&] { fired = true; }); });
    worker.join();
    queue.drain();
    queue.advance(0.4);
    EXPECT_FALSE(fired);
    queue.advance(0.1);
    EXPECT_TRUE(fired);
}

// The command-line loop runs posts and timers on the thread that runs it, then quits.
TEST(LoopMainQueue, RunsPostsAndTimersUntilQuit) {
    auto queue = std::make_shared<LoopMainQueue>();
    std::atomic<int> ticks{0};
    std::atomic<bool> postRanOnMain{false};
    std::thread loop([&] { queue->run(); });
    queue->post([&] {
        postRanOnMain = queue->isMainThread();
        queue->scheduleTimer(0.001, true, [&](Timer& t) {
            if (++ticks == 3) {
                t.invalidate();
                queue->quit();
            }
        });
    });
    loop.join();
    EXPECT_TRUE(postRanOnMain);
    EXPECT_EQ(ticks, 3);
}
