#include "channel/AnswerBuffer.h"

#include <cstdlib>

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

} // namespace penwick::channel
