// tidemark-setup-VERSION.exe in the test run's own throwaway Wine prefix: a
// silent install over an older one and the silent uninstall of a running
// Tidemark, then the options page and an uninstall that does not keep the
// settings. Each test starts and ends with no trace of
// an install (the settings of the user's own Tidemark would be at stake on a
// real machine: the tests run only under Wine with WINEPREFIX set).
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "desktop/tray_icon.h"
#include "gtest/gtest.h"
#include "tests/support/helpers.h"

using testsupport::PumpUntil;
using testsupport::ReadValue;

namespace {
const char* const kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidemark";
const char* const kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kSettingsKey = "Software\\Brindlewick Software\\Tidemark";
constexpr DWORD kDeadlineMs = 20000;

std::string path(int csidl, const char* rest) {
    char path[MAX_PATH] = {};
    if (csidl < 0)
        GetModuleFileNameA(nullptr, path, MAX_PATH), *std::strrchr(path, '\\') = 0;
    else
        SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
    return path + std::string(rest);
}
const std::string kSetup = path(-1, "\\..\\..\\" TIDEMARK_SETUP_NAME), kShipped = path(-1, "\\..\\..\\installer\\tidemark.exe");
const std::string kDir = path(CSIDL_LOCAL_APPDATA, "\\Programs\\Tidemark"), kShortcut = path(CSIDL_PROGRAMS, "\\Tidemark.lnk");
const std::string kExe = kDir + "\\tidemark.exe", kUninstaller = kDir + "\\uninstall.exe";

// The size of a file, at least 1 for anything that exists (a folder too).
DWORD fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a) ? std::max<DWORD>(a.nFileSizeLow, 1) : 0;
}

// A program started with `arguments`; ended at the latest with the test.
struct Process : PROCESS_INFORMATION {
    Process(const std::string& program, const char* arguments) : PROCESS_INFORMATION{} {
        STARTUPINFOA si{};
        si.cb = sizeof si;
        std::string commandLine = "\"" + program + "\"" + arguments;
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, this);
    }
    ~Process() {
        if (hProcess) TerminateProcess(hProcess, 99), CloseHandle(hThread), CloseHandle(hProcess);
    }
    // The exit code, or STILL_ACTIVE when it did not end in time.
    DWORD finish() {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(hProcess, kDeadlineMs) == WAIT_OBJECT_0) GetExitCodeProcess(hProcess, &code);
        return code;
    }
};

HWND mainForm() { return FindWindowA("TidemarkForm", "Brindlewick Software - Tidemark"); }

// Whether the shell holds the icon of the program's tray window: NIM_MODIFY
// succeeds only for an icon that was added.
bool showsTrayIcon() {
    DWORD pid = 0, owner = 0;
    GetWindowThreadProcessId(mainForm(), &pid);
    for (HWND h = nullptr; pid && (h = FindWindowExA(nullptr, h, nullptr, nullptr));) {
        NOTIFYICONDATAA icon{};
        icon.cbSize = NOTIFYICONDATAA_V1_SIZE, icon.hWnd = h;
        if (GetWindowThreadProcessId(h, &owner) && owner == pid && GetPropA(h, desktop::TTrayIcon::kWindowProperty) &&
            Shell_NotifyIconA(NIM_MODIFY, &icon))
            return true;
    }
    return false;
}

class Installer : public testing::Test {
protected:
    void SetUp() override {
        const char* prefix = std::getenv("WINEPREFIX");
        if (!prefix || !*prefix || !GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
            GTEST_FAIL() << "runs only under Wine with WINEPREFIX set";
        removeEverything();
    }
    void TearDown() override { removeEverything(); }
    static void removeEverything() {
        if (mainForm()) PostMessageA(mainForm(), WM_CLOSE, 0, 0);
        PumpUntil([] { return !mainForm(); }, kDeadlineMs);
        for (const std::string& f : {kExe, kUninstaller, kShortcut}) DeleteFileA(f.c_str());
        RemoveDirectoryA(kDir.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, kUninstallKey);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, "Tidemark");
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    }
};
}  // namespace

TEST_F(Installer, ASilentInstallReplacesAnOlderOneAndTheUninstallEndsTidemarkKeepingOnlyTheSettings) {
    SHCreateDirectoryExA(nullptr, kDir.c_str(), nullptr);
    CloseHandle(CreateFileA(kExe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    testsupport::WriteText(kUninstallKey, "DisplayVersion", "1.00");
    testsupport::WriteText(kSettingsKey, "server", "pop.example.org");
    // The shipped setup program and what it installs are both 64-bit programs.
    DWORD setupKind = 0, exeKind = 0;
    ASSERT_TRUE(GetBinaryTypeA(kSetup.c_str(), &setupKind) && GetBinaryTypeA(kShipped.c_str(), &exeKind));
    EXPECT_EQ(setupKind + exeKind, 2u * SCS_64BIT_BINARY);
    ASSERT_EQ(Process(kSetup, " /S").finish(), 0u);

    EXPECT_EQ(fileSize(kExe), fileSize(kShipped));
    EXPECT_TRUE(fileSize(kShipped) > 1 && fileSize(kUninstaller) && fileSize(kShortcut));
    const struct {
        const char* key;
        const char* name;
        std::string value;
    } expected[] = {
        {kUninstallKey, "DisplayName", "Tidemark"},
        {kUninstallKey, "DisplayVersion", TIDEMARK_VERSION},
        {kUninstallKey, "Publisher", "Brindlewick Software"},
        {kUninstallKey, "DisplayIcon", kExe + ",0"},
        {kUninstallKey, "InstallLocation", kDir},
        {kUninstallKey, "UninstallString", "\"" + kUninstaller + "\""},
        {kRunKey, "Tidemark", "\"" + kExe + "\""},
        {kSettingsKey, "server", "pop.example.org"},
    };
    for (const auto& e : expected) EXPECT_EQ(ReadValue(e.key, e.name), e.value) << e.name;
    EXPECT_GE(std::stoul(ReadValue(kUninstallKey, "EstimatedSize").substr(1)), fileSize(kShipped) / 1024) << "in KB";

    Process tidemark(kExe, "");
    ASSERT_TRUE(PumpUntil(showsTrayIcon, kDeadlineMs)) << "the installed program shows no icon";
    // The uninstaller runs on from a copy in %TEMP% and ends at once.
    Process uninstall(kUninstaller, " /S");
    EXPECT_TRUE(PumpUntil([] { return !fileSize(kDir) && ReadValue(kUninstallKey, "DisplayName").empty(); }, kDeadlineMs))
        << "the folder or the Uninstall key is left";
    EXPECT_EQ(tidemark.finish(), 0u) << "closed through its main form, not killed";
    EXPECT_FALSE(fileSize(kShortcut));
    EXPECT_EQ(ReadValue(kRunKey, "Tidemark") + ReadValue(kSettingsKey, "server"), "pop.example.org");
}

TEST_F(Installer, TheOptionsPageOffersBothChoicesCheckedAndHonoursThem) {
    Process setup(kSetup, "");
    HWND window = nullptr, page = nullptr, logon = nullptr, now = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        window = FindWindowA(nullptr, "Tidemark " TIDEMARK_VERSION " Setup");
        page = FindWindowExA(window, nullptr, "#32770", nullptr);
        logon = FindWindowExA(page, nullptr, "Button", "Start Tidemark when I log on");
        now = FindWindowExA(page, nullptr, "Button", "Start Tidemark now");
        // Shown and painted, for the screenshot.
        return logon && now && IsWindowVisible(now) && !GetUpdateRect(page, nullptr, FALSE) &&
               !GetUpdateRect(logon, nullptr, FALSE) && !GetUpdateRect(now, nullptr, FALSE);
    },
                          kDeadlineMs))
        << "no options page";
    testsupport::SaveShot(window, "installer-options");
    EXPECT_EQ(SendMessageA(logon, BM_GETCHECK, 0, 0) + SendMessageA(now, BM_GETCHECK, 0, 0), 2 * BST_CHECKED);

    // No logon entry, but start now: "Install", then "Finish" (both IDOK).
    SendMessageA(logon, BM_SETCHECK, BST_UNCHECKED, 0);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(PumpUntil([&] { return FindWindowExA(window, nullptr, "Button", "&Finish"); }, kDeadlineMs));
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(setup.finish(), 0u);
    EXPECT_TRUE(PumpUntil(showsTrayIcon, kDeadlineMs)) << "Tidemark was not started";
    EXPECT_EQ(ReadValue(kRunKey, "Tidemark"), "");

    // Uninstalled without keeping the settings: the seen ids, which name the
    // server and the user, go with them.
    const std::string seenDir = path(CSIDL_APPDATA, "\\Brindlewick Software\\Tidemark");
    SHCreateDirectoryExA(nullptr, seenDir.c_str(), nullptr), testsupport::WriteText(kSettingsKey, "server", "pop.example.org");
    CloseHandle(CreateFileA((seenDir + "\\seen-0.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Process uninstall(kUninstaller, "");
    // NSIS's uninstaller caption ends in a blank.
    ASSERT_TRUE(PumpUntil([&] { return window = FindWindowA(nullptr, "Tidemark " TIDEMARK_VERSION " Uninstall "); }, kDeadlineMs));
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    const char* keep = "Keep your Tidemark settings (mail server, user name, password, poll interval) for a later install?";
    HWND question = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        while ((question = FindWindowExA(nullptr, question, "#32770", nullptr)) && !FindWindowExA(question, nullptr, "Static", keep)) {
        }
        return question;
    },
                          kDeadlineMs))
        << "not asked whether to keep the settings";
    PostMessageA(question, WM_COMMAND, IDNO, 0);
    EXPECT_TRUE(PumpUntil([&] { return !fileSize(seenDir) && ReadValue(kSettingsKey, "server").empty(); }, kDeadlineMs))
        << "the settings or the seen ids are left";
    // Closed only once it can be: left open, it would hold the test's output open.
    HWND close = nullptr;
    EXPECT_TRUE(PumpUntil([&] { return (close = FindWindowExA(window, nullptr, "Button", "&Close")) && IsWindowEnabled(close); }, kDeadlineMs));
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }, kDeadlineMs)) << "the uninstaller did not end";
}
