#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/WorkQueue.h"

namespace penwick::test {

// A really concurrent background queue: every task runs at once on a thread of its own.
class ThreadedWorkQueue : public platform::WorkQueue {
public:
    ~ThreadedWorkQueue() override { finish(); }

    void submit(std::function<void()> task) override
    {
        std::lock_guard lock(m_mutex);
        m_threads.emplace_back(std::move(task));
    }
    // Waits for every task submitted so far, and any they submit, to end.
    void finish()
    {
        for (;;) {
            std::vector<std::thread> threads;
            {
                std::lock_guard lock(m_mutex);
                threads.swap(m_threads);
            }
            if (threads.empty())
                return;
            for (auto& thread : threads)
                thread.join();
        }
    }

private:
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
};

} // namespace penwick::test
