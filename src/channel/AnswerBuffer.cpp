#include "channel/AnswerBuffer.h"

#include <cstdlib>
#include <glib.h>

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
    return std::shared_ptr<AnswerBuffer>(new AnswerBuffer(static_cast<char*>(data), size, memory));
}

AnswerBuffer::~AnswerBuffer() { m_memory.release(m_data); }

namespace {
struct Released {
    std::shared_ptr<const void> memory;
    std::shared_ptr<const void> after;
};
} // namespace

void AnswerBuffer::releaseAside(std::shared_ptr<const void> memory, std::shared_ptr<const void> after)
{
    static GThreadPool* s_pool = g_thread_pool_new(
        +[](gpointer data, gpointer) {
            std::unique_ptr<Released> released(static_cast<Released*>(data));
            released->memory.reset();
            released->after.reset();
        },
        nullptr, 1, FALSE, nullptr);
    g_thread_pool_push(s_pool, new Released { std::move(memory), std::move(after) }, nullptr);
}

} // namespace penwick::channel
