#include "webext/FrameTable.h"

#include <memory>
#include <unistd.h>

#include "base/Format.h"
#include "base/Log.h"
#include "channel/ChannelProtocol.h"
#include "webext/ExtensionChannel.h"

namespace penwick::webext {

// Tells the host when a frame goes away (the engine releases a frame's wrapper with the frame), so
// that it forgets the frame's script context.
void FrameTable::watch(WebKitFrame* frame, std::uint64_t pageId)
{
    static GQuark s_watched = g_quark_from_static_string("penwick-watched");
    if (g_object_get_qdata(G_OBJECT(frame), s_watched))
        return;
    g_object_set_qdata(G_OBJECT(frame), s_watched, GINT_TO_POINTER(1));
    struct Gone {
        FrameTable* table;
        std::uint64_t page;
        std::uint64_t frame;
    };
    m_frames[webkit_frame_get_id(frame)] = TrackedFrame { frame, pageId, 0, {}, {} };
    g_object_weak_ref(G_OBJECT(frame),
        +[](gpointer data, GObject*) {
            std::unique_ptr<Gone> gone(static_cast<Gone*>(data));
            FrameTable& table = *gone->table;
            if (auto it = table.m_frames.find(gone->frame); it != table.m_frames.end()) {
                table.m_contextFrames.erase(it->second.context);
                table.m_frames.erase(it);
            }
            (void)table.m_channel.post(channel::FrameKind::FrameGone, gone->page, 0,
                penwick::channel::encode(penwick::channel::FrameGone { gone->frame }));
        },
        new Gone { this, pageId, webkit_frame_get_id(frame) });
}

void FrameTable::setContext(WebKitFrame* frame, std::uint64_t context)
{
    auto it = m_frames.find(webkit_frame_get_id(frame));
    if (it == m_frames.end())
        return;
    m_contextFrames.erase(it->second.context);
    it->second.context = context;
    it->second.script = {};
    it->second.answerLoop = {};
    if (context)
        m_contextFrames[context] = it->first;
}

// The parent is found by the identity of window objects, which page script cannot forge: the
// frame's fresh `parent` (no script of the frame has run yet, and a parent of another origin cannot
// reach it) is compared with the global object of each live frame of the page. Identity needs no
// access, so this holds across origins (an app page of file: framing a whfile: document) and reads
// nothing a page wrote.
std::uint64_t FrameTable::parentContext(JSCContext* context, std::uint64_t pageId, WebKitFrame* frame) const
{
    GRef<JSCValue> global = adopt(jsc_context_get_global_object(context));
    GRef<JSCValue> parent = adopt(jsc_value_object_get_property(global.get(), "parent"));
    GRef<JSCValue> same = adopt(jsc_context_evaluate(context, "(function (a, b) { return a === b; })", -1));
    jsc_context_clear_exception(context);
    if (!parent || !jsc_value_is_object(parent.get()) || !same || !jsc_value_is_function(same.get()))
        return 0;
    for (const auto& [id, tracked] : m_frames) {
        if (tracked.page != pageId || tracked.frame == frame || tracked.context == 0)
            continue;
        GRef<JSCContext> candidate = adopt(webkit_frame_get_js_context(tracked.frame));
        if (!candidate)
            continue;
        GRef<JSCValue> candidateGlobal = adopt(jsc_context_get_global_object(candidate.get()));
        GRef<JSCValue> result = adopt(jsc_value_function_call(same.get(), JSC_TYPE_VALUE, parent.get(), JSC_TYPE_VALUE,
            candidateGlobal.get(), G_TYPE_NONE));
        jsc_context_clear_exception(context);
        if (result && jsc_value_to_boolean(result.get()))
            return tracked.context;
    }
    return 0;
}

// An answer never runs in the document that replaced the one it is for.
DocumentScript FrameTable::context(std::uint64_t pageId, std::uint64_t contextId)
{
    auto it = m_contextFrames.find(contextId);
    auto frame = it == m_contextFrames.end() ? m_frames.end() : m_frames.find(it->second);
    if (frame != m_frames.end() && frame->second.page == pageId && frame->second.context == contextId) {
        auto& tracked = frame->second;
        if (!tracked.script)
            tracked.script = adopt(webkit_frame_get_js_context(tracked.frame));
        return { tracked.script, tracked.script ? &tracked.answerLoop : nullptr };
    }
    if (m_lastDroppedContext != contextId) {
        m_lastDroppedContext = contextId;
        penwick::log::message(penwick::format("penwick web process %@: dropped the answers for a document that is gone (script context %@)",
            getpid(), contextId));
    }
    return {};
}

} // namespace penwick::webext
