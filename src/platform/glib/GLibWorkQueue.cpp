#include "platform/glib/GLibWorkQueue.h"

#include <memory>

#include "base/Log.h"

namespace penwick::platform {
namespace {
void runTask(gpointer data, gpointer)
{
    std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(data));
    (*task)();
}
} // namespace

GLibWorkQueue::GLibWorkQueue()
{
    int threads = std::max(2, static_cast<int>(g_get_num_processors()));
    m_pool.reset(g_thread_pool_new(runTask, nullptr, threads, FALSE, nullptr));
}

GLibWorkQueue::~GLibWorkQueue() = default;

void GLibWorkQueue::submit(std::function<void()> task)
{
    auto* heapTask = new std::function<void()>(std::move(task));
    GUnique<GError> error;
    if (!g_thread_pool_push(m_pool.get(), heapTask, &error.outPtr())) {
        log::warning(std::string("background task not started: ") + (error ? error->message : ""));
        delete heapTask;
    }
}

} // namespace penwick::platform
