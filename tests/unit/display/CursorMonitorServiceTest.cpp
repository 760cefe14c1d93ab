// The pointer auto-hide without a timeout; hiding after a timeout and showing on movement are
// checked end to end.
#include <gtest/gtest.h>

#include "display/WHCursorMonitorService.h"
#include "support/RecordingDesktop.h"

using namespace penwick;
using Calls = std::vector<std::string>;

TEST(CursorMonitorService, ZeroOrNegativeTimeoutHidesAtOnceAndOnEveryActivationAndASecondStartIsIgnored)
{
    for (double timeout : { 0.0, -3.0 }) {
        SCOPED_TRACE(timeout);
        test::RecordingDisplay display;
        WHCursorMonitorService service(display, display);
        service.startWithTimeout(timeout);
        EXPECT_EQ(display.calls, (Calls { "hide" }));
        ASSERT_EQ(display.activations.size(), 1u);
        display.activations[0]();
        display.activations[0]();
        service.startWithTimeout(5);
        // Neither start made a movement monitor or a timer, and the second hid nothing.
        EXPECT_EQ(display.calls, (Calls { "hide", "hide", "hide" }));
        EXPECT_EQ(display.activations.size(), 1u);
    }
}
