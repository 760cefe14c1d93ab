#include "platform/glib/GLibScheduler.h"

#include <glib.h>

namespace penwick::platform {

GLibScheduler::GLibScheduler()
    : m_mainThread(std::this_thread::get_id())
{
    // The main context is made here, on the main thread, before any background thread posts: made
    // lazily by the first post instead, it could be made by two threads at once.
    (void)g_main_context_default();
}

GLibScheduler::~GLibScheduler()
{
    std::lock_guard lock(m_mutex);
    if (m_sourceId)
        g_source_remove(m_sourceId);
}

void GLibScheduler::post(std::function<void()> task)
{
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
    if (!m_sourceId) {
        GSource* source = g_idle_source_new();
        g_source_set_priority(source, G_PRIORITY_DEFAULT);
        g_source_set_callback(source, &GLibScheduler::dispatch, this, nullptr);
        m_sourceId = g_source_attach(source, g_main_context_default());
        g_source_unref(source);
    }
}

void GLibScheduler::runInOrder(std::function<void()> task)
{
    if (isMainThread() && m_batchesRunning == 0) {
        bool waiting;
        {
            std::lock_guard lock(m_mutex);
            waiting = !m_tasks.empty();
        }
        if (!waiting) {
            task();
            return;
        }
    }
    post(std::move(task));
}

int GLibScheduler::dispatch(void* data)
{
    auto* self = static_cast<GLibScheduler*>(data);
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(self->m_mutex);
        batch.swap(self->m_tasks);
        self->m_sourceId = 0;
    }
    // Tasks posted while this batch runs go to a later turn.
    ++self->m_batchesRunning;
    struct Done {
        GLibScheduler* self;
        ~Done() { --self->m_batchesRunning; }
    } done { self };
    for (auto& task : batch)
        task();
    return G_SOURCE_REMOVE;
}

} // namespace penwick::platform
