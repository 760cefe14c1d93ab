// The page's file system through a real page: file systems and paths, entries, copies and moves
// across file systems, reading and writing, queries, the answers to bad calls, and confinement.
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

const std::string kPages = std::string(PENWICK_E2E_PAGES) + "/file/";

// The test app with the file plugin mapped as "File", the page library and `page`.
void runPage(AppRunner& app, const std::string& page, const std::string& extraConfig = "")
{
    app.writeConfig("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"t\">\n<content src=\"" + page
        + "\"/>\n<feature name=\"File\"><param name=\"osx-package\" value=\"WHFile\"/>"
          "<param name=\"onload\" value=\"true\"/></feature>\n"
        + extraConfig + "</widget>\n");
    for (const char* library : { "webhost/webhost.js", "webhost/file.js" })
        app.writeResource(std::string("www/") + library, AppRunner::readFile(std::string(PENWICK_SOURCE_DIR) + "/www/" + library));
    app.writeResource("www/harness.js", AppRunner::readFile(kPages + "harness.js"));
    app.writeResource("www/" + page, AppRunner::readFile(kPages + page));
    app.start();
    bool done = app.waitForLine(": DONE", 60s);
    std::this_thread::sleep_for(150ms);
    app.kill();
    ASSERT_TRUE(done) << app.output();
}

std::string dataDir(const AppRunner& app) { return app.dataHome() + "/" + PENWICK_APP_ID + "/files"; }

void expectLines(const AppRunner& app, std::initializer_list<std::string> lines)
{
    for (const auto& line : lines)
        EXPECT_TRUE(app.hasLogLine(line)) << "missing: " << line << "\n" << app.output();
    EXPECT_EQ(app.countLines(" TIMEOUT"), 0) << app.output();
}

TEST(File, FileSystemsPathsEntriesCopiesAndMoves)
{
    AppRunner app(AppRunner::Binary::TestApp);
    runPage(app, "entries.html");
    const std::string root = "file://" + app.root();
    const std::string id = PENWICK_APP_ID;
    expectLines(app, {
        R"(types ok ["temporary","persistent","documents","cache","bundle","root","temporary"])",
        "No filesystem of type requested",
        "type 6 fail 1",
        "type -1 fail 1",
        "quota fail 10",
        R"(root ok {"filesystemName":"persistent","fullPath":"/","isDirectory":true,"isFile":false,"name":"/","nativeURL":")"
            + root + "/data/" + id + "/files/\"}",
        R"(all ok ["temporary/","persistent/","documents/","cache/","bundle/","root/"])",
        R"(paths ok {"applicationDirectory":")" + root + R"(/resources/","applicationStorageDirectory":")" + root + "/data/"
            + id + R"(/","cacheDirectory":")" + root + "/cache/" + id + R"(/","dataDirectory":")" + root + "/data/" + id
            + R"(/files/","documentsDirectory":")" + root + R"(/home/Documents","rootDirectory":"file:///","tempDirectory":")"
            + root + "/tmp/\"}",
        R"(mkdir ok "/notes/ true")",
        R"(create ok "/notes/a.txt true")",
        "exclusive fail 12",
        "dir as file fail 11",
        "write ok 5",
        R"(blank ok "/notes/a b.txt|/notes/a b.txt")",
        R"(parent ok "/notes/")",
        R"(list ok "a b.txt a.txt")",
        R"(metadata ok "a.txt 5 true")",
        R"(copy across ok "temporary/a.txt hello")",
        R"(file url ok "temporary/a.txt")",
        R"(copy renamed ok "/notes/b.txt")",
        "copy onto existing fail 12",
        "copy colon fail 5",
        "copy null name fail 5",
        "copy no source fail 1",
        R"(copy tree ok "/tree2/ f.txt")",
        R"(move ok "persistent/moved.txt gone 1")",
        R"(move tree ok "persistent/tree2/")",
        "remove roots ok [6,6,6]",
        "remove nonempty fail 9",
        "remove file ok null",
        "remove tree ok 1",
        "local path ok \"" + dataDir(app) + "/notes/a.txt\"",
        R"(no local path fail "Cannot resolve URL to a file")",
    });
    EXPECT_TRUE(AppRunner::fileExists(dataDir(app) + "/tree2/sub/f.txt"));
}

} // namespace

namespace {

TEST(File, ReadWriteQueriesAndEveryBadCallAnswered)
{
    AppRunner app(AppRunner::Binary::TestApp);
    runPage(app, "readwrite.html");
    expectLines(app, {
        "write ok 11",
        R"(write shorter ok "HELLO")",
        R"(append ok "HELLO there")",
        R"(range ok ["ELL","there"])",
        "Only UTF-8 encodings are currently supported by readAsText",
        "utf-16 fail 5",
        "write bytes ok 5",
        "not utf-8 fail 5",
        "array buffer ok bytes 65,233,255,128,0",
        R"(binary string ok "65,233,255,128,0")",
        R"(data url ok ["data:text/css;base64,Ynt9","data:*/*;base64,Ynt9"])",
        // A write with bad data is refused before the file is touched.
        R"(bad data ok "Invalid parameter type | HELLO there")",
        R"(truncate ok "2 HE")",
        "missing ok [1,1]",
        "queries ok [1,0,1,0]",
        R"(free space ok "string true")",
        "no file system ok [5,5,5,5,5,5,5,5,5,5,5,5,5,5,1]",
        "wrong kinds ok [11,11,11,11,11,11,11,11]",
    });
}

TEST(File, PagesCannotLeaveTheirFileSystems)
{
    AppRunner app(AppRunner::Binary::TestApp);
    const std::string outside = app.dataHome() + "/" + PENWICK_APP_ID;
    app.writeResource("../data/" + std::string(PENWICK_APP_ID) + "/secret.txt", "secret");
    runPage(app, "confinement.html");
    expectLines(app, {
        "read ok [1,1,1,1,1]",
        "resolve ok [1,1,1,1,1]",
        "write ok [1,1,1,1,1]",
        "copy out ok [5,5,9]",
        "copy in ok 1",
        R"(roots ok [6,6,6,"persistent/"])",
        "fetch ok [404,404,404,404,404,404,404,404]",
    });
    // A requested path climbing out stops at the root of the file system.
    EXPECT_EQ(app.countLines(R"(\"fullPath\":\"/escape.txt\")"), 1) << app.output();
    EXPECT_EQ(AppRunner::readFile(outside + "/secret.txt"), "secret");
    EXPECT_FALSE(AppRunner::fileExists(outside + "/escape.txt"));
    EXPECT_FALSE(AppRunner::fileExists(app.dataHome() + "/escape.txt"));
}

TEST(File, A64MiBReadArrivesAndThePageKeepsItsBridge)
{
    AppRunner app(AppRunner::Binary::TestApp);
    std::string big(64 << 20, '\x07');
    big.back() = '\x09';
    app.writeResource("../data/" + std::string(PENWICK_APP_ID) + "/files/big.bin", big);
    app.writeResource("../data/" + std::string(PENWICK_APP_ID) + "/files/small.txt", "still here");
    runPage(app, "big.html");
    expectLines(app, { R"(big ok "67108864 7 9")", R"(after ok "still here")" });
}

} // namespace
