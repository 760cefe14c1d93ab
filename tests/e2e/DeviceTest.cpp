// Device facts from the real app: the keys and their types, and the identifier kept across runs
// until the user defaults are removed.
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

const std::string kPages = std::string(PENWICK_E2E_PAGES) + "/app/";

// The value of the first log line "<label>: value" since line `from`.
std::string valueAfter(const AppRunner& app, const std::string& label, size_t from)
{
    auto lines = app.lines();
    for (size_t i = from; i < lines.size(); ++i) {
        auto pos = lines[i].find(": " + label + ": ");
        if (lines[i].rfind("penwick-", 0) == 0 && pos != std::string::npos)
            return lines[i].substr(pos + label.size() + 4);
    }
    return {};
}

// One run of the device page; the lines it logged start at the answer's index.
size_t runOnce(AppRunner& app)
{
    size_t from = app.lines().size();
    int before = app.countLines(": DONE");
    app.start();
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (app.countLines(": DONE") == before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    bool done = app.countLines(": DONE") > before;
    std::this_thread::sleep_for(100ms);
    app.kill();
    EXPECT_TRUE(done) << app.output();
    return from;
}

TEST(Device, InfoHasItsKeysAndTheIdentifierLastsUntilTheDefaultsGo)
{
    AppRunner app;
    app.writeConfig("<?xml version=\"1.0\"?>\n<widget id=\"t\"><content src=\"device.html\"/>"
                    "<feature name=\"Device\"><param name=\"osx-package\" value=\"WHDevice\"/></feature></widget>\n");
    app.writeResource("www/webhost/webhost.js", AppRunner::readFile(std::string(PENWICK_SOURCE_DIR) + "/www/webhost/webhost.js"));
    app.writeResource("www/webhost/app.js", AppRunner::readFile(std::string(PENWICK_SOURCE_DIR) + "/www/webhost/app.js"));
    app.writeResource("www/device.html", AppRunner::readFile(kPages + "device.html"));

    size_t first = runOnce(app);
    auto types = nlohmann::json::parse(valueAfter(app, "types", first), nullptr, false);
    ASSERT_TRUE(types.is_object()) << app.output();
    for (const char* key : { "uuid", "webhost", "model", "platform", "version" })
        EXPECT_EQ(types.value(key, ""), "string") << key << " in " << types.dump();
    EXPECT_EQ(types.value("isVirtual", ""), "boolean") << types.dump();
    for (const char* key : { "manufacturer", "serial" }) {
        if (types.contains(key)) {
            EXPECT_EQ(types[key], "string") << key;
        }
    }
    EXPECT_EQ(valueAfter(app, "webhost", first), "4.0.0");
    EXPECT_EQ(valueAfter(app, "same in one run", first), "true");
    std::string uuid = valueAfter(app, "uuid", first);
    ASSERT_EQ(uuid.size(), 36u) << uuid;
    EXPECT_EQ(uuid.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << uuid;

    size_t second = runOnce(app);
    EXPECT_EQ(valueAfter(app, "uuid", second), uuid);

    std::remove((app.configHome() + "/" + PENWICK_APP_ID + "/user-defaults.ini").c_str());
    size_t third = runOnce(app);
    std::string fresh = valueAfter(app, "uuid", third);
    EXPECT_EQ(fresh.size(), 36u);
    EXPECT_NE(fresh, uuid);
}

} // namespace
