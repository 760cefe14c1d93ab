// The app on a desktop session: one instance per application id (over a private session bus,
// and by a lock without one), quitting on a signal while a dialog is open, and the desktop's
// colour scheme reaching the page live (from a settings portal on the bus, or from GSettings).
#include "e2e/E2E.h"

#include <gio/gunixsocketaddress.h>

namespace {

const std::string kAppPlugin = "<feature name=\"Penwick\"><param name=\"osx-package\" value=\"WHPenwick\"/></feature>";

std::string focusedWindow() { return AppRunner::capture("xdotool getwindowfocus"); }

// The page's colour scheme as the engine gives it, logged when the page starts and when it changes.
const std::string kScheme = "<script>var dark = matchMedia('(prefers-color-scheme: dark)'); console.log('scheme: ' + (dark.matches ? 'dark' : 'light'));"
                            "dark.addEventListener('change', (e) => console.log('scheme changed: ' + (e.matches ? 'dark' : 'light')));</script>";

// On a session bus: a second launch hands over to the running app, whose page follows the
// desktop's settings portal and which outlives the bus.
TEST(Desktop, ASecondLaunchBringsTheRunningWindowForwardAndEndsAndThePageFollowsTheSettingsPortalsColourScheme)
{
    PrivateBus bus;
    if (bus.address.empty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    // The desktop's settings portal, answering the appearance colour scheme (0 none, 1 dark, 2 light).
    // (The app asks the older Read only where ReadOne fails, which it does not here.)
    std::atomic<guint32> scheme = 1;
    BusService portal(bus.address, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
        R"(<node><interface name="org.freedesktop.portal.Settings">
            <method name="ReadOne"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
            <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal></interface></node>)",
        [&](const char*, GVariant*) { return g_variant_new("(v)", g_variant_new_uint32(scheme)); });
    ASSERT_TRUE(portal.ready());
    AppRunner first;
    first.setEnv("DBUS_SESSION_BUS_ADDRESS", bus.address);
    first.startLibraryPage(kAppPlugin, kScheme + "<script>document.onkeydown = () => new Notification('a key');</script>");
    std::string window;
    ASSERT_TRUE(AppRunner::waitUntil([&] { return !(window = first.window()).empty(); }, 30s)) << first.output();
    ASSERT_TRUE(AppRunner::xdotool("windowfocus $(xwininfo -root | sed -n 's/.*Window id: \\(0x[0-9a-f]*\\).*/\\1/p')"));

    AppRunner second;
    second.shareFoldersWith(first);
    second.setEnv("DBUS_SESSION_BUS_ADDRESS", bus.address);
    EXPECT_EQ(second.run({ "--resources", second.resourcesDir() }, 30s), 0) << second.output();
    EXPECT_TRUE(lineAppears(first, "activated again by a second launch, with arguments: --resources " + second.resourcesDir()));
    EXPECT_TRUE(AppRunner::waitUntil([&] { return std::stoul(focusedWindow(), nullptr, 0) == std::stoul(window, nullptr, 0); }, 30s))
        << "focus on " << focusedWindow() << ", the app's window is " << window;
    EXPECT_EQ(AppRunner::capture("xdotool search --all --onlyvisible --name '^Penwick$' | wc -l"), "1\n");
    EXPECT_EQ(first.countLines("resources at "), 1) << first.output();

    EXPECT_TRUE(logged(first, { "dark style, from the settings portal", "scheme: dark" }));
    for (const auto& [to, line] : { std::pair { 2u, "scheme changed: light" }, { 1u, "scheme changed: dark" } }) {
        scheme = to;
        portal.emit("SettingChanged", g_variant_new("(ssv)", "org.freedesktop.appearance", "color-scheme", g_variant_new_uint32(to)));
        EXPECT_TRUE(logged(first, { line }));
    }

    // The bus goes away (the desktop restarts it): the app and its page run on, its lock still keeps
    // a second process off its storage, and a page's notification is left out with a line.
    ::kill(bus.daemon.pid, SIGTERM);
    waitpid(std::exchange(bus.daemon.pid, -1), nullptr, 0);
    // So it does for a process whose runtime folder is not the first's (a login without one): the
    // storage is the same, so is the lock.
    for (bool ownRuntime : { false, true }) {
        AppRunner third;
        third.shareFoldersWith(first);
        if (ownRuntime)
            third.setEnv("XDG_RUNTIME_DIR", third.path("runtime"));
        EXPECT_EQ(third.run({}, 30s), 1) << third.output();
        EXPECT_TRUE(
            counted(third, { { "Penwick is already running (process " + std::to_string(first.pid()) + " holds ", 1 }, { "resources at", 0 } }));
    }
    ASSERT_TRUE(first.press("n"));
    EXPECT_TRUE(lineAppears(first, "a page's notification was not shown: the app is not on a desktop session bus"));
    EXPECT_TRUE(counted(first, { { "ending on a signal", 0 }, { "CRITICAL", 0 }, { "web process crashed", 0 } }));
}

// Without a session bus the page follows the desktop's interface setting. (A second process ends
// at the lock as where the bus has gone, above.)
TEST(Desktop, WithoutASessionBusThePageFollowsTheInterfaceSetting)
{
    AppRunner app;
    const std::string keyfile = app.path("config/glib-2.0/settings/keyfile");
    std::filesystem::create_directories(app.path("config/glib-2.0/settings"));
    auto setScheme = [&](const std::string& value) {
        std::string text = "[org/gnome/desktop/interface]\ncolor-scheme='" + value + "'\n";
        ASSERT_TRUE(g_file_set_contents(keyfile.c_str(), text.c_str(), -1, nullptr));
    };
    setScheme("prefer-dark");
    app.setEnv("GSETTINGS_BACKEND", "keyfile");
    app.startLibraryPage(kAppPlugin, kScheme);
    EXPECT_TRUE(logged(app, { "dark style, from the desktop's interface settings", "scheme: dark" }));
    setScheme("default");
    EXPECT_TRUE(logged(app, { "scheme changed: light" }));
}

// SIGTERM, SIGINT and SIGHUP end the host the normal way also while a dialog (the page's, the save
// dialog) runs its own loop, and so does the window destroyed by another client (signal 0 here),
// and the desktop's close request (-1) even where the page asks again and again; nothing of it
// stays: no socket folder, no web process.
TEST(Desktop, ASignalOrTheWindowDestroyedFromOutsideEndsTheHostWhileADialogIsOpen)
{
    // Gone, or a zombie.
    auto ended = [](pid_t pid) { return AppRunner::capture("ps -o stat= -p " + std::to_string(pid) + " | grep -v Z").empty(); };
    struct Case { int signal; const char *script, *dialog; };
    for (const Case& c : { Case { SIGTERM, "alert('stop?')", "Message" }, Case { SIGINT, "prompt('name?')", "Prompt" },
             Case { SIGHUP, "confirm('sure?')", "Confirm" }, Case { 0, "alert('gone?')", "Message" },
             Case { -1, "while (true) alert('again')", "Message" },
             Case { SIGTERM, "webhost.require('webhost/channel').onNativeReady.subscribe(function () { webhost.require('webhost/app').saveAs('notes', 'txt', 'x'); })", "Save" } }) {
        SCOPED_TRACE(c.script);
        AppRunner app;
        app.startLibraryPage(kAppPlugin,
            std::string("<script>setTimeout(function () { ") + c.script + "; console.log('dialog returned'); }, 0)</script>");
        ASSERT_TRUE(AppRunner::waitUntil([&] { return !app.window(c.dialog).empty(); }, 30s)) << app.output();
        auto webProcesses = app.webProcesses();
        ASSERT_FALSE(webProcesses.empty());
        if (c.signal > 0)
            ::kill(app.pid(), c.signal);
        else if (c.signal == 0)
            ASSERT_TRUE(app.onWindow("Penwick", "windowclose %1"));
        else
            ASSERT_TRUE(AppRunner::waitUntil([&] {
                (void)std::system((std::string(PENWICK_DESKTOP_STAND_IN) + " close " + app.window()).c_str());
                return AppRunner::waitUntil([&] { return ended(app.pid()); }, 3s);
            }, 60s)) << app.output();
        EXPECT_EQ(app.waitForExit(30s), 0) << app.output();
        EXPECT_EQ(app.countLines("CRITICAL"), 0) << app.output();
        EXPECT_TRUE(std::filesystem::is_empty(app.path("tmp"))) << AppRunner::capture("ls -A '" + app.path("tmp") + "'");
        EXPECT_TRUE(AppRunner::waitUntil([&] { return std::all_of(webProcesses.begin(), webProcesses.end(), ended); }, 30s));
    }
}

TEST(Desktop, CtrlWClosesThePopupWhichOpensAgain)
{
    AppRunner app(AppRunner::Binary::TestApp);
    // The popup shows web pages only: stay.html comes from a loopback server.
    LoopbackServer server(AppRunner::page("desktop", "stay.html"));
    app.startPages("desktop", "opener.html", {}, kAppPlugin, { { "@STAY@", server.origin() + "/stay.html" } });
    auto popups = [&](AppRunner::Shown shown) { return app.windowCount("stay", shown); };
    ASSERT_TRUE(AppRunner::waitUntil([&] { return popups(AppRunner::Shown::Only) == 1; }, 30s)) << app.output();
    // One identity: the class taskbars match with the desktop entry is the app id, and the popup
    // belongs to the app's window.
    const std::string mainWindow = AppRunner::capture("printf 0x%x " + app.window("Penwick"));
    EXPECT_EQ(AppRunner::capture("xprop -id " + app.window("stay") + " WM_TRANSIENT_FOR"),
        "WM_TRANSIENT_FOR(WINDOW): window id # " + mainWindow + "\n");
    EXPECT_EQ(AppRunner::capture("xprop -id " + mainWindow + " WM_CLASS"),
        std::string("WM_CLASS(STRING) = \"") + PENWICK_APP_ID + "\", \"" + PENWICK_APP_ID + "\"\n");
    // The popup may be gone before xdotool has let go of ctrl; the count below shows the key came.
    (void)app.press("ctrl+w", "stay");
    EXPECT_TRUE(AppRunner::waitUntil([&] { return popups(AppRunner::Shown::Only) == 0; }, 30s));
    ASSERT_TRUE(app.press("o"));
    EXPECT_TRUE(AppRunner::waitUntil([&] { return popups(AppRunner::Shown::Only) == 1; }, 30s)) << app.output();
    EXPECT_EQ(popups(AppRunner::Shown::OrNot), 1) << "a second window for the second open";
}

} // namespace

// Records reach the journal under the app's id: a stand-in journald's socket is the system's in a
// mount namespace of the app's own, and JOURNAL_STREAM names the app's stderr as a journal stream.
TEST(Desktop, JournalRecordsCarryTheApplicationIdAsSyslogIdentifier)
{
    AppRunner app;
    const std::string journal = app.path("journal"), log = app.path("output.log");
    g_mkdir_with_parents(journal.c_str(), 0700);
    g_autoptr(GSocket) socket = g_socket_new(G_SOCKET_FAMILY_UNIX, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_DEFAULT, nullptr);
    g_autoptr(GSocketAddress) address = g_unix_socket_address_new((journal + "/socket").c_str());
    ASSERT_TRUE(g_socket_bind(socket, address, FALSE, nullptr));
    app.writeConfig("<widget id=\"org.penwick.JournalProbe\"><content src=\"index.html\"/></widget>");
    app.writeResource("www/index.html", "<title>page</title>");
    ASSERT_TRUE(g_file_set_contents(log.c_str(), "", 0, nullptr));
    app.setEnv("JOURNAL_STREAM", AppRunner::capture("stat --printf %d:%i " + log));
    app.setLauncher({ "bwrap", "--dev-bind", "/", "/", "--tmpfs", "/run/systemd", "--bind", journal, "/run/systemd/journal",
        "--die-with-parent", "--" });
    app.start();
    std::string record, all;
    EXPECT_TRUE(AppRunner::waitUntil([&] {
        char buffer[65536];
        for (gssize size; (size = g_socket_receive_with_blocking(socket, buffer, sizeof buffer, FALSE, nullptr, nullptr)) > 0;) {
            all.append(buffer, static_cast<size_t>(size));
            if (std::string_view(buffer, static_cast<size_t>(size)).find("MESSAGE=resources at ") != std::string_view::npos)
                record.assign(buffer, static_cast<size_t>(size));
        }
        return !record.empty();
    }, 30s)) << all << app.output();
    for (const char* field : { "SYSLOG_IDENTIFIER=org.penwick.JournalProbe\n", "GLIB_DOMAIN=penwick\n" })
        EXPECT_NE(record.find(field), std::string::npos) << record;
}
