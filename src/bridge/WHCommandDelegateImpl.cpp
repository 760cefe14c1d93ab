#include "bridge/WHCommandDelegateImpl.h"

#include <condition_variable>
#include <mutex>
#include <tuple>
#include <utility>

#include "bridge/WHCallbackAddress.h"
#include "bridge/WHCommandQueue.h"
#include "bridge/WHControllerInterface.h"
#include "bridge/WHJSONSerializing.h"
#include "bridge/WHPluginResult.h"
#include "channel/ChannelProtocol.h"
#include "base/Utf8.h"
#include "base/Format.h"
#include "base/Log.h"
#include "platform/WebView.h"

namespace penwick {

class WHCommandDelegateImpl::BackgroundGate {
public:
    // False once closed; otherwise the caller runs and then calls leave().
    bool enter()
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        ++m_running;
        return true;
    }
    void leave()
    {
        std::lock_guard lock(m_mutex);
        if (--m_running == 0)
            m_idle.notify_all();
    }
    void closeAndWait()
    {
        std::unique_lock lock(m_mutex);
        m_closed = true;
        m_idle.wait(lock, [this] { return m_running == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_running = 0;
    bool m_closed = false;
};

WHCommandDelegateImpl::WHCommandDelegateImpl(WHControllerInterface& viewController)
    : m_viewController(&viewController)
    , m_platform(viewController.platform())
    , m_backgroundGate(std::make_shared<BackgroundGate>())
{
}

WHCommandDelegateImpl::~WHCommandDelegateImpl() { m_backgroundGate->closeAndWait(); }

WHPlugin* WHCommandDelegateImpl::getCommandInstance(const std::string& pluginName)
{
    return m_viewController->getCommandInstance(pluginName);
}

const Settings& WHCommandDelegateImpl::settings() const { return m_viewController->settings(); }

std::string WHCommandDelegateImpl::escapeForSingleQuotedLiteral(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\'' && c != '\\') {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        switch (c) {
        case '\'':
            out += "\\'";
            ++i;
            continue;
        case '\\':
            out += "\\\\";
            ++i;
            continue;
        case '\n':
            out += "\\n";
            ++i;
            continue;
        case '\r':
            out += "\\r";
            ++i;
            continue;
        case '\t':
            out += "\\t";
            ++i;
            continue;
        default:
            break;
        }
        if (c < 0x80) { // other control characters and DEL
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            ++i;
            continue;
        }
        size_t n = utf8SequenceLength(text.substr(i));
        if (n == 0) {
            out += "\\uFFFD";
            ++i;
            continue;
        }
        std::string_view seq = text.substr(i, n);
        // Line and paragraph separators end a line in older script engines.
        if (seq == "\xE2\x80\xA8")
            out += "\\u2028";
        else if (seq == "\xE2\x80\xA9")
            out += "\\u2029";
        else
            out += seq;
        i += n;
    }
    return out;
}

std::size_t WHCommandDelegateImpl::s_maxResultSize = channel::kMaxPayload - 64 * 1024;

namespace {
// The pretty-printed one-element array [message] without its brackets, or the error that stopped it.
std::pair<std::string, std::optional<std::string>> resultJSON(const WHPluginResult& result, std::size_t limit)
{
    static const Value s_null;
    std::string json = "\n  ";
    std::optional<std::string> error;
    if (const auto& text = result.messageText()) {
        if (text->size() > limit)
            return { std::string(), std::string(WHJSONSerializing::kTooLarge) };
        json.reserve(text->size() + 4);
        json += *text;
    } else {
        error = WHJSONSerializing::appendPrettyJSON(json, result.message() ? *result.message() : s_null, 1, limit);
    }
    json += '\n';
    return { std::move(json), std::move(error) };
}
} // namespace

WHCommandDelegateImpl::Answer WHCommandDelegateImpl::answerOf(const WHPluginResult& result, const std::string& callbackId)
{
    // Written here rather than by the result, so that a text too large for the page channel stops
    // being written at the limit; the callback hears an error instead.
    auto [json, error] = resultJSON(result, s_maxResultSize);
    std::int32_t status = result.status();
    bool keep = result.keepCallback();
    if (error && *error == WHJSONSerializing::kTooLarge) {
        log::message(format("ERROR: the result for callback %@ passed %@ bytes, more than the page channel carries; "
                            "the call gets an error instead",
            callbackId, s_maxResultSize));
        status = static_cast<std::int32_t>(CommandStatus::Error);
        keep = false;
        std::tie(json, error) = resultJSON(WHPluginResult(status, Value(format("the result is larger than %@ bytes", s_maxResultSize))),
            std::string::npos);
    }
    if (error) {
        // The callback still hears the status, with null.
        log::message(format("the result for callback %@ cannot be written as JSON (%@); the callback gets null", callbackId, *error));
        json = "null";
    }
    return { status, std::move(json), keep };
}

std::string WHCommandDelegateImpl::expressionOf(const Answer& answer, const std::string& callbackId)
{
    return format(kNativeCallbackFormat, escapeForSingleQuotedLiteral(callbackId), std::to_string(answer.status), answer.json,
        std::string_view(answer.keep ? "1" : "0"));
}

std::string WHCommandDelegateImpl::nativeCallbackExpression(const WHPluginResult& result, const std::string& callbackId)
{
    return expressionOf(answerOf(result, callbackId), callbackId);
}

std::size_t WHCommandDelegateImpl::setMaxResultSizeForTesting(std::size_t limit) { return std::exchange(s_maxResultSize, limit); }

void WHCommandDelegateImpl::sendPluginResult(const WHPluginResult& result, const WHCallbackAddress& address)
{
    if (!address.wantsAnswer())
        return;
    // The answer goes to the document whose call it answers, and nowhere else.
    std::uint64_t contextId = address.context;
    std::string callbackId = address.callbackId;
    if (m_encodesAnswers.load(std::memory_order_acquire)) {
        sendEncoded(result, contextId, callbackId);
        return;
    }
    if (!result.carriesBytes()) {
        // The page reads the message with its own JSON reader; the script form is for web views
        // that cannot take the answer so (or not in one frame).
        runForPage(When::InOrder, [this, contextId, callbackId, answer = answerOf(result, callbackId)] {
            WH_ASSERT_MAIN_THREAD(m_platform.scheduler);
            auto* webView = m_webView;
            if (!webView)
                return;
            auto delivery = webView->deliverAnswer({ callbackId, answer.status, answer.json, answer.keep, contextId });
            if (!delivery || *delivery != platform::NativeCallbackDelivery::Sent)
                webView->evaluateAnswer(expressionOf(answer, callbackId), contextId);
        });
        return;
    }
    // Bytes reach the page as bytes where the web view can carry them: no Base64 text, no script.
    runForPage(When::Later, [this, result, contextId, callbackId] {
        WH_ASSERT_MAIN_THREAD(m_platform.scheduler);
        auto* webView = m_webView;
        if (!webView)
            return;
        platform::NativeCallbackAnswer answer { callbackId, result.status(), *result.message(), result.keepCallback(), contextId };
        auto delivery = webView->deliverNativeCallback(answer);
        if (delivery && *delivery == platform::NativeCallbackDelivery::Sent)
            return;
        if (delivery) {
            webView->evaluateAnswer(nativeCallbackExpression(result, callbackId), contextId);
            return;
        }
        // Too large for the page channel: the call fails instead, and the page keeps its bridge.
        log::message(format("ERROR: the answer to callback %@ was not sent: %@.", callbackId, delivery.error().message));
        WHPluginResult failure(static_cast<std::int32_t>(CommandStatus::Error),
            Value(format("the answer is too large for the host's page channel (%@)", delivery.error().message)));
        failure.setKeepCallbackAsBool(result.keepCallback());
        webView->evaluateAnswer(nativeCallbackExpression(failure, callbackId), contextId);
    });
}

void WHCommandDelegateImpl::setWebView(platform::WebView* webView)
{
    m_webView = webView;
    m_encodesAnswers.store(webView && webView->takesEncodedAnswers(), std::memory_order_release);
}

void WHCommandDelegateImpl::sendEncoded(const WHPluginResult& result, std::uint64_t contextId, const std::string& callbackId)
{
    platform::EncodedAnswer encoded;
    encoded.contextId = contextId;
    encoded.hold = result.hold();
    std::string script;
    std::optional<Answer> textAnswer;
    bool bytes = result.carriesBytes();
    if (bytes) {
        // Bytes reach the page as bytes: no Base64 text, no script.
        encoded.form = platform::EncodedAnswer::Form::Bytes;
        encoded.payload = channel::encodeNativeCallback(callbackId, result.status(), result.keepCallback(), result.message());
        if (encoded.payload.size() <= kScriptFormKept)
            script = nativeCallbackExpression(result, callbackId);
    } else if (const auto& text = result.messageText(); text && text->size() > kScriptFormKept && text->size() <= s_maxResultSize) {
        // A large answer its action wrote as JSON text leaves as that text, copied neither into
        // the answer nor into the payload; like any answer this large, it has no script form.
        encoded.form = platform::EncodedAnswer::Form::Text;
        encoded.payload = channel::encodeCallbackAnswer(callbackId, result.status(), result.keepCallback(), text);
    } else {
        // The page reads the message with its own JSON reader.
        auto answer = answerOf(result, callbackId);
        encoded.form = platform::EncodedAnswer::Form::Text;
        encoded.payload = SharedPayload::of(std::make_shared<const std::string>(
            channel::encode(channel::CallbackAnswer { callbackId, answer.status, answer.keep, answer.json })));
        if (answer.json.size() <= kScriptFormKept)
            textAnswer = std::move(answer);
    }
    // An answer given inside the page's call leaves with the call's own answer; bytes on a later turn.
    runForPage(bytes ? When::Later : When::InOrder,
        [this, encoded = std::move(encoded), script = std::move(script), textAnswer = std::move(textAnswer), callbackId,
            keep = result.keepCallback()]() mutable {
            WH_ASSERT_MAIN_THREAD(m_platform.scheduler);
            auto* webView = m_webView;
            if (!webView)
                return;
            auto delivery = webView->deliverEncodedAnswer(encoded);
            if (delivery && *delivery == platform::NativeCallbackDelivery::Sent)
                return;
            // A text answer's script form is written only now that it is needed, not for every call.
            if (textAnswer)
                script = expressionOf(*textAnswer, callbackId);
            // The script form goes where the channel cannot take the answer, and a text answer
            // larger than one frame goes as script in pieces.
            bool text = encoded.form == platform::EncodedAnswer::Form::Text;
            if (!script.empty() && (delivery || text)) {
                webView->evaluateAnswer(script, encoded.contextId);
                return;
            }
            // Bytes too large for the page channel, or an answer too large for the script form
            // once the channel has gone: the call fails instead, and the page keeps its bridge.
            std::string why = delivery ? std::string("the page channel is gone") : delivery.error().message;
            log::message(format("ERROR: the answer to callback %@ was not sent: %@.", callbackId, why));
            WHPluginResult failure(static_cast<std::int32_t>(CommandStatus::Error),
                Value(format(delivery ? "the answer could not be sent (%@)" : "the answer is too large for the host's page channel (%@)", why)));
            failure.setKeepCallbackAsBool(keep);
            webView->evaluateAnswer(nativeCallbackExpression(failure, callbackId), encoded.contextId);
        });
}

void WHCommandDelegateImpl::runForPage(When when, std::function<void()> task)
{
    auto& scheduler = m_platform.scheduler;
    // The controller and this delegate live on the main thread; the task runs there, so checking
    // the handle there is enough.
    auto guarded = [alive = std::weak_ptr<Alive>(m_alive), task = std::move(task)] {
        if (alive.lock())
            task();
    };
    if (when == When::InOrder)
        scheduler.runInOrder(std::move(guarded));
    else
        scheduler.post(std::move(guarded));
}

void WHCommandDelegateImpl::runInBackground(std::function<void()> block)
{
    m_platform.workQueue.submit([gate = m_backgroundGate, block = std::move(block)]() mutable {
        if (!gate->enter())
            return;
        struct Leave {
            BackgroundGate& gate;
            ~Leave() { gate.leave(); }
        } leave { *gate };
        // The block's captures go before the delegate may.
        std::exchange(block, nullptr)();
    });
}

} // namespace penwick
