#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Scheduler.h"

namespace penwick::platform {

// Runs posted tasks on the default main context, first in first out, each batch on a later turn
// of the loop than the one that posted it.
class GLibScheduler final : public Scheduler {
public:
    GLibScheduler();
    ~GLibScheduler() override;
    void post(std::function<void()> task) override;
    void runInOrder(std::function<void()> task) override;
    bool isMainThread() const override { return std::this_thread::get_id() == m_mainThread; }

private:
    static int dispatch(void* self);

    std::thread::id m_mainThread;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    unsigned m_sourceId = 0;
    // Batches running (main thread only; more than one when a task runs a nested main loop): the
    // rest of each waits, so later tasks wait too.
    int m_batchesRunning = 0;
};

} // namespace penwick::platform
