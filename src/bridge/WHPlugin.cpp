#include "bridge/WHPlugin.h"

#include "bridge/WHInvokedUrlCommand.h"

#include <mutex>

namespace penwick {

const WHPlugin::Action* WHPlugin::ActionTable::find(std::string_view name) const
{
    auto it = m_actions.find(name);
    if (it != m_actions.end())
        return &it->second;
    // The other form: "uptime:" for "uptime", and "uptime" for "uptime:".
    std::string other(name);
    if (!other.empty() && other.back() == ':')
        other.pop_back();
    else
        other += ':';
    it = m_actions.find(other);
    return it == m_actions.end() ? nullptr : &it->second;
}

const WHPlugin::Action* WHPlugin::findAction(std::string_view name) const
{
    if (const Action* action = actions().find(name))
        return action;
    // The page names its own callback id; the call it cancels is one of the document that asks
    // to cancel it: a page cannot cancel another's calls.
    static const Action s_cancel = [](WHPlugin& plugin, const WHInvokedUrlCommand& command, Reply reply) {
        Value id = command.argumentAtIndex(0, Value(""));
        if (id.is_string() && !id.get_ref<const std::string&>().empty())
            plugin.cancel(WHCallbackAddress { command.context(), id.get<std::string>() });
        reply.ok();
    };
    return name == "cancel:" || name == "cancel" ? &s_cancel : nullptr;
}

WHPlugin::WHPlugin(const WHPluginContext& context)
    : m_context(context)
{
}

WHPlugin::~WHPlugin() = default;

const WHPlugin::ActionTable& WHPlugin::actions() const
{
    static const ActionTable s_none;
    return s_none;
}

namespace {
// Filled at start-up, read afterwards; the lock only guards registrations made from static
// initialisers of different libraries.
struct FactoryTable {
    std::mutex mutex;
    std::map<std::string, WHPluginFactory::Create> factories;
};
FactoryTable& factoryTable()
{
    static FactoryTable s_table;
    return s_table;
}
} // namespace

void WHPluginFactory::registerClass(const std::string& className, Create create)
{
    auto& table = factoryTable();
    std::lock_guard lock(table.mutex);
    table.factories[className] = std::move(create);
}

std::unique_ptr<WHPlugin> WHPluginFactory::create(const std::string& className, const WHPluginContext& context)
{
    Create create;
    {
        auto& table = factoryTable();
        std::lock_guard lock(table.mutex);
        auto it = table.factories.find(className);
        if (it == table.factories.end())
            return nullptr;
        create = it->second;
    }
    return create(context);
}

} // namespace penwick
