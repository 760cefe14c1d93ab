#include "plugins/file/ReadBudget.h"

#include <utility>
#include <vector>

namespace penwick {

// A lease may outlive the budget (an answer still queued when the view goes).
struct ReadBudget::Held {
    std::weak_ptr<ReadBudget> budget;
    std::uint64_t bytes;
    ~Held()
    {
        if (auto owner = budget.lock())
            owner->giveBack(bytes);
    }
};

std::shared_ptr<ReadBudget> ReadBudget::create(std::uint64_t bytes) { return std::shared_ptr<ReadBudget>(new ReadBudget(bytes)); }

ReadBudget::Lease ReadBudget::leaseOf(std::uint64_t bytes) { return std::shared_ptr<Held>(new Held { weak_from_this(), bytes }); }

void ReadBudget::admit(std::uint64_t bytes, Start start)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_waiting.empty() || !fits(bytes)) {
            m_waiting.push_back({ bytes, std::move(start) });
            return;
        }
        m_held += bytes;
    }
    start(leaseOf(bytes));
}

void ReadBudget::giveBack(std::uint64_t bytes)
{
    std::vector<Waiting> due;
    {
        std::lock_guard lock(m_mutex);
        m_held -= bytes;
        while (!m_waiting.empty() && fits(m_waiting.front().bytes)) {
            m_held += m_waiting.front().bytes;
            due.push_back(std::move(m_waiting.front()));
            m_waiting.pop_front();
        }
    }
    for (auto& waiting : due)
        waiting.start(leaseOf(waiting.bytes));
}

std::uint64_t ReadBudget::bytesHeld() const
{
    std::lock_guard lock(m_mutex);
    return m_held;
}

} // namespace penwick
