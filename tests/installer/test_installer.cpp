// tidemark-setup-VERSION.exe in the test run's own Wine prefix: its options
// page, a silent install over an older one, and the silent uninstall of a
// running Tidemark. Each test starts and ends with no trace of an install.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "framework/handles.h"
#include "gtest/gtest.h"
#include "tests/support/user_state.h"
#include "tests/support/wine_helpers.h"

using testsupport::PumpUntil;
using testsupport::StoredText;

namespace {
const char* const kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidemark";
const char* const kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kSettingsKey = "Software\\Brindlewick Software\\Tidemark";
const std::string kSetup = testsupport::ExeDirectory() + "..\\..\\" TIDEMARK_SETUP_NAME;
constexpr DWORD kDeadlineMs = 20000;

std::string folder(int csidl) {
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
    return path;
}
const std::string kDir = folder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Tidemark";
const std::string kExe = kDir + "\\tidemark.exe";
const std::string kUninstaller = kDir + "\\uninstall.exe";
const std::string kShortcut = folder(CSIDL_PROGRAMS) + "\\Tidemark.lnk";

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a) ? a.nFileSizeLow : 0;
}

struct Process {
    PROCESS_INFORMATION pi{};
    ~Process() {
        if (!pi.hProcess) return;
        if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    bool start(const std::string& program, const char* arguments = "") {
        STARTUPINFOA si{};
        si.cb = sizeof si;
        std::string commandLine = "\"" + program + "\"" + arguments;
        return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    }
    // The exit code, or STILL_ACTIVE when it did not end in time.
    DWORD finish() {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(pi.hProcess, kDeadlineMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
};

HWND mainForm() { return FindWindowA("TidemarkForm", "Brindlewick Software - Tidemark"); }

// Whether the shell holds the icon (id 0) of the process's tray window, the
// one with the "TidemarkTrayIcon" property: NIM_MODIFY succeeds only then.
bool showsTrayIcon(DWORD pid) {
    for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, "TidemarkUtilWindow", nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        NOTIFYICONDATAA icon{};
        icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
        icon.hWnd = h;
        if (owner == pid && GetPropA(h, "TidemarkTrayIcon")) return Shell_NotifyIconA(NIM_MODIFY, &icon);
    }
    return false;
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        TIDEMARK_REQUIRE_THROWAWAY_PREFIX();
        removeEverything();
    }
    void TearDown() override {
        if (testsupport::InThrowawayPrefix()) removeEverything();
    }
    static void removeEverything() {
        if (HWND form = mainForm()) {
            SendMessageA(form, WM_CLOSE, 0, 0);
            PumpUntil([] { return !mainForm(); }, kDeadlineMs);
        }
        for (const std::string& f : {kExe, kUninstaller, kShortcut}) DeleteFileA(f.c_str());
        RemoveDirectoryA(kDir.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, kUninstallKey);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, "Tidemark");
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    }
};
}  // namespace

TEST_F(Installer, OptionsPageOffersBothChoicesAndHonoursThem) {
    Process setup;
    ASSERT_TRUE(setup.start(kSetup));
    HWND window = nullptr, logon = nullptr, now = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        window = FindWindowA(nullptr, "Tidemark " TIDEMARK_VERSION " Setup");
        HWND page = FindWindowExA(window, nullptr, "#32770", nullptr);
        logon = FindWindowExA(page, nullptr, "Button", "Start Tidemark when I log on");
        now = FindWindowExA(page, nullptr, "Button", "Start Tidemark now");
        return window && page && logon && now;
    }, kDeadlineMs)) << "no options page";
    EXPECT_EQ(SendMessageA(logon, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(now, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(testsupport::SaveWindowShot(window, "installer-options.bmp"));

    // No logon entry, but start now: "Install", then "Finish" (both IDOK).
    SendMessageA(logon, BM_SETCHECK, BST_UNCHECKED, 0);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(PumpUntil([&] { return FindWindowExA(window, nullptr, "Button", "&Finish"); }, kDeadlineMs));
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(setup.finish(), 0u);

    ASSERT_TRUE(PumpUntil([] { return mainForm(); }, kDeadlineMs)) << "Tidemark was not started";
    DWORD pid = 0;
    GetWindowThreadProcessId(mainForm(), &pid);
    EXPECT_TRUE(PumpUntil([&] { return showsTrayIcon(pid); }, kDeadlineMs));
    EXPECT_EQ(StoredText(kRunKey, "Tidemark"), "(missing)");
}

TEST_F(Installer, SilentInstallOverAnOlderOneReplacesTheProgramAndKeepsTheSettings) {
    SHCreateDirectoryExA(nullptr, kDir.c_str(), nullptr);
    fw::UniqueFile(CreateFileA(kExe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    testsupport::StoreText(kUninstallKey, "DisplayVersion", "1.00");
    testsupport::StoreText(kSettingsKey, "server", "pop.example.org");

    Process setup;
    ASSERT_TRUE(setup.start(kSetup, " /S"));
    ASSERT_EQ(setup.finish(), 0u);

    const DWORD shipped = fileSize(testsupport::ExeDirectory() + "..\\..\\installer\\tidemark.exe");
    EXPECT_GT(shipped, 0u);
    EXPECT_EQ(fileSize(kExe), shipped);
    EXPECT_TRUE(exists(kUninstaller));
    EXPECT_TRUE(exists(kShortcut));
    const struct { const char* key; const char* name; std::string value; } expected[] = {
        {kUninstallKey, "DisplayName", "Tidemark"},
        {kUninstallKey, "DisplayVersion", TIDEMARK_VERSION},
        {kUninstallKey, "Publisher", "Brindlewick Software"},
        {kUninstallKey, "DisplayIcon", kExe + ",0"},
        {kUninstallKey, "InstallLocation", kDir},
        {kUninstallKey, "UninstallString", "\"" + kUninstaller + "\""},
        {kRunKey, "Tidemark", "\"" + kExe + "\""},
        {kSettingsKey, "server", "pop.example.org"},
    };
    for (const auto& e : expected) EXPECT_EQ(StoredText(e.key, e.name), e.value) << e.name;
    DWORD kb = 0, size = sizeof kb;
    RegGetValueA(HKEY_CURRENT_USER, kUninstallKey, "EstimatedSize", RRF_RT_REG_DWORD, nullptr, &kb, &size);
    EXPECT_GE(kb, shipped / 1024) << "EstimatedSize in KB";
}

TEST_F(Installer, SilentUninstallEndsTidemarkRemovesEverythingButTheSettings) {
    Process setup, tidemark, uninstall;
    ASSERT_TRUE(setup.start(kSetup, " /S"));
    ASSERT_EQ(setup.finish(), 0u);
    testsupport::StoreText(kSettingsKey, "server", "pop.example.org");
    ASSERT_TRUE(tidemark.start(kExe));
    ASSERT_TRUE(PumpUntil([&] { return showsTrayIcon(tidemark.pi.dwProcessId); }, kDeadlineMs))
        << "the installed program shows no icon";

    // The uninstaller runs on from a copy in %TEMP% and ends at once.
    ASSERT_TRUE(uninstall.start(kUninstaller, " /S"));
    HKEY key = nullptr;
    EXPECT_TRUE(PumpUntil([&] {
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return !exists(kDir);
        RegCloseKey(key);
        return false;
    }, kDeadlineMs)) << "the folder or the Uninstall key is left";
    EXPECT_EQ(tidemark.finish(), 0u) << "closed through its main form, not killed";
    EXPECT_FALSE(exists(kShortcut));
    EXPECT_EQ(StoredText(kRunKey, "Tidemark"), "(missing)");
    EXPECT_EQ(StoredText(kSettingsKey, "server"), "pop.example.org");
}
