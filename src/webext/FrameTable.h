#pragma once

#include <cstdint>
#include <map>
#include <webkit2/webkit-web-extension.h>

#include "base/GRef.h"
#include "webext/DocumentScript.h"

namespace penwick::webext {

class ExtensionChannel;

// Every live frame of this web process, by frame id, with the context id the host gave its current
// document (0: none); and the frame of each such context. Frames leave when the engine releases
// them, and the host hears of it. Lives as long as the process (the engine's frames point at it).
class FrameTable {
public:
    explicit FrameTable(ExtensionChannel& channel) : m_channel(channel) { }
    FrameTable(const FrameTable&) = delete;
    FrameTable& operator=(const FrameTable&) = delete;

    // Tracks `frame` of page `pageId` until it goes away. Once per frame.
    void watch(WebKitFrame* frame, std::uint64_t pageId);
    // The frame's current document has the host's context `context` from now on (0: none).
    void setContext(WebKitFrame* frame, std::uint64_t context);
    // The host's context id of the parent frame's current document, or 0.
    std::uint64_t parentContext(JSCContext* context, std::uint64_t pageId, WebKitFrame* frame) const;
    // The script context of the document the host knows as `contextId` in page `pageId`; none (and
    // one line per such document) when that document is gone.
    // Kept with the frame until its document changes or the frame goes: the engine would otherwise
    // make a new wrapper of the same context for every answer.
    DocumentScript context(std::uint64_t pageId, std::uint64_t contextId);

private:
    struct TrackedFrame {
        WebKitFrame* frame = nullptr;
        std::uint64_t page = 0;
        std::uint64_t context = 0;
        // Of the current document only; dropped with it, so no document outlives its frame's next one.
        GRef<JSCContext> script;
        GRef<JSCValue> answerLoop;
    };
    ExtensionChannel& m_channel;
    std::map<std::uint64_t, TrackedFrame> m_frames;
    std::map<std::uint64_t, std::uint64_t> m_contextFrames;
    // The last context whose answers were dropped, so that a run of them gives one line.
    std::uint64_t m_lastDroppedContext = 0;
};

} // namespace penwick::webext
