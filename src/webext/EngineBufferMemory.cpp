#include "webext/EngineBufferMemory.h"

#include <dlfcn.h>

#include "base/Log.h"

namespace penwick::webext {
namespace {

// The engine's allocator for the buffers of its primitive (byte) arrays: the first kind of its cage.
constexpr int kPrimitiveCage = 0;
using CageMalloc = void* (*)(int kind, std::size_t size);
using CageFree = void (*)(int kind, void* data);
CageMalloc s_cageMalloc = nullptr;
CageFree s_cageFree = nullptr;

} // namespace

const channel::AnswerBuffer::Memory& EngineBufferMemory::memory()
{
    static const channel::AnswerBuffer::Memory memory = [] {
        // Gigacage::tryMalloc(Kind, size_t) and Gigacage::free(Kind, void*) of the engine's library.
        s_cageMalloc = reinterpret_cast<CageMalloc>(dlsym(RTLD_DEFAULT, "_ZN8Gigacage9tryMallocENS_4KindEm"));
        s_cageFree = reinterpret_cast<CageFree>(dlsym(RTLD_DEFAULT, "_ZN8Gigacage4freeENS_4KindEPv"));
        if (!s_cageMalloc || !s_cageFree) {
            log::message("penwick web process: the engine offers no buffer memory; large answers are copied into the page");
            return channel::AnswerBuffer::heap();
        }
        return channel::AnswerBuffer::Memory { [](std::size_t size) { return s_cageMalloc(kPrimitiveCage, size); },
            [](void* data) { s_cageFree(kPrimitiveCage, data); }, channel::AnswerBuffer::Memory::Owner::EngineMayAdopt };
    }();
    return memory;
}

} // namespace penwick::webext
