#include <windows.h>

#include <string>

#include "desktop/desktop_icons.h"
#include "framework/handles.h"
#include "gtest/gtest.h"

using namespace desktop;

// The windows start hidden: under Wine on a bare X server every hide of a
// mapped window waits about 2 s for the X server, so the tests show first
// and hide as rarely as they can.
namespace {
fw::UniqueWindow topLevel(const std::string& title) {
    return fw::UniqueWindow(CreateWindowExA(0, "STATIC", title.c_str(), WS_POPUP, 10, 10, 40, 20, nullptr, nullptr,
                                            GetModuleHandleA(nullptr), nullptr));
}
}  // namespace

TEST(DesktopIcons, NoMatchingWindowChangesNothingAndReportsFalse) {
    auto other = topLevel("Program Manager X");  // starts like the target, goes on
    auto longer = topLevel("PROGRAM MANAGER and more than 24 chars");
    auto shorter = topLevel("Program Manage");
    ASSERT_TRUE(other && longer && shorter);
    EXPECT_EQ(FindProgramManager(), nullptr);
    EXPECT_FALSE(HideDesktopIcons(false));
    EXPECT_FALSE(HideDesktopIcons(true));
    EXPECT_FALSE(IsWindowVisible(other.get()));
    EXPECT_FALSE(IsWindowVisible(longer.get()));
    EXPECT_FALSE(IsWindowVisible(shorter.get()));
}

TEST(DesktopIcons, MixedCaseTitleMatchesAndIsShownAndHiddenOnRequest) {
    auto pm = topLevel("pRoGrAm mAnAgEr");
    ASSERT_TRUE(pm);
    EXPECT_EQ(FindProgramManager(), pm.get());
    EXPECT_TRUE(HideDesktopIcons(false));
    EXPECT_TRUE(IsWindowVisible(pm.get()));
    // Showing a visible window repeats the request and still succeeds.
    EXPECT_TRUE(HideDesktopIcons(false));
    EXPECT_TRUE(IsWindowVisible(pm.get()));
    EXPECT_TRUE(HideDesktopIcons(true));
    EXPECT_FALSE(IsWindowVisible(pm.get()));
    EXPECT_TRUE(HideDesktopIcons(true));
    EXPECT_FALSE(IsWindowVisible(pm.get()));
}

TEST(DesktopIcons, TheLowerOfTwoMatchingWindowsInTheZOrderWins) {
    auto a = topLevel("Program Manager");
    auto b = topLevel("PROGRAM MANAGER");
    ASSERT_TRUE(a && b);
    const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    SetWindowPos(a.get(), HWND_BOTTOM, 0, 0, 0, 0, flags);
    EXPECT_EQ(FindProgramManager(), a.get());
    SetWindowPos(b.get(), HWND_BOTTOM, 0, 0, 0, 0, flags);
    EXPECT_EQ(FindProgramManager(), b.get());
    EXPECT_TRUE(HideDesktopIcons(false));
    EXPECT_TRUE(IsWindowVisible(b.get()));
    EXPECT_FALSE(IsWindowVisible(a.get()));
}
