#include "platform/gtk/GtkChannelServer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <glib-unix.h>
#include <glib/gstdio.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "channel/ChannelMessages.h"
#include "platform/gtk/GtkWebView.h"

namespace penwick::platform {

using channel::ChannelConnection;
using channel::FrameKind;

namespace {

// 128 bits from the kernel's cryptographic source, as hex.
Result<std::string> randomToken()
{
    unsigned char bytes[16];
    std::size_t done = 0;
    while (done < sizeof bytes) {
        ssize_t n = getrandom(bytes + done, sizeof bytes - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Error { errno, std::strerror(errno) };
        done += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

} // namespace

GtkChannelServer& GtkChannelServer::shared()
{
    // Lives until the process ends; shutdown() removes the socket file.
    static auto* s_server = new GtkChannelServer;
    return *s_server;
}

GtkChannelServer::~GtkChannelServer() { shutdown(); }

void GtkChannelServer::setMaxPayloadForTesting(std::size_t limit)
{
    m_maxPayload = std::clamp<std::size_t>(limit, 1024, channel::kMaxPayload);
}

bool GtkChannelServer::listen()
{
    if (m_listenFd >= 0)
        return true;
    if (m_failed)
        return false;
    m_failed = true;
    auto token = randomToken();
    if (!token) {
        log::warning(format("cannot make the page channel's token: %@; pages get no bridge", token.error().message));
        return false;
    }
    GUnique<GError> error;
    GUnique<char> dir(g_dir_make_tmp("penwick-XXXXXX", &error.outPtr()));
    if (!dir) {
        log::warning(format("cannot create the folder for the page channel: %@; pages get no bridge", toError(error).message));
        return false;
    }
    m_directory = dir.get();
    m_socketPath = m_directory + "/bridge";
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (m_socketPath.size() >= sizeof address.sun_path) {
        log::warning(format("the page channel's path %@ is too long; pages get no bridge", m_socketPath));
        return false;
    }
    std::memcpy(address.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        log::warning(format("cannot open the page channel at %@: %@; pages get no bridge", m_socketPath, std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_listenFd = fd;
    // Only this user can reach the folder; the token guards against a stale or foreign peer too.
    m_token = std::move(*token);
    m_listenWatch = g_unix_fd_add(m_listenFd, G_IO_IN,
        +[](gint, GIOCondition, gpointer data) -> gboolean {
            static_cast<GtkChannelServer*>(data)->accept();
            return G_SOURCE_CONTINUE;
        },
        this);
    m_failed = false;
    return true;
}

bool GtkChannelServer::attach(WebKitWebContext* context, const std::string& extensionDirectory)
{
    if (!listen())
        return false;
    webkit_web_context_set_web_extensions_directory(context, extensionDirectory.c_str());
    webkit_web_context_set_web_extensions_initialization_user_data(context,
        g_variant_new(channel::kInitDataType, channel::kVersion, m_socketPath.c_str(), m_token.c_str(),
            static_cast<guint32>(m_maxPayload)));
    // A sandboxed web process must still reach the socket. (Only then: the engine's call reads the
    // home folder and fails when there is none.)
    if (webkit_web_context_get_sandbox_enabled(context))
        webkit_web_context_add_path_to_sandbox(context, m_directory.c_str(), FALSE);
    return true;
}

void GtkChannelServer::accept()
{
    for (;;) {
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        // Large answers cross in fewer turns of both processes (the system caps the size).
        int sendBuffer = 4 << 20;
        (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        auto connection = std::make_shared<ChannelConnection>(fd,
            [this](ChannelConnection& c, channel::Frame& frame) { handleFrame(c, frame); },
            [this](ChannelConnection& c, const std::string& why) { connectionClosed(c, why); });
        connection->setMaxPayload(m_maxPayload);
        m_connections[connection.get()] = connection;
        connection->start();
    }
}

GtkWebView* GtkChannelServer::viewForPage(std::uint64_t page) const
{
    for (GtkWebView* view : m_views) {
        if (view->pageId() == page)
            return view;
    }
    return nullptr;
}

void GtkChannelServer::introduce(ChannelConnection& connection, const channel::Frame& frame)
{
    if (frame.kind != FrameKind::Hello) {
        connection.close("a process without the host's token tried the page channel");
        return;
    }
    auto hello = channel::decode<channel::Hello>(frame.payload);
    if (!hello) {
        connection.close(format("the web process sent a frame the host cannot read (%@)", hello.error().message));
        return;
    }
    if (hello->token != m_token) {
        connection.close("a process without the host's token tried the page channel");
        return;
    }
    if (hello->version != channel::kVersion) {
        connection.close(format("the web-process extension speaks channel version %@, the host %@", hello->version, channel::kVersion));
        return;
    }
    connection.setIntroduced(static_cast<long>(hello->pid));
}

void GtkChannelServer::handleFrame(ChannelConnection& connection, channel::Frame& frame)
{
    if (!connection.introduced()) {
        introduce(connection, frame);
        return;
    }
    // Every payload of the wrong shape ends up here, with one line; a frame the web process waits
    // on is still answered.
    auto refused = [&](const Error& error) {
        log::warning(format("ERROR: web process %@ sent a frame the host cannot read (%@); it was dropped.", connection.pid(),
            error.message));
    };
    GtkWebView* view = viewForPage(frame.page);
    switch (frame.kind) {
    case FrameKind::NewContext: {
        std::uint64_t contextId = 0;
        channel::ContextSetup setup;
        auto notice = channel::decode<channel::NewContext>(frame.payload);
        if (!notice) {
            refused(notice.error());
        } else if (view) {
            contextId = m_nextContextId++;
            setup = view->didCreateScriptContext(connection.shared_from_this(), contextId, *notice);
        }
        // Always answered: the web process waits for it.
        if (auto sent = connection.send(FrameKind::ContextSetup, frame.page, contextId, channel::encode(setup)); !sent) {
            log::warning(format("ERROR: %@; the frame gets no bridge.", sent.error().message));
            (void)connection.send(FrameKind::ContextSetup, frame.page, 0, channel::encode(channel::ContextSetup {}));
        }
        break;
    }
    case FrameKind::Exec: {
        auto call = channel::decode<channel::ExecCall>(frame.payload);
        if (!call)
            refused(call.error());
        else if (view)
            view->execInContext(frame.context, std::move(*call));
        // Always answered, whatever the action did: the page waits for it.
        (void)connection.send(FrameKind::ExecDone, frame.page, frame.context, {});
        break;
    }
    case FrameKind::ExecTooLarge: {
        auto call = channel::decode<channel::ExecTooLarge>(frame.payload);
        if (!call)
            refused(call.error());
        else if (view)
            view->execTooLarge(frame.context, *call, connection.maxPayload());
        (void)connection.send(FrameKind::ExecDone, frame.page, frame.context, {});
        break;
    }
    case FrameKind::Console:
        if (auto call = channel::decode<channel::ConsoleCall>(frame.payload); !call)
            refused(call.error());
        else if (view)
            view->consoleInContext(frame.context, std::move(*call));
        break;
    case FrameKind::EngineConsole:
        if (auto message = channel::decode<channel::EngineConsole>(frame.payload); !message)
            refused(message.error());
        else if (view)
            view->engineConsoleMessage(*message);
        break;
    case FrameKind::FrameGone:
        if (auto gone = channel::decode<channel::FrameGone>(frame.payload); !gone)
            refused(gone.error());
        else if (view)
            view->frameGone(gone->frame);
        break;
    default:
        // Frames only the host sends, or a second introduction: ignored.
        break;
    }
}

void GtkChannelServer::connectionClosed(ChannelConnection& connection, const std::string& why)
{
    auto it = m_connections.find(&connection);
    if (it == m_connections.end())
        return;
    // Keep the object alive until its own handler has unwound.
    auto keep = it->second;
    m_connections.erase(it);
    bool hadPages = false;
    for (GtkWebView* view : m_views)
        hadPages |= view->connectionClosed(connection);
    if (!connection.introduced() && !why.empty())
        log::warning(format("refused a connection to the page channel: %@", why));
    else if (hadPages && !why.empty())
        log::warning(format("page channel of web process %@ closed: %@", connection.pid(), why));
    g_idle_add_full(G_PRIORITY_DEFAULT, +[](gpointer p) -> gboolean {
        delete static_cast<std::shared_ptr<ChannelConnection>*>(p);
        return G_SOURCE_REMOVE;
    }, new std::shared_ptr<ChannelConnection>(std::move(keep)), nullptr);
}

void GtkChannelServer::shutdown()
{
    if (m_listenWatch)
        g_source_remove(m_listenWatch);
    m_listenWatch = 0;
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    m_listenFd = -1;
    if (!m_socketPath.empty())
        g_unlink(m_socketPath.c_str());
    if (!m_directory.empty())
        g_rmdir(m_directory.c_str());
    m_socketPath.clear();
    m_directory.clear();
}

} // namespace penwick::platform
