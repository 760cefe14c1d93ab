// Device facts from the real app: the keys and their types, and the identifier kept across runs
// until the user defaults are removed.
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

// One run of the device page: the values it logged as "<label>: value", by label.
std::map<std::string, std::string> runOnce(AppRunner& app)
{
    size_t from = app.lines().size();
    int done = app.countLines(": DONE");
    app.start();
    EXPECT_TRUE(AppRunner::waitUntil([&] { return app.countLines(": DONE") > done; }, 20s)) << app.output();
    app.kill();
    std::map<std::string, std::string> values;
    auto lines = app.lines();
    for (size_t i = from; i < lines.size(); ++i) {
        for (const char* label : { "types", "uuid", "same in one run", "webhost" }) {
            auto pos = lines[i].find(std::string(": ") + label + ": ");
            if (lines[i].rfind("penwick-", 0) == 0 && pos != std::string::npos && !values.count(label))
                values[label] = lines[i].substr(pos + std::string(label).size() + 4);
        }
    }
    return values;
}

TEST(Device, InfoHasItsKeysAndTheIdentifierLastsUntilTheDefaultsGo)
{
    AppRunner app;
    app.writeConfig(AppRunner::widget("<content src=\"device.html\"/><feature name=\"Device\"><param name=\"osx-package\" value=\"WHDevice\"/></feature>"));
    for (const char* lib : { "webhost.js", "app.js" })
        app.writeResource(std::string("www/webhost/") + lib, AppRunner::readFile(std::string(PENWICK_SOURCE_DIR) + "/www/webhost/" + lib));
    app.writeResource("www/device.html", AppRunner::readFile(std::string(PENWICK_E2E_PAGES) + "/app/device.html"));

    auto first = runOnce(app);
    auto types = nlohmann::json::parse(first["types"], nullptr, false);
    ASSERT_TRUE(types.is_object()) << app.output();
    for (const char* key : { "uuid", "webhost", "model", "platform", "version" })
        EXPECT_EQ(types.value(key, ""), "string") << key << " in " << types.dump();
    EXPECT_EQ(types.value("isVirtual", ""), "boolean") << types.dump();
    for (const char* key : { "manufacturer", "serial" })
        EXPECT_EQ(types.value(key, "string"), "string") << key;
    EXPECT_EQ(first["webhost"], "4.0.0");
    EXPECT_EQ(first["same in one run"], "true");
    std::string uuid = first["uuid"];
    ASSERT_EQ(uuid.size(), 36u) << uuid;
    EXPECT_EQ(uuid.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << uuid;
    EXPECT_EQ(runOnce(app)["uuid"], uuid);

    std::remove((app.configHome() + "/" + PENWICK_APP_ID + "/user-defaults.ini").c_str());
    std::string fresh = runOnce(app)["uuid"];
    EXPECT_EQ(fresh.size(), 36u);
    EXPECT_NE(fresh, uuid);
}

} // namespace
