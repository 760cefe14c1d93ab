// The examples of docs/ (extracted by tests/docs/CMakeLists.txt) in the example app they build.
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>

#include "e2e/AppRunner.h"

namespace penwick::e2e {
namespace {

namespace fs = std::filesystem;

// The files of `folder` in order; none where there is no such folder.
std::set<fs::path> filesIn(const std::string& folder)
{
    std::error_code none;
    return std::set<fs::path>(fs::directory_iterator(folder, none), fs::directory_iterator());
}

// No example may make the host complain (the parser, a setting, a plugin mapping), but for the
// failure an example shows on purpose.
void expectNoComplaint(const AppRunner& app, const std::string& shownFailure = "\n")
{
    for (const auto& line : app.lines())
        EXPECT_TRUE((line.find("ERROR: ") == std::string::npos || line.find(shownFailure) != std::string::npos)
            && line.find("XML error") == std::string::npos && line.find("CRITICAL") == std::string::npos
            && line.find("grants no native access") == std::string::npos
            && line.find("Unrecognized extra filesystem identifier") == std::string::npos)
            << line;
}

// The example app, built from the docs' CMakeLists.txt, plugin source and config.xml, runs every
// script example as a module of its own page and lists how each ended.
TEST(DocExamples, ScriptsRunInTheExampleAppBuiltFromTheDocs)
{
    AppRunner app;
    const fs::path source = PENWICK_DOC_APP;
    for (const auto& entry : fs::recursive_directory_iterator(source))
        if (entry.is_regular_file())
            app.writeResource(fs::relative(entry.path(), source), AppRunner::readFile(entry.path()));
    const std::string dom = app.path("dom.html");
    ASSERT_EQ(app.run({ "--dump-dom", dom, "--capture-timeout", "60" }), 0) << app.output();
    const std::string page = AppRunner::readFile(dom);
    for (const auto& script : filesIn(source / "www/examples")) {
        const std::string name = script.stem();
        const auto item = page.find("<li data-example=\"" + name + "\">");
        EXPECT_TRUE(item != std::string::npos && page.compare(item, page.find("</li>", item) - item, "<li data-example=\"" + name + "\">pass") == 0)
            << (item == std::string::npos ? name + " did not run" : page.substr(item, page.find("</li>", item) - item));
    }
    expectNoComplaint(app, "'NoSuchService'");
}

// Each config.xml example starts the app without a complaint.
TEST(DocExamples, ConfigsStartTheApp)
{
    for (const auto& config : filesIn(PENWICK_DOC_CONFIGS)) {
        SCOPED_TRACE(config.stem().string());
        AppRunner app;
        app.writeConfig(AppRunner::readFile(config));
        app.writeResource("www/index.html", "<!doctype html><title>config</title><p>started</p>");
        const std::string dom = app.path("dom.html");
        EXPECT_EQ(app.run({ "--dump-dom", dom }), 0) << app.output();
        EXPECT_NE(AppRunner::readFile(dom).find("started"), std::string::npos) << app.output();
        expectNoComplaint(app);
    }
}

} // namespace
} // namespace penwick::e2e
