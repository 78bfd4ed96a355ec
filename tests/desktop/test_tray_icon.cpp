#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "desktop/tray_icon.h"
#include "framework/application.h"
#include "framework/graphics.h"
#include "framework/menus.h"
#include "framework/sysutils.h"
#include "framework/timer.h"
#include "framework/window.h"
#include "gtest/gtest.h"
#include "tests/support/shell_calls.h"
#include "tests/support/wine_helpers.h"

using namespace desktop;

using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace {
using testsupport::ShellCall;

class TrayIcon : public ::testing::Test {
protected:
    void SetUp() override {
        SetShellNotifySeam([this](DWORD msg, const NOTIFYICONDATAA& d) {
            calls.push_back({msg, d});
            return TRUE;
        });
        // Leftovers of earlier tests (posted refreshes) must not count here.
        fw::Application->ProcessMessages();
    }
    void TearDown() override {
        SetShellNotifySeam(nullptr);
        ShowWindow(fw::Application->Handle(), SW_HIDE);
    }
    std::vector<ShellCall> calls;
};

fw::TIcon trayImage() {
    fw::TIcon icon;
    icon.LoadFromIconFile(fw::LoadResourceBytes(GetModuleHandleA(nullptr), "TRAYICON_IMAGE"));
    return icon;
}

void notify(TTrayIcon& t, UINT mouseMessage) {
    LRESULT r = SendMessageA(t.WindowHandle(), WM_USER + 1, 0, mouseMessage);
    EXPECT_EQ(r, 0);
}
}  // namespace

TEST_F(TrayIcon, AddHandsTheShellTheVersion1AnsiRecord) {
    TTrayIcon t(nullptr);
    t.SetToolTip("Hide Desktop Icons");
    EXPECT_TRUE(calls.empty());
    t.SetActive(true);
    ASSERT_EQ(calls.size(), 1u);
    const NOTIFYICONDATAA& d = calls[0].data;
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(d.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
#ifndef _WIN64
    EXPECT_EQ(d.cbSize, 88u);
#endif
    EXPECT_EQ(d.hWnd, t.WindowHandle());
    EXPECT_EQ(d.uID, 0u);
    EXPECT_EQ(d.uFlags, 7u);
    EXPECT_EQ(d.uCallbackMessage, 1025u);
    EXPECT_EQ(d.hIcon, nullptr);  // the icon is still empty
    EXPECT_EQ(calls[0].tip(), "Hide Desktop Icons");
    // A non-empty tooltip needs no refresh afterwards.
    PumpFor(200);
    EXPECT_EQ(calls.size(), 1u);

    // The hidden window: top-level, untitled, never shown.
    HWND w = t.WindowHandle();
    EXPECT_EQ(GetAncestor(w, GA_PARENT), GetDesktopWindow());
    EXPECT_EQ(GetWindowTextLengthA(w), 0);
    EXPECT_FALSE(IsWindowVisible(w));
}

TEST_F(TrayIcon, ToolTipIsCutTo62Characters) {
    TTrayIcon t(nullptr);
    const std::string s63(63, 'a'), s62(62, 'b');
    t.SetToolTip(s63);
    EXPECT_EQ(t.ToolTip(), std::string(62, 'a'));
    t.SetToolTip(s62 + "tail that goes on well past the limit of the record");
    EXPECT_EQ(t.ToolTip(), s62);
    t.SetActive(true);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].tip(), s62);
    EXPECT_EQ(calls[0].data.szTip[62], '\0');
    t.SetToolTip("short");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[1].tip(), "short");
}

TEST_F(TrayIcon, WritesFollowTheActiveStateAndTheIconImageIsShared) {
    TTrayIcon t(nullptr);
    t.SetToolTip("first");
    {
        fw::TIcon source = trayImage();
        t.SetIcon(&source);
        EXPECT_TRUE(t.Icon()->SharesImageWith(source));
    }  // the source goes; the image stays with the component
    t.SetToolTip("latest");
    EXPECT_TRUE(calls.empty()) << "no shell call while inactive";

    t.SetActive(true);
    t.SetActive(true);
    ASSERT_EQ(calls.size(), 1u) << "Active true twice adds once";
    HICON shown = calls[0].data.hIcon;
    ASSERT_NE(shown, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(shown, &info)) << "the shared image outlives its source";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(calls[0].tip(), "latest");

    // The component's own icon object as the source changes nothing.
    t.SetIcon(t.Icon());
    EXPECT_EQ(calls.size(), 1u);

    // An icon from a resource that does not exist is empty: the record says
    // so with a null handle and the call is made all the same.
    fw::TIcon missing;
    missing.LoadFromResourceName(GetModuleHandleA(nullptr), "NO_SUCH_ICON");
    t.SetIcon(&missing);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[1].data.hIcon, nullptr);
    EXPECT_EQ(calls[1].data.uFlags, 7u);

    fw::TIcon three;
    three.LoadFromResourceName(GetModuleHandleA(nullptr), "ICON_3");
    t.SetIcon(&three);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].data.hIcon, LoadIconA(GetModuleHandleA(nullptr), "ICON_3"));

    t.SetActive(false);
    t.SetActive(false);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(calls[3].data.hWnd, t.WindowHandle());
}

TEST_F(TrayIcon, DestroyingRemovesTheIconOnlyWhenShown) {
    HWND w;
    {
        TTrayIcon t(nullptr);
        t.SetToolTip("x");
    }
    EXPECT_TRUE(calls.empty());
    {
        TTrayIcon t(nullptr);
        t.SetToolTip("x");
        t.SetActive(true);
        w = t.WindowHandle();
    }
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(calls[1].data.hWnd, w);
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(TrayIcon, EmptyToolTipAddIsFollowedByOneModifyOnceThePostedRefreshIsHandled) {
    TTrayIcon t(nullptr);
    t.SetActive(true);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(calls[0].tip(), "");
    ASSERT_TRUE(PumpUntil([&] { return calls.size() >= 2; }, 2000));
    PumpFor(100);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[1].data.hWnd, t.WindowHandle());
}

TEST_F(TrayIcon, TheIconIsAddedAgainWhenTheShellRestarts) {
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    TTrayIcon t(nullptr);
    t.SetToolTip("before");
    SendMessageA(t.WindowHandle(), taskbarCreated, 0, 0);
    EXPECT_TRUE(calls.empty()) << "an inactive icon stays away";

    t.SetActive(true);
    fw::TIcon three;
    three.LoadFromResourceName(GetModuleHandleA(nullptr), "ICON_3");
    t.SetIcon(&three);
    t.SetToolTip("Show Desktop Icons");
    calls.clear();
    // The shell broadcasts it to every top-level window.
    PostMessageA(HWND_BROADCAST, taskbarCreated, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !calls.empty(); }, 2000));
    PumpFor(100);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(calls[0].tip(), "Show Desktop Icons");
    EXPECT_EQ(calls[0].data.hIcon, LoadIconA(GetModuleHandleA(nullptr), "ICON_3"));
}

TEST_F(TrayIcon, MouseNotificationsBecomeEventsInTheShellsOrder) {
    TTrayIcon t(nullptr);
    std::string seen;
    t.OnClick = [&](fw::TObject* s) {
        EXPECT_EQ(s, &t);
        seen += "click ";
    };
    t.OnDblClick = [&](fw::TObject*) { seen += "dbl "; };
    t.OnMouseMove = [&](fw::TObject*) { seen += "move "; };
    t.OnRightClick = [&](fw::TObject*, TMouseButton, TShiftState, int, int) { seen += "right "; };

    // What the shell reports for a left double click.
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) notify(t, m);
    EXPECT_EQ(seen, "click dbl click ");
    seen.clear();
    for (UINT m : {WM_RBUTTONDOWN, WM_RBUTTONDBLCLK, WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK}) notify(t, m);
    EXPECT_EQ(seen, "") << "button-downs and the other buttons raise nothing";
    notify(t, WM_MOUSEMOVE);
    notify(t, WM_RBUTTONUP);  // no menu: the event alone
    EXPECT_EQ(seen, "move right ");
    EXPECT_TRUE(calls.empty());
}

TEST_F(TrayIcon, AnExceptionInAnEventHandlerReachesTheApplicationsHandler) {
    auto& boxes = testsupport::ExceptionBoxes();
    boxes.clear();
    TTrayIcon t(nullptr);
    t.OnClick = [](fw::TObject*) { throw fw::Exception("Click failed"); };
    notify(t, WM_LBUTTONUP);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].first, "Click failed.");
    EXPECT_EQ(boxes.boxes[0].second, "Tidemark");
}

TEST_F(TrayIcon, RightClickShowsTheMenuFirstThenFiresWithThePositionReadBefore) {
    TTrayIcon t(nullptr);
    fw::TPopupMenu menu(nullptr);
    new fw::TMenuItem(&menu, "&Close");
    t.SetPopupMenu(&menu);
    SetCursorPos(123, 97);
    POINT before{};
    GetCursorPos(&before);

    std::string order;
    // The menu runs its own loop; a timer inside it sees the menu and ends it.
    fw::TTimer closer(nullptr);
    closer.SetInterval(150);
    closer.SetOnTimer([&](fw::TObject*) {
        closer.SetEnabled(false);
        HWND menuWindow = FindWindowA("#32768", nullptr);
        if (menuWindow && IsWindowVisible(menuWindow)) order += "menu ";
        EndMenu();
    });
    int x = -1, y = -1;
    TMouseButton button = TMouseButton::mbLeft;
    t.OnRightClick = [&](fw::TObject* s, TMouseButton b, TShiftState shift, int X, int Y) {
        order += "event";
        button = b;
        EXPECT_EQ(shift, 0u);
        x = X;
        y = Y;
    };
    const ULONGLONG start = GetTickCount64();
    notify(t, WM_RBUTTONUP);
    EXPECT_LT(GetTickCount64() - start, 3000u);
    EXPECT_EQ(order, "menu event");
    EXPECT_EQ(button, TMouseButton::mbRight);
    EXPECT_EQ(x, before.x);
    EXPECT_EQ(y, before.y);
}

TEST_F(TrayIcon, AFreedMenuLeavesNoDanglingReference) {
    TTrayIcon t(nullptr);
    auto* menu = new fw::TPopupMenu(nullptr);
    t.SetPopupMenu(menu);
    delete menu;
    EXPECT_EQ(t.PopupMenu(), nullptr);
    bool fired = false;
    t.OnRightClick = [&](fw::TObject*, TMouseButton, TShiftState, int, int) { fired = true; };
    notify(t, WM_RBUTTONUP);
    EXPECT_TRUE(fired);
}

TEST_F(TrayIcon, ShowAppIsIssuedOnEveryWrite) {
    HWND app = fw::Application->Handle();
    ShowWindow(app, SW_SHOW);
    TTrayIcon t(nullptr);
    EXPECT_FALSE(IsWindowVisible(app)) << "the constructor hides the application window";
    ShowWindow(app, SW_SHOW);
    t.SetShowApp(false);  // the value it already has: issued again, not skipped
    EXPECT_FALSE(IsWindowVisible(app));
    t.SetShowApp(true);
    EXPECT_TRUE(IsWindowVisible(app));
    // The after-load step re-applies the stored value.
    ShowWindow(app, SW_HIDE);
    t.AfterLoad();
    EXPECT_TRUE(IsWindowVisible(app));
    EXPECT_EQ(t.MappingHandle(), nullptr) << "no guard without IDMessage";
    EXPECT_EQ(t.RegisteredMessage(), 0u);
}

// ---- the instance guard ----

namespace {
const char* const kGuardEnv = "TIDEMARK_TEST_GUARD_NAME";
}

// Runs only as the child process of the test below: a second instance that
// must end itself inside AfterLoad.
TEST(TrayIconGuard, SecondInstanceChild) {
    const char* name = std::getenv(kGuardEnv);
    if (!name) GTEST_SKIP() << "runs only as the second instance";
    TTrayIcon t(nullptr);
    t.IDMessage = name;
    t.AfterLoad();
    ExitProcess(7);  // AfterLoad returned: the guard did not hold
}

TEST(TrayIconGuard, ASecondInstanceBroadcastsAndEndsWithExitCodeZero) {
    const std::string name = "TidemarkGuardTest" + std::to_string(GetCurrentProcessId());
    TTrayIcon first(nullptr);
    first.IDMessage = name;
    first.AfterLoad();
    ASSERT_NE(first.MappingHandle(), nullptr);
    const UINT registered = RegisterWindowMessageA(name.c_str());
    EXPECT_EQ(first.RegisteredMessage(), registered);

    // A window that watches for the registered message, as an application
    // that wants to learn of the attempt would.
    int heard = 0;
    fw::TUtilWindow watcher(
        [&](HWND, UINT msg, WPARAM, LPARAM, LRESULT& r) {
            if (msg != registered) return false;
            ++heard;
            r = 0;
            return true;
        },
        fw::WindowKind::TopLevel);

    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string cmd = std::string("\"") + path + "\" --gtest_filter=TrayIconGuard.SecondInstanceChild";
    SetEnvironmentVariableA(kGuardEnv, name.c_str());
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA(kGuardEnv, nullptr);
    ASSERT_TRUE(started);
    fw::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    // Messages keep flowing while the child runs (the broadcast reaches us).
    bool ended = false;
    const ULONGLONG deadline = GetTickCount64() + 15000;
    while (!ended && GetTickCount64() < deadline) {
        fw::Application->ProcessMessages();
        DWORD left = static_cast<DWORD>(deadline - GetTickCount64());
        ended = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, left, QS_ALLINPUT) == WAIT_OBJECT_0;
    }
    if (!ended) TerminateProcess(pi.hProcess, 99);
    ASSERT_TRUE(ended);
    DWORD code = 1234;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(PumpUntil([&] { return heard > 0; }, 2000));
    // The first instance's own component ignores it.
    EXPECT_EQ(DefWindowProcA(first.WindowHandle(), WM_GETTEXTLENGTH, 0, 0), 0);
}

// ---- the real shell ----

TEST(TrayIconShell, WinesNotificationAreaAcceptsAddModifyAndDelete) {
    std::vector<std::pair<DWORD, BOOL>> results;
    SetShellNotifySeam([&](DWORD msg, const NOTIFYICONDATAA& d) {
        NOTIFYICONDATAA copy = d;
        BOOL r = Shell_NotifyIconA(msg, &copy);
        results.emplace_back(msg, r);
        return r;
    });
    {
        TTrayIcon t(nullptr);
        fw::TIcon image = trayImage();
        t.SetIcon(&image);
        t.SetToolTip("Tidemark under test");
        t.SetActive(true);
        t.SetToolTip("Show Desktop Icons");
    }
    SetShellNotifySeam(nullptr);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0], std::make_pair(static_cast<DWORD>(NIM_ADD), TRUE));
    EXPECT_EQ(results[1], std::make_pair(static_cast<DWORD>(NIM_MODIFY), TRUE));
    EXPECT_EQ(results[2], std::make_pair(static_cast<DWORD>(NIM_DELETE), TRUE));
}
