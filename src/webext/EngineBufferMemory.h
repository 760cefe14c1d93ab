#pragma once

#include "channel/AnswerBuffer.h"

namespace penwick::webext {

// Memory for large answers that the page's engine can take as an ArrayBuffer's own storage. The
// web process forbids the engine to give up the cage its buffers live in, and any buffer over
// memory from outside that cage makes the engine try (the process aborts). Memory taken from the
// engine's own buffer allocator lies inside it; where this engine build does not offer that
// allocator, answers are put together on our heap and copied once into the page.
class EngineBufferMemory {
public:
    static const channel::AnswerBuffer::Memory& memory();
};

} // namespace penwick::webext
