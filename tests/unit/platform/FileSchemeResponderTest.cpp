// The whfile scheme's answers without the engine: status, headers and the bytes of the body.
#include <gtest/gtest.h>

#include "platform/FileSchemeResponder.h"

using namespace penwick::platform;

namespace {

const ServedFile kFile { "/data/a.wav", "audio/wav" };

struct Case {
    const char* name;
    SchemeRequest request;
    bool found;
    std::uint64_t size;
    int status;
    // Header values, or nullptr for an absent header.
    const char* contentLength;
    const char* contentRange;
    std::uint64_t offset;
    std::uint64_t length;
    bool hasBody;
};

TEST(FileSchemeResponder, AnswersWholeFilesRangesAndMissingFiles)
{
    const Case cases[] = {
        { "whole", { "GET", {}, {} }, true, 10, 200, "10", nullptr, 0, 10, true },
        { "empty file", { "GET", {}, {} }, true, 0, 200, "0", nullptr, 0, 0, true },
        { "missing", { "GET", {}, {} }, false, 0, 404, nullptr, nullptr, 0, 0, false },
        { "head", { "HEAD", {}, {} }, true, 10, 200, "10", nullptr, 0, 10, false },
        { "a-b", { "GET", "bytes=2-5", {} }, true, 10, 206, "4", "bytes 2-5/10", 2, 4, true },
        { "a-", { "GET", "bytes=7-", {} }, true, 10, 206, "3", "bytes 7-9/10", 7, 3, true },
        { "-n", { "GET", "bytes=-3", {} }, true, 10, 206, "3", "bytes 7-9/10", 7, 3, true },
        { "-n beyond size", { "GET", "bytes=-30", {} }, true, 10, 206, "10", "bytes 0-9/10", 0, 10, true },
        { "b past end", { "GET", "bytes=8-100", {} }, true, 10, 206, "2", "bytes 8-9/10", 8, 2, true },
        { "unit in capitals", { "GET", "Bytes=0-0", {} }, true, 10, 206, "1", "bytes 0-0/10", 0, 1, true },
        { "a at size", { "GET", "bytes=10-", {} }, true, 10, 416, nullptr, "bytes */10", 0, 0, false },
        { "-0", { "GET", "bytes=-0", {} }, true, 10, 416, nullptr, "bytes */10", 0, 0, false },
        { "range of empty file", { "GET", "bytes=0-", {} }, true, 0, 416, nullptr, "bytes */0", 0, 0, false },
        { "b before a ignored", { "GET", "bytes=5-2", {} }, true, 10, 200, "10", nullptr, 0, 10, true },
        { "several ranges ignored", { "GET", "bytes=0-1,4-5", {} }, true, 10, 200, "10", nullptr, 0, 10, true },
        { "other unit ignored", { "GET", "items=0-1", {} }, true, 10, 200, "10", nullptr, 0, 10, true },
        { "garbage ignored", { "GET", "bytes=x-y", {} }, true, 10, 200, "10", nullptr, 0, 10, true },
        { "missing file with range", { "GET", "bytes=0-1", {} }, false, 0, 404, nullptr, nullptr, 0, 0, false },
        { "post", { "POST", {}, {} }, true, 10, 405, nullptr, nullptr, 0, 0, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto response = FileSchemeResponder::respond(c.request, c.found ? std::optional(kFile) : std::nullopt,
            c.found ? std::optional(c.size) : std::nullopt, "whfile");
        EXPECT_EQ(response.status, c.status);
        ASSERT_NE(response.header("Cache-Control"), nullptr);
        EXPECT_EQ(*response.header("Cache-Control"), "no-cache");
        auto expectHeader = [&](const char* name, const char* value) {
            const std::string* got = response.header(name);
            if (!value) {
                EXPECT_EQ(got, nullptr) << name;
                return;
            }
            ASSERT_NE(got, nullptr) << name;
            EXPECT_EQ(*got, value) << name;
        };
        expectHeader("Content-Length", c.contentLength);
        expectHeader("Content-Range", c.contentRange);
        bool served = c.status == 200 || c.status == 206;
        expectHeader("Content-Type", served ? "audio/wav" : nullptr);
        expectHeader("Accept-Ranges", served ? "bytes" : nullptr);
        EXPECT_EQ(response.hasBody, c.hasBody);
        if (served) {
            EXPECT_EQ(response.offset, c.offset);
            EXPECT_EQ(response.length, c.length);
        }
    }
}

TEST(FileSchemeResponder, AnswersCorsOnlyToTheApplicationsOwnPages)
{
    struct {
        const char* method;
        const char* origin;
        const char* allowOrigin;
        int status;
    } cases[] = {
        { "GET", "null", "null", 200 },
        { "GET", "file://", "file://", 200 },
        { "GET", "whfile://localhost", "whfile://localhost", 200 },
        { "GET", "https://example.org", nullptr, 200 },
        { "GET", "whfilex://localhost", nullptr, 200 },
        { "OPTIONS", "null", "null", 204 },
        { "OPTIONS", "https://example.org", nullptr, 204 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.origin);
        auto response = FileSchemeResponder::respond({ c.method, "bytes=0-1", c.origin }, kFile, 10, "whfile");
        EXPECT_EQ(response.status, c.status == 200 ? 206 : c.status);
        const std::string* allow = response.header("Access-Control-Allow-Origin");
        if (!c.allowOrigin) {
            EXPECT_EQ(allow, nullptr);
            EXPECT_EQ(response.header("Access-Control-Allow-Headers"), nullptr);
            continue;
        }
        ASSERT_NE(allow, nullptr);
        EXPECT_EQ(*allow, c.allowOrigin);
        ASSERT_NE(response.header("Access-Control-Expose-Headers"), nullptr);
        EXPECT_NE(response.header("Access-Control-Expose-Headers")->find("Content-Range"), std::string::npos);
        if (std::string(c.method) == "OPTIONS") {
            ASSERT_NE(response.header("Access-Control-Allow-Headers"), nullptr);
            EXPECT_EQ(*response.header("Access-Control-Allow-Headers"), "Range");
            EXPECT_FALSE(response.hasBody);
        }
    }
}

} // namespace
