#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "bridge/WHCommandDelegate.h"
#include "platform/Platform.h"
#include "platform/WebView.h"

namespace penwick {
class WHControllerInterface;

// The host's command delegate. Results and script reach the page through the controller's web
// view on the main thread, in the order asked for; the page runs them on a later turn of its loop. It holds the
// platform and the web view itself, so that an answer goes from here to the page directly.
class WHCommandDelegateImpl : public WHCommandDelegate {
public:
    explicit WHCommandDelegateImpl(WHControllerInterface& viewController);
    ~WHCommandDelegateImpl() override;

    WHPlugin* getCommandInstance(const std::string& pluginName) override;
    void sendPluginResult(const WHPluginResult& result, const WHCallbackAddress& address) override;
    void runInBackground(std::function<void()> block) override;
    const Settings& settings() const override;
    // The web view answers reach (the controller's); main thread only.
    void setWebView(platform::WebView* webView);

    // The native-callback expression for a result. A result whose text would pass the page
    // channel's limit is not written out: the callback gets an error result saying so.
    static std::string nativeCallbackExpression(const WHPluginResult& result, const std::string& callbackId);
    // The largest result text written (the page channel's limit, less room for the expression);
    // answers the previous one.
    static std::size_t setMaxResultSizeForTesting(std::size_t limit);
    // `text` written so that it can stand between single quotes of a script string literal: quote,
    // backslash, line terminators and control characters escaped; malformed UTF-8 replaced.
    static std::string escapeForSingleQuotedLiteral(std::string_view text);

    static constexpr const char* kNativeCallbackFormat = "webhost.require('webhost/exec').nativeCallback('%@',%d,%@,%d)";

private:
    // What the page's native callback is called with: the status, the message as JSON text, and
    // whether the callback stays.
    struct Answer {
        std::int32_t status;
        std::string json;
        bool keep;
    };
    static Answer answerOf(const WHPluginResult& result, const std::string& callbackId);
    static std::string expressionOf(const Answer& answer, const std::string& callbackId);
    static std::size_t s_maxResultSize;
    // Runs `task` on the main thread after everything asked for before it: InOrder at once when
    // nothing waits (an answer given inside the page's call then leaves with the call's own answer,
    // and the page runs it once its call has returned), Later on a later turn of the main loop.
    enum class When { InOrder, Later };
    void runForPage(When when, std::function<void()> task);
    // Writes the answer as the page channel's payload on the caller's thread (file answers come
    // from background work), so that the main loop only queues it.
    void sendEncoded(const WHPluginResult& result, std::uint64_t contextId, const std::string& callbackId);
    // Answers up to this size also keep their script form, for a web view whose channel has gone.
    static constexpr std::size_t kScriptFormKept = 1024 * 1024;

    WHControllerInterface* m_viewController;
    platform::Platform& m_platform;
    platform::WebView* m_webView = nullptr;
    // Whether m_webView takes answers written as payloads; read from any thread.
    std::atomic<bool> m_encodesAnswers { false };
    // Scheduled evaluations hold a weak handle to this token and do nothing once it has gone.
    struct Alive { };
    std::shared_ptr<Alive> m_alive = std::make_shared<Alive>();
    // Background blocks pass this gate: once the delegate is going, a block not yet started is
    // dropped, and the delegate waits for those running (they reach it and what it reaches).
    class BackgroundGate;
    std::shared_ptr<BackgroundGate> m_backgroundGate;
};

} // namespace penwick
