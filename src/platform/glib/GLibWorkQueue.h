#pragma once

#include <glib.h>

#include "base/GRef.h"
#include "platform/WorkQueue.h"

namespace penwick::platform {

// The host's background queue: a GLib thread pool, one worker per core.
class GLibWorkQueue final : public WorkQueue {
public:
    GLibWorkQueue();
    ~GLibWorkQueue() override;
    void submit(std::function<void()> task) override;

private:
    GUnique<GThreadPool> m_pool;
};

} // namespace penwick::platform
