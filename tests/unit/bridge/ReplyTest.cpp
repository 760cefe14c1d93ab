// A call's reply: it answers its call's address once, after any kept answers, and says so when an
// answer is lost (a second one, or a reply dropped unanswered).
#include <functional>
#include <gtest/gtest.h>

#include "bridge/Reply.h"
#include "bridge/WHCommandDelegate.h"
#include "support/LogCapture.h"

using namespace penwick;

namespace {

class SentAnswers final : public WHCommandDelegate {
public:
    struct Sent {
        std::int32_t status;
        bool keep;
        WHCallbackAddress address;
        bool operator==(const Sent&) const = default;
    };
    std::vector<Sent> sent;
    WHPlugin* getCommandInstance(const std::string&) override { return nullptr; }
    void sendPluginResult(const WHPluginResult& result, const WHCallbackAddress& address) override
    {
        sent.push_back({ result.status(), result.keepCallback(), address });
    }
    void runInBackground(std::function<void()>) override { }
    const Settings& settings() const override { return m_settings; }

private:
    Settings m_settings;
};

TEST(Reply, AnswersItsCallOnceAfterAnyKeptAnswers)
{
    const WHCallbackAddress call { 7, "cb" };
    auto kept = WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, 1);
    kept.setKeepCallback(KeepCallback::Yes);
    struct Case {
        const char* name;
        std::function<void(Reply&)> use;
        std::vector<SentAnswers::Sent> sent;
        std::vector<std::string> logged;
    } cases[] = {
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
        SentAnswers delegate;
        test::LogCapture log;
        {
            Reply reply(delegate, call);
            c.use(reply);
            EXPECT_FALSE(reply.waiting());
        }
        EXPECT_EQ(delegate.sent, c.sent);
        EXPECT_EQ(log.lines(), c.logged);
    }
}

TEST(Reply, ADroppedUnansweredReplyIsAFault)
{
    SentAnswers delegate;
    test::LogCapture log;
    EXPECT_DEBUG_DEATH({ Reply reply(delegate, { 7, "cb" }); }, "dropped unanswered");
#ifdef NDEBUG
    EXPECT_EQ(log.lines(), std::vector<std::string> { "the call with callback cb was dropped unanswered" });
#endif
    EXPECT_TRUE(delegate.sent.empty());
}

} // namespace
