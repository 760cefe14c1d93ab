// Window size, full screen and the pointer auto-hide of the real app on a virtual X server,
// with and without a window manager.
#include "e2e/E2E.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace {

const auto capture = AppRunner::capture;
const auto xdotool = AppRunner::xdotool;
const auto waitUntil = AppRunner::waitUntil;

// The outer frame of the app's visible top-level window, decorations included, X coordinates.
struct Frame {
    int x = 0, y = 0, width = 0, height = 0;
    bool titled = false; // a window manager's title bar on top
    bool operator==(const Frame&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Frame& f)
{
    return os << f.width << "x" << f.height << "+" << f.x << "+" << f.y << (f.titled ? " titled" : " untitled");
}

std::ostream& operator<<(std::ostream& os, const std::optional<Frame>& f) { return f ? os << *f : os << "no window"; }

int field(const std::string& text, const std::string& label)
{
    auto at = text.find(label);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + label.size());
}

std::optional<Frame> outerFrame(const AppRunner& app)
{
    std::string id = app.window();
    if (id.empty())
        return std::nullopt;
    std::string info = capture("xwininfo -id " + id);
    Frame f { field(info, "Absolute upper-left X:"), field(info, "Absolute upper-left Y:"), field(info, "Width:"), field(info, "Height:") };
    // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom" when a window manager framed it.
    int l = 0, r = 0, t = 0, b = 0;
    if (std::sscanf(capture("xprop -id " + id + " _NET_FRAME_EXTENTS").c_str(), "%*[^=]= %d, %d, %d, %d", &l, &r, &t, &b) == 4)
        f = { f.x - l, f.y - t, f.width + l + r, f.height + t + b, t > 0 };
    return f;
}

// Waits until the window's outer frame meets `want`; the last frame seen otherwise.
testing::AssertionResult frameBecomes(const AppRunner& app, const std::function<bool(const Frame&)>& want, std::chrono::milliseconds timeout = 30s)
{
    auto amiss = [&] { auto f = outerFrame(app); return f && want(*f) ? Lines {} : Lines { (std::ostringstream() << f).str() }; };
    return settles(app, "the window's frame is", amiss, timeout);
}
testing::AssertionResult frameBecomes(const AppRunner& app, Frame want, std::chrono::milliseconds timeout = 30s)
{
    return frameBecomes(app, [&](const Frame& f) { return f == want; }, timeout) << ", want " << want;
}

// The root's supporting-window property outlives a window manager that is gone; the window it
// names does not.
bool wmRunning() { return !capture("xprop -root _NET_SUPPORTING_WM_CHECK | sed -n 's/.*# //p' | xargs -r xwininfo -id").empty(); }

// Openbox on the test's display for the life of the object.
struct WindowManager {
    WindowManager() : installed(!capture("command -v openbox").empty())
    {
        // Openbox now and then fails to come up on a display another openbox has just left; the
        // window manager is the harness here, not what is tested, so it gets another start.
        for (int attempt = 0; installed && attempt < 3 && !running; ++attempt) {
            openbox.emplace(std::vector<std::string> { "env", "HOME=" + home.path, "XDG_CONFIG_HOME=" + home.path, "openbox", "--sm-disable", "--replace" });
            running = waitUntil(wmRunning, 30s);
        }
    }
    ~WindowManager()
    {
        if (openbox) {
            openbox.reset();
            // The next test must not find this one still there.
            (void)waitUntil([] { return !wmRunning(); }, 3s);
        }
    }
    const bool installed;
    const penwick::test::TempDir home { "penwick-wm-XXXXXX" };
    std::optional<Child> openbox;
    bool running = false;
};

const std::string kPage = "<body style=\"margin:0;background:#234;color:#fff\">display test page</body>";
const std::string kFullScreen = R"(<preference name="WindowSize" value="fullscreen"/>)";
const std::string kFixed = R"(<preference name="WindowSize" value="800x600"/>)";

// Full screen toggles with F11, goes while another application is active and restores the frame
// the layout gave the window; a fixed size is the outer frame, title bar included, and starts with
// its title bar on screen; a window without one comes back where the user left it.
TEST(Display, UnderAWindowManagerFullScreenTogglesAndRestoresTheFrameItLeftAndAWindowComesBackWhereTheUserLeftIt)
{
    WindowManager wm;
    if (!wm.installed)
        GTEST_SKIP() << "openbox is not installed (scripts/deps.sh installs it)";
    ASSERT_TRUE(wm.running) << "openbox did not start";
    const std::string root = capture("xwininfo -root");
    const Frame screen { 0, 0, field(root, "Width:"), field(root, "Height:") }, laidOut { 128, 128, 1024, 768, true };
    {
        AppRunner app;
        app.startPage(kFullScreen, kPage);
        ASSERT_TRUE(lineAppears(app, "Full screen resolution:", 20s));
        ASSERT_TRUE(frameBecomes(app, screen));
        auto f11 = [&](const Frame& want) { return app.press("F11") ? frameBecomes(app, want) : testing::AssertionFailure() << "no F11"; };
        // The first toggle returns to the frame the layout gave the window: 1024x768 in the middle
        // of the screen, now with the window manager's title bar inside it.
        EXPECT_TRUE(f11(laidOut));
        ASSERT_TRUE(f11(screen));
        EXPECT_EQ(app.countLines("Full screen resolution:"), 2) << app.output();

        const std::string id = app.window();
        Child other({ "xmessage", "-geometry", "+100+100", "another application" });
        EXPECT_TRUE(waitUntil([&] { return app.window().empty(); }, 30s)) << "the window stayed in sight";
        // Brought back (task list, window switcher): the whole full-screen rectangle again.
        EXPECT_TRUE(xdotool("windowactivate --sync " + id));
        EXPECT_TRUE(frameBecomes(app, screen));
        EXPECT_TRUE(f11(laidOut));
    }
    // Taller than the frame the layout gave (kept from its bottom edge), the window still starts
    // with its title bar on screen; where the window manager places it is its own choice.
    AppRunner app;
    app.startPage(R"(<preference name="WindowSize" value="900x1000"/>)", kPage);
    ASSERT_TRUE(lineAppears(app, "Set window size to 900.0 x 1000.0", 20s));
    EXPECT_TRUE(frameBecomes(app, [&](const Frame& f) {
        return f.width == 900 && f.height == 1000 && f.titled && f.x >= 0 && f.y >= 0 && f.x + 900 <= screen.width
            && f.y + 1000 <= screen.height;
    }));
    app.kill();
    // A window without a configured size comes back with the size and place the user gave it.
    std::optional<Frame> frame;
    AppRunner first;
    first.startPage("", kPage);
    ASSERT_TRUE(waitUntil([&] { return (frame = outerFrame(first)) && frame->titled; }, 20s)) << first.output();
    ASSERT_TRUE(xdotool("windowsize " + first.window() + " 700 500 windowmove " + first.window() + " 300 200"));
    // Kept in the user defaults, y up, once the window rests.
    const std::string read = "cat " + first.path("config") + "/*/user-defaults.ini";
    auto kept = [&] {
        return "WHWindowFrame=" + std::to_string(frame->x) + " " + std::to_string(screen.height - frame->y - frame->height) + " "
            + std::to_string(frame->width) + " " + std::to_string(frame->height);
    };
    ASSERT_TRUE(waitUntil(
        [&] { return (frame = outerFrame(first)) && frame->width != 1024 && capture(read).find(kept()) != std::string::npos; }, 30s))
        << frame << " not in " << capture(read);
    first.kill();
    first.start();
    EXPECT_TRUE(frameBecomes(first, *frame, 20s));
}

// Xorg with the dummy driver, whose outputs RandR lines up as monitors, which GTK sees as such
// (Xvfb and Xephyr show it one monitor only).
class DummyMonitors {
public:
    DummyMonitors()
    {
        if (access("/usr/lib/xorg/modules/drivers/dummy_drv.so", R_OK) != 0 || capture("command -v Xorg").empty())
            return;
        std::ofstream(m_dir.path + "/xorg.conf") << "Section \"ServerFlags\"\n  Option \"DontVTSwitch\" \"true\"\n  Option \"AutoAddDevices\" \"false\"\nEndSection\n"
                                               "Section \"Device\"\n  Identifier \"d\"\n  Driver \"dummy\"\n  VideoRam 256000\nEndSection\n"
                                               "Section \"Monitor\"\n  Identifier \"m\"\n  HorizSync 5.0-1000.0\n  VertRefresh 5.0-200.0\nEndSection\n"
                                               "Section \"Screen\"\n  Identifier \"s\"\n  Device \"d\"\n  Monitor \"m\"\n  DefaultDepth 24\n"
                                               "  SubSection \"Display\"\n    Depth 24\n    Virtual 2560 1024\n  EndSubSection\nEndSection\n";
        m_xorg.emplace(std::vector<std::string> { "Xorg", "-displayfd", "{fd}", "-config", m_dir.path + "/xorg.conf", "-logfile",
            m_dir.path + "/xorg.log", "-noreset", "-nolisten", "tcp", "-novtswitch", "-sharevts" });
    }
    bool running() const { return m_xorg && m_xorg->running(); }
    // The dummy outputs report their new state only after a probe, which a plain query makes.
    bool xrandr(const std::string& args) const
    {
        return std::system(("xrandr " + args + " >/dev/null 2>&1 && xrandr -q >/dev/null 2>&1").c_str()) == 0;
    }

private:
    penwick::test::TempDir m_dir { "penwick-xorg-XXXXXX" };
    std::optional<OwnDisplay> m_xorg; // goes before its folder
};

// However the desktop says its screen is dense (a window scale, a font resolution alone, both),
// the page gets it once as device pixels and keeps its CSS viewport; a text scale leaves it too.
TEST(Display, TheDesktopsScaleReachesThePageOnceAsDevicePixels)
{
    struct Desktop { const char *name, *resources, *env, *value; double ratio; };
    for (const Desktop& desktop : {
             Desktop { "unscaled", "", "", "", 1 },
             Desktop { "font resolution alone", "Xft.dpi: 192", "", "", 2 },
             Desktop { "window scale", "", "GDK_SCALE", "2", 2 },
             Desktop { "both", "Xft.dpi: 192", "GDK_SCALE", "2", 2 },
             Desktop { "text scale", "", "GDK_DPI_SCALE", "1.5", 1 },
         }) {
        SCOPED_TRACE(desktop.name);
        OwnDisplay screen({ "Xvfb", "-displayfd", "{fd}", "-screen", "0", "2048x1536x24", "-nolisten", "tcp", "-noreset" });
        ASSERT_TRUE(screen.running()) << "Xvfb did not start";
        // An X resource, as a desktop without a settings daemon has it.
        ASSERT_EQ(std::system(("echo '" + std::string(desktop.resources) + "' | xrdb -merge").c_str()), 0);
        AppRunner app;
        if (*desktop.env)
            app.setEnv(desktop.env, desktop.value);
        app.startPage(kFixed, "<body><script>function report() { console.log('viewport ' + innerWidth + ' ' + innerHeight + ' ' "
                              "+ devicePixelRatio) } onload = onresize = report</script></body>");
        int width = 0, height = 0;
        double ratio = 0;
        // Without a window manager the unscaled viewport is the whole 800x600 frame.
        auto settled = [&] {
            return std::sscanf(app.lastAfter("viewport ").value_or("").c_str(), "%d %d %lf", &width, &height, &ratio) == 3
                && ratio == desktop.ratio && std::abs(width - 800) <= 80 && std::abs(height - 600) <= 60;
        };
        EXPECT_TRUE(waitUntil(settled, 30s)) << width << "x" << height << " at " << ratio << "\n" << app.output();
    }
}

TEST(Display, FullScreenSpansTheMonitorsToTheRightOfTheMainOne)
{
    DummyMonitors monitors;
    if (!monitors.running())
        GTEST_SKIP() << "needs Xorg with the dummy driver (xserver-xorg-video-dummy), run as root";
    ASSERT_TRUE(monitors.xrandr("--addmode DUMMY1 1280x1024 --addmode DUMMY1 1280x800"));
    // The main screen is the primary monitor while no window has the focus yet.
    struct Layout { const char *name, *right, *primary; Frame expected; bool windowManager = false; };
    for (const Layout& layout : {
             Layout { "two equal, main on the left", "--mode 1280x1024 --pos 1280x0", "DUMMY0", { 0, 0, 2560, 1024 } },
             Layout { "two equal, main on the right", "--mode 1280x1024 --pos 1280x0", "DUMMY1", { 1280, 0, 1280, 1024 } },
             Layout { "right one with a lower top edge", "--mode 1280x800 --pos 1280x224", "DUMMY0", { 0, 0, 1280, 1024 } },
             // A window manager lets the undecorated window span both monitors too.
             Layout { "two equal, under a window manager", "--mode 1280x1024 --pos 1280x0", "DUMMY0", { 0, 0, 2560, 1024 }, true },
         }) {
        SCOPED_TRACE(layout.name);
        ASSERT_TRUE(monitors.xrandr(std::string("--fb 2560x1024 --output DUMMY0 --mode 1280x1024 --pos 0x0 --output DUMMY1 ") + layout.right
            + " --output " + layout.primary + " --primary"));
        std::optional<WindowManager> wm;
        if (layout.windowManager)
            ASSERT_TRUE(wm.emplace().running);
        AppRunner app;
        app.startPage(kFullScreen, kPage);
        const std::string width = std::to_string(layout.expected.width), height = std::to_string(layout.expected.height);
        EXPECT_TRUE(logged(app, { "Full screen resolution: " + width + ".0 x " + height + ".0" }));
        EXPECT_TRUE(frameBecomes(app, layout.expected));
        std::string motif = capture("xprop -id " + app.window() + " _MOTIF_WM_HINTS");
        EXPECT_NE(motif.find("= 0x2, 0x0, 0x0"), std::string::npos) << motif; // decorations: none
    }
}

// The pointer hides over the app's window only: movement there shows it until the timeout hides
// it again, and over another client's window (xdotool's synthetic movement, which makes no raw
// events) it shows at once.
TEST(Pointer, HidesOverTheAppOnlyAndMovementShowsItAndAFixedSizeIsTheOuterFrameWithoutAWindowManager)
{
    AppRunner app;
    // The window is at 128,296 800x600: 1000,50 is over the other client's window.
    ASSERT_TRUE(xdotool("mousemove 400 400"));
    Child other({ "xmessage", "-geometry", "200x200+900+0", "another application" });
    ASSERT_TRUE(waitUntil([] { return !AppRunner::capture("xdotool search --onlyvisible --name '^xmessage$'").empty(); }, 30s));
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    // Whether X draws a visible cursor image at the pointer.
    auto shown = [&] {
        XFixesCursorImage* image = XFixesGetCursorImage(display);
        const bool visible = image
            && std::any_of(image->pixels, image->pixels + image->width * image->height, [](unsigned long p) { return (p >> 24) != 0; });
        XFree(image);
        return visible;
    };
    app.startPage(kFixed + "<preference name=\"HideMousePointer\" value=\"2\"/>", kPage);
    ASSERT_TRUE(lineAppears(app,
        "pointer: hidden over this application's windows only; movement over other applications from XInput2 raw motion and the pointer's "
        "position",
        20s));
    // Without a window manager a fixed size is the outer frame: laid out as 1024x768 in the middle
    // of the screen, the bottom edge stays and the top moves down.
    ASSERT_TRUE(frameBecomes(app, { 128, 128 + 768 - 600, 800, 600 }, 20s));
    EXPECT_TRUE(waitUntil([&] { return !shown(); }, 30s));
    for (const auto& [move, overTheApp] :
        { std::pair { "mousemove 500 500", true }, { "mousemove 1000 50", false }, { "mousemove 400 400", true } }) {
        SCOPED_TRACE(move);
        ASSERT_TRUE(xdotool(move));
        EXPECT_TRUE(waitUntil(shown, 30s));
        if (overTheApp)
            EXPECT_TRUE(waitUntil([&] { return !shown(); }, 30s));
    }
    XCloseDisplay(display);
}

} // namespace
