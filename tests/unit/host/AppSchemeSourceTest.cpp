// Which file an app origin URL names, and the page library at the reserved path.
#include <filesystem>
#include <glib.h>
#include <gtest/gtest.h>

#include "host/WHAppSchemeSource.h"
#include "host/WHPageLibrarySource.h"
#include "support/TempDir.h"

using penwick::WHAppSchemeSource;
using penwick::WHPageLibrarySource;

namespace {

TEST(AppSchemeSource, OnlyTheAppsHostAndFilesInsideTheFolderWithThePageLibraryAtTheReservedPath)
{
    const penwick::test::TempDir tmp;
    const std::string root = tmp.path, www = root + "/www";
    std::filesystem::create_directories(www + "/_webhost");
    for (const char* file : { "/www/a b.js", "/www/_webhost/own.js", "/secret.txt" })
        ASSERT_TRUE(g_file_set_contents((root + file).c_str(), "x", 1, nullptr));
    const WHAppSchemeSource files("com.example.notes", www);
    const WHPageLibrarySource source(files.origin() + "/", files);
    const std::pair<const char*, const char*> cases[] = {
        { "app://com.example.notes/a%20b.js?v=1#top", "text/javascript" },
        { "app://Com.Example.Notes/a%20b.js", nullptr },
        { "app://other.app/a%20b.js", nullptr },
        { "whfile://localhost/a%20b.js", nullptr },
        { "app://com.example.notes/_webhost/own.js", nullptr },
        { "app://com.example.notes//_webhost/own.js", nullptr },
        { "app://com.example.notes/%5fwebhost/own.js", nullptr },
        { "app://com.example.notes/_webhost%2fown.js", nullptr },
        { "app://com.example.notes/./x/../_webhost/own.js", nullptr },
        { "app://com.example.notes//_webhost/webhost.mjs", "text/javascript" },
        { "app://com.example.notes:80/a%20b.js", nullptr },
        { "app://com.example.notes:/a%20b.js", nullptr },
        { "app://com.example.notes/%2e%2e/secret.txt", nullptr },
        { "app://com.example.notes/", nullptr },
    };
    for (const auto& [url, type] : cases) {
        auto file = source.fileForURL(url);
        EXPECT_EQ(file.has_value(), type != nullptr) << url;
        if (file && type) {
            EXPECT_EQ(file->mimeType, type) << url;
        }
    }
    EXPECT_EQ(WHAppSchemeSource::contentType("x/Y.WASM"), "application/wasm");
    EXPECT_EQ(WHAppSchemeSource::contentType("README"), "application/octet-stream");
}

} // namespace
