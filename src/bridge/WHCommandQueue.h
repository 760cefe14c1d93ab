#pragma once

namespace penwick {
class WHViewController;

// (Skeleton; the bridge core brings batches, execute() and the running flag.)
class WHCommandQueue {
public:
    explicit WHCommandQueue(WHViewController& viewController) : m_viewController(viewController) { }
    bool currentlyExecuting() const { return false; }

private:
    WHViewController& m_viewController;
};

} // namespace penwick
