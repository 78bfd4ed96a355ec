// Every window Tidemark shows, checked as it lies on the screen: no two
// sibling controls overlap, every caption fits its control in the control's
// own font, every control lies inside its parent, and between the controls
// only the dialog colour shows. Screenshots are kept as artifacts.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/setup_dialog.h"
#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "desktop/tray_icon.h"
#include "framework/application.h"
#include "framework/handles.h"
#include "framework/timer.h"
#include "gtest/gtest.h"
#include "tests/support/screenshot.h"

namespace {

int screenDpi() {
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi;
}

// An artifact's name: what it shows and the screen's DPI.
std::string atDpi(const std::string& name) { return name + "-" + std::to_string(screenDpi()) + "dpi"; }

std::string className(HWND h) {
    char name[64] = {};
    GetClassNameA(h, name, sizeof name);
    return name;
}

std::string describe(HWND h) {
    char text[128] = {};
    GetWindowTextA(h, text, sizeof text);
    return className(h) + " \"" + text + "\"";
}

// `child`'s rectangle in `parent`'s client coordinates.
RECT rectIn(HWND parent, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::vector<HWND> visibleChildren(HWND parent) {
    std::vector<HWND> kids;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE) kids.push_back(c);
    return kids;
}

// Height and width of a text in the font the control draws with.
SIZE textIn(HWND h, const std::string& text, TEXTMETRICA* tm = nullptr) {
    HDC dc = GetDC(h);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0)));
    SIZE sz{0, 0};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &sz);
    if (tm) GetTextMetricsA(dc, tm);
    SelectObject(dc, old);
    ReleaseDC(h, dc);
    return sz;
}

// What a control needs to show its text whole, against what it has.
void checkText(HWND h, std::vector<std::string>& faults) {
    char buf[256] = {};
    GetWindowTextA(h, buf, sizeof buf);
    const std::string cls = className(h);
    const LONG style = GetWindowLongA(h, GWL_STYLE);
    RECT client;
    GetClientRect(h, &client);
    TEXTMETRICA tm{};
    SIZE need = textIn(h, buf, &tm);
    if (cls == "Static" && (style & SS_TYPEMASK) <= SS_RIGHT && *buf) {
        // measured as drawn: one line in the label's font
    } else if (cls == "Button") {
        // The control's own idea of the room its glyph, text and margins take.
        SendMessageA(h, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&need));
    } else if (cls == "Edit") {
        need = {0, tm.tmHeight + 2};
    } else if (cls == "ComboBox") {
        for (int i = 0, n = static_cast<int>(SendMessageA(h, CB_GETCOUNT, 0, 0)); i < n; ++i) {
            SendMessageA(h, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf));
            need.cx = std::max(need.cx, textIn(h, buf).cx + GetSystemMetrics(SM_CXVSCROLL) + 4);
        }
        need.cy = 0;
    } else {
        return;
    }
    if (need.cx > client.right || need.cy > client.bottom)
        faults.push_back(describe(h) + " needs " + std::to_string(need.cx) + " x " + std::to_string(need.cy) +
                         ", has " + std::to_string(client.right) + " x " + std::to_string(client.bottom));
}

void checkChildren(HWND parent, bool framed, std::vector<std::string>& faults) {
    RECT client;
    GetClientRect(parent, &client);
    if (framed) InflateRect(&client, -2, -2);  // inside the edge a panel or frame draws
    const std::vector<HWND> kids = visibleChildren(parent);
    for (std::size_t i = 0; i < kids.size(); ++i) {
        RECT r = rectIn(parent, kids[i]), both;
        if (r.left < client.left || r.top < client.top || r.right > client.right || r.bottom > client.bottom)
            faults.push_back(describe(kids[i]) + " lies outside " + describe(parent));
        for (std::size_t j = i + 1; j < kids.size(); ++j) {
            RECT other = rectIn(parent, kids[j]);
            if (IntersectRect(&both, &r, &other))
                faults.push_back(describe(kids[i]) + " overlaps " + describe(kids[j]));
        }
        checkText(kids[i], faults);
        checkChildren(kids[i], true, faults);
    }
}

// The form's client area as it is on the screen, rows top down.
struct Picture {
    int w = 0, h = 0;
    std::vector<COLORREF> px;
};

// Pixels of each container's client area that no child covers (inside the
// edge a framed child draws) must be the dialog colour.
void checkBackground(HWND form, HWND container, const Picture& pic, std::vector<std::string>& faults) {
    std::vector<RECT> covered;
    for (HWND k : visibleChildren(container)) covered.push_back(rectIn(form, k));
    RECT area;
    GetClientRect(container, &area);
    if (container != form) InflateRect(&area, -2, -2);
    MapWindowPoints(container, form, reinterpret_cast<POINT*>(&area), 2);
    int wrong = 0;
    POINT first{};
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            const POINT p{x, y};
            if (std::none_of(covered.begin(), covered.end(), [&](const RECT& r) { return PtInRect(&r, p); }) &&
                pic.px[static_cast<std::size_t>(y) * pic.w + x] != GetSysColor(COLOR_BTNFACE) && wrong++ == 0)
                first = p;
        }
    if (wrong)
        faults.push_back(std::to_string(wrong) + " pixels inside " + describe(container) +
                         " are not the dialog colour, the first at " + std::to_string(first.x) + "," +
                         std::to_string(first.y));
    for (HWND k : visibleChildren(container))
        if (GetWindow(k, GW_CHILD)) checkBackground(form, k, pic, faults);
}

// Captures the client area from the screen (what the user sees, not what
// the form would print) and keeps it as an artifact.
Picture capture(HWND form, const std::string& artifact) {
    SetWindowPos(form, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    fw::Application->ProcessMessages();
    RECT client;
    GetClientRect(form, &client);
    Picture pic{client.right, client.bottom, {}};
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof bi.bmiHeader, pic.w, -pic.h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC win = GetDC(form);
    void* bits = nullptr;
    fw::UniqueHandle<HGDIOBJ, &::DeleteObject> dib(CreateDIBSection(win, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    fw::UniqueHandle<HDC, &::DeleteDC> mem(CreateCompatibleDC(win));
    SelectObject(mem.get(), dib.get());
    BitBlt(mem.get(), 0, 0, pic.w, pic.h, win, 0, 0, SRCCOPY);
    ReleaseDC(form, win);
    GdiFlush();
    for (int i = 0; i < pic.w * pic.h; ++i) {
        const auto* bgra = static_cast<const BYTE*>(bits) + 4 * i;
        pic.px.push_back(RGB(bgra[2], bgra[1], bgra[0]));
    }
    testsupport::SaveBitmap(testsupport::ArtifactPath(artifact + ".bmp"), pic.w, pic.h,
                            [&](HDC out) { return BitBlt(out, 0, 0, pic.w, pic.h, mem.get(), 0, 0, SRCCOPY) != 0; });
    SetWindowPos(form, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return pic;
}

// The whole check of one shown form; empty when it looks right.
std::vector<std::string> layoutFaults(HWND form, const std::string& artifact) {
    std::vector<std::string> faults;
    checkChildren(form, false, faults);
    checkBackground(form, form, capture(form, artifact), faults);
    return faults;
}

std::string joined(const std::vector<std::string>& faults) {
    std::string s;
    for (const std::string& f : faults) s += "\n  " + f;
    return s;
}

// The Setup dialog with every row filled as a user would see it.
std::unique_ptr<app::TSetupDialog> shownSetup() {
    auto dialog = std::make_unique<app::TSetupDialog>(nullptr);
    dialog->ServerEdit->SetText("pop.example.org:995");
    dialog->UserNameEdit->SetText("demo");
    dialog->IntervalEdit->SetText("60");
    dialog->Show();
    return dialog;
}

// Runs `check` on the About box while `show` (one of its three uses) has it
// on the screen, then closes it.
void whileShown(int (*show)(), const std::function<void(desktop::TAboutBox&)>& check) {
    fw::TTimer later(nullptr);
    later.SetInterval(100);
    later.SetOnTimer([&](fw::TObject*) {
        later.SetEnabled(false);
        if (desktop::AboutBox) check(*desktop::AboutBox);
        desktop::CloseAboutBox();
    });
    show();
    EXPECT_FALSE(later.Enabled()) << "the box was never shown";
}

TEST(Layout, SetupDialog) {
    auto dialog = shownSetup();
    EXPECT_EQ(joined(layoutFaults(dialog->Handle(), atDpi("setup"))), "");
    // The frame is the parent of every setting, so it cannot hide one.
    EXPECT_EQ(GetParent(dialog->AnnounceCheckBox->Handle()), dialog->Frame->Handle());
}

TEST(Layout, AboutBoxSplashAndReminder) {
    const struct {
        const char* artifact;
        int (*show)();
    } uses[] = {
        {"splash", desktop::ShowSplash},
        {"about", [] { return desktop::ShowAboutBox(nullptr); }},
        {"reminder", [] { return desktop::ShowUpgradeReminder(nullptr); }},
    };
    for (const auto& use : uses)
        whileShown(use.show, [&](desktop::TAboutBox& box) {
            EXPECT_EQ(joined(layoutFaults(box.Handle(), atDpi(use.artifact))), "") << use.artifact;
        });
}

// Windows sends WM_DPICHANGED when a form moves to a monitor of another DPI;
// the form takes the font for that DPI and lays out again in it.
TEST(Layout, FollowsAChangeOfDpi) {
    const HRSRC manifest = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(nullptr, manifest))),
                           SizeofResource(nullptr, manifest));
    EXPECT_NE(text.find(">PerMonitorV2, PerMonitor<"), std::string::npos) << "per-monitor DPI awareness";

    // Only from 96 DPI: under Wine a window keeps the system's DPI for
    // the check boxes' glyphs whatever it is told.
    if (screenDpi() != 96) GTEST_SKIP() << "the run at 96 DPI moves to 144";
    auto dialog = shownSetup();
    const int width = dialog->ClientWidth(), line = fw::LineHeight(dialog->ServerEdit->Handle());
    RECT r;
    GetWindowRect(dialog->Handle(), &r);
    SendMessageA(dialog->Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&r));
    EXPECT_EQ(dialog->Dpi(), 144u);
    EXPECT_NEAR(fw::LineHeight(dialog->ServerEdit->Handle()), line * 3 / 2, 3) << "the font for 144 DPI";
    EXPECT_NEAR(dialog->ClientWidth(), width * 3 / 2, width / 8) << "the layout for 144 DPI";
    EXPECT_EQ(joined(layoutFaults(dialog->Handle(), "setup-moved-from-96-to-144dpi")), "");
}

// The prefix's LogPixels is read by each Wine process as it starts: the
// same checks run once more in a process of their own at 144 DPI.
TEST(Layout, AgainAt144Dpi) {
    if (const char* asked = std::getenv("TIDEMARK_LAYOUT_DPI")) {
        EXPECT_EQ(screenDpi(), std::atoi(asked)) << "the prefix's LogPixels did not reach this run";
        return;
    }
    HKEY desktop;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_ALL_ACCESS, &desktop), 0);
    DWORD before = 96, size = sizeof before, high = 144;
    RegQueryValueExA(desktop, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&before), &size);
    RegSetValueExA(desktop, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&high), sizeof high);
    SetEnvironmentVariableA("TIDEMARK_LAYOUT_DPI", "144");
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" --gtest_color=no";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    const bool started = CreateProcessA(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    fw::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    SetEnvironmentVariableA("TIDEMARK_LAYOUT_DPI", nullptr);
    DWORD code = 1;
    if (started && WaitForSingleObject(pi.hProcess, 90000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    RegSetValueExA(desktop, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&before), sizeof before);
    RegCloseKey(desktop);
    ASSERT_TRUE(started);
    EXPECT_EQ(code, 0u) << "the run at 144 DPI failed (its output is above)";
}

// Every icon holds an image drawn for each size the shell asks for, the
// 32-pixel 16-colour one first.
TEST(Icons, EveryIconHasEverySize) {
    std::vector<std::string> names{"MAINICON"};
    for (int i = 1; i <= 13; ++i) names.push_back("ICON_" + std::to_string(i));
    for (const std::string& name : names) {
        const HRSRC group = FindResourceA(nullptr, name.c_str(), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
        ASSERT_NE(group, nullptr) << name;
        // A 6-byte header, then 14-byte entries: width, height, colours, ...
        const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
        std::vector<int> sizes;
        for (int i = 0; i < dir[4]; ++i) sizes.push_back(dir[6 + 14 * i]);
        EXPECT_EQ(sizes, (std::vector<int>{32, 16, 20, 24, 48})) << name;
        EXPECT_EQ(dir[6 + 2], 16) << name << ": the first image has 16 colours";
    }
}

// The colour image's pixels, rows top down: as many as the image is wide
// times high, none for a freed or empty icon.
std::vector<DWORD> pixelsOf(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return {};
    fw::UniqueHandle<HGDIOBJ, &::DeleteObject> color(info.hbmColor), mask(info.hbmMask);
    BITMAP bm{};
    GetObjectA(info.hbmColor, sizeof bm, &bm);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof bi.bmiHeader, bm.bmWidth, -bm.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> px(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, info.hbmColor, 0, bm.bmHeight, px.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    return px;
}

// The shell gets the image drawn for the small-icon size at the screen's
// DPI, not a bigger one scaled down; it stays legible on a dark and a light
// taskbar (see the artifact).
TEST(Icons, TrayShowsTheImageOfTheSizeTheShellAsksFor) {
    std::vector<HICON> shown;
    std::vector<std::vector<DWORD>> pictures;  // as the shell got them: a replaced image is freed
    desktop::SetShellNotifySeam([&](DWORD, const NOTIFYICONDATAA& d) {
        shown.push_back(d.hIcon);
        pictures.push_back(pixelsOf(d.hIcon));
        return TRUE;
    });
    app::TTrayController controller(nullptr);
    controller.AnimationTimer->SetEnabled(false);
    controller.AnimationTick(nullptr);
    controller.TrayIconMouseMove(nullptr);
    desktop::SetShellNotifySeam(nullptr);
    const int size = 16 * screenDpi() / 96;
    ASSERT_EQ(GetSystemMetrics(SM_CXSMICON), size);
    ASSERT_GE(shown.size(), 3u);  // the first image, an animation frame, the hover image
    EXPECT_EQ(pictures.front(), pixelsOf(fw::ResourceIcon(GetModuleHandleA(nullptr), "MAINICON", size)))
        << "the first image as drawn for " << size << " pixels";
    for (const auto& picture : pictures) EXPECT_EQ(picture.size(), static_cast<std::size_t>(size * size));

    // The last frame and the hover image at their size, then four times
    // bigger, on a dark and on a light taskbar.
    const int cell = 5 * size + 8;
    testsupport::SaveBitmap(testsupport::ArtifactPath(atDpi("tray") + ".bmp"), 2 * cell, 2 * cell, [&](HDC dc) {
        for (int band = 0; band < 2; ++band) {
            RECT r{0, band * cell, 2 * cell, (band + 1) * cell};
            fw::UniqueHandle<HGDIOBJ, &::DeleteObject> brush(
                CreateSolidBrush(band ? RGB(243, 243, 243) : RGB(32, 32, 32)));
            FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
            for (int i = 0; i < 2; ++i)
                for (int zoom : {1, 4})
                    DrawIconEx(dc, i * cell + (zoom == 1 ? 4 : size + 6), r.top + 4, shown[shown.size() - 2 + i],
                               zoom * size, zoom * size, 0, nullptr, DI_NORMAL);
        }
        return true;
    });
}

}  // namespace
