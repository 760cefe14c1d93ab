#pragma once

#include <functional>
#include <gio/gio.h>
#include <string>
#include <thread>

#include "e2e/Child.h"

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
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
        static const GDBusInterfaceVTable vtable = {
            +[](GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* args, GDBusMethodInvocation* call,
                 gpointer self) { g_dbus_method_invocation_return_value(call, static_cast<BusService*>(self)->m_onCall(method, args)); },
            nullptr, nullptr, {}
        };
        m_interface = node ? node->interfaces[0]->name : "";
        bool served = m_bus && node && g_dbus_connection_register_object(m_bus, path, node->interfaces[0], &vtable, this, nullptr, nullptr) > 0;
        if (node)
            g_dbus_node_info_unref(node);
        GVariant* owned = served ? g_dbus_connection_call_sync(m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", name, 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr) : nullptr;
        if ((m_ready = owned))
            g_variant_unref(owned);
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
        if (m_bus)
            g_object_unref(m_bus);
        g_main_loop_unref(m_loop);
        g_main_context_unref(m_context);
    }
    BusService(const BusService&) = delete;
    BusService& operator=(const BusService&) = delete;

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

} // namespace penwick::e2e
