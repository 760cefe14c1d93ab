// The whfile scheme's answers without the engine: status, headers (CORS among them) and the bytes
// of the body.
#include <gtest/gtest.h>
#include <vector>

#include "platform/FileSchemeResponder.h"

using namespace penwick::platform;

namespace {

TEST(FileSchemeResponder, AnswersWholeFilesRangesMissingFilesAndCorsAndRefusesOtherViewsAndOriginsAlike)
{
    // Header values are nullptr for an absent header; no size means no file. The plain cases (a whole
    // file, a missing one, the common ranges) are fetched by a real page end to end.
    const struct { const char* name; SchemeRequest request; std::optional<std::uint64_t> size; int status;
        const char *contentLength, *contentRange; std::uint64_t offset, length; bool hasBody; const char* allowOrigin; } cases[] = {
        { "empty file", { "GET", {}, {} }, 0, 200, "0", nullptr, 0, 0, true, nullptr },
        { "head", { "HEAD", {}, {} }, 10, 200, "10", nullptr, 0, 10, false, nullptr },
        { "-n beyond size", { "GET", "bytes=-30", {} }, 10, 206, "10", "bytes 0-9/10", 0, 10, true, nullptr },
        { "unit in capitals", { "GET", "Bytes=0-0", {} }, 10, 206, "1", "bytes 0-0/10", 0, 1, true, nullptr },
        { "-0", { "GET", "bytes=-0", {} }, 10, 416, nullptr, "bytes */10", 0, 0, false, nullptr },
        { "range of empty file", { "GET", "bytes=0-", {} }, 0, 416, nullptr, "bytes */0", 0, 0, false, nullptr },
        { "b before a ignored", { "GET", "bytes=5-2", {} }, 10, 200, "10", nullptr, 0, 10, true, nullptr },
        { "several ranges ignored", { "GET", "bytes=0-1,4-5", {} }, 10, 200, "10", nullptr, 0, 10, true, nullptr },
        { "other unit ignored", { "GET", "items=0-1", {} }, 10, 200, "10", nullptr, 0, 10, true, nullptr },
        { "garbage ignored", { "GET", "bytes=x-y", {} }, 10, 200, "10", nullptr, 0, 10, true, nullptr },
        { "overflowing end ignored", { "GET", "bytes=0-99999999999999999999", {} }, 10, 200, "10", nullptr, 0, 10, true, nullptr },
        { "largest start", { "GET", "bytes=18446744073709551615-", {} }, 10, 416, nullptr, "bytes */10", 0, 0, false, nullptr },
        { "huge suffix", { "GET", "bytes=-18446744073709551615", {} }, 10, 206, "10", "bytes 0-9/10", 0, 10, true, nullptr },
        { "signed start ignored", { "GET", "bytes=+1-2", {} }, 10, 200, "10", nullptr, 0, 10, true, nullptr },
        { "end of a huge file", { "GET", "bytes=-1", {} }, 0x7FFFFFFFFFFFFFFF, 206, "1", "bytes 9223372036854775806-9223372036854775806/9223372036854775807",
            0x7FFFFFFFFFFFFFFE, 1, true, nullptr },
        { "missing file with range", { "GET", "bytes=0-1", {} }, {}, 404, nullptr, nullptr, 0, 0, false, nullptr },
        { "post", { "POST", {}, {} }, 10, 405, nullptr, nullptr, 0, 0, false, nullptr },
        // CORS answers for the application's own pages (a file: page's fetch with a range is end to end).
        { "own origin", { "GET", "bytes=0-1", "whfile://localhost" }, 10, 206, "2", "bytes 0-1/10", 0, 2, true, "whfile://localhost" },
        { "preflight", { "OPTIONS", "bytes=0-1", "file://" }, 10, 204, nullptr, nullptr, 0, 0, false, "file://" },
    };
    const ServedFile file { "/data/a.wav", "audio/wav", std::nullopt };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto response = FileSchemeResponder::respond(c.request, c.size ? std::optional(file) : std::nullopt, c.size, SchemeRules("whfile"));
        EXPECT_EQ(response.status, c.status);
        auto expectHeader = [&](const char* name, const char* value) {
            const std::string* got = response.header(name);
            EXPECT_EQ(got ? std::optional(*got) : std::nullopt, value ? std::optional<std::string>(value) : std::nullopt) << name;
        };
        const bool served = c.status == 200 || c.status == 206, preflight = c.status == 204;
        expectHeader("Cache-Control", "no-cache");
        expectHeader("Content-Length", c.contentLength);
        expectHeader("Content-Range", c.contentRange);
        expectHeader("Content-Type", served ? "audio/wav" : nullptr);
        expectHeader("Accept-Ranges", served ? "bytes" : nullptr);
        expectHeader("Access-Control-Allow-Origin", c.allowOrigin);
        expectHeader("Access-Control-Allow-Headers", preflight && c.allowOrigin ? "Range" : nullptr);
        const std::string* exposed = response.header("Access-Control-Expose-Headers");
        EXPECT_EQ(exposed && exposed->find("Content-Range") != std::string::npos, c.allowOrigin != nullptr) << "exposed headers";
        EXPECT_EQ(response.hasBody, c.hasBody);
        if (served) {
            EXPECT_EQ(response.offset, c.offset);
            EXPECT_EQ(response.length, c.length);
        }
    }

    // Who is served: the app's own web views while they show the app's content, asking without an
    // Origin (the engine lets only local documents load the scheme) or with the app's own. Everyone else
    // gets one answer, whether the file exists or not.
    using V = RequestingView;
    // An origin of nullptr is no Origin header.
    const struct { std::vector<const char*> origins; RequestingView view; bool admitted; } askers[] = {
        { { nullptr, "file://", "whfile://localhost" }, V::App, true },
        { { nullptr, "file://" }, V::Other, false },
        { { nullptr, "whfile://localhost" }, V::AppShowingOther, false },
        { { "null", "https://example.org", "whfile://localhost.example.org", "whfilex://localhost", "file:///etc", "" }, V::App, false },
    };
    const SchemeResponse refusal = FileSchemeResponder::refusal();
    const SchemeRules whfile("whfile");
    for (const auto& c : askers) {
        for (const char* origin : c.origins) {
            for (const char* method : { "GET", "HEAD", "OPTIONS" }) {
                SchemeRequest request { method, "bytes=0-1", origin ? std::optional<std::string>(origin) : std::nullopt, c.view };
                SCOPED_TRACE(std::string(origin ? origin : "no origin") + " " + method);
                EXPECT_EQ(FileSchemeResponder::admits(request, whfile), c.admitted);
                // A scheme for every document of the app's views serves the one showing something else too.
                SchemeRules everyDocument("whfile", { "file://", "whfile://localhost" }, {}, SchemeAudience::AppViews);
                EXPECT_EQ(FileSchemeResponder::admits(request, everyDocument), c.admitted || c.view == V::AppShowingOther);
                if (c.admitted)
                    continue;
                for (auto size : { std::optional<std::uint64_t>(10), std::optional<std::uint64_t>() }) {
                    auto response = FileSchemeResponder::respond(request, size ? std::optional(file) : std::nullopt, size, whfile);
                    EXPECT_EQ(response.status, 404);
                    EXPECT_EQ(response.headers, refusal.headers);
                    EXPECT_FALSE(response.hasBody);
                }
            }
        }
    }
}

} // namespace
