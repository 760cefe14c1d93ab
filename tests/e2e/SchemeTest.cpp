// whfile URLs loaded by the engine: markup, fetch with its headers, byte ranges, and pages served
// from the file system itself.
#include <chrono>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

const std::string kPages = std::string(PENWICK_E2E_PAGES) + "/file/";

void writePng(const std::string& path, int width, int height)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    gdk_pixbuf_fill(pixbuf, 0x3366ccff);
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr));
    g_object_unref(pixbuf);
}

// A mono 16-bit PCM WAV of `seconds` of silence at 8 kHz.
std::string wav(int seconds)
{
    auto le = [](std::uint32_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        return out;
    };
    const std::uint32_t rate = 8000, data = rate * 2 * static_cast<std::uint32_t>(seconds);
    return "RIFF" + le(36 + data, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(rate, 4) + le(rate * 2, 4) + le(2, 2)
        + le(16, 2) + "data" + le(data, 4) + std::string(data, '\0');
}

void prepare(AppRunner& app, const std::string& page)
{
    app.writeConfig("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"t\">\n<content src=\"" + page
        + "\"/>\n<feature name=\"File\"><param name=\"osx-package\" value=\"WHFile\"/>"
          "<param name=\"onload\" value=\"true\"/></feature>\n</widget>\n");
    for (const char* library : { "webhost/webhost.js", "webhost/file.js" })
        app.writeResource(std::string("www/") + library, AppRunner::readFile(std::string(PENWICK_SOURCE_DIR) + "/www/" + library));
    app.writeResource("www/harness.js", AppRunner::readFile(kPages + "harness.js"));
    app.writeResource("www/" + page, AppRunner::readFile(kPages + page));
}

void runUntilDone(AppRunner& app)
{
    app.start();
    bool done = app.waitForLine(": DONE", 60s);
    std::this_thread::sleep_for(150ms);
    app.kill();
    ASSERT_TRUE(done) << app.output();
}

TEST(Scheme, MarkupFetchAndRangesFromTheFileSystem)
{
    AppRunner app(AppRunner::Binary::TestApp);
    const std::string files = "../data/" + std::string(PENWICK_APP_ID) + "/files/";
    prepare(app, "scheme.html");
    app.writeResource(files + "inner.html", AppRunner::readFile(kPages + "inner.html"));
    app.writeResource(files + "style.css", "#box { width: 123px; }");
    app.writeResource(files + "notes.txt", "some notes");
    app.writeResource(files + "data.bin", std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09", 10));
    writePng(app.resourcesDir() + "/" + files + "pic.png", 7, 5);
    runUntilDone(app);
    const std::string none = "content-type=null content-length=null accept-ranges=null";
    const std::string binary = "206 content-type=*/* content-length=";
    for (const std::string& line : {
             std::string(R"(img ok "7x5")"),
             std::string(R"(css ok "123px")"),
             std::string(R"(text ok "200 content-type=text/plain content-length=10 accept-ranges=bytes content-range=null cache-control=no-cache some notes")"),
             R"(missing ok "404 )" + none + R"( content-range=null cache-control=no-cache []")",
             R"(no file system ok "404 )" + none + R"( content-range=null cache-control=no-cache []")",
             R"(directory ok "404 )" + none + R"( content-range=null cache-control=no-cache []")",
             R"(range ok ")" + binary + R"(4 accept-ranges=bytes content-range=bytes 2-5/10 cache-control=no-cache [2,3,4,5]")",
             R"(range open ok ")" + binary + R"(3 accept-ranges=bytes content-range=bytes 7-9/10 cache-control=no-cache [7,8,9]")",
             R"(range suffix ok ")" + binary + R"(3 accept-ranges=bytes content-range=bytes 7-9/10 cache-control=no-cache [7,8,9]")",
             R"(range past end ok ")" + binary
                 + R"(7 accept-ranges=bytes content-range=bytes 3-9/10 cache-control=no-cache [3,4,5,6,7,8,9]")",
             R"(unsatisfiable ok "416 )" + none + R"( content-range=bytes */10 cache-control=no-cache []")",
             std::string(R"(whfile page ok "whfile: 206 bytes 1-2/10 1,2")"),
         })
        EXPECT_TRUE(app.hasLogLine(line)) << "missing: " << line << "\n" << app.output();
    EXPECT_EQ(app.countLines(" TIMEOUT"), 0) << app.output();
}

TEST(Scheme, AudioOfAStoredWavLoadsSeeksAndPlaysButNothingOutside)
{
    AppRunner app(AppRunner::Binary::TestApp);
    prepare(app, "media.html");
    app.writeResource("../data/" + std::string(PENWICK_APP_ID) + "/files/tone.wav", wav(2));
    app.writeResource("../data/" + std::string(PENWICK_APP_ID) + "/secret.wav", wav(1));
    runUntilDone(app);
    for (const char* line : {
             R"(script ok "2 1.5 whfile://localhost/persistent/tone.wav")",
             "markup ok 2",
             "plays ok true",
             // A file outside the file system is never handed to the player.
             R"(outside fail "media error 4")",
         })
        EXPECT_TRUE(app.hasLogLine(line)) << "missing: " << line << "\n" << app.output();
}

} // namespace
