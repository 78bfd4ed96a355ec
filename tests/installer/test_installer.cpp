// tidemark-setup-VERSION.exe in the test run's own Wine prefix: its options
// page, a silent install over an older one, and the silent uninstall of a
// running Tidemark. Each test starts and ends with no trace of an install.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "framework/handles.h"
#include "gtest/gtest.h"
#include "tests/support/screenshot.h"
#include "tests/support/throwaway_prefix.h"
#include "tests/support/wine_helpers.h"

using testsupport::PumpUntil;

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

LONGLONG fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return -1;
    return (LONGLONG(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

std::string stored(const char* key, const char* name) {
    char data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return "(missing)";
    return data;
}

void store(const char* key, const char* name, const std::string& text) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

struct Process {
    PROCESS_INFORMATION pi{};
    ~Process() {
        if (!pi.hProcess) return;
        if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    bool start(std::string commandLine) {
        STARTUPINFOA si{};
        si.cb = sizeof si;
        return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    }
    // The exit code, or 259 (STILL_ACTIVE) when it did not end in time.
    DWORD finish(DWORD ms = kDeadlineMs) {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
};

HWND mainForm() { return FindWindowA("TidemarkForm", "Brindlewick Software - Tidemark"); }

// Whether the shell holds an icon for Tidemark's tray window (the window
// carrying the "TidemarkTrayIcon" property, icon id 0): Shell_NotifyIconA
// modifies only an icon it has.
struct TraySearch {
    DWORD pid;
    HWND tray;
};
BOOL CALLBACK findTray(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<TraySearch*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == s->pid && GetPropA(h, "TidemarkTrayIcon")) s->tray = h;
    return TRUE;
}
bool showsTrayIcon(DWORD pid) {
    TraySearch s{pid, nullptr};
    EnumWindows(findTray, reinterpret_cast<LPARAM>(&s));
    NOTIFYICONDATAA icon{};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = s.tray;
    return s.tray && Shell_NotifyIconA(NIM_MODIFY, &icon);
}

struct TextSearch {
    std::string text;
    HWND found;
};
BOOL CALLBACK findText(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<TextSearch*>(lp);
    char buf[256] = {};
    GetWindowTextA(h, buf, sizeof buf);
    if (s->text == buf) s->found = h;
    return s->found == nullptr;
}
HWND childWithText(HWND parent, const std::string& text) {
    TextSearch s{text, nullptr};
    EnumChildWindows(parent, findText, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        TIDEMARK_REQUIRE_THROWAWAY_PREFIX();
        removeEverything();
    }
    void TearDown() override {
        if (!testsupport::InThrowawayPrefix()) return;
        removeEverything();
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
    ASSERT_TRUE(setup.start("\"" + kSetup + "\""));
    HWND window = nullptr, logon = nullptr, now = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        window = FindWindowA(nullptr, "Tidemark " TIDEMARK_VERSION " Setup");
        logon = window ? childWithText(window, "Start Tidemark when I log on") : nullptr;
        now = window ? childWithText(window, "Start Tidemark now") : nullptr;
        return logon && now;
    }, kDeadlineMs)) << "no options page";
    EXPECT_EQ(SendMessageA(logon, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(now, BM_GETCHECK, 0, 0), BST_CHECKED);
    RECT r;
    GetWindowRect(window, &r);
    EXPECT_TRUE(testsupport::SaveBitmap(testsupport::ArtifactPath("installer-options.bmp"), r.right - r.left,
                                        r.bottom - r.top, [&](HDC mem) {
        HDC screen = GetDC(nullptr);
        const BOOL ok = BitBlt(mem, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
        return ok != FALSE;
    }));

    // No logon entry, but start now: "Install", then "Finish" (id 1 both).
    SendMessageA(logon, BM_SETCHECK, BST_UNCHECKED, 0);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(PumpUntil([&] { return childWithText(window, "&Finish"); }, kDeadlineMs)) << "no finish page";
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(setup.finish(), 0u);

    ASSERT_TRUE(PumpUntil([] { return mainForm(); }, kDeadlineMs)) << "Tidemark was not started";
    DWORD pid = 0;
    GetWindowThreadProcessId(mainForm(), &pid);
    EXPECT_TRUE(PumpUntil([&] { return showsTrayIcon(pid); }, kDeadlineMs));
    fw::UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    char image[MAX_PATH] = {};
    DWORD size = sizeof image;
    QueryFullProcessImageNameA(process.get(), 0, image, &size);
    EXPECT_STRCASEEQ(image, kExe.c_str()) << "the installed program runs";
    EXPECT_EQ(stored(kRunKey, "Tidemark"), "(missing)");
}

TEST_F(Installer, SilentInstallOverAnOlderOneReplacesTheProgramAndKeepsTheSettings) {
    SHCreateDirectoryExA(nullptr, kDir.c_str(), nullptr);
    fw::UniqueFile old(CreateFileA(kExe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    old.reset();
    store(kUninstallKey, "DisplayVersion", "1.00");
    store(kSettingsKey, "server", "pop.example.org");

    Process setup;
    ASSERT_TRUE(setup.start("\"" + kSetup + "\" /S"));
    ASSERT_EQ(setup.finish(), 0u);

    const LONGLONG shipped = fileSize(testsupport::ExeDirectory() + "..\\..\\installer\\tidemark.exe");
    EXPECT_GT(shipped, 0);
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
    for (const auto& e : expected) EXPECT_EQ(stored(e.key, e.name), e.value) << e.name;
    DWORD kb = 0, size = sizeof kb;
    RegGetValueA(HKEY_CURRENT_USER, kUninstallKey, "EstimatedSize", RRF_RT_REG_DWORD, nullptr, &kb, &size);
    EXPECT_GE(LONGLONG(kb), shipped / 1024) << "EstimatedSize in KB";
}

TEST_F(Installer, SilentUninstallEndsTidemarkRemovesEverythingButTheSettings) {
    Process setup;
    ASSERT_TRUE(setup.start("\"" + kSetup + "\" /S"));
    ASSERT_EQ(setup.finish(), 0u);
    store(kSettingsKey, "server", "pop.example.org");
    Process tidemark;
    ASSERT_TRUE(tidemark.start("\"" + kExe + "\""));
    ASSERT_TRUE(PumpUntil([&] { return showsTrayIcon(tidemark.pi.dwProcessId); }, kDeadlineMs))
        << "the installed program shows no icon";

    // The uninstaller runs on from a copy in %TEMP% and ends at once.
    Process uninstall;
    ASSERT_TRUE(uninstall.start("\"" + kUninstaller + "\" /S"));
    EXPECT_TRUE(PumpUntil([] { return !exists(kDir) && stored(kUninstallKey, "DisplayName") == "(missing)"; },
                          kDeadlineMs));
    EXPECT_EQ(tidemark.finish(), 0u) << "closed through its main form, not killed";
    EXPECT_FALSE(exists(kShortcut));
    EXPECT_EQ(stored(kRunKey, "Tidemark"), "(missing)");
    EXPECT_EQ(stored(kSettingsKey, "server"), "pop.example.org");
}
