// The real tidemark.exe in a Wine virtual desktop (a desktop with a taskbar
// and a notification area): a left click on its icon hides the desktop
// window, closing it shows the window again and ends the process.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "framework/handles.h"
#include "gtest/gtest.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_helpers.h"

namespace {
constexpr DWORD kStartDeadlineMs = 10000;  // allows for the three-second splash
constexpr DWORD kStepDeadlineMs = 5000;

bool waitFor(const std::function<bool()>& done, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (!done()) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(50);
    }
    return true;
}

BOOL CALLBACK collectWindow(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

std::vector<HWND> desktopWindows(HDESK desk) {
    std::vector<HWND> all;
    EnumDesktopWindows(desk, collectWindow, reinterpret_cast<LPARAM>(&all));
    return all;
}

std::string className(HWND h) {
    char buf[128] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

std::string title(HWND h) {
    char buf[128] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

HWND findWindow(HDESK desk, const std::function<bool(HWND)>& match) {
    for (HWND h : desktopWindows(desk))
        if (match(h)) return h;
    return nullptr;
}

// IsWindowVisible asks about the window's parents too, and seen from outside
// the virtual desktop its desktop window does not count as visible; the
// window's own WS_VISIBLE is what ShowWindow sets and clears.
bool shown(HWND h) { return (GetWindowLongA(h, GWL_STYLE) & WS_VISIBLE) != 0; }

DWORD processOf(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

// Writes the calling thread's desktop as a 24-bit BMP.
bool saveDesktopBitmap(const std::string& path) {
    RECT r;
    GetWindowRect(GetDesktopWindow(), &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    return testsupport::SaveBitmap(path, w, h, [&](HDC mem) {
        HDC screen = GetDC(nullptr);
        const BOOL ok = BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
        ReleaseDC(nullptr, screen);
        return ok != FALSE;
    });
}

// A thread inside the virtual desktop: it owns the "Program Manager" window
// (windows belong to their thread's desktop) and takes the screenshot.
class DesktopThread {
public:
    static constexpr UINT kShot = WM_APP + 1;
    explicit DesktopThread(HDESK desk) : desk_(desk) {
        ready_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        done_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        thread_.reset(CreateThread(nullptr, 0, &DesktopThread::main, this, 0, &threadId_));
        WaitForSingleObject(ready_.get(), kStepDeadlineMs);
    }
    ~DesktopThread() {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        if (WaitForSingleObject(thread_.get(), kStepDeadlineMs) != WAIT_OBJECT_0) TerminateThread(thread_.get(), 1);
    }
    HWND programManager() const { return window_; }
    bool screenshot(const std::string& path) {
        path_ = path;
        shotOk_ = false;
        PostThreadMessageA(threadId_, kShot, 0, 0);
        return WaitForSingleObject(done_.get(), kStepDeadlineMs) == WAIT_OBJECT_0 && shotOk_;
    }

private:
    static DWORD WINAPI main(LPVOID arg) {
        auto* self = static_cast<DesktopThread*>(arg);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here
        if (SetThreadDesktop(self->desk_))
            self->window_ = CreateWindowExA(0, "STATIC", "Program Manager", WS_POPUP | WS_VISIBLE, 20, 20, 120, 40,
                                            nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetEvent(self->ready_.get());
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == kShot) {
                self->shotOk_ = saveDesktopBitmap(self->path_);
                SetEvent(self->done_.get());
                continue;
            }
            DispatchMessageA(&msg);
        }
        if (self->window_) DestroyWindow(self->window_);
        return 0;
    }
    HDESK desk_;
    HWND window_ = nullptr;
    std::string path_;
    bool shotOk_ = false;
    DWORD threadId_ = 0;
    fw::UniqueKernelHandle thread_, ready_, done_;
};

struct Process {
    PROCESS_INFORMATION pi{};
    bool started = false;
    ~Process() {
        if (!started) return;
        // Never leave a process behind, whatever the test's outcome.
        if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    bool start(std::string commandLine, const char* desktop) {
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.lpDesktop = const_cast<char*>(desktop);
        started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        return started;
    }
};
}  // namespace

TEST(EndToEnd, LeftClickHidesTheDesktopWindowAndCloseShowsItAgainAndEnds) {
    const std::string exe = testsupport::ExeDirectory() + "..\\..\\app\\tidemark.exe";
    ASSERT_NE(GetFileAttributesA(exe.c_str()), INVALID_FILE_ATTRIBUTES) << exe;
    const std::string name = "TidemarkE2E" + std::to_string(GetCurrentProcessId());

    // The virtual desktop and its taskbar.
    Process shell;
    ASSERT_TRUE(shell.start("explorer.exe /desktop=" + name + ",800x600", nullptr));
    HDESK desk = nullptr;
    ASSERT_TRUE(waitFor([&] { return (desk = OpenDesktopA(name.c_str(), 0, FALSE, GENERIC_ALL)) != nullptr; },
                        kStartDeadlineMs));
    ASSERT_TRUE(waitFor([&] { return findWindow(desk, [](HWND h) { return className(h) == "Shell_TrayWnd"; }); },
                        kStartDeadlineMs))
        << "no taskbar in the virtual desktop";

    DesktopThread inside(desk);
    HWND pm = inside.programManager();
    ASSERT_NE(pm, nullptr);
    ASSERT_TRUE(shown(pm));

    Process tidemark;
    ASSERT_TRUE(tidemark.start("\"" + exe + "\"", name.c_str()));
    const DWORD pid = tidemark.pi.dwProcessId;
    HWND tray = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            tray = findWindow(desk, [&](HWND h) { return processOf(h) == pid && GetPropA(h, "TidemarkTrayIcon"); });
            return tray != nullptr;
        },
        kStartDeadlineMs))
        << "Tidemark's tray window did not appear";
    HWND mainForm = findWindow(
        desk, [&](HWND h) { return processOf(h) == pid && title(h) == "Brindlewick Software - Tidemark"; });
    ASSERT_NE(mainForm, nullptr);
    EXPECT_FALSE(findWindow(desk, [&](HWND h) { return processOf(h) == pid && shown(h) &&
                                                        (GetWindowLongA(h, GWL_STYLE) & WS_CAPTION) == WS_CAPTION; }))
        << "no window of Tidemark may show a caption bar";

    // A left click on the icon, as the shell reports it.
    PostMessageA(tray, WM_USER + 1, 0, WM_LBUTTONUP);
    EXPECT_TRUE(waitFor([&] { return !shown(pm); }, kStepDeadlineMs)) << "desktop window not hidden";

    // A few animation ticks, then the desktop with the icon in the notification area.
    Sleep(1500);
#ifdef _WIN64
    const char* shot = "e2e-desktop-x86_64.bmp";
#else
    const char* shot = "e2e-desktop-i686.bmp";
#endif
    EXPECT_TRUE(inside.screenshot(testsupport::ArtifactPath(shot)));

    // Closing the main form: what "&Close" does.
    PostMessageA(mainForm, WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitFor([&] { return shown(pm); }, kStepDeadlineMs)) << "desktop window not shown";
    ASSERT_EQ(WaitForSingleObject(tidemark.pi.hProcess, kStartDeadlineMs), WAIT_OBJECT_0) << "Tidemark did not end";
    DWORD code = 1234;
    GetExitCodeProcess(tidemark.pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(IsWindow(tray));
    CloseDesktop(desk);
}
