// The memory of large reads serves the next read, within its bounds, and goes once unused.
#include <gtest/gtest.h>

#include "plugins/file/ReadBuffers.h"

using penwick::Bytes;
using penwick::ReadBuffers;

TEST(ReadBuffers, AnAnswersMemoryServesTheNextReadWithinBoundsAndGoesOnceUnused)
{
    constexpr std::size_t MiB = 1024 * 1024;
    ReadBuffers buffers(ReadBuffers::Release::ByCaller);
    auto now = ReadBuffers::Clock::now();
    // Memory of this capacity, never touched.
    auto memoryOf = [](std::size_t size) {
        Bytes bytes;
        bytes.reserve(size);
        return bytes;
    };

    // The answer's bytes come back when its message goes; the next read of no more gets them as they are.
    Bytes read = buffers.take(64 * MiB);
    read[0] = 7;
    const auto* memory = read.data();
    auto message = buffers.arrayBufferMessage(std::move(read));
    EXPECT_EQ(buffers.keptBytes(), 0u);
    message.reset();
    EXPECT_EQ(buffers.keptBytes(), 64 * MiB);
    Bytes next = buffers.take(16 * MiB);
    EXPECT_EQ(std::tuple(next.data(), next.size(), next[0]), std::tuple(memory, 16 * MiB, 7));

    // Small and very large buffers are not kept; of the rest the newest, at most two and 128 MiB.
    buffers.give(memoryOf(MiB), now);
    buffers.give(memoryOf(200 * MiB), now);
    EXPECT_EQ(buffers.keptBytes(), 0u);
    buffers.give(std::move(next), now);
    buffers.give(memoryOf(32 * MiB), now + std::chrono::milliseconds(500));
    buffers.give(memoryOf(96 * MiB), now + std::chrono::milliseconds(500));
    EXPECT_EQ(buffers.keptBytes(), 128 * MiB);
    EXPECT_EQ(buffers.take(64 * MiB).capacity(), 96 * MiB);

    // What stays unused for the while is let go.
    EXPECT_EQ(buffers.releaseUnused(now + ReadBuffers::kKeptFor), 32 * MiB);
    EXPECT_EQ(buffers.releaseUnused(now + std::chrono::milliseconds(500) + ReadBuffers::kKeptFor), 0u);
}
