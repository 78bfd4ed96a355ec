#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "desktop/desktop_icons.h"
#include "framework/application.h"
#include "framework/handles.h"
#include "framework/sysutils.h"
#include "gtest/gtest.h"
#include "tests/support/shell_calls.h"
#include "tests/support/wine_helpers.h"

using namespace app;
using namespace desktop;

using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace {
using testsupport::ShellCall;

// The controller with the first-tick settings load replaced.
class ProbeForm : public TTrayController {
public:
    using TTrayController::TTrayController;
    std::function<void()> firstTickLoad;
    int loads = 0;

protected:
    void LoadSettingsOnFirstTick() override {
        ++loads;
        if (firstTickLoad) firstTickLoad();
    }
};

HICON resourceIcon(const char* name) { return fw::ResourceIcon(GetModuleHandleA(nullptr), name, TrayIconSize()); }

std::string menuText(fw::TPopupMenu* menu, fw::TMenuItem* item) {
    char buf[64] = {};
    GetMenuStringA(menu->Handle(), item->Command(), buf, sizeof buf, MF_BYCOMMAND);
    return buf;
}

// Hidden at first: under Wine on a bare X server each hide of a mapped
// window waits about 2 s, so the tests map it only where they must.
fw::UniqueWindow programManager() {
    return fw::UniqueWindow(CreateWindowExA(0, "STATIC", "Program Manager", WS_POPUP, 10, 10, 40, 20, nullptr,
                                            nullptr, GetModuleHandleA(nullptr), nullptr));
}

class TrayController : public ::testing::Test {
protected:
    void SetUp() override {
        SetShellNotifySeam([this](DWORD msg, const NOTIFYICONDATAA& d) {
            calls.push_back({msg, d});
            return TRUE;
        });
        testsupport::ExceptionBoxes().clear();
        fw::Application->ProcessMessages();
    }
    void TearDown() override { SetShellNotifySeam(nullptr); }

    std::unique_ptr<ProbeForm> makeForm() {
        auto f = std::make_unique<ProbeForm>(nullptr);
        // The tests drive the ticks themselves.
        f->AnimationTimer->SetEnabled(false);
        return f;
    }
    void click(TTrayController& f, UINT mouseMessage) {
        SendMessageA(f.TrayIcon->WindowHandle(), WM_USER + 1, 0, mouseMessage);
    }
    void command(fw::TMenuItem* item) {
        SendMessageA(fw::TPopupMenu::PopupListWindow(), WM_COMMAND, item->Command(), 0);
    }
    std::vector<ShellCall> calls;
};
}  // namespace

TEST_F(TrayController, CreationMakesAnUnseenControllerAndAddsTheIcon) {
    auto f = std::make_unique<ProbeForm>(nullptr);
    EXPECT_EQ(f->Caption(), "Brindlewick Software - Tidemark");
    const LONG style = GetWindowLongA(f->Handle(), GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, 0) << "caption bits cleared";
    EXPECT_NE(style & WS_SYSMENU, 0);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0);
    EXPECT_NE(GetWindowLongA(f->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_EQ(f->Left(), -5000);
    EXPECT_EQ(f->Height(), 27);
    RECT r{0, 0, 316, 129};
    AdjustWindowRectEx(&r, WS_CAPTION | WS_SYSMENU | WS_BORDER | WS_MINIMIZEBOX, FALSE, WS_EX_TOPMOST);
    EXPECT_EQ(f->Width(), r.right - r.left) << "the width of a 316-pixel client area";
    EXPECT_FALSE(IsWindowVisible(f->Handle()));
    EXPECT_FALSE(IsWindowVisible(fw::Application->Handle()));

    const std::vector<std::string> captions{"Hide Desktop &Icons", "Start Checking &email", "-", "&Setup",
                                            "Check for &Upgrades", "&About", "-", "&Close"};
    ASSERT_EQ(f->TrayMenu->Items().size(), captions.size());
    for (std::size_t i = 0; i < captions.size(); ++i) EXPECT_EQ(f->TrayMenu->Items()[i]->Caption(), captions[i]);
    ASSERT_EQ(GetMenuItemCount(f->TrayMenu->Handle()), 8);
    for (int i : {2, 6}) EXPECT_NE(GetMenuState(f->TrayMenu->Handle(), i, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    EXPECT_EQ(menuText(f->TrayMenu, f->CloseItem), "&Close");
    EXPECT_EQ(f->TrayIcon->PopupMenu(), f->TrayMenu);

    EXPECT_FALSE(f->PollTimer->Enabled());
    EXPECT_FALSE(f->PollTimer->Running());
    EXPECT_EQ(f->PollTimer->Interval(), 60000u);
    EXPECT_TRUE(f->AnimationTimer->Running());
    EXPECT_EQ(f->AnimationTimer->Interval(), 1000u);

    EXPECT_TRUE(f->DesktopVisible);
    EXPECT_FALSE(f->CheckingMail);
    EXPECT_TRUE(f->FirstTick);
    EXPECT_FALSE(f->HideOnStart);
    EXPECT_EQ(f->StatusText, "");
    EXPECT_EQ(f->IconIndex, 1);

    // Added with the form's own image and an empty tooltip, then refreshed.
    EXPECT_TRUE(f->TrayIcon->Active());
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_NE(calls[0].data.hIcon, nullptr);
    EXPECT_EQ(calls[0].tip(), "");
    ASSERT_TRUE(PumpUntil([&] { return calls.size() >= 2; }, 2000));
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
}

TEST_F(TrayController, LeftClickMenuAndDoubleClickToggleTheDesktopIcons) {
    auto pm = programManager();
    ShowWindow(pm.get(), SW_SHOW);
    auto f = makeForm();
    calls.clear();

    click(*f, WM_LBUTTONUP);
    EXPECT_FALSE(IsWindowVisible(pm.get()));
    EXPECT_FALSE(f->DesktopVisible);
    EXPECT_EQ(f->StatusText, "Show Desktop Icons");
    EXPECT_EQ(menuText(f->TrayMenu, f->DesktopIconsItem), "Show Desktop Icons");
    EXPECT_EQ(f->TrayIcon->ToolTip(), "Show Desktop Icons");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[0].tip(), "Show Desktop Icons");

    command(f->DesktopIconsItem);
    EXPECT_TRUE(IsWindowVisible(pm.get()));
    EXPECT_TRUE(f->DesktopVisible);
    EXPECT_EQ(f->DesktopIconsItem->Caption(), "Hide Desktop Icons");
    EXPECT_EQ(f->TrayIcon->ToolTip(), "Hide Desktop Icons");

    // A double click arrives as click, double click, click: two toggles.
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) click(*f, m);
    EXPECT_TRUE(IsWindowVisible(pm.get()));
    EXPECT_TRUE(f->DesktopVisible);
    EXPECT_EQ(calls.size(), 4u);
}

TEST_F(TrayController, WithoutTheDesktopWindowTheToggleStillFlipsFlagCaptionAndTooltip) {
    auto f = makeForm();
    ASSERT_EQ(FindProgramManager(), nullptr);
    click(*f, WM_LBUTTONUP);
    EXPECT_FALSE(f->DesktopVisible);
    EXPECT_EQ(f->DesktopIconsItem->Caption(), "Show Desktop Icons");
    EXPECT_EQ(f->TrayIcon->ToolTip(), "Show Desktop Icons");
}

TEST_F(TrayController, MailSwitchFlipsTheTimerAndTheCaptionButNeverTheTooltip) {
    auto f = makeForm();
    click(*f, WM_LBUTTONUP);
    calls.clear();
    command(f->CheckMailItem);
    EXPECT_TRUE(f->CheckingMail);
    EXPECT_TRUE(f->PollTimer->Enabled());
    EXPECT_TRUE(f->PollTimer->Running());
    EXPECT_EQ(f->PollTimer->Interval(), 60000u);
    EXPECT_EQ(menuText(f->TrayMenu, f->CheckMailItem), "Stop Checking email");
    command(f->CheckMailItem);
    EXPECT_FALSE(f->CheckingMail);
    EXPECT_FALSE(f->PollTimer->Running());
    EXPECT_EQ(f->CheckMailItem->Caption(), "Start Checking email");
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(f->TrayIcon->ToolTip(), "Show Desktop Icons");
}

TEST_F(TrayController, MovingTheMouseOverTheIconShowsIcon3) {
    auto f = makeForm();
    calls.clear();
    click(*f, WM_MOUSEMOVE);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls.back().data.hIcon, resourceIcon("ICON_3"));
}

TEST_F(TrayController, EachTickShowsTheImageDrawnAtThePreviousOne) {
    auto f = makeForm();
    calls.clear();
    std::int32_t expected = 1;  // the first tick shows ICON_1
    for (int tick = 0; tick < 25; ++tick) {
        f->AnimationTick(f->AnimationTimer);
        f->AnimationTimer->SetEnabled(false);
        const std::string name = "ICON_" + std::to_string(expected);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().data.hIcon, resourceIcon(name.c_str())) << "tick " << tick;
        EXPECT_GE(f->IconIndex, 1);
        EXPECT_LE(f->IconIndex, 13);
        EXPECT_GE(f->AnimationTimer->Interval(), 1u);
        EXPECT_LE(f->AnimationTimer->Interval(), 4999u);
        expected = f->IconIndex;
    }
    EXPECT_FALSE(f->FirstTick);
    EXPECT_EQ(f->loads, 1) << "settings reloaded at the first tick only";
    EXPECT_TRUE(f->DesktopVisible) << "no toggle without hide-on-start";
}

TEST(MainFormDraw, TheSeedIsTheUtcTimeOfDayInMilliseconds) {
    SYSTEMTIME t{};
    t.wHour = 23, t.wMinute = 59, t.wSecond = 59, t.wMilliseconds = 999;
    EXPECT_EQ(TTrayController::TimeOfDaySeed(t), 86399999u);
    t.wHour = 1, t.wMinute = 2, t.wSecond = 3, t.wMilliseconds = 4;
    EXPECT_EQ(TTrayController::TimeOfDaySeed(t), 3723004u);
}

TEST(MainFormDraw, DrawsCoverEveryIconAndNeverAnIntervalOfZero) {
    std::set<std::int32_t> icons;
    unsigned lowest = 5000, highest = 0;
    for (std::uint32_t seed = 0; seed < 86400000u; seed += 863) {
        std::int32_t icon = 0;
        unsigned interval = 0;
        TTrayController::DrawNext(seed, icon, interval);
        ASSERT_GE(icon, 1);
        ASSERT_LE(icon, 13);
        ASSERT_GE(interval, 1u) << "seed " << seed;
        ASSERT_LE(interval, 4999u);
        icons.insert(icon);
        lowest = std::min(lowest, interval);
        highest = std::max(highest, interval);
        std::int32_t again = 0;
        unsigned againInterval = 0;
        TTrayController::DrawNext(seed, again, againInterval);
        ASSERT_EQ(again, icon) << "the same seed gives the same draw";
        ASSERT_EQ(againInterval, interval);
    }
    EXPECT_EQ(icons.size(), 13u);
    EXPECT_LT(lowest, 50u);
    EXPECT_GT(highest, 4950u);
}

TEST_F(TrayController, HideOnStartTogglesExactlyOnceAtTheFirstTick) {
    auto f = makeForm();
    f->firstTickLoad = [&] { f->HideOnStart = true; };
    f->AnimationTick(f->AnimationTimer);
    f->AnimationTimer->SetEnabled(false);
    EXPECT_FALSE(f->DesktopVisible);
    EXPECT_EQ(f->StatusText, "Show Desktop Icons");
    EXPECT_EQ(f->TrayIcon->ToolTip(), "Show Desktop Icons");
    f->AnimationTick(f->AnimationTimer);
    f->AnimationTick(f->AnimationTimer);
    f->AnimationTimer->SetEnabled(false);
    EXPECT_FALSE(f->DesktopVisible);
    EXPECT_EQ(f->loads, 1);

    // A toggle by the user within the first second is undone by that one toggle.
    auto g = makeForm();
    g->firstTickLoad = [&] { g->HideOnStart = true; };
    click(*g, WM_LBUTTONUP);
    g->AnimationTick(g->AnimationTimer);
    g->AnimationTimer->SetEnabled(false);
    EXPECT_TRUE(g->DesktopVisible);
    EXPECT_EQ(g->StatusText, "Hide Desktop Icons");
}

TEST_F(TrayController, AFailedFirstTickReloadIsReportedAndRetriedAtTheNextTick) {
    auto f = makeForm();
    int failures = 1;
    f->firstTickLoad = [&] {
        if (failures-- > 0) throw fw::Exception("Invalid data for 'interval'");
    };
    calls.clear();
    f->AnimationTick(f->AnimationTimer);
    auto& boxes = testsupport::ExceptionBoxes().boxes;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "Invalid data for 'interval'.");
    EXPECT_EQ(boxes[0].second, "Tidemark");
    EXPECT_TRUE(f->FirstTick);
    EXPECT_EQ(f->AnimationTimer->Interval(), 1000u) << "the interval is not re-drawn";
    EXPECT_FALSE(f->AnimationTimer->Enabled()) << "left as it was";
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().data.hIcon, resourceIcon("ICON_1")) << "the animation step ran";

    f->AnimationTick(f->AnimationTimer);
    f->AnimationTimer->SetEnabled(false);
    EXPECT_FALSE(f->FirstTick);
    EXPECT_EQ(f->loads, 2);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(TrayController, AFailingReloadIsReportedOnceAndRetriedQuietlyUntilItSucceeds) {
    auto f = makeForm();
    int failures = 5;
    f->firstTickLoad = [&] {
        if (failures-- > 0) throw fw::Exception("'' is not a valid integer value");
    };
    // A message box runs its own loop for as long as it is open; this one
    // stands in for it and counts how many are open at once.
    int open = 0, mostOpen = 0, shown = 0;
    auto saved = fw::Application->OnShowException;
    fw::Application->OnShowException = [&](const std::string&, const std::string&) {
        ++shown;
        mostOpen = std::max(mostOpen, ++open);
        PumpFor(250);
        --open;
    };
    f->AnimationTimer->SetInterval(20);
    f->AnimationTimer->SetEnabled(true);
    bool done = PumpUntil([&] { return !f->FirstTick; }, 4000);
    f->AnimationTimer->SetEnabled(false);
    fw::Application->OnShowException = saved;
    EXPECT_TRUE(done) << "a reload that succeeds at last finishes the first tick";
    EXPECT_EQ(f->loads, 6);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(mostOpen, 1);
}

TEST_F(TrayController, ShowClosesAnOpenSplashAndNeverTouchesAFreedOne) {
    auto f = makeForm();
    auto* splash = new TAboutBox(fw::Application);
    AboutBox = splash;
    splash->Show();
    f->FormShow(f.get());
    // Closing frees the box, once its close has returned.
    EXPECT_TRUE(PumpUntil([&] { return !fw::Application->FormExists(splash); }, 2000));
    f->FormShow(f.get());  // the freed box is never touched
    EXPECT_TRUE(testsupport::ExceptionBoxes().boxes.empty());
}

TEST_F(TrayController, CloseShowsTheDesktopIconsAgainAndFreesTheForm) {
    auto pm = programManager();
    ShowWindow(pm.get(), SW_SHOW);
    auto* f = new ProbeForm(fw::Application);
    f->AnimationTimer->SetEnabled(false);
    click(*f, WM_LBUTTONUP);
    ASSERT_FALSE(IsWindowVisible(pm.get()));
    HWND trayWindow = f->TrayIcon->WindowHandle();
    calls.clear();
    command(f->CloseItem);
    EXPECT_TRUE(IsWindowVisible(pm.get()));
    ASSERT_TRUE(PumpUntil([&] { return !fw::Application->FormExists(f); }, 2000));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(calls.back().data.hWnd, trayWindow);
    EXPECT_FALSE(IsWindow(trayWindow));
}
