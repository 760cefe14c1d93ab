#include "bridge/WHPlugin.h"

namespace penwick {

WHPlugin::WHPlugin(platform::WebView* webView) : m_webView(webView) { }
WHPlugin::~WHPlugin() = default;

void WHPlugin::dispose()
{
    m_viewController = nullptr;
    m_commandDelegate = nullptr;
    m_webView = nullptr;
}

namespace {
std::map<std::string, WHPluginFactory::Create>& factories()
{
    static std::map<std::string, WHPluginFactory::Create> s_factories;
    return s_factories;
}
} // namespace

void WHPluginFactory::registerClass(const std::string& className, Create create)
{
    factories()[className] = std::move(create);
}

std::unique_ptr<WHPlugin> WHPluginFactory::create(const std::string& className, platform::WebView* webView)
{
    auto it = factories().find(className);
    return it == factories().end() ? nullptr : it->second(webView);
}

} // namespace penwick
