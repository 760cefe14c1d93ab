// Which file an app origin URL names, and the page library at the reserved path.
#include <filesystem>
#include <gtest/gtest.h>

#include "host/WHAppSchemeSource.h"
#include "host/WHPageLibrarySource.h"
#include "support/TempDir.h"

using namespace penwick;

TEST(AppSchemeSource, OnlyTheAppsHostAndFilesInsideTheFolderWithThePageLibraryAtTheReservedPath)
{
    const test::TempDir tmp;
    const std::string root = tmp.path, www = root + "/www";
    std::filesystem::create_directories(www + "/_webhost");
    for (const char* file : { "/www/a b.js", "/www/_webhost/own.js", "/secret.txt" })
        test::writeFile(root + file, "x");
    const WHAppSchemeSource files("com.example.notes", www);
    const WHPageLibrarySource source(files.origin() + "/", files);
    for (const char* url : { "app://com.example.notes/a%20b.js?v=1#top", "app://com.example.notes//_webhost/webhost.mjs" })
        EXPECT_EQ(source.fileForURL(url).value_or(platform::ServedFile {}).mimeType, "text/javascript") << url; // none: no type
    for (const char* url : { "app://Com.Example.Notes/a%20b.js", "app://other.app/a%20b.js", "whfile://localhost/a%20b.js",
             "app://com.example.notes/_webhost/own.js", "app://com.example.notes//_webhost/own.js",
             "app://com.example.notes/%5fwebhost/own.js", "app://com.example.notes/_webhost%2fown.js",
             "app://com.example.notes/./x/../_webhost/own.js", "app://com.example.notes:80/a%20b.js", "app://com.example.notes:/a%20b.js",
             "app://com.example.notes/%2e%2e/secret.txt", "app://com.example.notes/" })
        EXPECT_FALSE(source.fileForURL(url)) << url;
    EXPECT_EQ(WHAppSchemeSource::contentType("x/Y.WASM"), "application/wasm");
    EXPECT_EQ(WHAppSchemeSource::contentType("README"), "application/octet-stream");
}
