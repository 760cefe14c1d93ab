#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Result.h"
#include "base/SharedPayload.h"
#include "base/Value.h"

namespace penwick::platform {

// Web view preferences as the controller edits them. The real web view applies them when they
// are handed back with setPreferences(); anything that must be fixed before the engine creates
// its view (the local-storage folder) is in force for the first page load.
struct WebPreferences {
    bool webGLEnabled = false;
    std::string localStorageDatabasePath;
    bool localStorageEnabled = false;
};

enum class DrawsBackground { No, Yes };
enum class DeveloperExtras { Off, On };
// Whether Ctrl+plus/minus/0 and Ctrl+wheel zoom the page, or reach it as the page's own.
enum class ZoomKeys { Off, On };

class WebViewClient;

// One answer to a page call whose message holds byte buffers (binary values); it refers to the
// caller's values for the length of the call.
struct NativeCallbackAnswer {
    const std::string& callbackId;
    std::int32_t status;
    const Value& message;
    bool keepCallback;
    // The script context (document) whose call this answers; 0 for the main frame's document.
    std::uint64_t contextId = 0;
};

// One answer to a page call whose message is JSON text (the usual answer); it refers to the caller's
// values for the length of the call.
struct CallbackAnswerText {
    const std::string& callbackId;
    std::int32_t status;
    std::string_view messageJson;
    bool keepCallback;
    std::uint64_t contextId = 0;
};

// An answer already written as the payload of a page-channel frame, away from the main loop, so
// that handing it on costs the main loop no copy. `hold` is let go once its bytes have left the
// host (the share of a budget the answer held).
struct EncodedAnswer {
    enum class Form { Bytes, Text };
    Form form = Form::Text;
    SharedPayload payload;
    std::uint64_t contextId = 0;
    std::shared_ptr<const void> hold;
};

// Whether a web view took a native-callback answer itself.
enum class NativeCallbackDelivery { Sent, NotHere };

class WebView {
public:
    virtual ~WebView() = default;
    // Loads start on a later turn of the main loop.
    // The engine's own network time-outs apply.
    virtual void loadRequest(const std::string& url) = 0;
    virtual void loadHTMLString(const std::string& html) = 0;
    // Evaluates script in the main frame; the value is discarded.
    virtual void evaluateScript(const std::string& script) = 0;
    // Evaluates an answer in the document of script context `contextId` (the one whose call it
    // answers), in order with the other scripts; dropped, with one log line, once that document is
    // gone. Never evaluated in another document.
    virtual void evaluateAnswer(const std::string& script, std::uint64_t /*contextId*/) { evaluateScript(script); }
    // Evaluates script in the main frame's document when that is one of the app's own, and only
    // there (one that replaces it meanwhile does not get it); false, evaluating nothing, when it is
    // not, as when another site is shown.
    virtual bool evaluateInAppDocument(const std::string&) { return false; }
    // Hands the answer to the page library's native callback with its byte buffers as bytes, in
    // order with the scripts evaluated before and after. NotHere when this web view cannot (the
    // caller then evaluates the answer's script form instead); an error, sending nothing, when the
    // answer is larger than the page channel carries.
    [[nodiscard]] virtual Result<NativeCallbackDelivery> deliverNativeCallback(const NativeCallbackAnswer&)
    {
        return NativeCallbackDelivery::NotHere;
    }
    // The same for an answer whose message is JSON text: the page reads it with its own JSON reader.
    [[nodiscard]] virtual Result<NativeCallbackDelivery> deliverAnswer(const CallbackAnswerText&)
    {
        return NativeCallbackDelivery::NotHere;
    }
    // Whether answers may come written as payloads (deliverEncodedAnswer); fixed for a web view.
    virtual bool takesEncodedAnswers() const { return false; }
    // The same for an answer written already; the web view keeps the payload until it has left.
    [[nodiscard]] virtual Result<NativeCallbackDelivery> deliverEncodedAnswer(const EncodedAnswer&)
    {
        return NativeCallbackDelivery::NotHere;
    }
    virtual WebPreferences preferences() const = 0;
    virtual void setPreferences(const WebPreferences& prefs) = 0;
    virtual void setDrawsBackground(DrawsBackground draws) = 0;
    // Makes the process's cookie store accept every cookie.
    virtual void acceptAllCookies() = 0;
    // The object that sets up each new script context and answers the page's questions; a web
    // view without one gives its pages no bridge. Not owned.
    virtual void setClient(WebViewClient*) { }
    // The engine's inspector and console tools.
    virtual void setDeveloperExtras(DeveloperExtras) { }
    // Loads the page shown again, as the user's reload does.
    virtual void reload() { }
    // Opens the engine's web inspector on the page (with developer extras on).
    virtual void showInspector() { }
    // The page's zoom level (1: none) and whether the user's keys change it.
    virtual void setZoom(ZoomKeys, double /*level*/) { }
    // Asks the page whether it may be left (its beforeunload handler, which may put the question to
    // the user); the window closes once it agrees.
    virtual void tryClose() { }
};

} // namespace penwick::platform
