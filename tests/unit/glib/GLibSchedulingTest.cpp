// The real main-loop scheduler and background queue, driven by the default GLib main context.
#include <gtest/gtest.h>

#include <atomic>
#include <glib.h>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/glib/GLibScheduler.h"
#include "platform/glib/GLibWorkQueue.h"

namespace penwick::platform {
namespace {

// Turns the default main context until `done` holds; two minutes is a guard against a hang, not a
// measure of speed (sanitizer builds on a busy machine are slow).
bool runUntil(auto done)
{
    std::atomic<bool> expired { false };
    unsigned timer = g_timeout_add(120000, +[](gpointer flag) -> gboolean {
        static_cast<std::atomic<bool>*>(flag)->store(true);
        return G_SOURCE_REMOVE;
    }, &expired);
    while (!done() && !expired)
        g_main_context_iteration(nullptr, TRUE);
    if (!expired)
        g_source_remove(timer);
    return done();
}

// Posts are numbered under one lock, so their order is total across threads; the main loop must
// run them in exactly that order, each once, on the main thread. runInOrder() runs at once only
// when nothing posted before it still waits (also not the rest of a running batch, even from a loop
// nested in one of its tasks); otherwise it keeps its place. A post runs on a later turn, never
// starves timers, and dies with its scheduler.
TEST(GLibScheduler, PostsAndRunInOrderKeepTheirOrderOnTheMainThreadNeverStarveTimersAndDieWithTheScheduler)
{
    GLibScheduler scheduler;
    constexpr int kThreads = 8, kPerThread = 500;
    std::mutex ticketLock;
    int nextTicket = 0, ran = 0, outOfOrder = 0; // the last two: main thread only
    std::atomic<int> offMain { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) {
                std::lock_guard lock(ticketLock);
                scheduler.post([&, ticket = nextTicket++] {
                    offMain += !scheduler.isMainThread();
                    outOfOrder += ticket != ran++;
                });
            }
        });
    }
    EXPECT_TRUE(runUntil([&] { return ran >= kThreads * kPerThread; }));
    for (auto& th : threads)
        th.join();
    while (g_main_context_iteration(nullptr, FALSE)) { }
    EXPECT_EQ(std::tuple(ran, outOfOrder, offMain.load()), std::tuple(kThreads * kPerThread, 0, 0));

    std::vector<int> order;
    scheduler.runInOrder([&] { order.push_back(1); });
    scheduler.post([&] {
        order.push_back(2);
        scheduler.post([&] { order.push_back(6); });
        while (g_main_context_iteration(nullptr, FALSE)) { }
        scheduler.runInOrder([&] { order.push_back(4); });
    });
    scheduler.post([&] { order.push_back(3); });
    scheduler.runInOrder([&] { order.push_back(5); });
    EXPECT_EQ(order, std::vector<int> { 1 });
    EXPECT_TRUE(runUntil([&] { return order.size() == 6; }));
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 6, 3, 5, 4 }));

    bool posted = false;
    {
        GLibScheduler gone;
        gone.post([&] { posted = true; });
        EXPECT_FALSE(posted) << "post must not run the task inside the call";
    }
    // The idle source must be gone with its scheduler, not dispatched into freed memory.
    while (g_main_context_iteration(nullptr, FALSE)) { }
    EXPECT_FALSE(posted);

    // A task that keeps posting itself must leave room for a timer of the same priority.
    bool timerFired = false;
    int turns = 0;
    std::function<void()> again = [&] { ++turns; if (!timerFired) scheduler.post(again); };
    scheduler.post(again);
    g_timeout_add(20, +[](gpointer flag) -> gboolean { *static_cast<bool*>(flag) = true; return G_SOURCE_REMOVE; },
        &timerFired);
    EXPECT_TRUE(runUntil([&] { return timerFired; }));
    EXPECT_GT(turns, 1);
    while (g_main_context_iteration(nullptr, FALSE)) { }
}

// Background work runs off the main thread, tasks in parallel, and hands results back through the
// main loop, while it turns and after the queue has gone; no hand-back is lost or doubled.
TEST(GLibWorkQueue, WorkRunsInParallelOffTheMainThreadAndEveryHandBackArrivesOnce)
{
    GLibScheduler scheduler;
    std::atomic<int> onMain { 0 }, finished { 0 };
    int delivered = 0; // main thread only
    constexpr int kHalf = 100;
    {
        GLibWorkQueue queue;
        auto submitHalf = [&] {
            for (int i = 0; i < kHalf; ++i) {
                queue.submit([&] {
                    onMain += scheduler.isMainThread();
                    scheduler.post([&] { ++delivered; });
                    ++finished;
                });
            }
        };
        submitHalf();
        EXPECT_TRUE(runUntil([&] { return delivered == kHalf; }));
        submitHalf();
    } // the queue finishes what was submitted before it goes
    EXPECT_EQ(finished.load(), 2 * kHalf);
    EXPECT_TRUE(runUntil([&] { return delivered == 2 * kHalf; }));
    while (g_main_context_iteration(nullptr, FALSE)) { }
    EXPECT_EQ(std::pair(delivered, onMain.load()), std::pair(2 * kHalf, 0));

    // Two tasks that each wait for the other finish only when they run at the same time.
    std::atomic<int> arrived { 0 }, done { 0 };
    {
        GLibWorkQueue queue;
        for (int i = 0; i < 2; ++i) {
            queue.submit([&] {
                ++arrived;
                for (int spin = 0; arrived < 2 && spin < 5000; ++spin)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                done += arrived == 2;
            });
        }
    } // the queue finishes its tasks before it goes
    EXPECT_EQ(done.load(), 2);
}

} // namespace
} // namespace penwick::platform
