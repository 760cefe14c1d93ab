#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/ChannelConnection.h"
#include "channel/ChannelProtocol.h"
#include "platform/WebViewClient.h"

namespace penwick::platform {

// The script contexts of one page: the objects set on each live frame's window object, by context
// id, and each frame's one context. A frame's new context replaces its old one; a frame that goes
// away takes its context with it. (A page restored from the back-forward cache keeps a bridge the
// host no longer serves; its calls are refused with a log line.) Calls from a context are taken
// only from the web process that announced it.
class GtkScriptContexts {
public:
    struct Context {
        std::uint64_t frame = 0;
        std::shared_ptr<ScriptBridgeObject> hostbridge;
        std::shared_ptr<ScriptConsoleObject> console;
        // The web process that announced the context; only it speaks for the context.
        const channel::ChannelConnection* connection = nullptr;
        std::weak_ptr<channel::ChannelConnection> channel;
        // The document is the app's own content (documents it opens are the app's too).
        bool appContent = false;
        std::string url;
        // For an "about:" document that shares its parent's origin: the parent document's URL.
        std::string owner {};
    };

    // Keeps `context` as `contextId`, its frame's one context; page `pageId` is named in the line
    // that says the page holds many.
    void add(std::uint64_t contextId, Context context, std::uint64_t pageId);
    // The live context `contextId` when `from` announced it.
    const Context* from(const channel::ChannelConnection& from, std::uint64_t contextId) const;
    // The channel of the live context `contextId`, while it is open; none otherwise.
    std::shared_ptr<channel::ChannelConnection> channelOf(std::uint64_t contextId) const;
    // The context of `frame`'s document when that document is one of the app's own; none otherwise.
    std::optional<std::uint64_t> appContextOf(std::uint64_t frame) const;
    void forgetFrame(std::uint64_t frame);
    // Forgets every context `gone` holds for.
    void forgetIf(const std::function<bool(const Context&)>& gone);
    void clear();
    // The URLs of the documents of every frame but `frame`.
    std::vector<std::string> urlsBesides(std::uint64_t frame) const;
    bool allAppContent() const;

    void exec(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ExecCall&& call) const;
    // A call too large for the channel: logged, and answered with an error result.
    void execTooLarge(const channel::ChannelConnection& from, std::uint64_t contextId, const channel::ExecTooLarge& call,
        std::size_t limit) const;
    void console(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ConsoleCall&& call) const;

private:
    std::map<std::uint64_t, Context> m_contexts;
    std::map<std::uint64_t, std::uint64_t> m_frames;
    std::size_t m_reported = 0;
};

} // namespace penwick::platform
