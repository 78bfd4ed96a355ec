// The notification-area icon (what the shell is handed, what its
// notifications become), the desktop icon switch, and the About box in its
// three uses with the logo's browser launch over DDE.
#include <windows.h>
#include <ddeml.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "desktop/about_box.h"
#include "desktop/desktop_icons.h"
#include "desktop/icon_badge.h"
#include "desktop/tray_icon.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/sysutils.h"
#include "gtest/gtest.h"
#include "tests/support/helpers.h"

using namespace desktop;
using testsupport::Later;
using testsupport::PumpFor;
using testsupport::PumpUntil;
using testsupport::ShellCalls;

namespace {
// What the shell was told so far: each call's kind, tooltip and image.
std::string told(const testsupport::ShellCalls& calls) {
    std::string out;
    const char* names[] = {"add ", "modify ", "delete ", "focus ", "version "};
    for (const auto& c : calls)
        out += names[c.message] + (c.message == NIM_SETVERSION ? std::to_string(c.data.uVersion) : c.tip()) +
               (c.data.hIcon == LoadIconA(GetModuleHandleA(nullptr), "ICON_3") ? " (3)" : "") + "; ";
    return out;
}

// What the shell does for an event over the icon: the record's callback
// message to the record's window, as version 4 sends it (the icon's place
// in wParam).
void notify(const NOTIFYICONDATAA& record, UINT event) {
    SendMessageA(record.hWnd, record.uCallbackMessage, MAKEWPARAM(30, 40), MAKELPARAM(event, record.uID));
}
}  // namespace

// Version 4: a click (NIN_SELECT) or Enter/Space (NIN_KEYSELECT, Enter's
// second one dropped) is a click, WM_CONTEXTMENU the menu at the icon;
// the mouse-up messages before them are not acted on twice.
TEST(TrayIcon, TheShellGetsTheVersion4RecordWhileActiveAndItsNotificationsBecomeEvents) {
    ShellCalls calls;
    std::string seen;
    {
        TTrayIcon t(nullptr);
        fw::TIcon three;
        three.LoadFromResourceName(GetModuleHandleA(nullptr), "ICON_3");
        t.SetToolTip(std::string(125, '-') + "cut");
        t.OnClick = [&](fw::TObject*) { seen += "click "; };
        t.OnDblClick = [&](fw::TObject*) { seen += "double "; };
        t.OnMouseMove = [&](fw::TObject*) { throw std::runtime_error("Moved"); };
        t.OnRightClick = [&](fw::TObject*, TMouseButton, TShiftState, int x, int y) { seen += "menu at " + std::to_string(x) + "," + std::to_string(y); };
        t.SetActive(true);
        t.SetActive(true);
        EXPECT_EQ(calls.at(0).data.cbSize, static_cast<DWORD>(sizeof(NOTIFYICONDATAA)));
        EXPECT_EQ(calls[0].data.uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP), static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
        testsupport::Boxes().clear();
        for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT, WM_LBUTTONDBLCLK, WM_LBUTTONUP, NIN_KEYSELECT, NIN_KEYSELECT,
                       WM_RBUTTONDOWN, WM_MBUTTONUP, WM_MOUSEMOVE, WM_RBUTTONUP, WM_CONTEXTMENU})
            notify(calls[0].data, m);
        t.SetIcon(&three);
        // The shell restarted and forgot the icon: it is added again as it is now.
        PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
        EXPECT_TRUE(PumpUntil([&] { return calls.size() == 6; }));
        t.SetActive(false);
        t.SetActive(false);
        t.SetToolTip("");
        t.SetActive(true);  // added without a tooltip: refreshed once, later
        PumpFor(100);
    }
    const std::string tip = std::string(125, '-') + "cu";
    EXPECT_EQ(told(calls), "add " + tip + "; version 4; focus " + tip + "; modify " + tip + " (3); add " + tip + " (3); version 4 (3); delete " + tip +
                               " (3); add  (3); version 4 (3); modify  (3); delete  (3); ");
    EXPECT_EQ(seen, "click double click menu at 30,40");
    // A shell without version 4 sends the mouse messages alone.
    desktop::SetShellNotifySeam([](DWORD message, const NOTIFYICONDATAA&) { return message != NIM_SETVERSION; });
    TTrayIcon old(nullptr);
    old.OnClick = [&](fw::TObject*) { seen += " old click"; };
    old.SetActive(true);
    for (UINT m : {WM_LBUTTONUP, WM_LBUTTONDBLCLK}) SendMessageA(old.WindowHandle(), TTrayIcon::WM_TRAYNOTIFY, 0, m);
    EXPECT_EQ(seen.substr(seen.size() - 10), " old click");
    EXPECT_EQ(testsupport::Boxes(), (testsupport::BoxList{{"Moved.", "Tidemark"}}));
}

// The new-mail balloon: the Unicode record (any script shows whatever the
// ANSI code page) with only NIF_INFO, from an active icon only; its texts
// are cut to the record's room, never inside a surrogate pair.
// The count over every frame, at the icon sizes of 96, 120, 144 and 192
// DPI, on a dark and a light taskbar, with the plain frame below for
// comparison (artifacts/icon-badge.bmp): the plate in the lower right
// corner, the frame untouched elsewhere.
TEST(TrayIcon, TheBadgeCountsUpToNinePlusInTheCornerOfTheFrame) {
    EXPECT_EQ(BadgeText(0) + "|" + BadgeText(1) + "|" + BadgeText(9) + "|" + BadgeText(10) + "|" + BadgeText(100000), "|1|9|9+|9+");
    const HINSTANCE module = GetModuleHandleA(nullptr);
    EXPECT_EQ(BadgedIcon(fw::ResourceIcon(module, "ICON_1", 16), 16, 0), nullptr);
    fw::UniqueWindow shot(CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 360, 150, nullptr, nullptr, module, nullptr));
    PumpFor(100);
    HDC dc = GetDC(shot.get());
    for (int row = 0; row < 2; ++row) {
        fw::UniqueHandle<HGDIOBJ, &::DeleteObject> brush(CreateSolidBrush(row ? RGB(238, 238, 238) : RGB(28, 28, 28)));
        RECT band{0, row * 75, 360, row * 75 + 75};
        FillRect(dc, &band, static_cast<HBRUSH>(brush.get()));
        int x = 4;
        for (std::size_t count : {1, 9, 10})
            for (int size : {16, 20, 24, 32}) {
                const int y = row * 75 + 4;
                HICON frame = fw::ResourceIcon(module, "ICON_" + std::to_string(count), size);
                fw::UniqueIcon badged(BadgedIcon(frame, size, count));
                DrawIconEx(dc, x, y, badged.get(), size, size, 0, nullptr, DI_NORMAL);
                DrawIconEx(dc, x, y + 36, frame, size, size, 0, nullptr, DI_NORMAL);
                const int high = std::max(9, size * 9 / 16);
                int changed = 0, plate = 0;
                for (int py = 0; py < size; ++py)
                    for (int px = 0; px < size; ++px) {
                        const COLORREF c = GetPixel(dc, x + px, y + py);
                        changed += c != GetPixel(dc, x + px, y + 36 + py);
                        plate += c == kBadgeColor;
                        EXPECT_TRUE(px >= size / 2 || py >= size - high || c == GetPixel(dc, x + px, y + 36 + py)) << size << " " << count;
                    }
                EXPECT_GT(plate, high) << size << " " << count;
                EXPECT_LE(changed, size * high) << size << " " << count;
                x += size + 6;
            }
    }
    GdiFlush();
    PumpFor(50);  // Wine puts a window's drawing on the screen while messages are handled
    testsupport::SaveShot(shot.get(), "icon-badge");
    ReleaseDC(shot.get(), dc);
}

TEST(TrayIcon, TheBalloonIsTheUnicodeRecordOfTheActiveIcon) {
    ShellCalls calls;
    std::vector<NOTIFYICONDATAW> sent;
    SetShellNotifyWideSeam([&](DWORD message, const NOTIFYICONDATAW& d) { return sent.push_back(d), message == NIM_MODIFY; });
    TTrayIcon t(nullptr);
    const std::u16string line = u"Анна: Привет, 日本語 🌊", a(253, u'a'), title(70, u'T');
    EXPECT_FALSE(t.ShowBalloon(u"New mail", line));
    t.SetActive(true);
    EXPECT_TRUE(t.ShowBalloon(u"New mail", line) && t.ShowBalloon(title, a + u"a🌊") && t.ShowBalloon(title, a + u"🌊b"));
    SetShellNotifyWideSeam(nullptr);
    auto text = [](const WCHAR* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); };
    EXPECT_EQ((std::vector<UINT_PTR>{sent.at(2).cbSize, reinterpret_cast<UINT_PTR>(sent[0].hWnd), sent[0].uID, sent[0].uFlags, sent[0].dwInfoFlags, sent[0].uTimeout}),
              (std::vector<UINT_PTR>{sizeof sent[0], reinterpret_cast<UINT_PTR>(t.WindowHandle()), t.NotifyRecord().uID, NIF_INFO, NIIF_INFO | NIIF_RESPECT_QUIET_TIME, 10000}));
    EXPECT_EQ(text(sent[0].szInfoTitle) + u"|" + text(sent[0].szInfo) + u"|" + text(sent[1].szInfoTitle) + u"|" + text(sent[1].szInfo) + u"|" + text(sent[2].szInfo),
              u"New mail|" + line + u"|" + title.substr(0, 63) + u"|" + a + u"a|" + a + u"🌊");
}

TEST(DesktopIcons, TheLowestWindowTitledProgramManagerInAnyCaseIsHiddenAndShown) {
    auto nearMiss = testsupport::ProgramManager(false);
    SetWindowTextA(nearMiss.get(), "Program Manager X");
    EXPECT_TRUE(FindProgramManager() == nullptr && !HideDesktopIcons(false) && !IsWindowVisible(nearMiss.get()));
    auto mixed = testsupport::ProgramManager(false);
    SetWindowTextA(mixed.get(), "pRoGrAm mAnAgEr");
    EXPECT_TRUE(FindProgramManager() == mixed.get() && HideDesktopIcons(false) && IsWindowVisible(mixed.get()));
    EXPECT_TRUE(HideDesktopIcons(true) && !IsWindowVisible(mixed.get()));
    auto upper = testsupport::ProgramManager(false);
    SetWindowTextA(upper.get(), "PROGRAM MANAGER");
    for (HWND lowest : {upper.get(), mixed.get()}) {
        SetWindowPos(lowest, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        EXPECT_EQ(FindProgramManager(), lowest);
    }
}

// ---- the About box ----

namespace {
// Shows a box through `show`; from inside its modal loop describes it, sees
// that `keys` do not close it, then closes it with `closing`.
std::string look(const std::function<int()>& show, std::vector<WPARAM> keys, const std::function<void(TAboutBox*)>& closing) {
    std::string seen;
    TAboutBox* box = nullptr;
    Later inside(100, [&] {
        box = AboutBox;
        seen = box->Caption() + "|" + box->TaglineLabel->Caption() + (box->OKButton->Visible() ? "|button" : "") +
               (box->LoadingLabel->Visible() ? "|loading" : "") + (box->Owner() == fw::Application ? "|application's" : "") +
               (GetWindowLongA(box->Handle(), GWL_STYLE) & WS_CAPTION ? "|caption bar" : "");
        for (WPARAM key : keys) PostMessageA(box->OKButton->Handle(), WM_KEYDOWN, key, 0);
        PumpFor(100);
        if (box->ModalResult != fw::mrNone) seen += "|closed by a key";
        if (box->ModalResult == fw::mrNone) closing(box);
    });
    const int result = show();
    EXPECT_TRUE(PumpUntil([&] { return !fw::Application->FormExists(box); })) << "the box did not free itself";
    EXPECT_EQ(AboutBox, nullptr);
    return std::to_string(result) + " " + seen;
}
}  // namespace

TEST(AboutBox, TheSplashTheAboutBoxAndTheReminderEachANewBoxThatFreesItself) {
    fw::TComponent owner(nullptr);
    auto enter = [](TAboutBox* box) { PostMessageA(box->OKButton->Handle(), WM_KEYDOWN, VK_RETURN, 0); };
    EXPECT_EQ(look(ShowSplash, {VK_RETURN, VK_ESCAPE}, [](TAboutBox*) { CloseAboutBox(); }),
              "2 About|With Vesk, your email agent.|loading|application's");
    EXPECT_EQ(look([&] { return ShowAboutBox(&owner); }, {VK_ESCAPE}, enter), "1 About|With Vesk, your email agent.|button");
    EXPECT_EQ(look([&] { return ShowUpgradeReminder(&owner); }, {VK_ESCAPE}, enter), "1 About|      Click on our logo!|button");
}

namespace {
// What the browsers were asked and the messages shown, in order.
std::string said;

// Stands in for running browsers: a second DDEML instance of this thread
// that offers "NETSCAPE" and "IExplore" (DDE names ignore case, so it also
// answers "IEXPLORE") and accepts the SERVICE/TOPIC pairs it is given. The
// two requests the About box must make are noted as "activate" and "open".
struct Browsers {
    explicit Browsers(const std::string& pairs) : accepts(pairs) {
        current = this;
        DdeInitializeA(&instance, callback, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS | CBF_FAIL_POKES, 0);
        for (const char* name : {"NETSCAPE", "IExplore"})
            DdeNameService(instance, DdeCreateStringHandleA(instance, name, CP_WINANSI), nullptr, DNS_REGISTER);
    }
    ~Browsers() { DdeUninitialize(instance); }
    static std::string text(HSZ h) {
        char buffer[512] = {};
        DdeQueryStringA(current->instance, h, buffer, sizeof buffer, CP_WINANSI);
        return buffer;
    }
    static HDDEDATA CALLBACK callback(UINT type, UINT format, HCONV, HSZ topic, HSZ other, HDDEDATA, ULONG_PTR, ULONG_PTR) {
        const std::string pair = fw::UpperCaseAscii(text(other) + "/" + text(topic)) + " ";
        if (type == XTYP_CONNECT) return reinterpret_cast<HDDEDATA>(current->accepts.find(pair) != std::string::npos);
        if (type != XTYP_REQUEST) return nullptr;
        const std::string request = text(topic) + " " + text(other);
        said += (request == "WWW_Activate 0xffffffff,0x0"                                      ? "activate"
                 : request == "WWW_OpenURL http://www.brindlewick.example/,,0xFFFFFFFF,0x0,,," ? "open"
                                                                                               : request) +
                ", ";
        return DdeCreateDataHandle(current->instance, reinterpret_cast<LPBYTE>(const_cast<char*>("OK")), 2, 0, other, format, 0);
    }
    static inline Browsers* current = nullptr;
    DWORD instance = 0;
    std::string accepts;
};
}  // namespace

// Wine's own iexplore.exe, which WinExec would find as "IEXPLORE.EXE", is
// disabled for this suite (WINEDLLOVERRIDES of its ctest entry): no real
// browser may start and answer.
TEST(AboutBox, AClickOnTheLogoAsksARunningBrowserToOpenTheHomePage) {
    const std::string none = "Error: You don't have MS Internet Explorer or Netscape Navigator open., ";
    // The SERVICE/TOPIC pairs that answer, and what the browsers are asked and the user is told.
    const std::pair<const char*, std::string> table[] = {
        {"NETSCAPE/WWW_ACTIVATE NETSCAPE/WWW_OPENURL IEXPLORE/WWW_ACTIVATE IEXPLORE/WWW_OPENURL ", "activate, open, "},
        {"NETSCAPE/WWW_ACTIVATE IEXPLORE/WWW_ACTIVATE IEXPLORE/WWW_OPENURL ",
         "activate, Error getting Netscape Navigator to load page., " + none},
        {"IEXPLORE/WWW_ACTIVATE IEXPLORE/WWW_OPENURL ", "activate, open, "},
        {"IEXPLORE/WWW_ACTIVATE ", "activate, Error getting MS Internet Explorer to load page., " + none},
        {"", none},
        {"NETSCAPE/WWW_ACTIVATE NETSCAPE/WWW_OPENURL (a double click) ", "activate, open, activate, open, "},
    };
    fw::SetMessageDialogSeam([](const std::string& text, fw::TMsgDlgType) { said += text + ", "; });
    for (const auto& [answering, expected] : table) {
        Browsers browsers(answering);
        TAboutBox box(nullptr);
        said.clear();
        for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
            if (m != WM_LBUTTONDBLCLK || std::strstr(answering, "double")) SendMessageA(box.LogoImage->Handle(), m, 0, 0);
        EXPECT_EQ(said, expected) << answering;
    }
    fw::SetMessageDialogSeam(nullptr);
}
