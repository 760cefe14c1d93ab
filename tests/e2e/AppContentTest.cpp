// The app's own pages read their own folder (modules, fetch, XHR, workers, WebAssembly); a file:
// page outside the folder does not, and the rights follow the main frame's navigations both ways.
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

const std::string kPages = std::string(PENWICK_E2E_PAGES) + "/appcontent/";

// A WebAssembly module exporting add(i32, i32).
const std::string kAddWasm("\0asm\x01\0\0\0"
                           "\x01\x07\x01\x60\x02\x7f\x7f\x01\x7f"
                           "\x03\x02\x01\x00"
                           "\x07\x07\x01\x03" "add" "\x00\x00"
                           "\x0a\x09\x01\x07\x00\x20\x00\x20\x01\x6a\x0b",
    41);

TEST(AppContent, TheAppsPagesReadTheirFolderAndAPageOutsideItDoesNot)
{
    AppRunner app;
    app.writeConfig("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"t\">\n<content src=\"index.html\"/>\n</widget>\n");
    for (const char* page : { "index.html", "main.mjs", "cross.mjs", "lib.mjs", "checks.mjs", "w.js", "mw.mjs", "back.html" })
        app.writeResource(std::string("www/") + page, AppRunner::readFile(kPages + page));
    app.writeResource("www/data.json", "{\"answer\":42}\n");
    app.writeResource("www/add.wasm", kAddWasm);
    app.writeResource("outside.html", AppRunner::readFile(kPages + "outside.html"));
    app.writeResource("secret.txt", "secret\n");

    app.start();
    bool done = app.waitForLine(": DONE", 60s);
    std::this_thread::sleep_for(200ms);
    app.kill();
    ASSERT_TRUE(done) << app.output();
    for (const char* line : { "module: 42", "crossorigin module: 42", "fetch: {\"answer\":42}", "xhr: {\"answer\":42}",
             "classic worker: 42", "module worker: 42", "wasm: 42",
             // Navigated away to a file: page outside the folder: no bridge and no reads.
             "outside bridge: undefined", "outside fetch: refused", "outside xhr: refused", "outside fetch of a sibling: refused",
             // And back: the app's page reads its folder again.
             "back fetch: {\"answer\":42}" })
        EXPECT_TRUE(app.hasLogLine(line)) << line << "\n" << app.output();
    EXPECT_EQ(app.countLines("outside module import worked"), 0) << app.output();
}

} // namespace
