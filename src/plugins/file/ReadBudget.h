#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace penwick {

// The bytes that answers to reads may hold in the host at once, across all reads of one web view.
// A read that would pass the budget waits, in the order it came, until earlier answers have left
// the host; it is never failed for it. A read larger than the whole budget goes when nothing else
// holds any.
class ReadBudget : public std::enable_shared_from_this<ReadBudget> {
public:
    // What a read holds while its answer is in the host: the bytes go back when the last copy of
    // the lease is let go (the answer's bytes have been written to the page, or the read failed).
    using Lease = std::shared_ptr<const void>;
    using Start = std::function<void(Lease)>;

    static std::shared_ptr<ReadBudget> create(std::uint64_t bytes);

    // Runs `start` with a lease of `bytes`: at once when they fit, else on the thread that gives
    // enough back. `start` must only hand the read on (to background work).
    void admit(std::uint64_t bytes, Start start);
    std::uint64_t bytesHeld() const;

private:
    struct Held;
    explicit ReadBudget(std::uint64_t bytes) : m_limit(bytes) { }
    Lease leaseOf(std::uint64_t bytes);
    void giveBack(std::uint64_t bytes);
    bool fits(std::uint64_t bytes) const { return m_held == 0 || m_held + bytes <= m_limit; }

    struct Waiting {
        std::uint64_t bytes;
        Start start;
    };
    mutable std::mutex m_mutex;
    const std::uint64_t m_limit;
    std::uint64_t m_held = 0;
    std::deque<Waiting> m_waiting;
};

} // namespace penwick
