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
#include "tests/support/user_state.h"
#include "tests/support/wine_helpers.h"

using namespace app;

using testsupport::StoredText;
using testsupport::StoreText;

namespace {
const char* const kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidemark";

class StartAtLogon : public ::testing::Test {
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
    bool runSetup(bool check, bool ok);
    static std::string entry() { return StoredText(kRunKey, "Tidemark"); }
    const std::string installDir = testsupport::ExeDirectory() + "logon-install";
    const std::string installedExe = installDir + "\\tidemark.exe";
    std::unique_ptr<TTrayController> form;
};

// Shows the Setup dialog through the controller, leaves the box at `check`,
// presses OK or Cancel, and returns the box's state as the dialog opened.
bool StartAtLogon::runSetup(bool check, bool ok) {
    fw::TTimer driver(nullptr);
    bool shown = false;
    driver.SetInterval(30);
    driver.SetOnTimer([&](fw::TObject*) {
        driver.SetEnabled(false);
        TSetupDialog& d = *SetupDialog;
        shown = d.StartAtLogonCheckBox->Checked();
        testsupport::PumpFor(300);  // painted for the screenshot
        EXPECT_TRUE(testsupport::SaveWindowShot(d.Handle(), "setup-dialog.bmp"));
        d.StartAtLogonCheckBox->SetChecked(check);
        fw::TButton* b = ok ? d.OKBtn : d.CancelBtn;
        SendMessageA(d.Handle(), WM_COMMAND, MAKEWPARAM(b->Id(), BN_CLICKED), (LPARAM)b->Handle());
    });
    form->SetupItemClick(form.get());
    return shown;
}

TEST_F(StartAtLogon, TheBoxShowsTheRunEntryAndOkWritesOrRemovesIt) {
    const std::string running = "\"" + testsupport::ExeDirectory() + "test_start_at_logon.exe\"";
    EXPECT_FALSE(runSetup(true, true));
    EXPECT_STRCASEEQ(entry().c_str(), running.c_str());
    EXPECT_TRUE(runSetup(false, false)) << "Cancel changes nothing";
    EXPECT_STRCASEEQ(entry().c_str(), running.c_str());
    EXPECT_TRUE(runSetup(false, true));
    EXPECT_EQ(entry(), "(missing)");

    // The installer's record counts only when its program is there.
    StoreText(kUninstallKey, "InstallLocation", installDir);
    CreateDirectoryA(installDir.c_str(), nullptr);
    runSetup(true, true);
    EXPECT_STRCASEEQ(entry().c_str(), running.c_str());
    fw::UniqueFile(CreateFileA(installedExe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    runSetup(true, true);
    EXPECT_STRCASEEQ(entry().c_str(), ("\"" + installedExe + "\"").c_str());

    // A value of another type starts nothing: shown unchecked, and OK removes it.
    const DWORD one = 1;
    RegSetKeyValueA(HKEY_CURRENT_USER, kRunKey, "Tidemark", REG_DWORD, &one, sizeof one);
    EXPECT_FALSE(runSetup(false, true));
    EXPECT_EQ(entry(), "(missing)");
}

}  // namespace
