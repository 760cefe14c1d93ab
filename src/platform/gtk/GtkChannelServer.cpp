#include "platform/gtk/GtkChannelServer.h"

#include <cerrno>
#include <cstring>
#include <glib-unix.h>
#include <glib/gstdio.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "platform/gtk/GtkChannelConnection.h"
#include "platform/gtk/GtkWebView.h"

namespace penwick::platform {

using channel::FrameKind;

GtkChannelServer& GtkChannelServer::shared()
{
    // Lives until the process ends; shutdown() removes the socket file.
    static auto* s_server = new GtkChannelServer;
    return *s_server;
}

GtkChannelServer::~GtkChannelServer() { shutdown(); }

bool GtkChannelServer::listen()
{
    if (m_listenFd >= 0)
        return true;
    if (m_failed)
        return false;
    m_failed = true;
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
    char token[33];
    for (int i = 0; i < 4; ++i)
        g_snprintf(token + i * 8, 9, "%08x", g_random_int());
    m_token = token;
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
        g_variant_new(channel::kInitDataType, channel::kVersion, m_socketPath.c_str(), m_token.c_str()));
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
        auto connection = std::make_shared<GtkChannelConnection>(fd,
            [this](GtkChannelConnection& c, channel::Frame& frame) {
                // A frame whose JSON has the wrong shape ends that connection, never the host.
                try {
                    handleFrame(c, frame);
                } catch (const nlohmann::json::exception& e) {
                    c.close(format("the web process sent a frame the host cannot read (%@)", e.what()));
                }
            },
            [this](GtkChannelConnection& c, const std::string& why) { connectionClosed(c, why); });
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

void GtkChannelServer::handleFrame(GtkChannelConnection& connection, channel::Frame& frame)
{
    if (!connection.introduced()) {
        nlohmann::json hello = frame.kind == FrameKind::Hello ? nlohmann::json::parse(frame.payload, nullptr, false) : nlohmann::json();
        if (!hello.is_object() || hello.value("token", std::string()) != m_token) {
            connection.close("a process without the host's token tried the page channel");
            return;
        }
        if (hello.value("version", 0u) != channel::kVersion) {
            connection.close(format("the web-process extension speaks channel version %@, the host %@",
                hello.value("version", 0u), channel::kVersion));
            return;
        }
        connection.setIntroduced(hello.value("pid", 0L));
        return;
    }
    GtkWebView* view = viewForPage(frame.page);
    switch (frame.kind) {
    case FrameKind::NewContext: {
        std::uint64_t contextId = 0;
        std::string setup = "{}";
        if (view) {
            contextId = m_nextContextId++;
            setup = view->didCreateScriptContext(connection.shared_from_this(), contextId, frame.payload);
        }
        // Always answered: the web process waits for it.
        connection.send(FrameKind::ContextSetup, frame.page, contextId, setup);
        break;
    }
    case FrameKind::Exec:
        if (view)
            view->execInContext(frame.context, frame.payload);
        // Always answered, whatever the action did: the page waits for it.
        connection.send(FrameKind::ExecDone, frame.page, frame.context, {});
        break;
    case FrameKind::Console:
        if (view)
            view->consoleInContext(frame.context, frame.payload);
        break;
    case FrameKind::EngineConsole:
        if (view)
            view->engineConsoleMessage(frame.payload);
        break;
    default:
        // Frames only the host sends, or a second introduction: ignored.
        break;
    }
}

void GtkChannelServer::connectionClosed(GtkChannelConnection& connection, const std::string& why)
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
        delete static_cast<std::shared_ptr<GtkChannelConnection>*>(p);
        return G_SOURCE_REMOVE;
    }, new std::shared_ptr<GtkChannelConnection>(std::move(keep)), nullptr);
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
