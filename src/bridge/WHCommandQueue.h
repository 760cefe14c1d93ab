#pragma once

#include <string>
#include <vector>

#include "base/Result.h"
#include "base/Value.h"

namespace penwick {
class WHCommandDelegate;
class WHControllerInterface;
class WHInvokedUrlCommand;

// The one way a single command becomes a call of a plugin action. Main thread only; re-entrant
// from plugin actions.
class WHCommandQueue {
public:
    explicit WHCommandQueue(WHControllerInterface& viewController);
    virtual ~WHCommandQueue();
    WHCommandQueue(const WHCommandQueue&) = delete;
    WHCommandQueue& operator=(const WHCommandQueue&) = delete;

    // Dispatches one command; true when an action was called.
    virtual bool execute(const WHInvokedUrlCommand& command);

    // The dispatch rules shared with the page's bridge object: checks the names, finds the plugin
    // through the command delegate's registry (which may create it), finds the action "name:" and
    // calls it. Each failure is logged with its fixed "ERROR: " line and answers an error whose
    // code is the result status for the page (CommandStatus) and whose message says what was
    // wrong; without a delegate no plugin is found.
    static Result<void> dispatch(const WHInvokedUrlCommand& command, WHCommandDelegate* commandDelegate);

    // The texts of the three dispatch failures.
    static constexpr const char* kNamesMissingError = "ERROR: Classname and/or methodName not found for command.";
    static constexpr const char* kPluginNotFoundError =
        "ERROR: Plugin '%@' not found, or is not a WHPlugin. Check your plugin mapping in config.xml.";
    static constexpr const char* kMethodNotDefinedError = "ERROR: Method '%@' not defined in Plugin '%@'";

private:
    WHControllerInterface* m_viewController;
};

} // namespace penwick
