#pragma once

#include <functional>
#include <thread>
#include <vector>

#include "platform/WorkQueue.h"

namespace penwick::test {

// A really concurrent background queue: every task runs at once on a thread of its own. Tasks
// are submitted from the test's thread only.
class ThreadedWorkQueue : public platform::WorkQueue {
public:
    ~ThreadedWorkQueue() override { finish(); }

    void submit(std::function<void()> task) override { m_threads.emplace_back(std::move(task)); }
    // Waits for every task submitted so far to end.
    void finish()
    {
        for (auto& thread : m_threads) {
            if (thread.joinable())
                thread.join();
        }
    }

private:
    std::vector<std::thread> m_threads;
};

} // namespace penwick::test
