#pragma once

#include <functional>
#include <vector>

#include "platform/WorkQueue.h"

namespace penwick::test {

// A background queue that only holds what is submitted: the unit tests over it run no
// background work. For real threads use ThreadedWorkQueue.
class RecordingWorkQueue : public platform::WorkQueue {
public:
    void submit(std::function<void()> task) override { m_tasks.push_back(std::move(task)); }

private:
    std::vector<std::function<void()>> m_tasks;
};

} // namespace penwick::test
