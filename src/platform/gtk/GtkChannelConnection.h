#pragma once

#include <cstdint>
#include <functional>
#include <glib.h>
#include <memory>
#include <string>
#include <string_view>

#include "channel/ChannelProtocol.h"

namespace penwick::platform {

// The host's end of one web process's channel. It is served from the main loop and never waits:
// reads take what the socket has, writes that the socket cannot take yet are queued and finished
// when it can.
class GtkChannelConnection : public std::enable_shared_from_this<GtkChannelConnection> {
public:
    using FrameHandler = std::function<void(GtkChannelConnection&, channel::Frame&)>;
    using CloseHandler = std::function<void(GtkChannelConnection&, const std::string& why)>;

    // Takes over `fd` (a connected, non-blocking stream socket).
    GtkChannelConnection(int fd, FrameHandler onFrame, CloseHandler onClose);
    ~GtkChannelConnection();
    GtkChannelConnection(const GtkChannelConnection&) = delete;
    GtkChannelConnection& operator=(const GtkChannelConnection&) = delete;

    // Starts serving the socket from the main loop.
    void start();
    void send(channel::FrameKind kind, std::uint64_t page, std::uint64_t context, std::string_view payload);
    // Closes the socket; the close handler runs (once) with `why`.
    void close(const std::string& why);
    bool isOpen() const { return m_fd >= 0; }

    // Set once the peer has introduced itself.
    bool introduced() const { return m_introduced; }
    void setIntroduced(long pid) { m_introduced = true; m_pid = pid; }
    long pid() const { return m_pid; }

private:
    static gboolean onReadable(gint fd, GIOCondition condition, gpointer data);
    static gboolean onWritable(gint fd, GIOCondition condition, gpointer data);
    void flush();

    int m_fd = -1;
    unsigned m_readWatch = 0;
    unsigned m_writeWatch = 0;
    channel::FrameReader m_reader;
    std::string m_out;
    size_t m_outOffset = 0;
    FrameHandler m_onFrame;
    CloseHandler m_onClose;
    bool m_introduced = false;
    bool m_dispatching = false;
    bool m_peerGone = false;
    long m_pid = 0;
};

} // namespace penwick::platform
