// Window size and full screen on a real Wayland compositor (weston, started headless by
// scripts/test.sh), read from the compositor itself: its scene graph places each window's surface
// on the output, its protocol log has the window frame each client declares inside its surface.
#include "e2e/E2E.h"
#include <regex>

namespace {

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Box& b) { return os << b.width << "x" << b.height << "+" << b.x << "+" << b.y; }

// The compositor's protocol log, for the life of the object.
struct ProtocolLog {
    explicit ProtocolLog(std::string path) : path(std::move(path)), debug({ "sh", "-c", "exec weston-debug proto > '" + this->path + "'" }) { }
    // The last window frame (xdg_surface.set_window_geometry: inside the surface) the app declared.
    std::optional<Box> appFrame() const
    {
        std::istringstream lines(AppRunner::readFile(path));
        std::string client;
        std::optional<Box> frame;
        for (std::string line; std::getline(lines, line);) {
            if (line.find(".set_app_id(\"" PENWICK_APP_ID "\")") != std::string::npos)
                client = line.substr(line.find("client "), line.find(" rq ") - line.find("client "));
            auto at = line.find(".set_window_geometry(");
            Box b;
            if (!client.empty() && line.find(client + " rq ") != std::string::npos && at != std::string::npos
                && std::sscanf(line.c_str() + at, ".set_window_geometry(%d, %d, %d, %d)", &b.x, &b.y, &b.width, &b.height) == 4)
                frame = b;
        }
        return frame;
    }
    std::string path;
    Child debug;
};

// The app's window frame on the output (where the compositor's scene graph places its top-level
// surface, plus the frame declared inside it), whether it has the decorations GTK draws (their
// shadows put the frame inside a larger surface), and the output.
struct Placed {
    Box frame;
    bool decorated = false;
    Box output;
};

// How the compositor's scene graph names the app's main window.
const std::string kWindow = "top-level window 'Penwick' of " PENWICK_APP_ID ",";

// Where the scene graph places the first output or view whose line holds `name` (a regular
// expression): the line after it says "position: (x, y) -> (x2, y2)".
std::optional<Box> placeOf(const std::string& sceneGraph, const std::string& name)
{
    std::smatch m;
    if (!std::regex_search(sceneGraph, m, std::regex(name + R"(.*\n\s*position: \((-?\d+), (-?\d+)\) -> \((-?\d+), (-?\d+)\))")))
        return std::nullopt;
    const int x = std::stoi(m[1]), y = std::stoi(m[2]);
    return Box { x, y, std::stoi(m[3]) - x, std::stoi(m[4]) - y };
}

std::optional<Placed> placed(const ProtocolLog& log)
{
    const std::string graph = AppRunner::capture("timeout 5 weston-debug scene-graph");
    const auto output = placeOf(graph, "Output "), surface = placeOf(graph, kWindow);
    auto frame = log.appFrame();
    if (!output || !surface || !frame)
        return std::nullopt;
    return Placed { { surface->x + frame->x, surface->y + frame->y, frame->width, frame->height }, frame->x > 0 || frame->y > 0, *output };
}

bool onOutput(const Placed& p)
{
    return p.frame.x >= p.output.x && p.frame.y >= p.output.y && p.frame.x + p.frame.width <= p.output.x + p.output.width
        && p.frame.y + p.frame.height <= p.output.y + p.output.height;
}

// Waits until the app's window is placed as `want`s; a failure shows where it was last.
testing::AssertionResult becomes(const AppRunner& app, const ProtocolLog& log, const std::function<bool(const Placed&)>& want, const char* what)
{
    return settles(app, ("want " + std::string(what) + ", have:").c_str(), [&] {
        auto p = placed(log);
        return p && want(*p) ? Lines {}
                             : Lines { p ? testing::PrintToString(p->frame) + (p->decorated ? " decorated on " : " undecorated on ")
                                           + testing::PrintToString(p->output) : "no window" };
    }, 30s);
}

const std::string kPage = "<body style=\"margin:0;background:#234\">wayland test page</body>";

class Wayland : public testing::Test {
protected:
    void SetUp() override
    {
        if (!g_getenv("WAYLAND_DISPLAY") || AppRunner::capture("command -v weston-debug").empty())
            GTEST_SKIP() << "needs weston with --debug (scripts/test.sh starts one)";
        ASSERT_FALSE(m_bus.address.empty());
        m_log.emplace(m_app.path("proto.log"));
        // The app's actions are reached over the session bus, as a desktop's menus reach them.
        m_app.setEnv("DBUS_SESSION_BUS_ADDRESS", m_bus.address);
        m_app.setEnv("GDK_BACKEND", "wayland");
    }
    // F11's action, run through the application's exported actions (no input device is needed).
    void toggleFullScreen() const
    {
        // The actions are at the application id as an object path: dots become slashes.
        const std::string object = "/$(echo " PENWICK_APP_ID " | tr . /)";
        EXPECT_EQ(AppRunner::capture("gdbus call --address '" + m_bus.address + "' --dest " PENWICK_APP_ID " --object-path " + object
                      + " --method org.gtk.Actions.Activate fullscreen '[]' '{}' 2>&1"),
            "()\n");
    }

    PrivateBus m_bus;
    AppRunner m_app;
    std::optional<ProtocolLog> m_log;
};

TEST_F(Wayland, FullScreenIsTheCompositorsAndF11RestoresADecoratedFrameOnTheOutput)
{
    m_app.startPage(R"(<preference name="WindowSize" value="fullscreen"/>)", kPage);
    auto coversOutput = [](const Placed& p) { return p.frame == p.output && !p.decorated; };
    EXPECT_TRUE(becomes(m_app, *m_log, coversOutput, "the whole output"));
    toggleFullScreen();
    EXPECT_TRUE(becomes(m_app, *m_log, [](const Placed& p) { return p.decorated && onOutput(p) && !(p.frame == p.output); },
        "a decorated frame on the output"));
    toggleFullScreen();
    EXPECT_TRUE(becomes(m_app, *m_log, coversOutput, "the whole output again"));
    // What Wayland does not let an application do is said once.
    EXPECT_TRUE(counted(m_app, { { "window level: Wayland lets no application keep its window above others", 1 },
        { "hiding while another application is active: on Wayland", 1 } }));
}

TEST_F(Wayland, AFixedSizeIsTheOuterFrameTitleBarIncludedAsOnX11AndThePointerHidesOverTheApp)
{
    m_app.startPage(R"(<preference name="WindowSize" value="800x600"/><preference name="HideMousePointer" value="2"/>)", kPage);
    EXPECT_TRUE(becomes(m_app, *m_log, [](const Placed& p) { return p.decorated && p.frame.width == 800 && p.frame.height == 600 && onOutput(p); },
        "a decorated 800x600 frame on the output"));
    // The pointer hides over the app's own windows, what Wayland allows.
    EXPECT_TRUE(lineAppears(m_app, "pointer: hidden over this application's windows only; movement over other applications is not seen"));
}

// A compositor that sizes every window itself (weston's kiosk shell, as tiling compositors do)
// keeps its size; the app says so once.
TEST_F(Wayland, ACompositorThatSizesWindowsItselfGetsOneLine)
{
    const std::string runtime = m_app.path("runtime");
    Child kiosk({ "env", "XDG_RUNTIME_DIR=" + runtime, "weston", "--backend=headless-backend.so", "--shell=kiosk-shell.so",
        "--socket=kiosk", "--width=1280", "--height=1024", "--idle-time=0" });
    ASSERT_TRUE(AppRunner::waitUntil([&] { return std::filesystem::exists(runtime + "/kiosk"); }, 30s));
    m_app.setEnv("WAYLAND_DISPLAY", "kiosk");
    m_app.startPage(R"(<preference name="WindowSize" value="800x600"/>)", kPage);
    EXPECT_TRUE(lineAppears(m_app, "window size: the compositor keeps the window at 1280x1024, not the 800x600 asked for (a tiling compositor sizes windows itself)", 60s));
    m_app.kill();
}

// Runs `command` in `folder` against the weston whose socket "seat" is in `runtime`.
std::string onWeston(const std::string& runtime, const std::string& folder, const std::string& command)
{
    return AppRunner::capture("cd '" + folder + "' && XDG_RUNTIME_DIR='" + runtime + "' WAYLAND_DISPLAY=seat timeout 10 " + command + " 2>/dev/null");
}

// A dialog over a full-screen window is shown above it and the keyboard answers it. Weston raises a
// new window above a full-screen one when it activates it for a seat: its X11 back end on the
// test's display has one, with the keyboard xdotool drives (the headless one has none).
TEST(WestonWithASeat, AnAlertOverFullScreenIsShownAboveTheWindowAndReturnAnswersIt)
{
    if (!g_getenv("DISPLAY") || AppRunner::capture("command -v weston-screenshooter").empty())
        GTEST_SKIP() << "needs weston with its X11 back end and an X display";
    AppRunner app;
    const std::string runtime = app.path("runtime");
    Child weston({ "env", "XDG_RUNTIME_DIR=" + runtime, "weston", "--backend=x11-backend.so", "--use-pixman", "--socket=seat", "--debug",
        "--width=1024", "--height=768", "--idle-time=0" });
    ASSERT_TRUE(AppRunner::waitUntil([&] { return std::filesystem::exists(runtime + "/seat"); }, 30s));
    app.setEnv("WAYLAND_DISPLAY", "seat");
    app.setEnv("GDK_BACKEND", "wayland");
    app.startPage(R"(<preference name="WindowSize" value="fullscreen"/>)",
        "<body style=\"margin:0;background:#234\" onload=\"console.log('page ready')\" onkeydown=\"if (event.key == 'a') "
        "{ console.log('alerting'); alert('over full screen'); console.log('answered') }\"></body>");
    // Where the scene graph (top first) names the app's window once it is full screen, and its dialog.
    auto views = [&] {
        const std::string graph = onWeston(runtime, runtime, "weston-debug scene-graph");
        const bool fullScreen = placeOf(graph, kWindow) == Box { 0, 0, 1024, 768 };
        return std::pair { fullScreen ? graph.find(kWindow) : std::string::npos,
            graph.find("top-level window 'Message' of " PENWICK_APP_ID ",") };
    };
    ASSERT_TRUE(AppRunner::waitUntil([&] { return views().first != std::string::npos && app.hasLogLine("page ready"); }, 60s))
        << app.output();
    const std::string before = app.path("before"), during = app.path("during");
    ASSERT_EQ(std::system(("mkdir '" + before + "' '" + during + "'").c_str()), 0);
    onWeston(runtime, before, "weston-screenshooter");
    ASSERT_FALSE(AppRunner::capture("ls '" + before + "'").empty()) << "weston took no screenshot";
    // Keys reach the page once weston has given its window the keyboard: each try gives weston's
    // own window the X focus again and clicks the app's, which makes weston activate it.
    const std::string click = "search --class weston windowfocus --sync %1 mousemove --window %1 512 384 click 1 key a";
    ASSERT_TRUE(retried(app, [&] { (void)AppRunner::xdotool(click); }, "alerting", 60s, 1s));
    std::pair<std::size_t, std::size_t> seen;
    EXPECT_TRUE(AppRunner::waitUntil([&] { return (seen = views()).first != std::string::npos && seen.second < seen.first; }, 30s))
        << "window at " << seen.first << ", dialog at " << seen.second;
    onWeston(runtime, during, "weston-screenshooter");
    auto image = [](const std::string& folder) { return AppRunner::capture("cat '" + folder + "'/*.png | md5sum"); };
    EXPECT_NE(image(before), image(during));
    ASSERT_TRUE(AppRunner::xdotool("key Return"));
    EXPECT_TRUE(lineAppears(app, "answered"));
}

} // namespace
