// The real tidemark.exe checking a real Dovecot mailbox: settings stored in
// this Wine prefix point at the server with a 1-second interval, checking is
// switched on through the menu command, and the server's own log proves that
// checks happen, only ask for headers, and ask for each message's once.
#include <windows.h>

#include <string>

#include "app/settings.h"
#include "gtest/gtest.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/wine_helpers.h"

using namespace app;

namespace {

struct FoundWindow {
    DWORD pid;
    const char* prop;
    HWND hwnd;
};

BOOL CALLBACK matchWindow(HWND h, LPARAM lp) {
    auto* f = reinterpret_cast<FoundWindow*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == f->pid && GetPropA(h, f->prop)) {
        f->hwnd = h;
        return FALSE;
    }
    return TRUE;
}

HWND windowWithProp(DWORD pid, const char* prop) {
    FoundWindow f{pid, prop, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&f));
    return f.hwnd;
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

void storeText(HKEY k, const char* name, const std::string& value) {
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()), static_cast<DWORD>(value.size()));
}

}  // namespace

TEST(EndToEndMail, SwitchedOnTidemarkChecksTheMailboxEverySecond) {
    testsupport::DovecotServer server(TIDEMARK_SOURCE_DIR "/scripts/dovecot-fixture.sh");
    std::string error;
    ASSERT_TRUE(server.Start({{"demo", "tide"}}, error)) << error;
    ASSERT_TRUE(server.AddMessage("demo", "From: harbour@example.org\nSubject: High water\n\nAt six.\n"));
    ASSERT_TRUE(server.AddMessage("demo", "From: pilot@example.org\nSubject: Low water\n\nAt noon.\n"));

    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
    storeText(k, "server", server.ServerText());
    storeText(k, "username", "demo");
    storeText(k, "password", "tide");
    storeText(k, "interval", "1");
    DWORD zero = 0;
    RegSetValueExA(k, "hideonstart", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    RegCloseKey(k);

    std::string cmd = "\"" + testsupport::ExeDirectory() + "..\\..\\app\\tidemark.exe\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) << cmd;

    // Past the three-second splash, the controller's windows exist.
    HWND menuWindow = nullptr, tray = nullptr;
    testsupport::PumpUntil(
        [&] {
            menuWindow = windowWithProp(pi.dwProcessId, "TidemarkPopupList");
            tray = windowWithProp(pi.dwProcessId, "TidemarkTrayIcon");
            return menuWindow && tray;
        },
        15000);
    EXPECT_NE(tray, nullptr);
    EXPECT_NE(menuWindow, nullptr);
    if (menuWindow) {
        // "Start Checking &email", the menu's second item, as the menu sends it.
        PostMessageA(menuWindow, WM_COMMAND, 101, 0);
        EXPECT_TRUE(testsupport::PumpUntil([&] { return count(server.Log(), "retr=0/0, del=0/2") >= 2; }, 15000))
            << "no two complete checks in the server's log:\n"
            << server.Log();
        const std::string log = server.Log();
        // The headers are read once; later checks know the messages by id.
        EXPECT_EQ(count(log, "top=2/"), 1) << log;
        EXPECT_EQ(count(log, "top=0/0"), count(log, "retr=0/0, del=0/2") - 1) << log;
        EXPECT_EQ(count(log, "Login: user=<demo>"), count(log, "Disconnected: Logged out")) << log;
    }

    // What "&Close" does: the main form closes and the program ends.
    HWND mainForm = FindWindowA(nullptr, "Brindlewick Software - Tidemark");
    if (mainForm) PostMessageA(mainForm, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "Tidemark did not end";
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
}
