#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPlugin.h"
#include "host/WHViewController.h"
#include "support/LogCapture.h"
#include "support/RecordingWebView.h"
#include "support/TestPlatform.h"

namespace penwick::test {

// The script that hands a page its answer.
inline std::string expression(const std::string& id, int status, const std::string& json, int keep)
{
    return "webhost.require('webhost/exec').nativeCallback('" + id + "'," + std::to_string(status) + "," + json + ","
        + std::to_string(keep) + ")";
}

// A plugin that records its life and its calls; tests hang behaviour on its actions.
class RecordingPlugin : public WHPlugin {
public:
    using WHPlugin::WHPlugin;
    static inline const std::string kClassName = "TestRecordingPlugin";
    const std::string& className() const override { return kClassName; }

    void pluginInitialize() override
    {
        ++initializeCount;
        linksSetAtInitialize = viewController() && commandDelegate();
    }

    // Answers only when a test says so.
    void echo(const WHInvokedUrlCommand& command, Reply reply)
    {
        calls.push_back(command.callbackId().value_or("(none)"));
        if (onEcho)
            onEcho(command, reply);
        if (reply.waiting())
            reply.none();
    }

    int initializeCount = 0;
    bool linksSetAtInitialize = false;
    std::vector<std::string> calls;
    std::function<void(const WHInvokedUrlCommand&, Reply&)> onEcho;

protected:
    const ActionTable& actions() const override
    {
        static const ActionTable table = ActionTable().add("echo:", &RecordingPlugin::echo);
        return table;
    }
};

// A controller over the stand-ins with a configuration mapping the service "File" to the
// recording plugin and "Ghost" to a class that does not exist.
class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override { WHPluginFactory::registerClass<RecordingPlugin>(RecordingPlugin::kClassName); }

    std::unique_ptr<WHViewController> makeController(const std::string& extraConfig = "")
    {
        m_platform.environment.writeResource("config.xml",
            "<?xml version=\"1.0\"?><widget>"
            "<feature name=\"File\"><param name=\"osx-package\" value=\"TestRecordingPlugin\"/></feature>"
            "<feature name=\"Ghost\"><param name=\"osx-package\" value=\"NoSuchClass\"/></feature>"
            + extraConfig + "</widget>");
        auto vc = std::make_unique<WHViewController>(m_platform.platform);
        vc->setWebView(&m_webView);
        return vc;
    }

    RecordingPlugin& filePlugin(WHViewController& vc)
    {
        auto* plugin = dynamic_cast<RecordingPlugin*>(vc.getCommandInstance("File"));
        if (!plugin)
            throw std::runtime_error("the File service has no recording plugin");
        return *plugin;
    }

    TestPlatform m_platform;
    RecordingWebView m_webView;
    LogCapture m_log;
};

} // namespace penwick::test
