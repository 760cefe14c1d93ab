#include "platform/glib/GLibWorkQueue.h"

#include "base/Log.h"

#include <exception>
#include <string>

namespace penwick::platform {

GLibWorkQueue::GLibWorkQueue()
{
    int threads = std::max(2, static_cast<int>(g_get_num_processors()));
    m_pool.reset(g_thread_pool_new(&GLibWorkQueue::runOne, this, threads, FALSE, nullptr));
}

GLibWorkQueue::~GLibWorkQueue()
{
    // Waits for the workers; taking the mutex after them orders everything they did before what
    // follows the destruction.
    m_pool.reset();
    std::lock_guard lock(s_mutex);
}

void GLibWorkQueue::runOne(gpointer, gpointer data)
{
    auto* self = static_cast<GLibWorkQueue*>(data);
    std::function<void()> task;
    {
        std::lock_guard lock(s_mutex);
        task = std::move(self->m_tasks.front());
        self->m_tasks.pop_front();
    }
    // The last guard: a task that lets an exception out is logged and dropped, never the process.
    try {
        task();
    } catch (const std::exception& e) {
        log::warning(std::string("background task failed: ") + e.what());
    } catch (...) {
        log::warning("background task failed");
    }
    task = nullptr;
    // Publishes the task's effects to the destructor, which takes the mutex after the last worker.
    std::lock_guard lock(s_mutex);
}

void GLibWorkQueue::submit(std::function<void()> task)
{
    {
        std::lock_guard lock(s_mutex);
        m_tasks.push_back(std::move(task));
    }
    // Even when no new worker could be started, the token stays queued and a running worker
    // takes it later, so the task is neither dropped nor freed here.
    GUnique<GError> error;
    if (!g_thread_pool_push(m_pool.get(), GINT_TO_POINTER(1), &error.outPtr()))
        log::warning(std::string("background task delayed: ") + (error ? error->message : ""));
}

} // namespace penwick::platform
