#include "platform/gtk/GtkPageChannel.h"

#include <algorithm>

#include "base/Format.h"
#include "base/Log.h"
#include "platform/gtk/GtkChannelServer.h"
#include "platform/gtk/GtkEngineContext.h"
#include "platform/gtk/GtkWebView.h"

namespace penwick::platform {

GtkPageChannel::GtkPageChannel(GtkWebView& view) : m_owner(view) { m_owner.m_engine.channelServer().registerView(this); }

GtkPageChannel::~GtkPageChannel() { m_owner.m_engine.channelServer().unregisterView(this); }

std::uint64_t GtkPageChannel::pageId() const { return m_owner.pageId(); }

std::shared_ptr<channel::ChannelConnection> GtkPageChannel::mainChannel() const
{
    auto connection = m_mainConnection.lock();
    return connection && connection->isOpen() ? connection : nullptr;
}

void GtkPageChannel::processEnded()
{
    m_hostCredential.clear();
    m_mainConnection.reset();
    m_scriptContexts.clear();
    m_dialogOpener.reset();
}

void GtkPageChannel::answerDropped(std::uint64_t contextId)
{
    if (contextId == m_lastDroppedContext)
        return;
    m_lastDroppedContext = contextId;
    log::message(format("dropped the answers for a document that is gone (script context %@)", contextId));
}

std::shared_ptr<channel::ChannelConnection> GtkPageChannel::answerChannel(std::uint64_t contextId, NativeCallbackDelivery& otherwise)
{
    // Only through the extension; on any other path the caller evaluates the script form, in the
    // same place of the order.
    otherwise = NativeCallbackDelivery::NotHere;
    std::shared_ptr<channel::ChannelConnection> connection;
    if (contextId) {
        connection = m_scriptContexts.channelOf(contextId);
        if (!m_owner.m_view || !connection) {
            // Its document is gone: the script form would be dropped too.
            answerDropped(contextId);
            otherwise = NativeCallbackDelivery::Sent;
            return nullptr;
        }
    } else {
        connection = m_owner.m_view ? m_mainConnection.lock() : nullptr;
    }
    return connection && connection->isOpen() ? connection : nullptr;
}

Result<NativeCallbackDelivery> GtkPageChannel::deliverNativeCallback(const NativeCallbackAnswer& answer)
{
    // The extension makes the page's ArrayBuffers from the frame's raw bytes. The answer travels in
    // one frame: the bytes are never held twice on either side.
    NativeCallbackDelivery otherwise;
    auto connection = answerChannel(answer.contextId, otherwise);
    if (!connection)
        return otherwise;
    std::string payload = channel::encodeNativeCallback(answer.callbackId, answer.status, answer.keepCallback, answer.message);
    if (auto sent = connection->send(channel::FrameKind::NativeCallback, pageId(), answer.contextId, payload); !sent)
        return sent.error();
    return NativeCallbackDelivery::Sent;
}

Result<NativeCallbackDelivery> GtkPageChannel::deliverAnswer(const CallbackAnswerText& answer)
{
    NativeCallbackDelivery otherwise;
    auto connection = answerChannel(answer.contextId, otherwise);
    if (!connection)
        return otherwise;
    std::string payload = channel::encode(channel::CallbackAnswer { answer.callbackId, answer.status, answer.keepCallback, answer.messageJson });
    if (auto sent = connection->send(channel::FrameKind::CallbackAnswer, pageId(), answer.contextId, payload); !sent)
        return sent.error();
    return NativeCallbackDelivery::Sent;
}

Result<NativeCallbackDelivery> GtkPageChannel::deliverEncodedAnswer(const EncodedAnswer& answer)
{
    NativeCallbackDelivery otherwise;
    auto connection = answerChannel(answer.contextId, otherwise);
    if (!connection)
        return otherwise;
    auto kind = answer.form == EncodedAnswer::Form::Bytes ? channel::FrameKind::NativeCallback : channel::FrameKind::CallbackAnswer;
    if (auto sent = connection->sendShared(kind, pageId(), answer.contextId, answer.payload, answer.hold); !sent)
        return sent.error();
    return NativeCallbackDelivery::Sent;
}

bool GtkPageChannel::pageMessage(WebKitUserMessage* message)
{
    if (g_strcmp0(webkit_user_message_get_name(message), channel::kPageClaimMessage) != 0)
        return false;
    GVariant* parameters = webkit_user_message_get_parameters(message);
    if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE(channel::kPageClaimType))) {
        const char* credential = nullptr;
        g_variant_get(parameters, "(&s)", &credential);
        claimedBy(credential);
    }
    return true;
}

void GtkPageChannel::claimedBy(const std::string& credential)
{
    if (credential.empty() || credential == m_hostCredential)
        return;
    m_hostCredential = credential;
    // What the process that hosted the page before announced speaks for it no more.
    m_scriptContexts.forgetIf([&](const GtkScriptContexts::Context& context) {
        auto connection = context.channel.lock();
        return !connection || connection->credential() != credential;
    });
    m_owner.m_engine.channelServer().pageClaimed();
}

channel::ContextSetup GtkPageChannel::didCreateScriptContext(std::shared_ptr<channel::ChannelConnection> connection,
    std::uint64_t contextId, const channel::NewContext& notice)
{
    m_extensionSeen = true;
    if (auto why = contextRefusal(*connection, notice)) {
        m_scriptContexts.forgetFrame(notice.frame);
        log::message(format("refused a script context of page %@ from web process %@: %@; it gets nothing", pageId(),
            connection->pid(), *why));
        // A main-frame document the host cannot place opens nothing of the app's.
        if (notice.main)
            m_owner.m_mainDocumentAppContent = false;
        return {};
    }
    WindowObject window;
    window.contextId = contextId;
    window.mainFrame = notice.main;
    window.url = notice.url;
    window.owner = notice.owner;
    window.opaqueOrigin = notice.opaque;
    window.opener = openerOf(*connection, notice);
    m_scriptContexts.forgetFrame(notice.frame);
    if (window.mainFrame) {
        m_mainConnection = connection;
        m_mainFrame = notice.frame;
    }
    if (!m_owner.m_client)
        return {};
    m_owner.m_client->didClearWindowObject(window);
    bool bridged = window.hostbridge && window.bridgeExposure == BridgeExposure::Installed;
    if (window.mainFrame) {
        // A fresh blank document (the frame's first) opens nothing.
        if (!notice.url.starts_with("about:"))
            m_owner.m_mainDocumentAppContent = window.appContent;
        if (notice.url.substr(0, notice.url.find('#')) == m_owner.m_hostLoadURL || !notice.url.starts_with("about:"))
            m_owner.m_hostLoadURL.clear();
    }
    // Every context is kept, bridged or not: a sub-frame's parent must be one of them.
    m_scriptContexts.add(contextId,
        { notice.frame, window.hostbridge, window.console, connection.get(), connection, window.appContent, notice.url, notice.owner },
        pageId());
    return channel::ContextSetup { bridged, static_cast<bool>(window.console),
        std::move(window.scripts), std::move(window.loadScript) };
}

std::optional<std::string> GtkPageChannel::contextRefusal(const channel::ChannelConnection& from, const channel::NewContext& notice) const
{
    auto withoutFragment = [](std::string_view url) { return url.substr(0, url.find('#')); };
    if (notice.main) {
        // The engine moves the view's address to a document before that document is made.
        const char* address = m_owner.m_view ? webkit_web_view_get_uri(m_owner.m_view) : nullptr;
        if (notice.url.starts_with("about:") || (address && withoutFragment(notice.url) == withoutFragment(address))
            || (!m_owner.m_acceptedMainDocumentURL.empty() && withoutFragment(notice.url) == m_owner.m_acceptedMainDocumentURL))
            return std::nullopt;
        return format("its main-frame document %@ is not at the page's address %@", log::withoutQueryValues(notice.url),
            log::withoutQueryValues(address ? address : ""));
    }
    if (notice.parent && m_scriptContexts.from(from, notice.parent))
        return std::nullopt;
    return std::string("its parent is no document that process announced");
}

DocumentOpener GtkPageChannel::openerOf(const channel::ChannelConnection& from, const channel::NewContext& notice) const
{
    if (notice.main) {
        // The host's own load, or a navigation while the main frame showed the app's own content.
        // (Which frame started a navigation the engine does not say. A frame of another site may
        // navigate the top once the user has touched it, but to none of the app's local schemes,
        // the only ones whose standing the opener decides.)
        bool hostLoad = !m_owner.m_hostLoadURL.empty() && notice.url.substr(0, notice.url.find('#')) == m_owner.m_hostLoadURL;
        return hostLoad || m_owner.m_mainDocumentAppContent ? DocumentOpener::App : DocumentOpener::Other;
    }
    // The parent the extension found in the engine's frame tree must be the app's own content, as
    // announced by the same web process.
    const auto* parent = notice.parent ? m_scriptContexts.from(from, notice.parent) : nullptr;
    bool appParent = parent && parent->appContent;
    return appParent ? DocumentOpener::App : DocumentOpener::Other;
}

void GtkPageChannel::frameGone(std::uint64_t frame) { m_scriptContexts.forgetFrame(frame); }

namespace {
// "scheme://host[:port]" of a document's URL, or "" when it has none to name (data:, blank).
std::string originOf(const std::string& url)
{
    g_autoptr(GUri) parsed = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    const char* host = parsed ? g_uri_get_host(parsed) : nullptr;
    if (!host || !*host)
        return {};
    std::string origin = std::string(g_uri_get_scheme(parsed)) + "://" + host;
    if (int port = g_uri_get_port(parsed); port > 0)
        origin += ":" + std::to_string(port);
    return origin;
}
} // namespace

void GtkPageChannel::dialogOpener(const channel::ChannelConnection& from, std::uint64_t contextId)
{
    if (!contextId) {
        m_dialogOpener.reset();
        return;
    }
    const auto* context = m_scriptContexts.from(from, contextId);
    if (context && context->appContent) {
        m_dialogOpener = DialogAsker {};
        return;
    }
    // A document the host does not know (refused, or gone) is no more the app's than another site's.
    std::string url = context ? context->url : std::string();
    if (context && url.starts_with("about:"))
        url = context->owner;
    m_dialogOpener = DialogAsker { DialogAsker::Kind::OtherSite, originOf(url) };
}

void GtkPageChannel::execInContext(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ExecCall&& call)
{
    m_scriptContexts.exec(from, contextId, std::move(call));
}

void GtkPageChannel::execTooLarge(const channel::ChannelConnection& from, std::uint64_t contextId, const channel::ExecTooLarge& call,
    std::size_t limit)
{
    m_scriptContexts.execTooLarge(from, contextId, call, limit);
}

void GtkPageChannel::consoleInContext(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ConsoleCall&& call)
{
    m_scriptContexts.console(from, contextId, std::move(call));
}

void GtkPageChannel::engineConsoleMessage(const channel::EngineConsole& message)
{
    if (!m_owner.m_client)
        return;
    ConsoleMessage m;
    m.sourceURL = message.source;
    m.lineNumber = static_cast<long>(message.line);
    m.message = message.message;
    m.level = static_cast<ConsoleLevel>(std::min(message.level, std::size(channel::kConsoleLevels) - 1));
    m_owner.m_client->addMessageToConsole(m);
}

bool GtkPageChannel::connectionClosed(const channel::ChannelConnection& connection)
{
    // Its contexts go with it: nothing may speak for them, and their answers have nowhere to go.
    m_scriptContexts.forgetIf([&](const GtkScriptContexts::Context& context) { return context.connection == &connection; });
    auto main = m_mainConnection.lock();
    if (main.get() != &connection)
        return false;
    m_mainConnection.reset();
    return true;
}

} // namespace penwick::platform
