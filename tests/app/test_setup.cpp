// What the Setup dialog shows and stores (the password protected with
// DPAPI, the security mode, trusted certificates, the logon entry), and how
// every window looks at the prefix's DPI and at 144 DPI: each control inside
// its parent (inside a frame's edge), clear of its siblings, and big enough
// for its text in its own font. Screenshots go to TIDEMARK_ARTIFACTS.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "app/settings.h"
#include "app/setup_dialog.h"
#include "app/start_at_logon.h"
#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "framework/registry.h"
#include "gtest/gtest.h"
#include "tests/support/helpers.h"

using namespace app;
using testsupport::ReadValue;
using testsupport::WriteText;

namespace {
std::string name(HWND h) {
    char text[128] = {};
    GetWindowTextA(h, text, sizeof text);
    return "'" + std::string(text) + "'";
}

// The room `h` needs for its text in its own font; buttons and check boxes
// measure themselves (BCM_GETIDEALSIZE), a list its widest item.
SIZE needs(HWND h) {
    char cls[32] = {}, text[256] = {};
    GetClassNameA(h, cls, sizeof cls);
    GetWindowTextA(h, text, sizeof text);
    const LONG style = GetWindowLongA(h, GWL_STYLE);
    HDC dc = GetDC(h);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0)));
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    SIZE need{0, 0}, item{};
    if (!_stricmp(cls, "Button")) SendMessageA(h, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&need));
    if (!_stricmp(cls, "Edit")) need.cy = tm.tmHeight + 2;
    if (!_stricmp(cls, "Static") && (style & SS_TYPEMASK) <= SS_RIGHT)
        GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &need);
    for (LRESULT i = 0, n = _stricmp(cls, "ComboBox") ? 0 : SendMessageA(h, CB_GETCOUNT, 0, 0); i < n; ++i) {
        SendMessageA(h, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &item);
        need.cx = std::max<LONG>(need.cx, item.cx + GetSystemMetrics(SM_CXVSCROLL) + 4);
    }
    ReleaseDC(h, dc);
    return need;
}

void lookAt(HWND parent, int edge, std::string& faults) {
    RECT area, both;
    GetClientRect(parent, &area);
    InflateRect(&area, -edge, -edge);
    std::vector<std::pair<HWND, RECT>> siblings;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c)) continue;
        RECT r, client;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        GetClientRect(c, &client);
        const SIZE need = needs(c);
        if (!IntersectRect(&both, &r, &area) || !EqualRect(&both, &r)) faults += name(c) + " outside; ";
        for (const auto& [other, o] : siblings)
            if (IntersectRect(&both, &r, &o)) faults += name(c) + " over " + name(other) + "; ";
        if (need.cx > client.right || need.cy > client.bottom) faults += name(c) + " cut off; ";
        siblings.emplace_back(c, r);
        lookAt(c, 2, faults);
    }
}

// The faults of a shown form; the screen's picture of its client area is
// kept as <shot>-<dpi>dpi.bmp.
std::string looks(HWND form, const std::string& shot) {
    SetWindowPos(form, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT c;
    GetClientRect(form, &c);
    BITMAPINFOHEADER bi{sizeof bi, c.right, c.bottom, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::string pixels(static_cast<std::size_t>((c.right * 3 + 3) & ~3) * c.bottom, '\0');
    HDC screen = GetDC(form);
    fw::UniqueHandle<HDC, &::DeleteDC> mem(CreateCompatibleDC(screen));
    fw::UniqueHandle<HGDIOBJ, &::DeleteObject> bitmap(CreateCompatibleBitmap(screen, c.right, c.bottom));
    HGDIOBJ old = SelectObject(mem.get(), bitmap.get());
    BitBlt(mem.get(), 0, 0, c.right, c.bottom, screen, 0, 0, SRCCOPY);
    SelectObject(mem.get(), old);  // GetDIBits wants a bitmap that no DC holds
    GetDIBits(mem.get(), static_cast<HBITMAP>(bitmap.get()), 0, c.bottom, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    ReleaseDC(form, screen);
    const BITMAPFILEHEADER head{0x4D42, static_cast<DWORD>(sizeof head + sizeof bi + pixels.size()), 0, 0, sizeof head + sizeof bi};
    // A Unix path from the environment reaches Windows programs as Z:\...
    std::string path = std::getenv("TIDEMARK_ARTIFACTS") ? std::string("Z:") + std::getenv("TIDEMARK_ARTIFACTS") : ".";
    std::replace(path.begin(), path.end(), '/', '\\');
    std::ofstream(path + "\\" + shot + "-" + std::to_string(fw::SystemDpi()) + "dpi.bmp", std::ios::binary)
        << std::string(reinterpret_cast<const char*>(&head), sizeof head) << std::string(reinterpret_cast<const char*>(&bi), sizeof bi) << pixels;
    std::string faults;
    lookAt(form, 0, faults);
    return faults;
}

class Setup : public testing::Test {
protected:
    void SetUp() override {
        TearDown();
        SetupDialog = new TSetupDialog(nullptr);
        form = std::make_unique<TTrayController>(nullptr);
        form->AnimationTimer->SetEnabled(false);
    }
    void TearDown() override {
        form.reset();
        delete std::exchange(SetupDialog, nullptr);
        RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, RunKey, RunValueName);
        testsupport::Boxes().clear();
    }
    // Chooses Setup; `step` runs inside its modal loop, then `key` closes it.
    void setup(const std::function<void(TSetupDialog&)>& step, WPARAM key) {
        testsupport::Later inside(30, [&] {
            step(*SetupDialog);
            PostMessageA(SetupDialog->OKBtn->Handle(), WM_KEYDOWN, key, 0);
        });
        form->SetupItemClick(form.get());
    }
    static std::string stored() {
        fw::TRegistry reg;
        return reg.OpenKey(SettingsKey, false) ? reg.ReadBinaryData("password_protected") : "";
    }
    testsupport::ShellCalls calls;
    std::unique_ptr<TTrayController> form;
};
}  // namespace

TEST_F(Setup, AnOldPlainPasswordMovesOverProtectedAndTheSecurityAndTheLogonEntryAreStored) {
    WriteText(SettingsKey, "server", "pop.example.org");
    WriteText(SettingsKey, "password", "old plain");
    form->Show();
    std::string shown;
    auto look = [&](TSetupDialog& d) {
        shown += d.PasswordEdit->Text() + "|" + d.SecurityCombo->Text() + (d.StartAtLogonCheckBox->Checked() ? "|logon" : "|") +
                 (SendMessageA(d.PasswordEdit->Handle(), EM_GETPASSWORDCHAR, 0, 0) ? "|hidden; " : "; ");
    };
    setup([&](TSetupDialog& d) {
        look(d);
        d.SecurityCombo->SetItemIndex(SecurityIndex(net::TSecurity::StartTls));
        d.StartAtLogonCheckBox->SetChecked(true);
    }, VK_RETURN);
    std::string back, exe(MAX_PATH, '\0');
    exe.resize(GetModuleFileNameA(nullptr, exe.data(), MAX_PATH));
    EXPECT_TRUE(UnprotectPassword(stored(), back) && back == "old plain" && stored().find(back) == std::string::npos);
    EXPECT_EQ(ReadValue(SettingsKey, "password") + "|" + ReadValue(SettingsKey, "security"), "|starttls");
    EXPECT_EQ(ReadValue(RunKey, RunValueName), "\"" + exe + "\"") << "quoted: the path may hold blanks";
    for (WPARAM key : {VK_ESCAPE, VK_RETURN, VK_RETURN}) setup([&](TSetupDialog& d) { look(d), d.StartAtLogonCheckBox->SetChecked(false); }, key);
    EXPECT_EQ(shown, "old plain|None||hidden; old plain|STARTTLS|logon|hidden; old plain|STARTTLS|logon|hidden; old plain|STARTTLS||hidden; ");
    EXPECT_EQ(ReadValue(RunKey, RunValueName), "");
}

TEST_F(Setup, ADamagedProtectedPasswordIsReportedAndTheRestIsReadAndKept) {
    std::string damaged = ProtectPassword("pw");
    damaged[damaged.size() - 40] ^= 0x5A;  // in the sealed data
    testsupport::WriteValue(SettingsKey, "password_protected", REG_BINARY, damaged.data(), static_cast<DWORD>(damaged.size()));
    WriteText(SettingsKey, "username", "anna");
    WriteText(SettingsKey, "interval", "7");
    form->Show();
    EXPECT_EQ(form->Mailbox->UserName + "|" + form->Mailbox->Password + "|" + std::to_string(form->PollTimer->Interval()), "anna||7000");
    EXPECT_EQ(testsupport::Boxes(), (testsupport::BoxList{{"The saved password cannot be read here (it was saved by another user or on "
                                                           "another computer). Please enter the password again in Setup.", "Tidemark"}}));
    EXPECT_EQ(stored(), damaged);
}

TEST_F(Setup, ACertificateTrustedForAServerIsKeptAndAChangedOneAskedAbout) {
    net::TCertificateVerdict verdict{false, true, "Not trusted", "AB:CD"};
    std::string asked;
    auto answer = [&](bool yes) { return [&asked, yes](const std::string& question) { return asked += question + "|", yes; }; };
    EXPECT_TRUE(AcceptCertificate("mail.lan", verdict, answer(true)));
    EXPECT_TRUE(AcceptCertificate("mail.lan", verdict, answer(false)));
    verdict.Fingerprint = "EF:01";
    EXPECT_FALSE(AcceptCertificate("mail.lan", verdict, answer(false)));
    EXPECT_EQ(asked, "Not trusted.\n\nTrust this certificate for mail.lan? SHA-256 fingerprint: AB:CD|"
                     "Not trusted.\n\nTrust this certificate for mail.lan? SHA-256 fingerprint: EF:01|");
    EXPECT_EQ(ReadValue(SettingsKey, "trusted_certificate mail.lan"), "AB:CD");
}

TEST(Looks, TheSetupDialogAndTheAboutBoxInItsThreeUses) {
    if (std::getenv("TIDEMARK_DPI")) {
        EXPECT_EQ(fw::SystemDpi(), 144u) << "the prefix's LogPixels did not reach this run";
    }
    TSetupDialog setup(nullptr);
    setup.ServerEdit->SetText("pop.example.org:995");
    setup.Show();
    EXPECT_EQ(looks(setup.Handle(), "setup"), "");
    const struct { const char* shot; int (*show)(); } uses[] = {
        {"splash", desktop::ShowSplash},
        {"about", [] { return desktop::ShowAboutBox(nullptr); }},
        {"reminder", [] { return desktop::ShowUpgradeReminder(nullptr); }},
    };
    for (const auto& use : uses) {
        std::string faults = "not shown";
        testsupport::Later inside(100, [&] { faults = looks(desktop::AboutBox->Handle(), use.shot), desktop::CloseAboutBox(); });
        use.show();
        EXPECT_EQ(faults, "") << use.shot;
    }
}

// Each Wine process reads the prefix's LogPixels as it starts: the looks
// are checked again by a second run of this program at 144 DPI.
TEST(Looks, AgainAt144Dpi) {
    if (std::getenv("TIDEMARK_DPI")) return;
    const char* desktopKey = "Control Panel\\Desktop";
    const std::string before = ReadValue(desktopKey, "LogPixels");
    testsupport::WriteNumber(desktopKey, "LogPixels", 144);
    SetEnvironmentVariableA("TIDEMARK_DPI", "144");
    std::string exe(MAX_PATH, '\0');
    exe.resize(GetModuleFileNameA(nullptr, exe.data(), MAX_PATH));
    std::string command = "\"" + exe + "\" --gtest_filter=Looks.* --gtest_color=no";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = GetStdHandle(STD_OUTPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    const bool started = CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    fw::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    DWORD code = 1;
    if (started && WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    SetEnvironmentVariableA("TIDEMARK_DPI", nullptr);
    testsupport::WriteNumber(desktopKey, "LogPixels", before.empty() ? 96 : std::stoul(before.substr(1)));
    EXPECT_EQ(code, 0u) << "the run at 144 DPI failed (its output is above)";
}
