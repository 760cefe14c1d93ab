#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace penwick::channel {

// The bytes of one large answer, put together in memory taken once for the whole answer and never
// zeroed first. Memory the page's engine can take as its own lets the answer's byte buffers reach
// the page without a copy; any other memory is copied from once more by whoever delivers it.
class AnswerBuffer {
public:
    // Where answers' memory comes from. `allocate` answers null when it has none to give.
    struct Memory {
        void* (*allocate)(std::size_t size) = nullptr;
        void (*release)(void* data) = nullptr;
        enum class Owner { Ours, EngineMayAdopt } owner = Owner::Ours;
    };
    // The process's own heap; its memory is never adopted.
    static const Memory& heap();

    // Null when the memory cannot be had.
    static std::shared_ptr<AnswerBuffer> create(std::size_t size, const Memory& memory);
    ~AnswerBuffer();
    AnswerBuffer(const AnswerBuffer&) = delete;
    AnswerBuffer& operator=(const AnswerBuffer&) = delete;

    char* data() { return m_data; }
    std::size_t size() const { return m_size; }
    std::string_view view() const { return { m_data, m_size }; }
    bool engineMayAdopt() const { return m_memory.owner == Memory::Owner::EngineMayAdopt; }

    // Memory at least this large is given back to the system off the main loop: unmapping hundreds
    // of MiB takes the kernel long enough (150-230 ms for 200 MiB on a loaded machine) to stall
    // every window and every page call.
    static constexpr std::size_t kReleasedAsideBytes = 8 * 1024 * 1024;
    // Lets `memory` go, then `after`, on a thread of their own.
    static void releaseAside(std::shared_ptr<const void> memory, std::shared_ptr<const void> after = nullptr);

private:
    AnswerBuffer(char* data, std::size_t size, const Memory& memory)
        : m_data(data)
        , m_size(size)
        , m_memory(memory)
    {
    }

    char* m_data;
    std::size_t m_size;
    Memory m_memory;
};

} // namespace penwick::channel
