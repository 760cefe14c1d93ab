#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <webkit2/webkit2.h>

#include "channel/ChannelConnection.h"
#include "channel/ChannelProtocol.h"
#include "channel/PageEndpoint.h"
#include "platform/WebView.h"
#include "platform/gtk/GtkScriptContexts.h"

namespace penwick::platform {

class GtkWebView;

// A web view's page as the page channel serves it: the web process that hosts it, the script
// contexts of its documents and what each gets, the calls and console lines from them, and the
// way answers go back. Part of its web view, which it reads.
class GtkPageChannel final : public channel::PageEndpoint {
public:
    explicit GtkPageChannel(GtkWebView& view);
    ~GtkPageChannel() override;
    GtkPageChannel(const GtkPageChannel&) = delete;
    GtkPageChannel& operator=(const GtkPageChannel&) = delete;

    std::uint64_t pageId() const override;
    // Only the web process that claimed the page last speaks for it.
    bool hostedBy(const std::string& credential) const override { return !credential.empty() && credential == m_hostCredential; }
    // A frame of this page has a fresh window object: asks the client what it gets and answers
    // the set-up for the extension. It replaces the frame's previous context.
    channel::ContextSetup didCreateScriptContext(std::shared_ptr<channel::ChannelConnection> connection,
        std::uint64_t contextId, const channel::NewContext& notice) override;
    void execInContext(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ExecCall&& call) override;
    void execTooLarge(const channel::ChannelConnection& from, std::uint64_t contextId, const channel::ExecTooLarge& call,
        std::size_t limit) override;
    void consoleInContext(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ConsoleCall&& call) override;
    void engineConsoleMessage(const channel::EngineConsole& message) override;
    // The frame went away; its context is forgotten.
    void frameGone(std::uint64_t frame) override;
    // The page's next script dialog is opened by the document of `contextId` (0: it is over).
    void dialogOpener(const channel::ChannelConnection& from, std::uint64_t contextId) override;
    // Who opens the script dialog that comes now, as the page said; nothing when it said nothing.
    std::optional<DialogAsker> takeDialogOpener() { return std::exchange(m_dialogOpener, std::nullopt); }
    // True when the closed connection served this page.
    bool connectionClosed(const channel::ChannelConnection& connection) override;

    // Takes the engine's message by which the web process that hosts the page claims it; false for
    // any other message.
    bool pageMessage(WebKitUserMessage* message);
    // The page's web process ended: nothing it announced speaks for the page any more.
    void processEnded();
    // The extension has announced a script context of this page.
    bool extensionSeen() const { return m_extensionSeen; }
    const GtkScriptContexts& contexts() const { return m_scriptContexts; }
    std::uint64_t mainFrame() const { return m_mainFrame; }
    // The open channel to the web process that shows the main frame, or none.
    std::shared_ptr<channel::ChannelConnection> mainChannel() const;
    // One line for the answers dropped because their document is gone, once per such document.
    void answerDropped(std::uint64_t contextId);
    // Answers travel to the document that asked, through its web process's extension.
    Result<NativeCallbackDelivery> deliverNativeCallback(const NativeCallbackAnswer& answer);
    Result<NativeCallbackDelivery> deliverAnswer(const CallbackAnswerText& answer);
    Result<NativeCallbackDelivery> deliverEncodedAnswer(const EncodedAnswer& answer);

private:
    // The web process with this token says it hosts the page.
    void claimedBy(const std::string& credential);
    // The channel an answer for `contextId` leaves by; none with `otherwise` saying why (Sent: the
    // document is gone and the answer is dropped).
    std::shared_ptr<channel::ChannelConnection> answerChannel(std::uint64_t contextId, NativeCallbackDelivery& otherwise);
    // Why a context the process announces cannot be the page's (a main-frame document not at the
    // page's address, a sub-frame whose parent that process did not announce), or nothing.
    std::optional<std::string> contextRefusal(const channel::ChannelConnection& from, const channel::NewContext& notice) const;
    // Whether the host or the app's own content put the announced document in its frame.
    DocumentOpener openerOf(const channel::ChannelConnection& from, const channel::NewContext& notice) const;

    GtkWebView& m_owner;
    GtkScriptContexts m_scriptContexts;
    std::uint64_t m_mainFrame = 0;
    std::uint64_t m_lastDroppedContext = 0;
    // The web process that shows this page's main frame; results travel to it.
    std::weak_ptr<channel::ChannelConnection> m_mainConnection;
    // The token of the web process that hosts the page, as its last claim said.
    std::string m_hostCredential;
    bool m_extensionSeen = false;
    std::optional<DialogAsker> m_dialogOpener;
};

} // namespace penwick::platform
