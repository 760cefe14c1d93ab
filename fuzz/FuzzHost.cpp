#include "FuzzHost.h"

#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPlugin.h"
#include "bridge/WHPluginResult.h"

#include <utility>

namespace penwick::fuzz {
namespace {
// Calls of the echo action that expect an answer in the page.
size_t s_answersDue = 0;

class EchoPlugin : public WHPlugin {
public:
    using WHPlugin::WHPlugin;
    static inline const std::string kClassName = "FuzzEchoPlugin";
    const std::string& className() const override { return kClassName; }

    void echo(const WHInvokedUrlCommand& command, Reply reply)
    {
        if (reply.address().wantsAnswer())
            ++s_answersDue;
        reply.send(WHPluginResult::resultWithStatusMessageAsArray(CommandStatus::OK, command.arguments()));
    }

protected:
    const ActionTable& actions() const override
    {
        static const ActionTable table = ActionTable().add("echo:", &EchoPlugin::echo);
        return table;
    }
};
} // namespace

FuzzHost::FuzzHost()
{
    WHPluginFactory::registerClass<EchoPlugin>(EchoPlugin::kClassName);
    m_platform.environment.writeResource("config.xml",
        "<?xml version=\"1.0\"?><widget><feature name=\"Echo\">"
        "<param name=\"osx-package\" value=\"FuzzEchoPlugin\"/></feature></widget>");
    m_controller = std::make_unique<WHViewController>(m_platform.platform);
    m_controller->setWebView(&m_webView);
}

FuzzHost::~FuzzHost() = default;

FuzzHost& FuzzHost::shared()
{
    static FuzzHost* host = new FuzzHost;
    return *host;
}

size_t FuzzHost::settle()
{
    m_platform.scheduler.runPending();
    size_t fresh = m_webView.evaluated - m_seenScripts;
    m_seenScripts = m_webView.evaluated;
    return fresh;
}

size_t FuzzHost::takeAnswersDue() { return std::exchange(s_answersDue, 0); }

} // namespace penwick::fuzz
