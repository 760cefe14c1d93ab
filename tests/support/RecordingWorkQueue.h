#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "platform/WorkQueue.h"

namespace penwick::test {

// A background queue the test drains by hand: submit() queues, runAll() runs the tasks in order
// on the calling thread. For real parallelism use ThreadPoolWorkQueue.
class RecordingWorkQueue : public platform::WorkQueue {
public:
    void submit(std::function<void()> task) override;
    size_t runAll();

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace penwick::test
