#pragma once

#include <memory>

#include "platform/Registration.h"

namespace penwick::test {

// Removes entry `id` from a stand-in's table when dropped, unless the table has gone first.
template<typename Map>
class ErasingRegistration : public platform::Registration {
public:
    ErasingRegistration(std::weak_ptr<Map> map, int id) : m_map(std::move(map)), m_id(id) { }
    ~ErasingRegistration() override
    {
        if (auto map = m_map.lock())
            map->erase(m_id);
    }

private:
    std::weak_ptr<Map> m_map;
    int m_id;
};

} // namespace penwick::test
