// What the app's pages are granted: the clipboard shared with other X clients, notifications on the
// desktop (and none for a frame of another origin), and an origin-private file system that keeps
// its files across runs.
#include <gtest/gtest.h>

#include <csignal>
#include <gio/gio.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/AppRunner.h"
#include "e2e/Child.h"
#include "e2e/LoopbackServer.h"
#include "e2e/PrivateBus.h"

using penwick::e2e::AppRunner;
using penwick::e2e::Child;
using penwick::e2e::LoopbackServer;
using penwick::e2e::PrivateBus;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

const std::string kPages = std::string(PENWICK_E2E_PAGES) + "/permission/";

// The desktop's notification server on `address`, from a thread of its own: records each Notify
// call as "desktop-entry hint: summary / body", and can click the latest notification.
class RecordingNotifications {
public:
    explicit RecordingNotifications(const std::string& address)
    {
        g_main_context_push_thread_default(m_context);
        m_bus = g_dbus_connection_new_for_address_sync(address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr,
            nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(R"(<node><interface name="org.freedesktop.Notifications">
            <method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/><arg type="s"/><arg type="as"/>
              <arg type="a{sv}"/><arg type="i"/><arg type="u" direction="out"/></method>
            <method name="CloseNotification"><arg type="u"/></method></interface></node>)", nullptr);
        static const GDBusInterfaceVTable vtable = {
            +[](GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* args, GDBusMethodInvocation* call,
                 gpointer data) {
                auto* self = static_cast<RecordingNotifications*>(data);
                if (g_strcmp0(method, "Notify") != 0)
                    return g_dbus_method_invocation_return_value(call, nullptr);
                const char *summary, *body, *entry = "";
                GVariant* hints = g_variant_get_child_value(args, 6);
                g_variant_lookup(hints, "desktop-entry", "&s", &entry);
                g_variant_get_child(args, 3, "&s", &summary);
                g_variant_get_child(args, 4, "&s", &body);
                std::lock_guard lock(self->m_mutex);
                self->m_calls.push_back(std::string(entry) + ": " + summary + " / " + body);
                g_variant_unref(hints);
                g_dbus_method_invocation_return_value(call, g_variant_new("(u)", static_cast<guint32>(self->m_calls.size())));
            },
            nullptr, nullptr, {}
        };
        g_dbus_connection_register_object(m_bus, "/org/freedesktop/Notifications", node->interfaces[0], &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        g_variant_unref(g_dbus_connection_call_sync(m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.Notifications", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        g_main_context_pop_thread_default(m_context);
        m_thread = std::thread([this] { g_main_loop_run(m_loop); });
    }
    ~RecordingNotifications()
    {
        g_main_context_invoke(m_context, +[](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        }, m_loop);
        m_thread.join();
        g_object_unref(m_bus);
        g_main_loop_unref(m_loop);
        g_main_context_unref(m_context);
    }
    Lines calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    // The user clicks the latest notification.
    void click()
    {
        guint32 id = static_cast<guint32>(calls().size());
        g_dbus_connection_emit_signal(m_bus, nullptr, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
            "ActionInvoked", g_variant_new("(us)", id, "default"), nullptr);
        g_dbus_connection_flush_sync(m_bus, nullptr, nullptr);
    }

private:
    mutable std::mutex m_mutex;
    Lines m_calls;
    GMainContext* m_context = g_main_context_new();
    GMainLoop* m_loop = g_main_loop_new(m_context, FALSE);
    GDBusConnection* m_bus = nullptr;
    std::thread m_thread;
};

TEST(Permission, AppContentSharesTheClipboardAndNotifiesTheDesktopWhileAnotherOriginsFrameIsRefused)
{
    PrivateBus bus;
    if (bus.address.empty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    RecordingNotifications desktop(bus.address);
    LoopbackServer server("<!DOCTYPE html><script>Notification.requestPermission().then((a) => "
                          "console.log('the web frame asked for notifications: ' + a));</script>");
    ASSERT_NE(server.port(), 0);
    AppRunner app;
    app.writeResource("copied.txt", "copied in another client");
    // As desktop applications offer text (the engine reads no other target through the clipboard API).
    Child otherClient({ "xclip", "-selection", "clipboard", "-t", "text/plain;charset=utf-8", "-quiet", app.path("resources/copied.txt") });
    if (otherClient.pid < 0)
        GTEST_SKIP() << "xclip is not installed";
    app.writeConfig(AppRunner::widget("<content src=\"asks.html\"/>"));
    app.writeResource("www/asks.html", AppRunner::replaced(AppRunner::readFile(kPages + "asks.html"), "@ORIGIN@", server.origin()));
    app.setEnv("DBUS_SESSION_BUS_ADDRESS", bus.address);
    app.start();

    // The engine refuses the web frame itself, with the line its error makes.
    EXPECT_EQ(app.missingLogLines({ "notification permission: granted", "asked for notifications: granted",
                  "the web frame asked for notifications: denied" }, 40s),
        Lines {}) << app.output();
    EXPECT_EQ(app.missingLogLines({ "geolocation error 1", "denied geolocation to file://" + app.resourcesDir()
                      + "/www/asks.html: the preference AllowGeolocation is not set to true" }),
        Lines {}) << app.output();
    EXPECT_EQ(app.countLines("The Notification permission may only be requested in a browsing context with the same security origin"), 1)
        << app.output();
    ASSERT_TRUE(AppRunner::waitUntil([&] { return !desktop.calls().empty(); }, 20s)) << app.output();
    EXPECT_EQ(desktop.calls(), Lines { std::string(PENWICK_APP_ID) + ": From the app / a body" });
    desktop.click();
    EXPECT_TRUE(app.waitForLine("notification clicked", 20s)) << app.output();

    ASSERT_TRUE(app.onWindow("Penwick", "windowfocus --sync %1 key --clearmodifiers ctrl+v r w")) << app.output();
    EXPECT_EQ(app.missingLogLines({ "pasted: copied in another client", "read: copied in another client", "written: undefined" }, 30s),
        Lines {}) << app.output();
    EXPECT_TRUE(AppRunner::waitUntil(
        [] { return AppRunner::capture("xclip -selection clipboard -o") == "written by the app"; }, 20s));
}

TEST(Permission, AWorkersOriginPrivateFileKeepsItsDataAcrossRuns)
{
    AppRunner app;
    app.writeConfig(AppRunner::widget("<preference name=\"AppOrigin\" value=\"true\"/><content src=\"opfs.html\"/>"));
    for (const char* file : { "opfs.html", "opfs-worker.js" })
        app.writeResource(std::string("www/") + file, AppRunner::readFile(kPages + file));
    app.start();
    // The engine makes no custom-scheme origin cross-origin isolated.
    EXPECT_EQ(app.missingLogLines({ "estimate answers: number, isolated: false", "opfs written" }, 40s), Lines {}) << app.output();
    ::kill(app.pid(), SIGTERM);
    ASSERT_TRUE(app.waitForExit(30s)) << app.output();
    app.start();
    EXPECT_TRUE(app.waitForLine("opfs read: kept across runs", 40s)) << app.output();
    EXPECT_NE(AppRunner::capture("grep -rl 'kept across runs' '" + app.path(std::string("data/") + PENWICK_APP_ID) + "'"), "");
}

} // namespace
