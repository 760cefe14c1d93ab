#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/WorkQueue.h"

namespace penwick::test {

// A real concurrent background queue: a fixed set of worker threads taking tasks in order.
// Tasks may run in parallel with each other. Destruction finishes the queued tasks first.
class ThreadPoolWorkQueue : public platform::WorkQueue {
public:
    explicit ThreadPoolWorkQueue(unsigned threads = 4);
    ~ThreadPoolWorkQueue() override;
    ThreadPoolWorkQueue(const ThreadPoolWorkQueue&) = delete;
    ThreadPoolWorkQueue& operator=(const ThreadPoolWorkQueue&) = delete;

    void submit(std::function<void()> task) override;
    // Blocks until every submitted task has finished.
    void waitUntilIdle();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_tasks;
    size_t m_running = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace penwick::test
