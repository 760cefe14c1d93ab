#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Value.h"

namespace penwick {

// The memory of large reads, kept for the next read for a moment after their answers have left.
// Without it every slice of a file read piece by piece is memory the kernel maps, faults in and
// zeroes afresh (the allocator maps buffers this large on their own, and unmaps them when they are
// freed), and the buffer is zeroed once more before the read fills it. Kept: at most two buffers
// and kMaxKeptBytes in all, each given back to the system once unused for kKeptFor.
class ReadBuffers {
public:
    static constexpr std::size_t kMinKeptBytes = 8 * 1024 * 1024;
    static constexpr std::size_t kMaxKeptBytes = 128 * 1024 * 1024;
    static constexpr std::size_t kMaxKept = 2;
    static constexpr std::chrono::milliseconds kKeptFor { 1000 };
    using Clock = std::chrono::steady_clock;

    // Whether what is kept is let go by a timer on the main loop or only by releaseUnused().
    enum class Release { OnMainLoop, ByCaller };
    explicit ReadBuffers(Release release) : m_release(release) { }
    ReadBuffers(const ReadBuffers&) = delete;
    ReadBuffers& operator=(const ReadBuffers&) = delete;

    // The one the host's reads share.
    static ReadBuffers& shared();

    // `count` bytes to read into: a kept buffer when one is large enough (its bytes as the last
    // read left them), else new memory.
    Bytes take(std::size_t count);
    // Keeps the memory of `bytes` for a later take when it is large enough and there is room.
    void give(Bytes&& bytes, Clock::time_point now = Clock::now());
    // An ArrayBuffer message holding `bytes`, whose memory comes back here once it is let go.
    std::shared_ptr<const Value> arrayBufferMessage(Bytes&& bytes);
    // Lets go of what has been unused since before `now - kKeptFor`; how much is still kept.
    std::size_t releaseUnused(Clock::time_point now);

    std::size_t keptBytes() const;

private:
    struct Kept {
        Bytes bytes;
        Clock::time_point since;
    };
    void releaseWhenUnused();

    const Release m_release;
    mutable std::mutex m_mutex;
    std::vector<Kept> m_kept;
    bool m_releaseDue = false;
};

} // namespace penwick
