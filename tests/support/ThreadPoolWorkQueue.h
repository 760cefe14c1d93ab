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
// Tasks may run in parallel with each other.
class ThreadPoolWorkQueue : public platform::WorkQueue {
public:
    explicit ThreadPoolWorkQueue(unsigned threads);
    ~ThreadPoolWorkQueue() override { finish(); }
    ThreadPoolWorkQueue(const ThreadPoolWorkQueue&) = delete;
    ThreadPoolWorkQueue& operator=(const ThreadPoolWorkQueue&) = delete;

    void submit(std::function<void()> task) override;
    // Runs every queued task to its end and stops the workers.
    void finish();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace penwick::test
