// The pointer auto-hide without a timeout; hiding after a timeout and showing on movement are
// checked end to end.
#include <gtest/gtest.h>

#include "display/WHCursorMonitorService.h"
#include "support/FakeClock.h"
#include "support/RecordingPointer.h"

using namespace penwick;
using Kind = test::RecordingPointer::Kind;
using Calls = std::vector<std::string>;

namespace {

TEST(CursorMonitorService, ZeroOrNegativeTimeoutHidesAtOnceAndOnEveryActivationAndASecondStartIsIgnored)
{
    for (double timeout : { 0.0, -3.0 }) {
        SCOPED_TRACE(timeout);
        test::FakeClock clock;
        test::RecordingPointer pointer;
        WHCursorMonitorService service(pointer, clock);
        service.startWithTimeout(timeout);
        EXPECT_EQ(pointer.calls(), (Calls { "hide" }));
        EXPECT_EQ(pointer.emit(Kind::Activation), 1);
        EXPECT_EQ(pointer.emit(Kind::Activation), 1);
        EXPECT_EQ(pointer.calls(), (Calls { "hide", "hide", "hide" }));

        service.startWithTimeout(5);
        EXPECT_EQ(service.timeout(), timeout);
        EXPECT_EQ(pointer.handlerCount(Kind::Local) + pointer.handlerCount(Kind::Global), 0);
        EXPECT_EQ(clock.timerCount(), 0u);
    }
}

} // namespace
