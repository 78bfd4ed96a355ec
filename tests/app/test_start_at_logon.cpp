// The Setup dialog's "Start Tidemark when I log on": it shows whether the
// Run key holds Tidemark's entry, and OK writes or removes that entry,
// pointing at the installed program when the installer's record names one.
#include <windows.h>

#include <memory>
#include <string>

#include "app/setup_dialog.h"
#include "app/tray_controller.h"
#include "desktop/tray_icon.h"
#include "framework/application.h"
#include "framework/handles.h"
#include "framework/timer.h"
#include "gtest/gtest.h"
#include "tests/support/screenshot.h"
#include "tests/support/throwaway_prefix.h"
#include "tests/support/wine_helpers.h"

using namespace app;

namespace {
const char* const kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidemark";

std::string runEntry() {
    char data[1024] = {};
    DWORD type = 0, size = sizeof data - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, kRunKey, "Tidemark", RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
        return "(missing)";
    return type == REG_SZ ? std::string(data) : "(type " + std::to_string(type) + ")";
}

void storeText(const char* key, const char* name, const std::string& text) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool saveScreenshot(HWND hwnd, const std::string& path) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    testsupport::PumpFor(500);
    RECT r;
    GetWindowRect(hwnd, &r);
    return testsupport::SaveBitmap(path, r.right - r.left, r.bottom - r.top, [&](HDC mem) {
        HDC screen = GetDC(nullptr);
        const BOOL ok = BitBlt(mem, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
        return ok != FALSE;
    });
}

enum class Before { None, Entry, WrongType };
enum class Record { None, ExistingExe, MissingExe };

struct Case {
    const char* name;
    Before before;
    Record record;
    bool shown;  // the box's state when the dialog opens
    bool check;  // what the user leaves it at
    bool ok;     // OK, else Cancel
    const char* after;  // "running", "installed" or a literal stored text
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class StartAtLogon : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        TIDEMARK_REQUIRE_THROWAWAY_PREFIX();
        cleanUp();
        desktop::SetShellNotifySeam([](DWORD, const NOTIFYICONDATAA&) { return TRUE; });
        SetupDialog = new TSetupDialog(nullptr);
        form = std::make_unique<TTrayController>(nullptr);
        form->AnimationTimer->SetEnabled(false);
    }
    void TearDown() override {
        form.reset();
        delete SetupDialog;
        SetupDialog = nullptr;
        desktop::SetShellNotifySeam(nullptr);
        if (testsupport::InThrowawayPrefix()) cleanUp();
    }
    void cleanUp() {
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, "Tidemark");
        RegDeleteTreeA(HKEY_CURRENT_USER, kUninstallKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brindlewick Software\\Tidemark");
        DeleteFileA(installedExe.c_str());
        RemoveDirectoryA(installDir.c_str());
    }
    const std::string installDir = testsupport::ExeDirectory() + "logon-install";
    const std::string installedExe = installDir + "\\tidemark.exe";
    std::unique_ptr<TTrayController> form;
};

TEST_P(StartAtLogon, TheBoxShowsAndWritesTheRunEntry) {
    const Case& c = GetParam();
    const std::string running = testsupport::ExeDirectory() + "test_start_at_logon.exe";
    if (c.before == Before::Entry) storeText(kRunKey, "Tidemark", "\"C:\\elsewhere\\tidemark.exe\"");
    if (c.before == Before::WrongType) {
        const DWORD one = 1;
        RegSetKeyValueA(HKEY_CURRENT_USER, kRunKey, "Tidemark", REG_DWORD, &one, sizeof one);
    }
    if (c.record != Record::None) {
        storeText(kUninstallKey, "InstallLocation", installDir);
        CreateDirectoryA(installDir.c_str(), nullptr);
    }
    if (c.record == Record::ExistingExe)
        fw::UniqueFile(CreateFileA(installedExe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

    fw::TTimer driver(nullptr);
    bool shown = !c.shown;
    driver.SetInterval(30);
    driver.SetOnTimer([&](fw::TObject*) {
        driver.SetEnabled(false);
        TSetupDialog& d = *SetupDialog;
        shown = d.StartAtLogonCheckBox->Checked();
        if (c.before == Before::None && c.record == Record::None) {
            EXPECT_TRUE(saveScreenshot(d.Handle(), testsupport::ArtifactPath("setup-dialog.bmp")));
        }
        d.StartAtLogonCheckBox->SetChecked(c.check);
        fw::TButton* b = c.ok ? d.OKBtn : d.CancelBtn;
        SendMessageA(d.Handle(), WM_COMMAND, MAKEWPARAM(b->Id(), BN_CLICKED), (LPARAM)b->Handle());
    });
    form->SetupItemClick(form.get());
    EXPECT_EQ(shown, c.shown);
    const std::string after = std::string(c.after) == "running"     ? "\"" + running + "\""
                              : std::string(c.after) == "installed" ? "\"" + installedExe + "\""
                                                                    : c.after;
    EXPECT_STRCASEEQ(runEntry().c_str(), after.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartAtLogon,
    ::testing::Values(
        Case{"NoEntryCheckedPointsAtTheRunningProgram", Before::None, Record::None, false, true, true, "running"},
        Case{"AnInstalledProgramIsPreferred", Before::None, Record::ExistingExe, false, true, true, "installed"},
        Case{"ARecordWithoutItsProgramIsPassedOver", Before::None, Record::MissingExe, false, true, true, "running"},
        Case{"AnEntryShowsCheckedAndUncheckingRemovesIt", Before::Entry, Record::None, true, false, true, "(missing)"},
        Case{"CancelChangesNothing", Before::Entry, Record::None, true, false, false, "\"C:\\elsewhere\\tidemark.exe\""},
        Case{"AnEntryOfAnotherTypeShowsUncheckedAndGoes", Before::WrongType, Record::None, false, false, true,
             "(missing)"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
