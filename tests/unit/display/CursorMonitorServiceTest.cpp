// The pointer auto-hide state machine against a hand-moved clock.
#include <gtest/gtest.h>

#include "display/WHCursorMonitorService.h"
#include "support/FakeClock.h"
#include "support/RecordingPointer.h"

using namespace penwick;
using test::RecordingPointer;
using Kind = test::RecordingPointer::Kind;
using Calls = std::vector<std::string>;

namespace {

class CursorMonitorServiceTest : public ::testing::Test {
protected:
    test::FakeClock m_clock;
    RecordingPointer m_pointer;
    WHCursorMonitorService m_service { m_pointer, m_clock };
};

TEST_F(CursorMonitorServiceTest, HidesBetweenTimeoutAndOneSecondLaterAndMovementShows)
{
    m_service.startWithTimeout(5);
    EXPECT_TRUE(m_service.isRunning());
    m_clock.advance(0.5);
    EXPECT_EQ(m_pointer.emit(Kind::Local), 1); // moved at 0.5 s
    m_clock.advance(4.9);
    EXPECT_EQ(m_pointer.calls(), (Calls { "show" }));
    m_clock.advance(0.6); // tick at 6 s: 5.5 s idle
    EXPECT_EQ(m_pointer.calls(), (Calls { "show", "hide" }));
    m_clock.advance(2); // hidden again on every idle tick
    EXPECT_EQ(m_pointer.calls(), (Calls { "show", "hide", "hide", "hide" }));

    m_pointer.clearCalls();
    EXPECT_EQ(m_pointer.emit(Kind::Global), 1); // movement over another application
    EXPECT_EQ(m_pointer.calls(), (Calls { "show" }));
    m_clock.advance(4);
    EXPECT_EQ(m_pointer.calls(), (Calls { "show" }));
    m_clock.advance(1);
    EXPECT_EQ(m_pointer.calls(), (Calls { "show", "hide" }));
}

TEST_F(CursorMonitorServiceTest, ZeroOrNegativeTimeoutHidesAtOnceAndOnEveryActivation)
{
    for (double timeout : { 0.0, -3.0 }) {
        SCOPED_TRACE(timeout);
        test::FakeClock clock;
        RecordingPointer pointer;
        WHCursorMonitorService service(pointer, clock);
        service.startWithTimeout(timeout);
        EXPECT_EQ(pointer.calls(), (Calls { "hide" }));
        EXPECT_EQ(pointer.handlerCount(Kind::Local) + pointer.handlerCount(Kind::Global), 0);
        EXPECT_EQ(clock.timerCount(), 0u);
        clock.advance(30);
        EXPECT_EQ(pointer.emit(Kind::Activation), 1);
        EXPECT_EQ(pointer.emit(Kind::Activation), 1);
        EXPECT_EQ(pointer.calls(), (Calls { "hide", "hide", "hide" }));
    }
}

TEST_F(CursorMonitorServiceTest, SecondStartIsIgnoredAndStopShowsAndEndsEverything)
{
    m_service.startWithTimeout(5);
    m_service.startWithTimeout(0);
    EXPECT_EQ(m_service.timeout(), 5);
    EXPECT_EQ(m_clock.timerCount(), 1u);
    EXPECT_TRUE(m_pointer.calls().empty());

    m_service.stop();
    EXPECT_FALSE(m_service.isRunning());
    EXPECT_EQ(m_pointer.calls(), (Calls { "show" }));
    EXPECT_EQ(m_clock.timerCount(), 0u);
    EXPECT_EQ(m_pointer.emit(Kind::Local) + m_pointer.emit(Kind::Global), 0);
    m_clock.advance(20);
    m_service.stop();
    EXPECT_EQ(m_pointer.calls(), (Calls { "show" }));

    // Started again after a stop: the new timeout holds.
    m_service.startWithTimeout(0);
    EXPECT_EQ(m_pointer.handlerCount(Kind::Activation), 1);
    m_service.stop();
    EXPECT_EQ(m_pointer.handlerCount(Kind::Activation), 0);
}

} // namespace
