#pragma once

#include <functional>

#include "platform/WorkQueue.h"

namespace penwick::test {

// A background queue that drops what is submitted: the unit tests over it run no background
// work. For real threads use ThreadedWorkQueue.
class DroppingWorkQueue : public platform::WorkQueue {
public:
    void submit(std::function<void()>) override { }
};

} // namespace penwick::test
