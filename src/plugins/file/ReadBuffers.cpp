#include "plugins/file/ReadBuffers.h"

#include <algorithm>
#include <cstdint>
#include <glib.h>

#include "base/HugePages.h"
#include "channel/AnswerBuffer.h"

namespace penwick {
namespace {

// Memory for a large read is asked for in huge pages (base/HugePages.h).
void reserveLarge(Bytes& bytes, std::size_t count)
{
    bytes.reserve(count);
    adviseHugePages(bytes.data(), count);
}

// Unmapping tens of MiB takes the kernel long enough to stall the main loop.
void letGo(Bytes&& bytes)
{
    if (bytes.capacity() >= channel::AnswerBuffer::kReleasedAsideBytes)
        channel::AnswerBuffer::releaseAside(std::make_shared<Bytes>(std::move(bytes)));
}

} // namespace

ReadBuffers& ReadBuffers::shared()
{
    // Never destroyed: answers may give their memory back from other threads until the very end.
    static auto* buffers = new ReadBuffers(Release::OnMainLoop);
    return *buffers;
}

Bytes ReadBuffers::take(std::size_t count)
{
    Bytes bytes;
    // A small read would hold a large buffer for as long as its answer lives, and leave the next
    // large read without one.
    if (count >= kMinKeptBytes) {
        std::lock_guard lock(m_mutex);
        // The smallest that is large enough.
        auto best = m_kept.end();
        for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
            if (it->bytes.capacity() >= count && (best == m_kept.end() || it->bytes.capacity() < best->bytes.capacity()))
                best = it;
        }
        if (best != m_kept.end()) {
            bytes = std::move(best->bytes);
            m_kept.erase(best);
        }
    }
    if (bytes.capacity() < count)
        reserveLarge(bytes, count);
    // Only what the last read did not fill is zeroed.
    bytes.resize(count);
    return bytes;
}

void ReadBuffers::give(Bytes&& bytes, Clock::time_point now)
{
    const std::size_t size = bytes.capacity();
    if (size < kMinKeptBytes || size > kMaxKeptBytes) {
        letGo(std::move(bytes));
        return;
    }
    std::vector<Kept> evicted;
    bool scheduleRelease = false;
    {
        std::lock_guard lock(m_mutex);
        // The oldest make room for the newest.
        std::size_t kept = 0;
        for (const auto& k : m_kept)
            kept += k.bytes.capacity();
        while (!m_kept.empty() && (m_kept.size() >= kMaxKept || kept + size > kMaxKeptBytes)) {
            kept -= m_kept.front().bytes.capacity();
            evicted.push_back(std::move(m_kept.front()));
            m_kept.erase(m_kept.begin());
        }
        m_kept.push_back({ std::move(bytes), now });
        scheduleRelease = m_release == Release::OnMainLoop && !std::exchange(m_releaseDue, true);
    }
    for (auto& k : evicted)
        letGo(std::move(k.bytes));
    if (scheduleRelease)
        releaseWhenUnused();
}

std::shared_ptr<const Value> ReadBuffers::arrayBufferMessage(Bytes&& bytes)
{
    return std::shared_ptr<const Value>(new Value(Value::binary(std::move(bytes))), [this](Value* message) {
        if (message->is_binary())
            give(std::move(static_cast<Bytes&>(message->get_binary())));
        delete message;
    });
}

std::size_t ReadBuffers::releaseUnused(Clock::time_point now)
{
    std::vector<Kept> unused;
    std::size_t kept = 0;
    {
        std::lock_guard lock(m_mutex);
        auto stale = std::stable_partition(m_kept.begin(), m_kept.end(), [now](const Kept& k) { return now - k.since < kKeptFor; });
        std::move(stale, m_kept.end(), std::back_inserter(unused));
        m_kept.erase(stale, m_kept.end());
        for (const auto& k : m_kept)
            kept += k.bytes.capacity();
        if (!kept)
            m_releaseDue = false;
    }
    for (auto& k : unused)
        letGo(std::move(k.bytes));
    return kept;
}

std::size_t ReadBuffers::keptBytes() const
{
    std::lock_guard lock(m_mutex);
    std::size_t kept = 0;
    for (const auto& k : m_kept)
        kept += k.bytes.capacity();
    return kept;
}

void ReadBuffers::releaseWhenUnused()
{
    // On the main loop, which runs as long as the host does; the memory itself goes on a thread.
    g_timeout_add(static_cast<guint>(kKeptFor.count()), +[](gpointer data) -> gboolean {
        auto* self = static_cast<ReadBuffers*>(data);
        return self->releaseUnused(Clock::now()) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    }, this);
}

} // namespace penwick
