#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace penwick {

// Tasks that run one at a time, in the order they were pushed, on the host's work queue: one
// background task drains them while any wait. It holds the queue, never its owner, so it may
// outlive both.
class SerialQueue final : public std::enable_shared_from_this<SerialQueue> {
public:
    using RunInBackground = std::function<void(std::function<void()>)>;

    static std::shared_ptr<SerialQueue> create() { return std::shared_ptr<SerialQueue>(new SerialQueue()); }
    // Queues the task; starts a drain through `runInBackground` when none runs. Any thread.
    void push(std::function<void()> task, const RunInBackground& runInBackground);

private:
    SerialQueue() = default;
    void drain();

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_running = false;
};

} // namespace penwick
