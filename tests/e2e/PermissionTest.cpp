// What the app's pages are granted: the clipboard shared with other X clients, notifications on the
// desktop (and none for a frame of another origin), and an origin-private file system that keeps
// its files across runs.
#include "e2e/E2E.h"

#include <mutex>

TEST(Permission, AppContentSharesTheClipboardAndNotifiesTheDesktopWhileAnotherOriginsFrameIsRefused)
{
    PrivateBus bus;
    if (bus.address.empty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    // The desktop's notification server: records each Notify call as "desktop-entry hint: summary / body".
    std::mutex mutex;
    Lines calls;
    BusService desktop(bus.address, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
        R"(<node><interface name="org.freedesktop.Notifications">
            <method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/><arg type="s"/><arg type="as"/>
              <arg type="a{sv}"/><arg type="i"/><arg type="u" direction="out"/></method>
            <method name="CloseNotification"><arg type="u"/></method>
            <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal></interface></node>)",
        [&](const char* method, GVariant* args) -> GVariant* {
            if (g_strcmp0(method, "Notify") != 0)
                return nullptr;
            const char *summary, *body, *entry = "";
            g_autoptr(GVariant) hints = g_variant_get_child_value(args, 6);
            g_variant_lookup(hints, "desktop-entry", "&s", &entry);
            g_variant_get_child(args, 3, "&s", &summary);
            g_variant_get_child(args, 4, "&s", &body);
            std::lock_guard lock(mutex);
            calls.push_back(std::string(entry) + ": " + summary + " / " + body);
            return g_variant_new("(u)", static_cast<guint32>(calls.size()));
        });
    auto notified = [&] {
        std::lock_guard lock(mutex);
        return calls;
    };
    // A click in the frame reads the clipboard through script and locks the pointer, which only the app may.
    LoopbackServer server("<!DOCTYPE html><script>Notification.requestPermission().then((a) => "
                          "console.log('the web frame asked for notifications: ' + a));"
                          "document.onpointerlockchange = () => console.log('the web frame locked the pointer');"
                          "document.onpointerlockerror = () => console.log('the web frame may not lock the pointer');"
                          "onclick = () => { document.body.requestPointerLock(); console.log('the web frame pasted: ' + document.execCommand('paste'));"
                          "navigator.clipboard.readText().then((t) => console.log('the web frame read: ' + t),"
                          "(e) => console.log('the web frame could not read: ' + e.name));"
                          "navigator.clipboard.writeText('from the web frame').catch((e) => console.log('the web frame could not write: ' + e.name)); };</script>");
    AppRunner app;
    app.writeResource("copied.txt", "copied in another client");
    // As desktop applications offer text (the engine reads no other target through the clipboard API).
    Child otherClient({ "xclip", "-selection", "clipboard", "-t", "text/plain;charset=utf-8", "-quiet", app.path("resources/copied.txt") });
    if (otherClient.pid < 0)
        GTEST_SKIP() << "xclip is not installed";
    app.setEnv("DBUS_SESSION_BUS_ADDRESS", bus.address);
    app.startPages("permission", "asks.html", {}, {}, { { "@ORIGIN@", server.origin() } });

    // The engine refuses the web frame itself, with the line its error makes.
    EXPECT_TRUE(logged(app, { "notification permission: granted", "asked for notifications: granted",
                  "the web frame asked for notifications: denied" }, 40s));
    EXPECT_TRUE(logged(app, { "geolocation error 1", "denied geolocation to file://" + app.resourcesDir()
                      + "/www/asks.html: the preference AllowGeolocation is not set to true" }));
    EXPECT_EQ(app.countLines("The Notification permission may only be requested in a browsing context with the same security origin"), 1)
        << app.output();
    ASSERT_TRUE(AppRunner::waitUntil([&] { return !notified().empty(); }, 20s)) << app.output();
    EXPECT_EQ(notified(), Lines { std::string(PENWICK_APP_ID) + ": From the app / a body" });
    // The user clicks the notification.
    desktop.emit("ActionInvoked", g_variant_new("(us)", 1u, "default"));
    EXPECT_TRUE(lineAppears(app, "notification clicked", 20s));

    ASSERT_TRUE(app.press("ctrl+v r w")) << app.output();
    EXPECT_TRUE(logged(app, { "pasted: copied in another client", "read: copied in another client", "written: undefined" }, 30s));
    EXPECT_TRUE(AppRunner::waitUntil(
        [] { return AppRunner::capture("xclip -selection clipboard -o") == "written by the app"; }, 20s));
    ASSERT_TRUE(app.onWindow("Penwick", "mousemove --window %1 200 250 click 1"));
    EXPECT_TRUE(logged(app, { "the web frame pasted: false", "the web frame could not read: NotAllowedError",
        "the web frame could not write: NotAllowedError", "the web frame may not lock the pointer" }));
    EXPECT_EQ(AppRunner::capture("xclip -selection clipboard -o"), "written by the app");
    EXPECT_EQ(app.countLines("the web frame read:") + app.countLines("the web frame locked"), 0) << app.output();
}

TEST(Permission, AWorkersOriginPrivateFileKeepsItsDataAcrossRuns)
{
    AppRunner app;
    app.startPages("permission", "opfs.html", { "opfs-worker.js" }, "<preference name=\"AppOrigin\" value=\"true\"/>");
    // The engine makes no custom-scheme origin cross-origin isolated.
    EXPECT_TRUE(logged(app, { "estimate answers: number, isolated: false", "opfs written" }, 40s));
    ::kill(app.pid(), SIGTERM);
    ASSERT_TRUE(app.waitForExit(30s)) << app.output();
    // The engine's temporary copy of the file went with the host, and so did the host's folder.
    EXPECT_EQ(AppRunner::capture("ls -A '" + app.path("tmp") + "'"), "");
    app.start();
    // Should the file be lost, what the engine kept says where.
    EXPECT_TRUE(lineAppears(app, "opfs read: kept across runs", 40s))
        << AppRunner::capture("cd '" + app.path("data") + "' && find . -type f -exec ls -l --time-style=+%T.%N {} +");
    EXPECT_NE(AppRunner::capture("grep -rl 'kept across runs' '" + app.path(std::string("data/") + PENWICK_APP_ID) + "'"), "");
}
