#pragma once

// Services a test runs beside the app: a session bus with desktop services on it, and a web server.
#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <gio/gio.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

#include "e2e/XServer.h"

namespace penwick::e2e {

// A session bus of the test's own, for the life of the object; no address when it did not start.
struct PrivateBus {
    Child daemon { { "dbus-daemon", "--session", "--nofork", "--print-address={fd}" } };
    // The daemon prints its address once it listens.
    const std::string address = daemon.firstLine();
};

// A desktop service on the bus at `address`, answering from a thread of its own: the object at
// `path` with the one interface of `xml`, under the well-known `name`. `onCall` answers a method
// call with its reply (nullptr: an empty one).
class BusService {
public:
    using Handler = std::function<GVariant*(const char* method, GVariant* args)>;
    BusService(const std::string& address, const char* name, const char* path, const char* xml, Handler onCall)
        : m_path(path), m_onCall(std::move(onCall))
    {
        // Calls reach the object in the main context that is the thread default where it is registered.
        g_main_context_push_thread_default(m_context);
        m_bus = g_dbus_connection_new_for_address_sync(address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr,
            nullptr, nullptr);
        g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(xml, nullptr);
        static const GDBusInterfaceVTable vtable = {
            +[](GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* args, GDBusMethodInvocation* call,
                 gpointer self) { g_dbus_method_invocation_return_value(call, static_cast<BusService*>(self)->m_onCall(method, args)); },
            nullptr, nullptr, {}
        };
        m_interface = node ? node->interfaces[0]->name : "";
        bool served = m_bus && node && g_dbus_connection_register_object(m_bus, path, node->interfaces[0], &vtable, this, nullptr, nullptr) > 0;
        g_autoptr(GVariant) owned = served
            ? g_dbus_connection_call_sync(m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                g_variant_new("(su)", name, 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr)
            : nullptr;
        m_ready = owned;
        g_main_context_pop_thread_default(m_context);
        m_thread = std::thread([this] { g_main_loop_run(m_loop); });
    }
    ~BusService()
    {
        g_main_context_invoke(m_context, +[](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        }, m_loop);
        m_thread.join();
        g_clear_object(&m_bus);
        g_main_loop_unref(m_loop);
        g_main_context_unref(m_context);
    }

    bool ready() const { return m_ready; }
    // Emits a signal of the object's interface and waits until the bus has it.
    void emit(const char* signal, GVariant* args)
    {
        g_dbus_connection_emit_signal(m_bus, nullptr, m_path.c_str(), m_interface.c_str(), signal, args, nullptr);
        g_dbus_connection_flush_sync(m_bus, nullptr, nullptr);
    }

private:
    std::string m_path, m_interface;
    Handler m_onCall;
    GMainContext* m_context = g_main_context_new();
    GMainLoop* m_loop = g_main_loop_new(m_context, FALSE);
    GDBusConnection* m_bus = nullptr;
    std::thread m_thread;
    bool m_ready = false;
};

// A tiny HTTP server on 127.0.0.1 (an ephemeral port, loopback only) that answers every GET
// request with the one HTML page it was given, but a GET of "/to/URL" with 302 Found to URL. One
// request per connection.
class LoopbackServer {
public:
    explicit LoopbackServer(const std::string& page)
        : m_page("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(page.size())
            + "\r\nConnection: close\r\n\r\n" + page)
    {
        sockaddr_in address { .sin_family = AF_INET, .sin_port = 0, .sin_addr = { htonl(INADDR_LOOPBACK) }, .sin_zero = {} };
        socklen_t length = sizeof address;
        // The test fails at once, not later on a page that never came.
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(m_fd, 16) != 0
            || getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            close(m_fd);
            throw std::runtime_error("the loopback server cannot listen");
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        m_stopping = true;
        shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        close(m_fd);
    }

    std::string origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    void serve()
    {
        for (int client; !m_stopping && (client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; close(client)) {
            std::string request;
            char buffer[4096];
            for (ssize_t n; request.find("\r\n\r\n") == std::string::npos && (n = read(client, buffer, sizeof buffer)) > 0;)
                request.append(buffer, static_cast<size_t>(n));
            std::string response = m_page;
            if (request.starts_with("GET /to/"))
                response = "HTTP/1.1 302 Found\r\nLocation: " + request.substr(8, request.find(' ', 8) - 8)
                    + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            // A blocking send of a small page writes it whole.
            (void)send(client, response.data(), response.size(), MSG_NOSIGNAL);
        }
    }

    const std::string m_page;
    int m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int m_port = 0;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
};

} // namespace penwick::e2e
