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

TEST(Reply, AnswersItsCallOnceAfterAnyKeptAnswersAndADroppedUnansweredReplyIsAFault)
{
    const WHCallbackAddress call { 7, "cb" };
    auto kept = WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, 1);
    kept.setKeepCallback(KeepCallback::Yes);
    // What an action may do with its reply.
    auto ok = [](Reply& r) { r.ok("x"); };
    auto fail = [](Reply& r) { r.fail(CommandStatus::Error, "why"); };
    auto keep = [&](Reply& r) { r.keep(kept); };
    auto send = [&](Reply& r) { r.send(kept); };
    auto handOn = [](Reply& r) { Reply(std::move(r)).ok(); };
    auto none = [](Reply& r) { r.none(); };
    // Name, what the action does in turn, what the delegate was sent, what was logged.
    const std::tuple<const char*, std::vector<std::function<void(Reply&)>>, std::vector<Sent>, std::vector<std::string>> cases[] = {
        { "fail", { fail }, { { 9, false, call } }, {} },
        { "kept, then final", { keep, send, ok }, { { 1, true, call }, { 1, true, call }, { 1, false, call } }, {} },
        { "twice", { ok, fail }, { { 1, false, call } }, { "a second answer to callback cb was not sent" } },
        { "moved on", { handOn, ok }, { { 1, false, call } }, {} },
        { "no answer", { none }, {}, {} },
    };
    for (const auto& [name, steps, expected, logged] : cases) {
        SCOPED_TRACE(name);
        test::RecordingCommandDelegate delegate;
        test::LogCapture log;
        {
            Reply reply(delegate, call);
            for (const auto& step : steps)
                step(reply);
            EXPECT_FALSE(reply.waiting());
        }
        std::vector<Sent> sent;
        for (const auto& a : delegate.answers)
            sent.emplace_back(a.result.status(), a.result.keepCallback(), a.address);
        EXPECT_EQ(std::pair(sent, log.lines()), std::pair(expected, logged));
    }

    // A reply dropped unanswered is a fault.
    test::RecordingCommandDelegate delegate;
    test::LogCapture log;
    EXPECT_DEBUG_DEATH({ Reply reply(delegate, { 7, "cb" }); }, "dropped unanswered");
#ifdef NDEBUG
    EXPECT_EQ(log.lines(), std::vector<std::string> { "the call with callback cb was dropped unanswered" });
#endif
    EXPECT_TRUE(delegate.answers.empty());
}

} // namespace
