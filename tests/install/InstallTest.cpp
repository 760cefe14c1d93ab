// The application as users get it: installed into a staging folder and moved elsewhere, a second
// app built through the same CMake function, and the Debian package unpacked into a clean root.
#include <algorithm>
#include <filesystem>
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "e2e/XServer.h"
#include "support/TempDir.h"

namespace {

using penwick::test::readFile;
using penwick::test::TempDir;

struct Outcome {
    int status = -1;
    std::string output; // stdout, then stderr
    bool has(const std::string& text) const { return output.find(text) != std::string::npos; }
};

// Runs a program with its own HOME and XDG folders under `sandbox` and none of the variables
// that could point the host at the build tree.
Outcome runIn(const std::string& sandbox, const std::vector<std::string>& args)
{
    g_auto(GStrv) env = g_get_environ();
    for (const char* drop : { "PENWICK_WEB_EXTENSION_DIR", "DESTDIR", "G_MESSAGES_DEBUG", "LD_LIBRARY_PATH" })
        env = g_environ_unsetenv(env, drop);
    for (auto [name, sub] : { std::pair { "HOME", "/home" }, { "XDG_CONFIG_HOME", "/config" }, { "XDG_DATA_HOME", "/data" },
             { "XDG_CACHE_HOME", "/cache" }, { "TMPDIR", "/tmp" }, { "XDG_RUNTIME_DIR", "/runtime" } }) {
        g_mkdir_with_parents((sandbox + sub).c_str(), 0700);
        env = g_environ_setenv(env, name, (sandbox + sub).c_str(), TRUE);
    }
    // The only instance of its id: not handed to one the user runs on the session bus.
    env = g_environ_setenv(env, "DBUS_SESSION_BUS_ADDRESS", "", TRUE);
    std::vector<char*> argv(args.size() + 1); // ends with a null
    std::transform(args.begin(), args.end(), argv.begin(), [](const std::string& arg) { return const_cast<char*>(arg.c_str()); });
    g_autofree char* out = nullptr;
    g_autofree char* err = nullptr;
    g_autoptr(GError) error = nullptr;
    int wait = 0;
    if (!g_spawn_sync(nullptr, argv.data(), env, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &wait, &error))
        return { -1, "cannot run " + args[0] + ": " + error->message };
    return { WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait), std::string(out ? out : "") + (err ? err : "") };
}

// A run of the tiny app (`command`, its own arguments after the first) in the sandbox `home`, its
// `visit`-th there: it keeps its storage under its id, counts the visit, and logs its console line
// once, through the engine's console (which names the source line) or the host's, never both.
enum class Console { Host, Engine };
void visitTiny(const std::string& home, std::vector<std::string> command, int visit, Console console)
{
    SCOPED_TRACE("visit " + std::to_string(visit));
    const std::string dom = home + "/dom.html", line = "tiny visit " + std::to_string(visit) + ", table: function";
    command.insert(command.begin() + 1, { "--dump-dom", dom });
    Outcome run = runIn(home, command);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(run.has("WebStoragePath is '" + home + "/data/" + PENWICK_TINY_ID + "', modify in config.xml.")) << run.output;
    EXPECT_NE(readFile(dom).find("visit " + std::to_string(visit)), std::string::npos) << readFile(dom);
    EXPECT_TRUE(run.has(line) && run.output.find(line) == run.output.rfind(line)) << run.output;
    EXPECT_EQ(run.has("console log: index.html:13: " + line), console == Console::Engine) << run.output;
    EXPECT_FALSE(run.has("JavaScript error")) << run.output;
}

// Both applications installed into a staging DESTDIR, then moved: the tree must not depend on
// where it was installed, nor on the build tree. Each app runs in a sandbox of its own.
TEST(Installed, EachAppLivesUnderItsIdRunsFromTheMovedTreeAndKeepsItsStorageAndDefaultsThere)
{
    const TempDir root("penwick-install-XXXXXX");
    const std::string prefix = root.path + "/moved/usr", stage = "DESTDIR=" + root.path + "/stage";
    for (const char* component : { "penwick", "penwick-tiny" }) {
        Outcome install = runIn(root.path + "/sandbox",
            { "env", stage, PENWICK_CMAKE, "--install", PENWICK_BINARY_DIR, "--prefix", "/usr", "--component", component });
        ASSERT_EQ(install.status, 0) << install.output;
    }
    g_mkdir_with_parents((root.path + "/moved").c_str(), 0700);
    ASSERT_EQ(g_rename((root.path + "/stage/usr").c_str(), prefix.c_str()), 0);
    auto installed = [&](const std::string& relative) { return prefix + "/" + relative; };
    auto exe = [&](const char* name) { return installed(std::string(PENWICK_BINDIR) + "/" + name); };

    const std::string sandbox = root.path + "/app";
    for (const char* id : { PENWICK_APP_ID, PENWICK_TINY_ID }) {
        SCOPED_TRACE(id);
        const std::string share = PENWICK_DATADIR;
        for (const std::string& file : { share + "/" + id + "/config.xml", share + "/" + id + "/www/index.html",
                 std::string(PENWICK_LIBDIR) + "/" + id + "/web-extensions/libpenwick-webext.so",
                 share + "/icons/hicolor/scalable/apps/" + id + ".svg", share + "/" + id + "/locale/ar/LC_MESSAGES/penwick.mo" })
            EXPECT_TRUE(g_file_test(installed(file).c_str(), G_FILE_TEST_EXISTS)) << file;
        // The app that names no documents page gets the host's documentation for "Documentation".
        EXPECT_EQ(
            g_file_test(installed(share + "/doc/" + id + "/README.md").c_str(), G_FILE_TEST_EXISTS), std::string(id) == PENWICK_APP_ID);
        const std::string desktop = installed(share + "/applications/" + id + ".desktop");
        for (const auto& validate : { std::vector<std::string> { "desktop-file-validate", desktop },
                 { "appstreamcli", "validate", "--no-net", installed(share + "/metainfo/" + id + ".metainfo.xml") } }) {
            Outcome valid = runIn(sandbox, validate);
            EXPECT_EQ(valid.status, 0) << valid.output;
        }
        // Taskbars match the windows' WM_CLASS class, the app id, with the entry.
        const std::string entry = readFile(desktop);
        EXPECT_NE(entry.find(std::string("\nStartupWMClass=") + id + "\n"), std::string::npos) << entry;
    }
    const std::string tinyInfo = readFile(installed(std::string(PENWICK_DATADIR) + "/metainfo/" + PENWICK_TINY_ID + ".metainfo.xml"));
    EXPECT_NE(tinyInfo.find("<url type=\"homepage\">https://tiny.example/</url>"), std::string::npos) << tinyInfo;
    Outcome version = runIn(sandbox, { exe(PENWICK_TINY_EXE), "--version" });
    EXPECT_EQ(version.status, 0) << version.output;
    EXPECT_TRUE(version.has("Tiny 0.0.1\nhost: penwick 4.0.0\n")) << version.output;
    // A missing resources folder is an error, and so is a config.xml that breaks off before it names
    // its app (which would run as the host, with its data); nothing is written.
    const std::string broken = sandbox + "/broken";
    g_mkdir_with_parents(broken.c_str(), 0700);
    ASSERT_TRUE(g_file_set_contents((broken + "/config.xml").c_str(), "<widget id=\"com.example.Notes\" version=1.0>", -1, nullptr));
    for (const auto& [folder, line] : { std::pair { "/nowhere", std::string("does not exist") },
             { "/broken", "not running the app in " + broken + " as " PENWICK_APP_ID ", whose data it would share: " } }) {
        Outcome refused = runIn(sandbox, { exe(PENWICK_APP_EXE), "--resources", sandbox + folder, "--screenshot", sandbox + "/x.png" });
        EXPECT_TRUE(refused.status != 0 && refused.has(line)) << refused.output;
    }
    EXPECT_FALSE(g_file_test((sandbox + "/x.png").c_str(), G_FILE_TEST_EXISTS));

    // The second app's storage and defaults are under its own id. The host's console is left out
    // when the user defaults turn the engine's own on (the third visit); the engine's console then
    // reports the line with its source position.
    const std::string tiny = root.path + "/tiny", data = tiny + "/data", config = tiny + "/config";
    visitTiny(tiny, { exe(PENWICK_TINY_EXE) }, 1, Console::Host);
    // Everything the app keeps in the data folder is under its id.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(data), {}), 1);
    EXPECT_TRUE(std::filesystem::exists(data + "/" + PENWICK_TINY_ID));
    // The engine's console is the tiny app's own choice: the host's app's defaults do not count.
    for (const std::string id : { PENWICK_APP_ID, PENWICK_TINY_ID }) {
        const std::string folder = config + "/" + id;
        g_mkdir_with_parents(folder.c_str(), 0700);
        ASSERT_TRUE(g_file_set_contents((folder + "/user-defaults.ini").c_str(), "[Defaults]\nWebKitDeveloperExtras=true\n", -1, nullptr));
        const bool own = id == PENWICK_TINY_ID;
        visitTiny(tiny, { exe(PENWICK_TINY_EXE) }, own ? 3 : 2, own ? Console::Engine : Console::Host);
    }
}

// An app of one's own configures only with its own words for the software centre (arguments, or
// its config.xml) and http(s) addresses for its product pages; the message says what is missing.
TEST(Configure, AnAppWithoutItsOwnSummaryOrDescriptionOrWithABadPageAddressIsRefused)
{
    const TempDir dir("penwick-configure-XXXXXX");
    g_mkdir_with_parents((dir.path + "/app/www").c_str(), 0700);
    ASSERT_TRUE(g_file_set_contents((dir.path + "/app/config.xml").c_str(), "<widget id=\"com.example.Notes\"/>", -1, nullptr));
    // The arguments, and the message.
    const std::pair<std::string, std::string> cases[] = {
        { "DESCRIPTION \"Notes on the desktop.\"", "penwick_add_app(notes): SUMMARY is required: describe Notes in your own words" },
        { "SUMMARY \"Notes\"", "penwick_add_app(notes): DESCRIPTION is required: describe Notes in your own words" },
        { "SUMMARY \"Notes\" DESCRIPTION \"Notes on the desktop.\" DOCUMENTS_URL file:///etc/passwd",
            "penwick app notes: DOCUMENTS_URL 'file:///etc/passwd' is not an http or https URL" },
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(arguments);
        const std::string project = "cmake_minimum_required(VERSION 3.25)\nproject(notes VERSION 1.0 LANGUAGES NONE)\ninclude("
            + std::string(PENWICK_SOURCE_DIR) + "/cmake/PenwickApp.cmake)\npenwick_add_app(notes ID com.example.Notes NAME Notes RESOURCES "
            + dir.path + "/app " + arguments + ")\n";
        ASSERT_TRUE(g_file_set_contents((dir.path + "/CMakeLists.txt").c_str(), project.c_str(), -1, nullptr));
        Outcome configure = runIn(dir.path + "/sandbox", { PENWICK_CMAKE, "-S", dir.path, "-B", dir.path + "/build" });
        EXPECT_NE(configure.status, 0) << configure.output;
        std::string output = configure.output;
        // CMake wraps long messages over lines.
        for (std::size_t at; (at = output.find("\n  ")) != std::string::npos;)
            output.replace(at, 3, " ");
        EXPECT_NE(output.find(message), std::string::npos) << configure.output;
    }
}

// The last line of a command's output: the path that the packaging scripts print last.
std::string lastLine(const std::string& output)
{
    std::string line = output.substr(0, output.find_last_not_of('\n') + 1);
    return line.erase(0, line.find_last_of('\n') + 1);
}

TEST(Package, TheRuntimeDebListsItsDependenciesShowsTheDemoAndPacksADataOnlyAppWithoutCompiling)
{
    const TempDir temp("penwick-deb-XXXXXX");
    const std::string& root = temp.path;
    Outcome package = runIn(root + "/sandbox",
        { "env", "BUILD_DIR=" + std::string(PENWICK_BINARY_DIR), "PACKAGE_DIR=" + root + "/out",
            std::string(PENWICK_SOURCE_DIR) + "/scripts/package.sh" });
    ASSERT_EQ(package.status, 0) << package.output;
    const std::string deb = lastLine(package.output);
    ASSERT_TRUE(g_str_has_suffix(deb.c_str(), ".deb")) << package.output;

    Outcome info = runIn(root + "/sandbox", { "dpkg-deb", "--info", deb });
    ASSERT_EQ(info.status, 0) << info.output;
    for (const char* part : { "Package: penwick\n", "Depends: ", "libwebkit2gtk-4.1-0", "libc6", "python3" })
        EXPECT_TRUE(info.has(part)) << info.output;
    // What apps are made with: the packer, the page library's types, the CMake package with the
    // host's libraries and plugin headers, and the documentation.
    Outcome contents = runIn(root + "/sandbox", { "dpkg-deb", "--contents", deb });
    for (const std::string part : { "/usr/bin/penwick-pack\n", "/usr/share/penwick/webhost/ambient.d.ts\n",
             "/cmake/Penwick/PenwickConfig.cmake\n", "/penwick/libwh_core.a\n", "/usr/include/penwick/bridge/WHPlugin.h\n",
             "/usr/share/doc/" PENWICK_APP_ID "/docs/native-plugins.md\n" })
        EXPECT_TRUE(contents.has(part)) << part;

    // The demo app of the unpacked tree runs from there alone: it finds its resources and its
    // web-process extension there, the page gets its bridge, and a real page painted the shot, not a
    // blank one.
    const std::string usr = root + "/clean/usr", dom = root + "/dom.html", shot = root + "/shot.png";
    ASSERT_EQ(runIn(root + "/sandbox", { "dpkg-deb", "-x", deb, root + "/clean" }).status, 0);
    Outcome run = runIn(root + "/sandbox", { usr + "/" + PENWICK_BINDIR + "/" + PENWICK_APP_EXE, "--screenshot", shot, "--dump-dom", dom });
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(run.has("resources at " + usr + "/" + PENWICK_DATADIR + "/" + PENWICK_APP_ID + "\n")) << run.output;
    for (const char* absent : { "without the host's web-process extension", PENWICK_BINARY_DIR, PENWICK_SOURCE_DIR })
        EXPECT_FALSE(run.has(absent)) << run.output;
    EXPECT_NE(readFile(dom).find("<li id=\"host-state\" class=\"chip ready\">host ready</li>"), std::string::npos) << readFile(dom);
    EXPECT_GT(readFile(shot).size(), 40'000u) << "a blank window compresses to a few kilobytes";

    // A data-only app packed by the unpacked runtime: no compiler runs (traced where strace is
    // installed), its package depends on the runtime and says only what its config.xml says.
    std::vector<std::string> pack { usr + "/bin/penwick-pack", PENWICK_SOURCE_DIR "/tests/apps/tiny", "--output", root + "/apps" };
    g_autofree char* strace = g_find_program_in_path("strace");
    if (strace)
        pack.insert(pack.begin(), { strace, "-f", "-qq", "-e", "trace=execve", "-o", root + "/trace" });
    Outcome packed = runIn(root + "/sandbox", pack);
    ASSERT_EQ(packed.status, 0) << packed.output;
    const std::string appDeb = lastLine(packed.output);
    for (const char* compiler : { "cc1plus", "/cc1\"", "clang", "/ld\"", "cmake" })
        EXPECT_EQ(readFile(root + "/trace").find(compiler), std::string::npos) << compiler;
    Outcome appInfo = runIn(root + "/sandbox", { "dpkg-deb", "--field", appDeb, "Depends", "Recommends", "Homepage" });
    for (const char* field : { "Depends: penwick (>= ", "Recommends: fonts-noto-cjk\n", "Homepage: https://tiny.example/\n" })
        EXPECT_TRUE(appInfo.has(field)) << appInfo.output;
    ASSERT_EQ(runIn(root + "/sandbox", { "dpkg-deb", "-x", appDeb, root + "/clean" }).status, 0);
    const std::string metainfo = usr + "/share/metainfo/" PENWICK_TINY_ID ".metainfo.xml";
    const std::string appStream = readFile(metainfo);
    for (const char* part : { "<url type=\"homepage\">https://tiny.example/</url>", "<project_license>MIT</project_license>",
             "<summary>Counts its runs</summary>", "<developer_name>Tiny Makers</developer_name>" })
        EXPECT_NE(appStream.find(part), std::string::npos) << appStream;
    EXPECT_EQ(appStream.find("example.org"), std::string::npos) << appStream;
    Outcome valid = runIn(root + "/sandbox", { "appstreamcli", "validate", "--no-net", metainfo });
    EXPECT_EQ(valid.status, 0) << valid.output;
    // Its launcher runs the runtime on the app's folder, under the app's id, without the host's
    // documentation; what it stores lasts from one run to the next. --dev turns the engine's
    // console on for the second run only, whose lines keep their level.
    EXPECT_FALSE(g_file_test((usr + "/share/doc/" PENWICK_TINY_ID).c_str(), G_FILE_TEST_EXISTS));
    visitTiny(root + "/tiny", { usr + "/bin/tiny" }, 1, Console::Host);
    // Its version is the app's, from its config.xml.
    EXPECT_TRUE(runIn(root + "/tiny", { usr + "/bin/tiny", "--version" }).has("Tiny 0.0.1\nhost: penwick ")) << usr;
    visitTiny(root + "/tiny", { usr + "/bin/tiny", "--dev" }, 2, Console::Engine);
}

// Text given on the packer's command line is taken as config.xml's is: a line break in it would
// end a field of the package or the desktop entry (dpkg-deb refused the package), or pass the checks.
// And the packer copies www/ as the host serves it: links are followed inside it only, so nothing a
// link leads to elsewhere (a private file) ships, and a link to a folder holding it copies nothing again.
TEST(Package, ThePackerTakesALineBreakInAnOptionAsABlankAndFollowsLinksOnlyInsideWww)
{
    const TempDir temp("penwick-pack-XXXXXX");
    const std::string pack = std::string(PENWICK_SOURCE_DIR) + "/packaging/penwick-pack",
                      tiny = std::string(PENWICK_SOURCE_DIR) + "/tests/apps/tiny", app = temp.path + "/app";
    // The package is made of the tiny app as it is, the installed tree of a copy with links in www/.
    std::filesystem::copy(tiny, app, std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(app + "/www/sub");
    g_file_set_contents((app + "/www/sub/a.txt").c_str(), "a", -1, nullptr);
    for (auto [link, target] : { std::pair { "in.txt", "sub/a.txt" }, { "subl", "sub" }, { "out.txt", "../config.xml" },
             { "gone.js", "/nonexistent" }, { "sub/up", ".." }, { "sub/app", "../.." } })
        std::filesystem::create_symlink(target, app + "/www/" + link);
    struct Case {
        const char *option, *value, *field;
    };
    for (const Case& c : { Case { "--summary", "Counts\nits runs", "Description: Counts its runs\n" },
             Case { "--description", "One.\n\nTwo.", " One. Two.\n" }, Case { "--version", "1.0\n", "Version: 1.0\n" },
             Case { "--developer", "Tiny\nMakers", "Maintainer: Tiny Makers <" } }) {
        SCOPED_TRACE(c.option);
        const std::string out = temp.path + "/" + (c.option + 2);
        Outcome packed = runIn(temp.path + "/sandbox", { pack, tiny, "--output", out, c.option, c.value });
        ASSERT_EQ(packed.status, 0) << packed.output;
        EXPECT_TRUE(runIn(temp.path + "/sandbox", { "dpkg-deb", "--info", lastLine(packed.output) }).has(c.field)) << packed.output;
        Outcome installed = runIn(temp.path + "/sandbox", { pack, app, "--prefix", out + "/usr", c.option, c.value });
        ASSERT_EQ(installed.status, 0) << installed.output;
        const std::string entry = readFile(out + "/usr/share/applications/" PENWICK_TINY_ID ".desktop");
        EXPECT_EQ(std::count(entry.begin(), entry.end(), '\n'), 10) << entry;
        const std::string www = out + "/usr/share/" PENWICK_TINY_ID "/www/";
        for (auto [path, shipped] : { std::pair { "in.txt", true }, { "subl/a.txt", true }, { "index.html", true }, { "out.txt", false },
                 { "gone.js", false }, { "sub/up", false }, { "sub/app", false }, { "subl/up", false } }) {
            EXPECT_EQ(std::filesystem::exists(www + path), shipped) << path;
            EXPECT_EQ(installed.has(std::string("left out www/") + path), !shipped) << installed.output;
        }
    }
    // The runtime's own names would make a package that replaces it, or a launcher that runs itself.
    for (const Case& c : { Case { "--executable", "penwick", "the executable name 'penwick' is the runtime's own" },
             Case { "--executable", "penwick-pack", "the executable name 'penwick-pack' is the runtime's own" },
             Case { "--id", "org.penwick.host", "the app id 'org.penwick.host' is the runtime's own" } }) {
        Outcome refused = runIn(temp.path + "/sandbox", { pack, tiny, "--output", temp.path + "/refused", c.option, c.value });
        EXPECT_TRUE(refused.status != 0 && refused.has(c.field)) << refused.output;
    }
}

} // namespace
