// A call's reply: it answers its call's address once, after any kept answers, and says so when an
// answer is lost (a second one, or a reply dropped unanswered).
#include <functional>
#include <gtest/gtest.h>
#include <tuple>

#include "bridge/Reply.h"
#include "support/LogCapture.h"
#include "support/RecordingCommandDelegate.h"

using namespace penwick;

namespace {

// What the delegate was sent: the status, whether the callback is kept, and where to.
using Sent = std::tuple<std::int32_t, bool, WHCallbackAddress>;

TEST(Reply, AnswersItsCallOnceAfterAnyKeptAnswers)
{
    const WHCallbackAddress call { 7, "cb" };
    auto kept = WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, 1);
    kept.setKeepCallback(KeepCallback::Yes);
    const struct { const char* name; std::function<void(Reply&)> use; std::vector<Sent> sent; std::vector<std::string> logged; } cases[] = {
        { "ok", [](Reply& r) { r.ok("x"); }, { { 1, false, call } }, {} },
        { "fail", [](Reply& r) { r.fail(CommandStatus::Error, "why"); }, { { 9, false, call } }, {} },
        { "kept, then final", [&](Reply& r) { r.keep(kept); r.send(kept); r.ok(); }, { { 1, true, call }, { 1, true, call }, { 1, false, call } }, {} },
        { "twice", [](Reply& r) { r.ok(); r.fail(CommandStatus::Error, "late"); }, { { 1, false, call } },
            { "a second answer to callback cb was not sent" } },
        { "moved on", [](Reply& r) { Reply other = std::move(r); other.ok(); r.ok(); }, { { 1, false, call } }, {} },
        { "no answer", [](Reply& r) { r.none(); }, {}, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecordingCommandDelegate delegate;
        test::LogCapture log;
        {
            Reply reply(delegate, call);
            c.use(reply);
            EXPECT_FALSE(reply.waiting());
        }
        std::vector<Sent> sent;
        for (const auto& a : delegate.answers)
            sent.emplace_back(a.result.status(), a.result.keepCallback(), a.address);
        EXPECT_EQ(sent, c.sent);
        EXPECT_EQ(log.lines(), c.logged);
    }
}

TEST(Reply, ADroppedUnansweredReplyIsAFault)
{
    test::RecordingCommandDelegate delegate;
    test::LogCapture log;
    EXPECT_DEBUG_DEATH({ Reply reply(delegate, { 7, "cb" }); }, "dropped unanswered");
#ifdef NDEBUG
    EXPECT_EQ(log.lines(), std::vector<std::string> { "the call with callback cb was dropped unanswered" });
#endif
    EXPECT_TRUE(delegate.answers.empty());
}

} // namespace
