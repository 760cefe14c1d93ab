// The page's file system through a real page: file systems and paths, entries, copies and moves
// across file systems, reading and writing, queries, the answers to bad calls, confinement, and
// whfile URLs loaded by the engine (markup, fetch with its headers, byte ranges, audio).
#include "e2e/E2E.h"

namespace {

const std::string kFiles = "../data/" + std::string(PENWICK_APP_ID) + "/files/";

// A mono 16-bit PCM WAV of `seconds` of silence at 8 kHz; the two-byte header fields go in pairs.
std::string wav(std::uint32_t seconds)
{
    const std::uint32_t data = 16000 * seconds;
    auto le = [](std::uint32_t v) { return std::string { char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24) }; };
    return "RIFF" + le(36 + data) + "WAVEfmt " + le(16) + le(1 | 1 << 16) + le(8000) + le(16000) + le(2 | 16 << 16) + "data" + le(data)
        + std::string(data, '\0');
}

// Every step of the page answers as expected, with the file plugin mapped as "File". Pages cannot
// leave their file systems (secret.txt and secret.wav lie next to the persistent one), a 64 MiB
// read arrives and the page keeps its bridge, audio of a stored WAV loads, seeks and plays, and
// the library's module loads from the host's reserved path. From a file: page and from the app
// origin alike.
class FilePage : public ::testing::TestWithParam<const char*> { };
INSTANTIATE_TEST_SUITE_P(File, FilePage, ::testing::Values("", "<preference name=\"AppOrigin\" value=\"true\"/>"),
    [](const auto& info) { return std::string(info.index ? "AppOrigin" : "FileURL"); });

TEST_P(FilePage, EveryCallAndWhfileUrlThroughARealPage)
{
    AppRunner app(AppRunner::Binary::TestApp);
    const std::string data = app.path("data/") + PENWICK_APP_ID + "/files";
    // Its byte changes every 4093 bytes: a part of a large answer out of place shows.
    std::string big(64 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i / 4093 % 251);
    const std::pair<const char*, std::string> files[] = { { "../secret.txt", "secret" }, { "../secret.wav", wav(1) }, { "big.bin", big },
        { "small.txt", "still here" }, { "tree/sub/f.txt", "" }, { "style.css", "#box { width: 123px; }" }, { "notes.txt", "hi" },
        { "inner.html", AppRunner::page("file", "inner.html") }, { "tone.wav", wav(2) },
        { "data.bin", std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09", 10) },
        { "pic.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="7" height="5"><rect width="7" height="5"/></svg>)" } };
    for (const auto& [name, content] : files)
        app.writeResource(kFiles + name, content);
    // Opening a FIFO would block a worker of the work queue for good.
    ASSERT_EQ(mkfifo((data + "/fifo").c_str(), 0600), 0);
    // "{root}" stands for the app's sandbox folder, "{id}" for its id.
    const std::string none = "content-type=null content-length=null accept-ranges=null", partial = "206 content-type=*/* content-length=";
    const std::string notFound = R"( ok "404 )" + none + R"( content-range=null cache-control=no-cache []")";
    Lines lines { R"(types ok ["temporary","persistent","documents","cache","bundle","root","temporary"])",
        "No filesystem of type requested", "bad types ok [1,1]", "quota fail 10",
        R"(root ok {"filesystemName":"persistent","fullPath":"/","isDirectory":true,"isFile":false,"name":"/",)"
        R"("nativeURL":"file://{root}/data/{id}/files/"})",
        R"(all ok ["temporary/","persistent/","documents/","cache/","bundle/","root/"])",
        R"(paths ok {"applicationDirectory":"file://{root}/resources/","applicationStorageDirectory":"file://{root}/data/{id}/",)"
        R"("cacheDirectory":"file://{root}/cache/{id}/","dataDirectory":"file://{root}/data/{id}/files/",)"
        R"("documentsDirectory":"file://{root}/home/Documents","rootDirectory":"file:///","tempDirectory":"file://{root}/tmp/"})",
        R"(mkdir ok "/notes/ true")", R"(create ok "/notes/a.txt true")", "exclusive fail 12", "dir as file fail 11", "write ok 5",
        R"(blank ok "/notes/a b.txt|/notes/a b.txt")", R"(hash ok "hash")", R"(parent ok "/notes/")", R"(list ok "a b.txt a.txt")",
        "lean ok [true,true]", R"(metadata ok "a.txt 5 true")", R"(copy across ok "temporary/a.txt hello")",
        R"(file url ok "temporary/a.txt")", R"(copy renamed ok "/notes/b.txt")", "copy onto existing fail 12", "copy no source fail 1",
        R"(copy tree ok "/tree2/ f.txt")", R"(move ok "persistent/moved.txt gone 1")", R"(move tree ok "persistent/tree2/")",
        "remove file ok null", "remove tree ok 1", R"(local path ok "{root}/data/{id}/files/notes/a.txt")",
        R"(no local path fail "Cannot resolve URL to a file")", "resolve ok [1,1,1,1,1]", "copy out ok [5,5,9,5,5]",
        R"(roots ok [6,6,6,"persistent/"])", "fetch ok [404,404,404,404,404,404,404,404]", "write ok 11", R"(write shorter ok "HELLO")",
        R"(append ok "HELLO there")", R"(range ok ["ELL","there"])", "Only UTF-8 encodings are currently supported by readAsText",
        "utf-16 fail 5", "write bytes ok 5", "not utf-8 fail 5", "array buffer ok bytes 65,233,255,128,0",
        R"(binary string ok "65,233,255,128,0")", R"(data url ok ["data:text/css;base64,Ynt9","data:*/*;base64,Ynt9"])",
        // A write with bad data, or a position or length that is no number, is refused before the file is touched.
        R"(bad data ok "Invalid parameter type,9,9 | HELLO there")", R"(truncate ok "2 HE")", "size limit ok [10,10]", "missing ok [1,1]",
        "queries ok [1,0,1,0]", "no file system ok [5,5,5,5,5,5,5,5,5,5,5,5,5,5,1]", "wrong kinds ok [11,11,11,11,11,11,11,11]",
        R"(big ok "67108864 0")", R"(after ok "still here")", R"(library ok "still here")", R"(worker library ok "NO_BRIDGE")",
        R"(img ok "7x5")", R"(css ok "123px")",
        R"(text ok "200 content-type=text/plain content-length=2 accept-ranges=bytes content-range=null cache-control=no-cache [104,105]")",
        "missing" + notFound, "no file system" + notFound, "directory" + notFound, "fifo" + notFound, "device" + notFound,
        R"(range ok ")" + partial + R"(4 accept-ranges=bytes content-range=bytes 2-5/10 cache-control=no-cache [2,3,4,5]")",
        R"(range open ok ")" + partial + R"(3 accept-ranges=bytes content-range=bytes 7-9/10 cache-control=no-cache [7,8,9]")",
        R"(range suffix ok ")" + partial + R"(3 accept-ranges=bytes content-range=bytes 7-9/10 cache-control=no-cache [7,8,9]")",
        R"(range past end ok ")" + partial + R"(7 accept-ranges=bytes content-range=bytes 3-9/10 cache-control=no-cache [3,4,5,6,7,8,9]")",
        R"(unsatisfiable ok "416 )" + none + R"( content-range=bytes */10 cache-control=no-cache []")",
        R"(cut while loaded fail "Load failed")", R"(whfile page ok "whfile: 206 bytes 1-2/10 1,2")",
        R"(script ok "2 1.5 whfile://localhost/persistent/tone.wav")", "markup ok 2", "plays ok true", R"(outside fail "media error 4")" };
    for (auto& line : lines)
        line = AppRunner::replaced(AppRunner::replaced(line, "{root}", app.root()), "{id}", PENWICK_APP_ID);
    // A write past the file size limit fails instead of killing the app.
    app.setLauncher({ "sh", "-c", "ulimit -f 1048576 && exec \"$@\"", "sh" });
    app.startPages("file", "file.html", { "harness.js", "library-worker.js" }, GetParam() + AppRunner::kFilePlugin);
    ASSERT_TRUE(lineAppears(app, ": DONE", 60s));
    EXPECT_TRUE(logged(app, lines));
    EXPECT_EQ(app.countLines(" TIMEOUT"), 0) << app.output();
    EXPECT_TRUE(std::filesystem::exists(data + "/tree2/sub/f.txt"));
}

// Links in the persistent file system lead where they point while they stay inside it; the app's
// page that loads one by its nativeURL (fetch, image, frame) gets nothing through a link leading out.
// (Without the "root" file system, which would hand the page the whole disk.) Then, under
// concurrent writes and with a read no answer could carry, files hold their old or their new
// content whole: 100 writes at once leave the last one called, and a 2 GiB (sparse) read is refused
// without the host growing. (A write that does not fit a full disk, a refused terabyte and a host
// killed mid-write are the file system's and the file plugin's unit tests.)
TEST(File, NativeURLsFollowOnlyLinksThatStayInsideAndConcurrentWritesAndATooLargeReadLeaveFilesAndTheHostWhole)
{
    AppRunner app(AppRunner::Binary::TestApp);
    const std::string files = app.path("data/") + PENWICK_APP_ID + "/files/";
    const std::string svg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="7" height="5"/>)";
    for (const auto& [name, content] :
        { std::pair { "../secret.txt", "secret" }, { "../pic.svg", svg.c_str() }, { "pic.svg", svg.c_str() }, { "inside.txt", "inside" } })
        app.writeResource(kFiles + name, content);
    for (const auto& [link, target] : { std::pair { "in.txt", "inside.txt" }, { "in.svg", "pic.svg" }, { "out.txt", "../secret.txt" },
             { "out.svg", "../pic.svg" }, { "outdir", ".." } })
        ASSERT_EQ(symlink(target, (files + link).c_str()), 0) << link;
    app.startPages("file", "links.html", { "harness.js" }, AppRunner::kFilePlugin + R"(<preference name="osxextrafilesystems" value=""/>)");

    ASSERT_TRUE(lineAppears(app, "measure now", 60s));
    // The peak starts again from here (writing 5 to clear_refs resets it).
    std::ofstream("/proc/" + std::to_string(app.pid()) + "/clear_refs") << "5";
    const long before = AppRunner::statusKiB(app.pid(), "VmRSS");
    ASSERT_TRUE(lineAppears(app, ": DONE", 60s));
    const long peak = AppRunner::statusKiB(app.pid(), "VmHWM");
    EXPECT_TRUE(logged(app,
        { R"(links ok ["inside","refused","refused",7,"refused"])", R"(frame ok "loaded")", "concurrent ok 99", "two gib ok 4",
            "alive ok true" }));
    EXPECT_TRUE(counted(app, { { "refused to load file://" + files + "outdir/: a link in it leads out of the app's folders", 1 } }));
    EXPECT_LT(peak - before, 64 * 1024) << before << " KiB before the reads, a peak of " << peak << " KiB";
}

} // namespace
