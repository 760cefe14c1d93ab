#pragma once

#include <map>
#include <typeindex>

namespace penwick::platform {

// The optional platform services (dialogs, URL opener, save panel, screens, ...) by their
// interface type. The composition root provides each one once; plugins ask for the ones they
// use and cope with their absence. A new service needs no new field anywhere. Not owning; filled
// at start-up on the main thread and only read afterwards.
class ServiceRegistry {
public:
    template<typename Service>
    void provide(Service& service)
    {
        m_services[std::type_index(typeid(Service))] = &service;
    }
    template<typename Service>
    Service* find() const
    {
        auto it = m_services.find(std::type_index(typeid(Service)));
        return it == m_services.end() ? nullptr : static_cast<Service*>(it->second);
    }

private:
    std::map<std::type_index, void*> m_services;
};

} // namespace penwick::platform
