// The demo application as shipped: it fits its window at two sizes with every card filled, its
// screenshots are the ones README shows, and it signs in through the popup with its own page.
#include "e2e/E2E.h"
#include <gdk-pixbuf/gdk-pixbuf.h>

namespace {

namespace fs = std::filesystem;
const fs::path kSource = PENWICK_SOURCE_DIR;

// The demo's config.xml and www/ in the app's resources, its window `size` ("1024x768").
void copyDemo(const AppRunner& app, const std::string& size)
{
    for (const auto& entry : fs::recursive_directory_iterator(kSource / "www"))
        if (entry.is_regular_file())
            app.writeResource(fs::relative(entry.path(), kSource).string(), AppRunner::readFile(entry.path().string()));
    app.writeConfig(AppRunner::replaced(AppRunner::readFile(kSource / "config.xml"), "\"1024x768\"", "\"" + size + "\""));
}

// The text of the element with `id` up to its first child element.
std::string textOf(const std::string& html, const std::string& id)
{
    auto at = html.find("id=\"" + id + "\"");
    auto start = at == std::string::npos ? at : html.find('>', at);
    return start == std::string::npos ? "(no #" + id + ")" : html.substr(start + 1, html.find('<', start) - start - 1);
}

TEST(Demo, FitsItsWindowWithEveryCardFilledAndSignsInThroughItsPopup)
{
    for (const auto& [width, height] : { std::pair { 1024u, 768u }, { 1440u, 900u } }) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        SCOPED_TRACE(size);
        AppRunner app;
        copyDemo(app, size);
        const std::string png = app.path("demo.png"), dom = app.path("demo.html");
        ASSERT_EQ(app.run({ "--screenshot", png, "--dump-dom", dom, "--capture-timeout", "60" }, 120s), 0) << app.output();

        // No scroll bar, no card cut short.
        EXPECT_TRUE(app.hasLogLine("demo: ready in " + size + ", scroll size " + size + ", cut cards: none")) << app.output();
        const std::string html = AppRunner::readFile(dom);
        // The first run made its files and shows them from the persistent file system.
        EXPECT_TRUE(textOf(html, "notes-status").starts_with("Saved ")) << textOf(html, "notes-status");
        EXPECT_EQ(textOf(html, "notes-files"), "chime.wav, notes.txt, picture.png");
        EXPECT_TRUE(textOf(html, "media-picture-url").starts_with("whfile://localhost/persistent/picture.png · 192×192, ")) << html;
        EXPECT_EQ(textOf(html, "media-sound-info"), "whfile://localhost/persistent/chime.wav · 0.9 s");
        EXPECT_NE(html.find("<dt>System</dt><dd>"), std::string::npos) << textOf(html, "device-facts");
        EXPECT_EQ(textOf(html, "worker-primes"), "78,498");
        EXPECT_TRUE(textOf(html, "scene-status").starts_with("A torus of 4096 triangles")) << textOf(html, "scene-status");

        // A picture of the whole window; a blank one would compress to a few kilobytes.
        int shotWidth = 0, shotHeight = 0;
        GdkPixbufFormat* format = gdk_pixbuf_get_file_info(png.c_str(), &shotWidth, &shotHeight);
        g_autofree char* type = format ? gdk_pixbuf_format_get_name(format) : nullptr;
        EXPECT_STREQ(type, "png");
        EXPECT_EQ(std::pair(shotWidth, shotHeight), std::pair(int(width), int(height)));
        EXPECT_GT(AppRunner::readFile(png).size(), 40'000u);
        if (std::getenv("PENWICK_UPDATE_SCREENSHOTS"))
            fs::copy_file(png, kSource / "docs/images" / ("demo-" + size + ".png"), fs::copy_options::overwrite_existing);
    }

    // The demo's sign-in page over http in the popup: its Sign in goes to the landing address,
    // which the host hands to the demo's page.
    AppRunner app;
    copyDemo(app, "1024x768");
    LoopbackServer login(AppRunner::replaced(AppRunner::readFile(kSource / "www/login.html"),
        "https://www.penwick.example/bdsocial/desktop.html", PENWICK_LOGIN_LANDING_URL));
    app.writeResource("www/js/settings.mjs", AppRunner::replaced(AppRunner::readFile(kSource / "www/js/settings.mjs"),
        "http://127.0.0.1:8000/login.html", login.origin() + "/login.html"));
    // Its Sign in button pressed once the cards are filled.
    app.writeResource("www/index.html", AppRunner::replaced(AppRunner::readFile(kSource / "www/index.html"), "</body>",
        "<script>addEventListener('load', () => window.penwickCaptureReady.then(() => document.getElementById('login-open').click()));"
        "</script></body>"));
    app.start();
    // A click gives the page the keyboard; Tab reaches the name, Return signs in. Keys that came
    // before the page took the keyboard (or a window that went while xdotool searched) call for
    // another try.
    EXPECT_TRUE(retried(
        app, [&] { (void)app.onWindow("Sign in", "mousemove --window %1 5 5 click 1 key --clearmodifiers Tab Return"); },
        "demo: signed in as Ann", 90s, 3s));
}

} // namespace
