#pragma once

#include <glib.h>

#include "platform/GRef.h"
#include "platform/WorkQueue.h"

namespace penwick::platform {

// The host's background queue: a GLib thread pool, one worker per core.
class GtkWorkQueue final : public WorkQueue {
public:
    GtkWorkQueue();
    ~GtkWorkQueue() override;
    void submit(std::function<void()> task) override;

private:
    GUnique<GThreadPool> m_pool;
};

} // namespace penwick::platform
