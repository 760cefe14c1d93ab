#pragma once

#include "bridge/WHCommandDelegate.h"

namespace penwick {
class WHViewController;

// (Skeleton; the bridge core brings the implementation.)
class WHCommandDelegateImpl : public WHCommandDelegate {
public:
    explicit WHCommandDelegateImpl(WHViewController& viewController);
    std::optional<std::string> pathForResource(const std::string& path) const override;
    WHPlugin* getCommandInstance(const std::string& pluginName) override;
    void sendPluginResult(const WHPluginResult&, const std::string&) override { }
    void evalJs(const std::string&) override { }
    void evalJs(const std::string&, Schedule) override { }
    void runInBackground(std::function<void()>) override { }
    std::optional<std::string> userAgent() const override { return std::nullopt; }
    bool URLIsWhitelisted(const std::string&) const override { return false; }
    const Settings& settings() const override;

private:
    WHViewController& m_viewController;
};

} // namespace penwick
