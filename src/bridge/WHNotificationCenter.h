#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Value.h"

namespace penwick {

// A posted notification: its name, the object that posted it (compared by address only, may be
// null) and optional details.
struct WHNotification {
    std::string name;
    const void* sender = nullptr;
    Value userInfo;
};

// The process-wide notification centre of the host. Main thread only: observers are added,
// removed and called there. An observer added for a sender hears only posts from that sender;
// one added with no sender hears every post of the name.
class WHNotificationCenter {
public:
    using ObserverId = std::uint64_t;
    using Callback = std::function<void(const WHNotification&)>;

    static WHNotificationCenter& defaultCenter();

    [[nodiscard]] ObserverId addObserver(std::string name, const void* sender, Callback callback);
    // Stops the observation; safe while a post is being delivered (the observer is not called
    // again, not even by that post).
    void removeObserver(ObserverId id);
    void post(const WHNotification& notification);
    size_t observerCount() const { return m_observers.size(); }

private:
    struct Observer {
        ObserverId id;
        std::string name;
        const void* sender;
        std::shared_ptr<Callback> callback;
    };
    std::vector<Observer> m_observers;
    ObserverId m_nextId = 1;
};

} // namespace penwick
