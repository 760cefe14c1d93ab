// The pointer auto-hide without a timeout; hiding after a timeout and showing on movement are
// checked end to end.
#include <gtest/gtest.h>

#include "display/WHCursorMonitorService.h"

using namespace penwick;
using Calls = std::vector<std::string>;

namespace {

// A pointer and a clock that stands still, recording what the service asks of them; activation
// handlers are kept so that the test can activate the application.
class RecordingDisplay : public platform::Pointer, public platform::Clock {
public:
    void hide() override { calls.push_back("hide"); }
    void show() override { calls.push_back("show"); }
    std::unique_ptr<platform::Registration> addLocalMovementMonitor(MovementHandler) override { return monitor(); }
    std::unique_ptr<platform::Registration> addGlobalMovementMonitor(MovementHandler) override { return monitor(); }
    std::unique_ptr<platform::Registration> observeDidBecomeActive(std::function<void()> handler) override
    {
        activations.push_back(std::move(handler));
        return std::make_unique<platform::Registration>();
    }
    double now() const override { return 1000; }
    std::unique_ptr<platform::Registration> scheduleRepeating(double, std::function<void()>) override { return monitor(); }

    Calls calls;
    std::vector<std::function<void()>> activations;
    int monitorsAndTimers = 0;

private:
    std::unique_ptr<platform::Registration> monitor() { ++monitorsAndTimers; return std::make_unique<platform::Registration>(); }
};

TEST(CursorMonitorService, ZeroOrNegativeTimeoutHidesAtOnceAndOnEveryActivationAndASecondStartIsIgnored)
{
    for (double timeout : { 0.0, -3.0 }) {
        SCOPED_TRACE(timeout);
        RecordingDisplay display;
        WHCursorMonitorService service(display, display);
        service.startWithTimeout(timeout);
        EXPECT_EQ(display.calls, (Calls { "hide" }));
        ASSERT_EQ(display.activations.size(), 1u);
        display.activations[0]();
        display.activations[0]();
        EXPECT_EQ(display.calls, (Calls { "hide", "hide", "hide" }));

        service.startWithTimeout(5);
        EXPECT_EQ(display.activations.size(), 1u);
        EXPECT_EQ(display.monitorsAndTimers, 0);
    }
}

} // namespace
