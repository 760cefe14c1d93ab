// The whfile scheme's answers without the engine: status, headers (CORS among them) and the bytes
// of the body.
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

#include "platform/FileSchemeResponder.h"

using namespace penwick::platform;

namespace {

TEST(FileSchemeResponder, AnswersWholeFilesRangesMissingFilesAndCorsAndRefusesOtherViewsAndOriginsAlike)
{
    // Name, request, the file's size (none: no file), status, Content-Range (nullptr: none), and the
    // offset and length served. The plain cases (a whole file, a missing one, the common ranges) are
    // fetched by a real page end to end.
    const std::tuple<const char*, SchemeRequest, std::optional<std::uint64_t>, int, const char*, std::uint64_t, std::uint64_t> cases[] = {
        { "empty file", { "GET", {}, {} }, 0, 200, nullptr, 0, 0 },
        { "head", { "HEAD", {}, {} }, 10, 200, nullptr, 0, 10 },
        { "-n beyond size", { "GET", "bytes=-30", {} }, 10, 206, "bytes 0-9/10", 0, 10 },
        { "unit in capitals", { "GET", "Bytes=0-0", {} }, 10, 206, "bytes 0-0/10", 0, 1 },
        { "-0", { "GET", "bytes=-0", {} }, 10, 416, "bytes */10", 0, 0 },
        { "range of empty file", { "GET", "bytes=0-", {} }, 0, 416, "bytes */0", 0, 0 },
        { "b before a ignored", { "GET", "bytes=5-2", {} }, 10, 200, nullptr, 0, 10 },
        { "several ranges ignored", { "GET", "bytes=0-1,4-5", {} }, 10, 200, nullptr, 0, 10 },
        { "other unit ignored", { "GET", "items=0-1", {} }, 10, 200, nullptr, 0, 10 },
        { "garbage ignored", { "GET", "bytes=x-y", {} }, 10, 200, nullptr, 0, 10 },
        { "overflowing end ignored", { "GET", "bytes=0-99999999999999999999", {} }, 10, 200, nullptr, 0, 10 },
        { "largest start", { "GET", "bytes=18446744073709551615-", {} }, 10, 416, "bytes */10", 0, 0 },
        { "huge suffix", { "GET", "bytes=-18446744073709551615", {} }, 10, 206, "bytes 0-9/10", 0, 10 },
        { "signed start ignored", { "GET", "bytes=+1-2", {} }, 10, 200, nullptr, 0, 10 },
        { "end of a huge file", { "GET", "bytes=-1", {} }, 0x7FFFFFFFFFFFFFFF, 206,
            "bytes 9223372036854775806-9223372036854775806/9223372036854775807", 0x7FFFFFFFFFFFFFFE, 1 },
        { "missing file with range", { "GET", "bytes=0-1", {} }, {}, 404, nullptr, 0, 0 },
        { "post", { "POST", {}, {} }, 10, 405, nullptr, 0, 0 },
        // CORS answers for the application's own pages (a file: page's fetch with a range is end to end).
        { "own origin", { "GET", "bytes=0-1", "whfile://localhost" }, 10, 206, "bytes 0-1/10", 0, 2 },
        { "preflight", { "OPTIONS", "bytes=0-1", "file://" }, 10, 204, nullptr, 0, 0 },
    };
    const ServedFile file { "/data/a.wav", "audio/wav", std::nullopt };
    for (const auto& [name, request, size, status, contentRange, offset, length] : cases) {
        SCOPED_TRACE(name);
        auto response = FileSchemeResponder::respond(request, size ? std::optional(file) : std::nullopt, size, SchemeRules("whfile"));
        auto expectHeader = [&](const char* name, const char* value) {
            const std::string* got = response.header(name);
            EXPECT_EQ(got ? std::optional(*got) : std::nullopt, value ? std::optional<std::string>(value) : std::nullopt) << name;
        };
        // Only what is served has a length and a body, and a page of the app's own origin reads it.
        const bool served = status == 200 || status == 206, preflight = status == 204;
        const std::string contentLength = std::to_string(length);
        const char* origin = request.origin ? request.origin->c_str() : nullptr;
        expectHeader("Cache-Control", "no-cache");
        expectHeader("Content-Length", served ? contentLength.c_str() : nullptr);
        expectHeader("Content-Range", contentRange);
        expectHeader("Content-Type", served ? "audio/wav" : nullptr);
        expectHeader("Accept-Ranges", served ? "bytes" : nullptr);
        expectHeader("Access-Control-Allow-Origin", origin);
        expectHeader("Access-Control-Allow-Headers", preflight && origin ? "Range" : nullptr);
        const std::string* exposed = response.header("Access-Control-Expose-Headers");
        EXPECT_EQ(exposed && exposed->find("Content-Range") != std::string::npos, origin != nullptr) << "exposed headers";
        EXPECT_EQ(std::pair(response.status, response.hasBody), std::pair(status, served && request.method != "HEAD"));
        if (served)
            EXPECT_EQ(std::pair(response.offset, response.length), std::pair(offset, length));
    }

    // Who is served: the app's own web views while they show the app's content, asking without an
    // Origin (the engine lets only local documents load the scheme) or with the app's own. Everyone else
    // gets one answer, whether the file exists or not.
    using V = RequestingView;
    // The origins asking (nullptr: no Origin header), from which view, and whether they are served.
    const std::tuple<std::vector<const char*>, RequestingView, bool> askers[] = {
        { { nullptr, "file://", "whfile://localhost" }, V::App, true },
        { { nullptr, "file://" }, V::Other, false },
        { { nullptr, "whfile://localhost" }, V::AppShowingOther, false },
        { { "null", "https://example.org", "whfile://localhost.example.org", "whfilex://localhost", "file:///etc", "" }, V::App, false },
    };
    const SchemeResponse refusal = FileSchemeResponder::refusal();
    const SchemeRules whfile("whfile");
    // A scheme for every document of the app's views serves the one showing something else too.
    const SchemeRules everyDocument("whfile", { "file://", "whfile://localhost" }, {}, SchemeAudience::AppViews);
    for (const auto& [origins, view, admitted] : askers) {
        for (const char* origin : origins) {
            for (const char* method : { "GET", "HEAD", "OPTIONS" }) {
                SchemeRequest request { method, "bytes=0-1", origin ? std::optional<std::string>(origin) : std::nullopt, view };
                SCOPED_TRACE(std::string(origin ? origin : "no origin") + " " + method);
                EXPECT_EQ(FileSchemeResponder::admits(request, whfile), admitted);
                EXPECT_EQ(FileSchemeResponder::admits(request, everyDocument), admitted || view == V::AppShowingOther);
                if (admitted)
                    continue;
                for (auto size : { std::optional<std::uint64_t>(10), std::optional<std::uint64_t>() }) {
                    auto response = FileSchemeResponder::respond(request, size ? std::optional(file) : std::nullopt, size, whfile);
                    EXPECT_EQ(std::tuple(response.status, response.headers, response.hasBody), std::tuple(404, refusal.headers, false));
                }
            }
        }
    }
}

} // namespace
