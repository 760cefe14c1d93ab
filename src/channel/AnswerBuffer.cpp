#include "channel/AnswerBuffer.h"

#include <cstdlib>
#include <deque>
#include <mutex>
#include <glib.h>

#include "base/HugePages.h"

namespace penwick::channel {

const AnswerBuffer::Memory& AnswerBuffer::heap()
{
    static const Memory memory { [](std::size_t size) { return std::malloc(size); }, [](void* data) { std::free(data); },
        Memory::Owner::Ours };
    return memory;
}

std::shared_ptr<AnswerBuffer> AnswerBuffer::create(std::size_t size, const Memory& memory)
{
    // At least one byte: an allocator may answer null for none.
    void* data = memory.allocate(size ? size : 1);
    if (!data)
        return nullptr;
    // Written whole as the answer comes: new memory of a large one is filled a huge page at a time.
    adviseHugePages(data, size);
    return std::shared_ptr<AnswerBuffer>(new AnswerBuffer(static_cast<char*>(data), size, memory));
}

AnswerBuffer::~AnswerBuffer() { m_memory.release(m_data); }

namespace {
struct Released {
    std::shared_ptr<const void> memory;
    std::shared_ptr<const void> after;
};
// Handed over under a mutex of ours rather than through the pool's own queue, whose locking the
// thread checker cannot see. Never destroyed: the thread may still be letting go at exit.
struct Aside {
    std::mutex mutex;
    std::deque<Released> released;
    GThreadPool* pool = g_thread_pool_new(
        +[](gpointer, gpointer data) {
            auto* aside = static_cast<Aside*>(data);
            Released released;
            {
                std::lock_guard lock(aside->mutex);
                released = std::move(aside->released.front());
                aside->released.pop_front();
            }
            released.memory.reset();
            released.after.reset();
        },
        this, 1, FALSE, nullptr);
};
} // namespace

void AnswerBuffer::releaseAside(std::shared_ptr<const void> memory, std::shared_ptr<const void> after)
{
    static auto* s_aside = new Aside;
    {
        std::lock_guard lock(s_aside->mutex);
        s_aside->released.push_back({ std::move(memory), std::move(after) });
    }
    g_thread_pool_push(s_aside->pool, GINT_TO_POINTER(1), nullptr);
}

} // namespace penwick::channel
