// The app's own pages read their own folder (modules, fetch, XHR, workers, WebAssembly), and nothing
// outside it unless the app reaches the whole disk; the app origin serves the folder like a web server.
#include "e2e/E2E.h"
#include <gdk-pixbuf/gdk-pixbuf.h>

namespace {

// The app's pages read their folder and a page outside it does not, unless the app reaches the
// whole disk through its file plugin (whose default file systems include "root").
TEST(AppContent, TheAppsPagesReadTheirFolderAndAPageOutsideItDoesNotUnlessTheFilePluginReachesTheDisk)
{
    const std::pair<std::string, Lines> cases[] = {
        { "",
            { "module: 42", "crossorigin module: 42", "fetch: {\"answer\":42}", "xhr: {\"answer\":42}", "classic worker: 42",
                "module worker: 42", "wasm: 42",
                // Files outside the folder, however reached.
                "fetch outside www: refused", "encoded fetch outside www: refused", "import outside www: refused",
                "worker fetch outside www: refused", "frame outside www: refused" } },
        { "<feature name=\"File\"><param name=\"osx-package\" value=\"WHFile\"/></feature>",
            { "fetch outside www: secret", "import outside www: 42", "worker fetch outside www: secret" } },
    };
    for (const auto& [feature, lines] : cases) {
        SCOPED_TRACE(feature);
        AppRunner app;
        // add.wasm exports add(i32, i32).
        app.writePages("appcontent", "index.html",
            { "main.mjs", "cross.mjs", "lib.mjs", "checks.mjs", "w.js", "mw.mjs", "reach.js", "data.json", "add.wasm" }, feature);
        for (const char* file : { "outside.mjs", "secret.txt" })
            app.writeResource(file, AppRunner::page("appcontent", file));
        app.start();
        EXPECT_TRUE(logged(app, lines, 60s));
    }
}

// The app origin serves the content folder like a web server, to the app's pages and workers, which
// share memory; a web frame reaches none of it.
TEST(AppContent, TheAppOriginAnswersLikeAWebServerWithSharedMemoryAndOnlyToTheApp)
{
    LoopbackServer web(AppRunner::page("appcontent", "web.html"));
    // Both ways in: the app origin named with the id in any case, and a relative page with the preference.
    const std::pair<std::string, std::string> configs[] = {
        { "app://Org.Penwick.Host/origin.html", "" },
        { "origin.html", "<preference name=\"AppOrigin\" value=\"true\"/>" },
    };
    for (const auto& [src, preference] : configs) {
        SCOPED_TRACE(src);
        AppRunner app(AppRunner::Binary::TestApp);
        app.writePages("appcontent", "origin.html",
            { "origin.mjs", "checks.mjs", "ow.js", "data.json", "add.wasm", "pic.svg", "index.html", "main.mjs", "w.js" },
            AppRunner::kFilePlugin + preference, { { "@WEB@", web.origin() + "/web.html" } });
        app.writeConfig(AppRunner::replaced(AppRunner::readFile(app.resourcesDir() + "/config.xml"), "\"origin.html\"", "\"" + src + "\""));
        for (const auto& [file, content] : { std::pair { "www/secret.bin", "x" }, { "secret.txt", "secret" }, { "www/sub/a.txt", "a" } })
            app.writeResource(file, content);
        ASSERT_EQ(symlink("../secret.txt", app.path("resources/www/link.txt").c_str()), 0);
        ASSERT_EQ(symlink("../..", app.path("resources/www/sub/link").c_str()), 0);
        app.start();
        EXPECT_TRUE(logged(app,
            { "origin: app://org.penwick.host function object", "fetch: 200 true application/json 14", "xhr: 200 application/json 14",
                "range: 206 bytes 2-7/14 answer bytes no-cache", "beyond: 416",
                "types: text/html text/javascript text/javascript application/wasm image/svg+xml application/octet-stream",
                "escapes: 404 404 404 404 404 404 404 404 404", "wasm streaming: 42",
                "shared: 200 true application/json function read 7 42", "bridge: hi",
                // A web frame: no bridge, and app:// URLs do not load.
                "web frame: undefined refused refused" },
            60s));
    }
}

// A package from the registry (`package`, "name@version"), cached in the build folder: the folder of
// `files` inside it, or nothing when npm or the registry cannot be reached. Optional dependencies
// are platform binaries: only build tools need theirs.
enum class OptionalDependencies { Omit, Install };
std::optional<std::string> npmFolder(const std::string& package, const std::string& subfolder, const std::vector<std::string>& files,
    OptionalDependencies optional = OptionalDependencies::Omit)
{
    g_autofree char* self = g_file_read_link("/proc/self/exe", nullptr);
    g_autofree char* dir = g_path_get_dirname(self ? self : ".");
    const std::string cache = std::string(dir) + "/npm-cache/" + package;
    const std::string folder = cache + "/node_modules/" + subfolder;
    const std::string install = "npm install --prefix '" + cache + "' --no-audit --no-fund --loglevel=error "
        + (optional == OptionalDependencies::Omit ? "--omit=optional " : "") + package + " >/dev/null 2>&1";
    auto installed = [&] {
        return std::all_of(
            files.begin(), files.end(), [&](const std::string& file) { return std::filesystem::exists(folder + "/" + file); });
    };
    return installed() || (std::system(install.c_str()) == 0 && installed()) ? std::optional(folder) : std::nullopt;
}

TEST(AppContent, ARealPdfLibraryWithModulesAndAWorkerOpensAndDrawsAPdfOfTheApp)
{
    // A one-page PDF with a line of text and a black rectangle, with a correct cross-reference table.
    const std::string content = "BT /F1 18 Tf 20 100 Td (Hello Penwick) Tj ET\n0 0 0 rg 20 20 80 40 re f\n";
    const std::string objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 150] /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    std::string pdf = "%PDF-1.4\n", xref = "xref\n0 " + std::to_string(std::size(objects) + 1) + "\n0000000000 65535 f \n";
    for (size_t i = 0; i < std::size(objects); ++i) {
        char entry[21];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
        xref += entry;
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    pdf += xref + "trailer\n<< /Size " + std::to_string(std::size(objects) + 1) + " /Root 1 0 R >>\nstartxref\n"
        + std::to_string(pdf.size()) + "\n%%EOF\n";
    // The last of 4.x, and 5.x, which reads text by iterating streams (filled in for the engine).
    for (const std::string version : { "4.10.38", "5.7.284" }) {
        SCOPED_TRACE(version);
        auto pdfjs = npmFolder("pdfjs-dist@" + version, "pdfjs-dist/build", { "pdf.mjs", "pdf.worker.mjs" });
        if (!pdfjs)
            GTEST_SKIP() << "npm or the package registry is unreachable: could not install pdfjs-dist@" << version;
        AppRunner app;
        app.writePages("appcontent", "pdf.html");
        app.writeResource("www/tiny.pdf", pdf);
        for (const char* file : { "pdf.mjs", "pdf.worker.mjs" })
            app.writeResource(std::string("www/pdfjs/") + file, AppRunner::readFile(*pdfjs + "/" + file));

        app.start();
        EXPECT_TRUE(logged(app, { "real worker: true", "pages: 1", "text: Hello Penwick", "drawn: 200x150, dark pixels: true" }, 60s));
    }
}

// sql.js as shipped loads its wasm from the app origin; its database goes through the file plugin
// and is read back by the next run.
TEST(AppContent, SqlJsAsShippedKeepsItsDatabaseInTheFilePluginAcrossRuns)
{
    auto sqljs = npmFolder("sql.js@1.13.0", "sql.js/dist", { "sql-wasm.js", "sql-wasm.wasm" });
    if (!sqljs)
        GTEST_SKIP() << "npm or the package registry is unreachable: could not install sql.js@1.13.0";
    AppRunner app;
    app.writePages("appcontent", "sql.html", {}, "<preference name=\"AppOrigin\" value=\"true\"/>" + AppRunner::kFilePlugin);
    for (const char* file : { "sql-wasm.js", "sql-wasm.wasm" })
        app.writeResource(std::string("www/sqljs/") + file, AppRunner::readFile(*sqljs + "/" + file));
    for (const char* line : { "sql written", "sql read: first,second" }) {
        app.start();
        EXPECT_TRUE(lineAppears(app, line));
        app.kill();
    }
}

// A tiny app built by Vite as its users build theirs (relative base), captured: it drew.
TEST(AppContent, AViteBuiltAppRunsFromTheAppOriginAndItsCaptureIsNotBlank)
{
    auto vite = npmFolder("vite@6.4.6", "vite", { "bin/vite.js" }, OptionalDependencies::Install);
    if (!vite)
        GTEST_SKIP() << "npm or the package registry is unreachable: could not install vite@6.4.6";
    AppRunner app;
    for (const char* file : { "index.html", "main.js", "paint.js", "style.css", "vite.config.js" })
        app.writeResource(std::string("../source/") + file, AppRunner::page("vite", file));
    const std::string built = AppRunner::capture("cd '" + app.path("source") + "' && node '" + *vite
        + "/bin/vite.js' build --logLevel error --outDir '" + app.resourcesDir() + "/www' --emptyOutDir 2>&1");
    ASSERT_TRUE(std::filesystem::exists(app.resourcesDir() + "/www/index.html")) << built;
    app.writeConfig(AppRunner::widget("<content src=\"index.html\"/><preference name=\"AppOrigin\" value=\"true\"/>"));
    const std::string png = app.path("capture.png");
    ASSERT_EQ(app.run({ "--screenshot", png }), 0) << app.output();
    g_autoptr(GdkPixbuf) pixbuf = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
    ASSERT_TRUE(pixbuf);
    const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
    long painted = 0;
    for (int i = 0; i < width * height; ++i) {
        const guchar* p = pixels + i / width * stride + i % width * channels;
        painted += p[0] < 16 && p[1] > 112 && p[1] < 144 && p[2] > 240;
    }
    EXPECT_GT(painted, long(width) * height * 9 / 10) << app.output();
}

} // namespace
