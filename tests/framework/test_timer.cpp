#include <windows.h>

#include "framework/application.h"
#include "framework/timer.h"
#include "framework/sysutils.h"
#include "gtest/gtest.h"
#include "tests/support/wine_helpers.h"

using namespace fw;
using testsupport::PumpFor;
using testsupport::PumpUntil;

TEST(Timer, NewTimerIsEnabledWith1000msButNeedsAHandlerToTick) {
    TTimer t(nullptr);
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000u);
    EXPECT_FALSE(t.Running());
    int ticks = 0;
    t.SetInterval(50);
    t.SetOnTimer([&](TObject*) { ++ticks; });
    EXPECT_TRUE(t.Running());
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }, 2000));
}

TEST(Timer, IntervalZeroNeverTicks) {
    TTimer t(nullptr);
    int ticks = 0;
    t.SetInterval(0);
    t.SetOnTimer([&](TObject*) { ++ticks; });
    EXPECT_FALSE(t.Running());
    PumpFor(300);
    EXPECT_EQ(ticks, 0);
}

TEST(Timer, SameIntervalKeepsTheCountANewOneRestartsIt) {
    TTimer t(nullptr);
    int ticks = 0;
    t.SetInterval(400);
    t.SetOnTimer([&](TObject*) { ++ticks; });
    // Re-setting the same interval every 100 ms must not hold the tick back.
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 1000 && ticks == 0) {
        t.SetInterval(400);
        PumpFor(100);
    }
    EXPECT_GE(ticks, 1) << "setting the same interval restarted the count";

    // Setting a different interval every 100 ms restarts the count each time.
    ticks = 0;
    start = GetTickCount();
    bool flip = false;
    while (GetTickCount() - start < 1000) {
        flip = !flip;
        t.SetInterval(flip ? 300 : 350);
        PumpFor(100);
    }
    EXPECT_EQ(ticks, 0) << "a new interval did not restart the count";
}

TEST(Timer, DisabledTimerStopsAndEnablingRestarts) {
    TTimer t(nullptr);
    int ticks = 0;
    t.SetInterval(100);
    t.SetOnTimer([&](TObject*) { ++ticks; });
    t.SetEnabled(false);
    PumpFor(300);
    EXPECT_EQ(ticks, 0);
    t.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 1; }, 2000));
}

TEST(Timer, ExceptionInHandlerReachesTheBoxWithAFullStopAndTheLoopGoesOn) {
    auto& boxes = testsupport::ExceptionBoxes();
    boxes.clear();
    TTimer t(nullptr);
    int ticks = 0;
    t.SetInterval(30);
    t.SetOnTimer([&](TObject*) {
        ++ticks;
        throw Exception("UserName property is required");
    });
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000));
    t.SetEnabled(false);
    ASSERT_GE(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].first, "UserName property is required.");
    EXPECT_EQ(boxes.boxes[0].second, "Tidemark");
}

TEST(Application, ExceptionTextAddsOneFullStop) {
    EXPECT_EQ(TApplication::ExceptionText("Operation timed out"), "Operation timed out.");
    EXPECT_EQ(TApplication::ExceptionText("[10013] Permission denied."), "[10013] Permission denied.");
}
