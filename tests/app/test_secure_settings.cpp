// Settings of a secure mailbox: the password kept with DPAPI (an old plain
// value still read, deleted when Setup saves), the security mode with its
// default from the server text, and the Setup dialog's Security row.
#include <windows.h>

#include <string>

#include "app/settings.h"
#include "app/setup_dialog.h"
#include "framework/registry.h"
#include "framework/sysutils.h"
#include "framework/timer.h"
#include "gtest/gtest.h"
#include "tests/support/raised.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_helpers.h"

using namespace app;
using net::TSecurity;

namespace {

class SecureSettings : public testing::Test {
protected:
    void SetUp() override { RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey); }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey); }

    // Loads at show time into fresh targets; returns the failure's message or "".
    std::string load() {
        server = userName = password = "before";
        security = TSecurity::None;
        return testsupport::MessageOf<fw::Exception>([&] {
            LoadSettingsOnShow({server, userName, password, timer, hide, security});
            throw fw::Exception("");
        });
    }

    std::string server, userName, password;
    fw::TTimer timer{nullptr};
    bool hide = false;
    TSecurity security = TSecurity::None;
};

}  // namespace

TEST_F(SecureSettings, ThePasswordRoundTripsThroughDpapiAndADamagedBlobIsRefused) {
    const std::string secret("p\xE4ss w\0rd", 10);
    std::string blob = ProtectPassword(secret);
    EXPECT_EQ(blob.find(secret), std::string::npos) << "no plain text in the blob";
    std::string back;
    ASSERT_TRUE(UnprotectPassword(blob, back));
    EXPECT_EQ(back, secret);
    blob[blob.size() - 40] ^= 0x5A;  // in the sealed data
    EXPECT_FALSE(UnprotectPassword(blob, back));
    EXPECT_FALSE(UnprotectPassword("", back));
}

TEST_F(SecureSettings, LoadsPreferTheProtectedPasswordReadOldPlainOnesAndDeriveTheMode) {
    const struct {
        std::string server, protectedPassword, plainPassword, securityText;
        std::string password;
        TSecurity security;
        std::string failure;
    } cases[] = {
        {"pop.example.org:995", ProtectPassword("new"), "old", "", "new", TSecurity::Tls, ""},
        {"pop.example.org", "", "old plain", "", "old plain", TSecurity::None, ""},
        {"pop.example.org:9950", "", "p", "STARTTLS", "p", TSecurity::StartTls, ""},
        {"pop.example.org", "", "p", "none", "p", TSecurity::None, ""},
        {"host", "not a DPAPI blob", "old", "tls", "", TSecurity::Tls,
         "The saved password cannot be read here (it was saved by another user or on another computer). Please "
         "enter the password again in Setup"},
        {"host", "", "p", "ssl", "p", TSecurity::Tls,
         "The saved security setting 'ssl' is not tls, starttls or none; TLS is used until Setup saves another"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server + " " + c.securityText);
        RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
        {
            fw::TRegistry reg;
            reg.OpenKey(SettingsKey, true);
            reg.WriteString("server", c.server);
            if (!c.protectedPassword.empty()) reg.WriteBinaryData("password_protected", c.protectedPassword);
            reg.WriteString("password", c.plainPassword);
            if (!c.securityText.empty()) reg.WriteString("security", c.securityText);
            reg.WriteString("interval", "7");
        }
        EXPECT_EQ(load(), c.failure);
        EXPECT_EQ(password, c.password);
        EXPECT_EQ(security, c.security);
        EXPECT_EQ(timer.Interval(), 7000u) << "the other values are read all the same";
    }
}

TEST_F(SecureSettings, SavingProtectsThePasswordAndDeletesTheOldPlainValue) {
    {
        fw::TRegistry reg;
        reg.OpenKey(SettingsKey, true);
        reg.WriteString("password", "old plain");
    }
    SaveSettings("pop.example.org", "anna", "s3cret", "60", false, TSecurity::StartTls);
    fw::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(SettingsKey, false));
    EXPECT_FALSE(reg.ValueExists("password"));
    std::string back;
    ASSERT_TRUE(UnprotectPassword(reg.ReadBinaryData("password_protected"), back));
    EXPECT_EQ(back, "s3cret");
    EXPECT_EQ(reg.ReadString("security"), "starttls");
    EXPECT_EQ(load(), "");
    EXPECT_EQ(password, "s3cret");
    EXPECT_EQ(security, TSecurity::StartTls);
}

TEST_F(SecureSettings, TheSetupDialogHasASecurityRowAndHidesThePassword) {
    TSetupDialog dlg(nullptr);
    dlg.ServerEdit->SetText("pop.example.org");
    dlg.SecurityCombo->SetItemIndex(SecurityIndex(TSecurity::StartTls));
    dlg.PasswordEdit->SetText("secret");
    EXPECT_EQ(SecurityOfIndex(dlg.SecurityCombo->ItemIndex()), TSecurity::StartTls);
    EXPECT_EQ(dlg.SecurityCombo->Text(), "STARTTLS");
    for (TSecurity s : {TSecurity::Tls, TSecurity::StartTls, TSecurity::None})
        EXPECT_EQ(SecurityOfIndex(SecurityIndex(s)), s);
    EXPECT_NE(SendMessageA(dlg.PasswordEdit->Handle(), EM_GETPASSWORDCHAR, 0, 0), 0);
    // Every row inside the frame, none over another.
    const RECT frame = dlg.Frame->BoundsRect();
    int lastBottom = 0;
    for (fw::TControl* c : {static_cast<fw::TControl*>(dlg.ServerEdit), static_cast<fw::TControl*>(dlg.SecurityCombo),
                            static_cast<fw::TControl*>(dlg.UserNameEdit), static_cast<fw::TControl*>(dlg.PasswordEdit),
                            static_cast<fw::TControl*>(dlg.IntervalEdit), static_cast<fw::TControl*>(dlg.HideCheckBox)}) {
        const RECT r = c->BoundsRect();
        EXPECT_GE(r.top, lastBottom);
        EXPECT_LE(r.bottom, frame.bottom);
        lastBottom = r.bottom;
    }
    // Shown as Setup shows it, modally; the shot is taken inside its loop.
    fw::TTimer driver(nullptr);
    driver.SetInterval(30);
    bool shot = false;
    driver.SetOnTimer([&](fw::TObject*) {
        driver.SetEnabled(false);
        testsupport::PumpFor(300);
        // The frame as PrintWindow draws it, the controls from the screen
        // (Wine leaves a captioned window's frame to no window manager here).
        RECT w;
        GetWindowRect(dlg.Handle(), &w);
        shot = testsupport::SaveBitmap(
            testsupport::ArtifactPath("setup-dialog-security.bmp"), w.right - w.left, w.bottom - w.top, [&](HDC mem) {
                PrintWindow(dlg.Handle(), mem, 0);
                POINT origin{0, 0};
                ClientToScreen(dlg.Handle(), &origin);
                RECT client;
                GetClientRect(dlg.Handle(), &client);
                HDC screen = GetDC(dlg.Handle());
                const BOOL ok = BitBlt(mem, origin.x - w.left, origin.y - w.top, client.right, client.bottom, screen,
                                       0, 0, SRCCOPY);
                ReleaseDC(dlg.Handle(), screen);
                return ok != FALSE;
            });
        dlg.ModalResult = fw::mrCancel;
    });
    dlg.ShowModal();
    EXPECT_TRUE(shot);
}
