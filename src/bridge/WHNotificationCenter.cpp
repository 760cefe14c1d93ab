#include "bridge/WHNotificationCenter.h"

#include <algorithm>

namespace penwick {

WHNotificationCenter& WHNotificationCenter::defaultCenter()
{
    static WHNotificationCenter s_center;
    return s_center;
}

WHNotificationCenter::ObserverId WHNotificationCenter::addObserver(std::string name, const void* sender, Callback callback)
{
    ObserverId id = m_nextId++;
    m_observers.push_back({ id, std::move(name), sender, std::make_shared<Callback>(std::move(callback)) });
    return id;
}

void WHNotificationCenter::removeObserver(ObserverId id)
{
    std::erase_if(m_observers, [id](const Observer& o) { return o.id == id; });
}

void WHNotificationCenter::post(const WHNotification& notification)
{
    // Observers may add or remove observers (themselves included) while being called: deliver to
    // those registered when the post began and still registered when their turn comes.
    std::vector<ObserverId> targets;
    for (const auto& o : m_observers) {
        if (o.name == notification.name && (!o.sender || o.sender == notification.sender))
            targets.push_back(o.id);
    }
    for (ObserverId id : targets) {
        auto it = std::find_if(m_observers.begin(), m_observers.end(), [id](const Observer& o) { return o.id == id; });
        if (it == m_observers.end())
            continue;
        auto callback = it->callback; // keeps the callable alive should it remove itself
        (*callback)(notification);
    }
}

} // namespace penwick
