#pragma once

namespace penwick {
class WHControllerInterface;
class WHInvokedUrlCommand;

// Runs single commands (built from queued JSON) through the plugin registry. Main thread only;
// re-entrant from plugin actions.
class WHCommandQueue {
public:
    explicit WHCommandQueue(WHControllerInterface& viewController);
    virtual ~WHCommandQueue();
    WHCommandQueue(const WHCommandQueue&) = delete;
    WHCommandQueue& operator=(const WHCommandQueue&) = delete;

    // Dispatches one command by the plugin registry's rules (WHPluginRegistry::dispatch); true when
    // an action was called.
    virtual bool execute(const WHInvokedUrlCommand& command);

private:
    WHControllerInterface* m_viewController;
};

} // namespace penwick
