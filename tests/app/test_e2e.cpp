// The real tidemark.exe in this Wine prefix's virtual desktop (it has a
// notification area), with settings that point at the real Dovecot of the
// test run but carry a wrong password: the splash comes first, the icon
// switches the desktop window, a failed check is reported in a box captioned
// "Tidemark", a second start ends and brings Setup, where the password is
// corrected (and kept protected), checks then come every second and read
// each message's headers once, a message delivered meanwhile is announced
// by the shell's balloon, and Close brings the desktop window back and ends
// the program.
#include <windows.h>

#include "app/settings.h"
#include "desktop/tray_icon.h"
#include "framework/menus.h"
#include "gtest/gtest.h"
#include "mail/seen_id_store.h"
#include "tests/support/dovecot.h"
#include "tests/support/helpers.h"

using testsupport::PumpUntil;

namespace {
DWORD pid = 0;

std::string text(HWND h, bool className = false) {
    char buffer[256] = {};
    DWORD_PTR copied = 0;  // WM_GETTEXT: GetWindowTextA gives only the caption of another process's window
    className ? GetClassNameA(h, buffer, sizeof buffer)
              : SendMessageTimeoutA(h, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 1000, &copied);
    return buffer;
}

// The first top-level window of tidemark.exe that `match` accepts.
HWND tidemark(const std::function<bool(HWND)>& match) {
    for (HWND h = GetTopWindow(nullptr); h; h = GetWindow(h, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner == pid && match(h)) return h;
    }
    return nullptr;
}

// The n-th child of that class and, if given, that text, in z-order (for a
// form's controls that is the tab order).
HWND child(HWND parent, const char* className, int n, const char* caption = nullptr) {
    for (HWND h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        if (!lstrcmpiA(text(h, true).c_str(), className) && (!caption || text(h) == caption) && --n == 0) return h;
    return nullptr;
}

// The checks of user "demo" in the server's log whose logout line holds
// `what` and that retrieved and deleted nothing.
int demoChecks(const std::string& what) {
    const std::string log = testsupport::dovecot::Log();
    int checks = 0;
    for (std::size_t at = log.find("pop3(demo)"); at != std::string::npos; at = log.find("pop3(demo)", at + 1)) {
        const std::string line = log.substr(at, log.find('\n', at) - at);
        checks += line.find(what) != std::string::npos && line.find("retr=0/0, del=0/") != std::string::npos;
    }
    return checks;
}
}  // namespace

TEST(EndToEnd, StartCheckReportCorrectInSetupCheckAndClose) {
    const std::string server = testsupport::dovecot::ServerText();
    ASSERT_NE(server, "") << "no Dovecot: run through ctest (its dovecot fixture)";
    ASSERT_TRUE(testsupport::dovecot::Deliver("demo", "From: harbour@example.org\nSubject: High water\n\nAt six.\n"));
    ASSERT_TRUE(testsupport::dovecot::Deliver("demo", "From: pilot@example.org\nSubject: Low water\n\nAt noon.\n"));
    auto removeSettings = [] {
        for (const std::string& key : {app::MailboxKey(1), std::string(app::SettingsKey) + "\\Mailboxes", std::string(app::SettingsKey)})
            RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    };
    removeSettings();
    const std::string seenList = mail::TSeenIdStore().FileFor(mail::MailboxName(server, "demo"));
    DeleteFileA(seenList.c_str());  // the ids of an earlier run's server
    for (auto [name, value] : {std::pair<const char*, std::string>{"server", server}, {"username", "demo"}, {"password", "wrong"}, {"interval", "1"}})
        testsupport::WriteText(app::SettingsKey, name, value);
    auto desk = testsupport::ProgramManager(true);

    char path[MAX_PATH] = {};
    std::string command(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    command = "\"" + command.substr(0, command.rfind('\\')) + "\\..\\..\\app\\tidemark.exe\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const ULONGLONG started = GetTickCount64();
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) << command;
    fw::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    pid = pi.dwProcessId;
    struct Ender {
        HANDLE process;
        ~Ender() { TerminateProcess(process, 99); }  // whatever the outcome: no process left behind
    } ender{pi.hProcess};
    HWND tray = nullptr, commands = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        tray = tidemark([](HWND h) { return GetPropA(h, desktop::TTrayIcon::kWindowProperty); });
        commands = tidemark([](HWND h) { return GetPropA(h, fw::TPopupMenu::kWindowProperty); });
        return tray && commands;
    },
                          10000));
    EXPECT_GE(GetTickCount64() - started, 2900u) << "the icon came before the three-second splash ended";
    auto choose = [&](int item) { PostMessageA(commands, WM_COMMAND, fw::TMenuItem::FirstCommand + item, 0); };

    // What the shell sends a version-4 icon for a click, then for a right click.
    PostMessageA(tray, desktop::TTrayIcon::WM_TRAYNOTIFY, 0, NIN_SELECT);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(desk.get()); })) << "the desktop window was not hidden";
    // The menu shows at the icon; WM_CANCELMODE to its owner ends it.
    PostMessageA(tray, desktop::TTrayIcon::WM_TRAYNOTIFY, MAKEWPARAM(300, 300), WM_CONTEXTMENU);
    auto menu = [] { return tidemark([](HWND h) { return IsWindowVisible(h) && text(h, true) == "#32768"; }); };
    EXPECT_TRUE(PumpUntil([&] { return menu(); })) << "no menu on a right click";
    PostMessageA(commands, WM_CANCELMODE, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !menu(); }));

    choose(1);  // "Start Checking &email"
    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return box = tidemark([](HWND h) { return IsWindowVisible(h) && text(h, true) == "#32770"; }); }));
    EXPECT_EQ(text(box), "Tidemark");
    EXPECT_TRUE(child(box, "Static", 1, "-ERR [AUTH] Authentication failed.") || child(box, "Static", 2, "-ERR [AUTH] Authentication failed."));
    PostMessageA(box, WM_COMMAND, IDOK, 0);

    // A second start ends at once, quietly, and brings the running one's Setup.
    PROCESS_INFORMATION second{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &second));
    fw::UniqueKernelHandle secondProcess(second.hProcess), secondThread(second.hThread);
    struct Ender secondEnder {
        second.hProcess
    };
    DWORD secondCode = 1;  // STILL_ACTIVE while it runs
    EXPECT_TRUE(PumpUntil([&] { return GetExitCodeProcess(second.hProcess, &secondCode) && secondCode == 0; }, 10000)) << "a second Tidemark runs";
    HWND setup = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return setup = tidemark([](HWND h) { return IsWindowVisible(h) && text(h) == "Vesk Setup"; }); }));
    // The old single mailbox is the first of the list, chosen: Edit opens its fields.
    PostMessageA(child(child(setup, "TidemarkBevel", 1), "Button", 1, "&Edit..."), BM_CLICK, 0, 0);
    HWND fields = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return fields = tidemark([](HWND h) { return IsWindowVisible(h) && text(h) == "Mailbox"; }); }));
    SendMessageA(child(child(fields, "TidemarkBevel", 1), "Edit", 4), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("tide"));
    PostMessageA(child(fields, "Button", 1, "OK"), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(fields); }));
    PostMessageA(child(setup, "Button", 1, "OK"), BM_CLICK, 0, 0);
    std::string stored;
    EXPECT_TRUE(PumpUntil([&] { return app::UnprotectPassword(testsupport::ReadValue(app::MailboxKey(1).c_str(), "password_protected"), stored); }));
    EXPECT_EQ(stored + "|" + testsupport::ReadValue(app::MailboxKey(1).c_str(), "password"), "tide|");

    choose(1);
    EXPECT_TRUE(PumpUntil([] { return demoChecks("del=0/2") >= 3; }, 10000)) << testsupport::dovecot::Log();
    EXPECT_EQ(demoChecks("top=2/"), 1) << "the headers of a message are read once";
    // The shell draws a balloon as a tooltip window of its own, with the text for the window's.
    // A second message while the first one's notice is up: the next notice names both.
    HWND balloon = nullptr;
    for (const std::string shown : {"Harbour Master: Spring tide", "Harbour Master: Neap tide\nHarbour Master: Spring tide"}) {
        ASSERT_TRUE(testsupport::dovecot::Deliver("demo", "From: Harbour Master <hm@example.org>\nSubject: " + shown.substr(16, shown.find('\n') - 16) + "\n\n.\n"));
        EXPECT_TRUE(PumpUntil([&] {
            for (HWND h = GetTopWindow(nullptr); h; h = GetWindow(h, GW_HWNDNEXT))
                if (IsWindowVisible(h) && text(h, true) == "tooltips_class32" && text(h) == shown) return (balloon = h) != nullptr;
            return false;
        },
                              10000))
            << "no notice of " << shown;
    }
    testsupport::SaveShot(balloon, "new-mail-notice");

    PostMessageA(tidemark([](HWND h) { return text(h) == "Brindlewick Software - Tidemark"; }), WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(desk.get()); })) << "the desktop window was not shown again";
    ASSERT_TRUE(PumpUntil([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, 10000));
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(IsWindow(tray));
    removeSettings();
    DeleteFileA(seenList.c_str());
}
