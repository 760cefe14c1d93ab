#pragma once

#include <deque>
#include <glib.h>
#include <mutex>

#include "base/GRef.h"
#include "platform/WorkQueue.h"

namespace penwick::platform {

// The host's background queue: a GLib thread pool, one worker per core. Tasks wait in a queue of
// our own; the pool only carries one token per task, so every hand-over goes through a standard
// mutex that ThreadSanitizer sees. Destruction runs what was submitted before it returns.
class GLibWorkQueue final : public WorkQueue {
public:
    GLibWorkQueue();
    ~GLibWorkQueue() override;
    void submit(std::function<void()> task) override;

private:
    static void runOne(gpointer token, gpointer self);

    // One for all queues: a static mutex needs no construction that a worker (GLib reuses idle
    // workers between pools, out of ThreadSanitizer's sight) could race with.
    static inline std::mutex s_mutex;
    std::deque<std::function<void()>> m_tasks;
    // Last, so that it is freed (and its workers finished) before the tasks and the mutex.
    GUnique<GThreadPool> m_pool;
};

} // namespace penwick::platform
