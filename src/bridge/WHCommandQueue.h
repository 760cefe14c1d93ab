#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Result.h"
#include "base/Value.h"

namespace penwick {
class WHCommandDelegate;
class WHControllerInterface;
class WHInvokedUrlCommand;

// Batches of commands in JSON form, run in order against the plugins, and the one way a single
// command becomes a call of a plugin action. Main thread only; re-entrant from plugin actions.
class WHCommandQueue {
public:
    explicit WHCommandQueue(WHControllerInterface& viewController);
    virtual ~WHCommandQueue();
    WHCommandQueue(const WHCommandQueue&) = delete;
    WHCommandQueue& operator=(const WHCommandQueue&) = delete;

    // Forgets the controller; commands then find no plugins.
    void dispose() { m_viewController = nullptr; }
    void resetRequestId() { m_lastCommandQueueFlushRequestId = 0; }
    // Appends a batch (JSON text of an array of command arrays) and runs the queue. An empty text
    // is ignored.
    void enqueCommandBatch(std::string batch);
    // Accepts a request id (a number or a numeric text) above the last one accepted.
    void maybeFetchCommandsFromJs(const Value& requestId);
    // The host never pulls commands out of the page.
    virtual void fetchCommandsFromJs() { }
    // Runs every queued batch, including batches queued meanwhile. When an action throws, the
    // queue stops running and the exception travels on; all batches stay queued for the next run.
    void executePending();
    // Dispatches one command; true when an action was called.
    virtual bool execute(const WHInvokedUrlCommand& command);
    bool currentlyExecuting() const { return m_currentlyExecuting; }

    std::int64_t lastCommandQueueFlushRequestId() const { return m_lastCommandQueueFlushRequestId; }
    size_t pendingBatchCount() const { return m_queue.size(); }

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
    std::int64_t m_lastCommandQueueFlushRequestId = 0;
    WHControllerInterface* m_viewController;
    std::vector<std::string> m_queue;
    bool m_currentlyExecuting = false;
};

} // namespace penwick
