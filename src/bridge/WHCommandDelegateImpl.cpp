#include "bridge/WHCommandDelegateImpl.h"

#include "host/WHResourceLookup.h"
#include "host/WHViewController.h"

namespace penwick {

WHCommandDelegateImpl::WHCommandDelegateImpl(WHViewController& viewController) : m_viewController(viewController) { }

std::optional<std::string> WHCommandDelegateImpl::pathForResource(const std::string& path) const
{
    return WHResourceLookup::pathForResource(m_viewController.platform().environment,
        m_viewController.wwwFolderName().value_or(""), path);
}

WHPlugin* WHCommandDelegateImpl::getCommandInstance(const std::string& pluginName)
{
    return m_viewController.getCommandInstance(pluginName);
}

const Settings& WHCommandDelegateImpl::settings() const { return m_viewController.settings(); }

} // namespace penwick
