// The stored settings, the Setup dialog and the mail poll cycle, driven
// through the controller form with a scripted POP3 server.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "app/tray_controller.h"
#include "app/settings.h"
#include "app/setup_dialog.h"
#include "desktop/tray_icon.h"
#include "framework/application.h"
#include "framework/timer.h"
#include "gtest/gtest.h"
#include "tests/support/scripted_server.h"
#include "tests/support/wine_helpers.h"

using namespace app;
using namespace desktop;

using testsupport::PumpUntil;
using testsupport::ScriptedServer;

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
        SetShellNotifySeam([this](DWORD, const NOTIFYICONDATAA& d) {
            lastTip = d.szTip;
            return TRUE;
        });
        SetupDialog = new TSetupDialog(nullptr);
        form = std::make_unique<TTrayController>(nullptr);
        // The tests drive the ticks themselves.
        form->AnimationTimer->SetEnabled(false);
        boxes().clear();
    }
    void TearDown() override {
        form.reset();
        delete SetupDialog;
        SetupDialog = nullptr;
        SetShellNotifySeam(nullptr);
        RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    }
    static testsupport::CapturedBoxes& boxes() { return testsupport::ExceptionBoxes(); }

    void storeText(const char* name, const std::string& value) {
        store(name, REG_SZ, value.data(), static_cast<DWORD>(value.size()));
    }
    void storeDword(const char* name, DWORD value) { store(name, REG_DWORD, &value, sizeof value); }
    void store(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY k;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
                  0);
        RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(k);
    }
    bool keyExists() {
        HKEY k;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &k) != 0) return false;
        RegCloseKey(k);
        return true;
    }
    // (type, text or number) of a stored value.
    std::pair<DWORD, std::string> stored(const char* name) {
        HKEY k;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &k) != 0) return {0, "(no key)"};
        char data[256] = {};
        DWORD type = 0, size = sizeof data - 1;
        LONG rc = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(k);
        if (rc != 0) return {0, "(missing)"};
        if (type == REG_DWORD) return {type, std::to_string(*reinterpret_cast<DWORD*>(data))};
        return {type, std::string(data)};
    }

    // Shows the Setup dialog through the menu command; `fill` runs inside
    // its modal loop, then `button` is pressed.
    void runSetup(const std::function<void(TSetupDialog&)>& fill, fw::TButton* TSetupDialog::*button) {
        fw::TTimer driver(nullptr);
        bool ran = false;
        driver.SetInterval(30);
        driver.SetOnTimer([&](fw::TObject*) {
            driver.SetEnabled(false);
            ran = true;
            if (fill) fill(*SetupDialog);
            fw::TButton* b = SetupDialog->*button;
            SendMessageA(SetupDialog->Handle(), WM_COMMAND, MAKEWPARAM(b->Id(), BN_CLICKED), (LPARAM)b->Handle());
        });
        SendMessageA(fw::TPopupMenu::PopupListWindow(), WM_COMMAND, form->SetupItem->Command(), 0);
        EXPECT_TRUE(ran);
        EXPECT_FALSE(SetupDialog->Visible());
    }

    std::unique_ptr<TTrayController> form;
    std::string lastTip;
};

TEST_F(Settings, WithNoKeyTheDialogShowsDefaultsCancelStoresNothingAndOkStoresAllFive) {
    form->Show();  // the form's show handling reports failures
    std::string e1, e4;
    bool checked = true;
    runSetup(
        [&](TSetupDialog& d) {
            e1 = d.ServerEdit->Text() + "|" + d.UserNameEdit->Text() + "|" + d.PasswordEdit->Text();
            e4 = d.IntervalEdit->Text();
            checked = d.HideCheckBox->Checked();
            d.ServerEdit->SetText("ignored");
        },
        &TSetupDialog::CancelBtn);
    EXPECT_EQ(e1, "||");
    EXPECT_EQ(e4, "60");
    EXPECT_FALSE(checked);
    EXPECT_FALSE(keyExists());
    EXPECT_EQ(form->Mailbox->Server, "");

    runSetup(
        [](TSetupDialog& d) {
            d.ServerEdit->SetText("pop.example.org:1110");
            d.UserNameEdit->SetText("anna");
            d.PasswordEdit->SetText("s3cret pass");
            d.IntervalEdit->SetText(" $1E");
            d.HideCheckBox->SetChecked(true);
        },
        &TSetupDialog::OKBtn);
    EXPECT_EQ(stored("server"), std::make_pair(DWORD(REG_SZ), std::string("pop.example.org:1110")));
    EXPECT_EQ(stored("username"), std::make_pair(DWORD(REG_SZ), std::string("anna")));
    EXPECT_EQ(stored("password").second, "(missing)");
    EXPECT_EQ(stored("password_protected").first, DWORD(REG_BINARY));
    EXPECT_EQ(stored("security"), std::make_pair(DWORD(REG_SZ), std::string("tls")));
    // The interval text is stored exactly as typed.
    EXPECT_EQ(stored("interval"), std::make_pair(DWORD(REG_SZ), std::string(" $1E")));
    EXPECT_EQ(stored("hideonstart"), std::make_pair(DWORD(REG_DWORD), std::string("1")));
    EXPECT_EQ(form->Mailbox->UserName, "anna");
    EXPECT_EQ(form->PollTimer->Interval(), 30000u);
    EXPECT_TRUE(form->HideOnStart);
    EXPECT_FALSE(form->PollTimer->Enabled()) << "a stopped poll timer stays stopped";

    // Refilled from memory before every show.
    runSetup([&](TSetupDialog& d) { e4 = d.ServerEdit->Text() + "|" + d.IntervalEdit->Text(); }, &TSetupDialog::CancelBtn);
    EXPECT_EQ(e4, "pop.example.org:1110|30");
}

TEST_F(Settings, AnIntervalTextThatDoesNotConvertStopsTheSaveAfterTheTexts) {
    std::string arrowsWrote;
    runSetup(
        [&](TSetupDialog& d) {
            d.ServerEdit->SetText("mail.example.org");
            d.UserNameEdit->SetText("bob");
            d.PasswordEdit->SetText("pw");
            // The arrows write 1000 with the user's thousands separator.
            d.IntervalUpDown->SetPosition(1000);
            arrowsWrote = d.IntervalEdit->Text();
        },
        &TSetupDialog::OKBtn);
    EXPECT_EQ(arrowsWrote, "1,000");
    ASSERT_EQ(boxes().boxes.size(), 1u);
    EXPECT_EQ(boxes().boxes[0].first, "'" + arrowsWrote + "' is not a valid integer value.");
    EXPECT_EQ(boxes().boxes[0].second, "Tidemark");
    EXPECT_EQ(form->Mailbox->Server, "mail.example.org");
    EXPECT_EQ(form->Mailbox->Password, "pw");
    EXPECT_EQ(form->PollTimer->Interval(), 60000u);
    EXPECT_FALSE(keyExists());
}

TEST_F(Settings, IntervalsWithBlanksOrInHexadecimalLoadAtBothLoads) {
    storeText("interval", "  45");
    form->Show();  // the form's show handling reports failures
    EXPECT_EQ(form->PollTimer->Interval(), 45000u);
    storeText("interval", "$3C");
    form->AnimationTick(form->AnimationTimer);
    EXPECT_EQ(form->PollTimer->Interval(), 60000u);
    EXPECT_FALSE(form->FirstTick);
    EXPECT_TRUE(boxes().boxes.empty());
}

TEST_F(Settings, AnEmptyIntervalFailsTheShowTimeLoadAndIsSkippedAtTheFirstTick) {
    storeText("server", "pop.example.org");
    storeText("interval", "");
    storeDword("hideonstart", 1);
    form->PollTimer->SetInterval(20000);
    form->Show();  // the form's show handling reports failures
    ASSERT_EQ(boxes().boxes.size(), 1u);
    EXPECT_EQ(boxes().boxes[0].first, "'' is not a valid integer value.");
    EXPECT_EQ(form->Mailbox->Server, "pop.example.org") << "values before the failure stay applied";
    EXPECT_EQ(form->PollTimer->Interval(), 20000u);
    EXPECT_FALSE(form->HideOnStart) << "the load stopped before hideonstart";

    form->AnimationTick(form->AnimationTimer);
    EXPECT_EQ(boxes().boxes.size(), 1u);
    EXPECT_EQ(form->PollTimer->Interval(), 20000u);
    EXPECT_TRUE(form->HideOnStart);
    EXPECT_FALSE(form->DesktopVisible) << "hide-on-start toggled once";
}

TEST_F(Settings, AStoredNumberWhereTextBelongsStopsTheLoadThere) {
    storeDword("server", 7);
    storeText("password", "pw");
    form->Mailbox->Password = "before";
    form->Show();  // the form's show handling reports failures
    ASSERT_EQ(boxes().boxes.size(), 1u);
    EXPECT_EQ(boxes().boxes[0].first, "Invalid data type for 'server'.");
    EXPECT_EQ(form->Mailbox->Password, "before");
}

TEST_F(Settings, MissingTextsAreKeptAtShowAndEmptiedAtTheFirstTick) {
    storeText("username", "anna");
    form->Mailbox->Server = "kept";
    form->Show();  // the form's show handling reports failures
    EXPECT_EQ(form->Mailbox->Server, "kept");
    EXPECT_EQ(form->Mailbox->UserName, "anna");
    form->AnimationTick(form->AnimationTimer);
    EXPECT_EQ(form->Mailbox->Server, "");
    EXPECT_EQ(form->Mailbox->UserName, "anna");
}

// ---- the poll cycle ----

// A mailbox of `sizes.size()` messages, played to one client.
void playMailbox(ScriptedServer& s, const std::vector<int>& sizes, DWORD pauseBeforeStat = 0) {
    s.Send("+OK ready\r\n").ExpectLine().Send("-ERR\r\n");  // CAPA: one command at a time
    s.ExpectLine().Send("+OK\r\n").ExpectLine().Send("+OK\r\n").ExpectLine();
    if (pauseBeforeStat) s.Pause(pauseBeforeStat);
    s.Send("+OK " + std::to_string(sizes.size()) + " 999\r\n");
    // A server without unique ids: every message is read, nothing announced.
    if (!sizes.empty()) s.ExpectLine().Send("-ERR unknown command\r\n");
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        s.ExpectLine().Send("+OK " + n + " " + std::to_string(sizes[i]) + "\r\n");
        s.ExpectLine().Send("+OK\r\nSubject: message " + n + "\r\n\r\nbody\r\n.\r\n");
    }
    s.ExpectLine().Send("+OK bye\r\n");
}

class PollCycle : public Settings {
protected:
    void point(const ScriptedServer& s) {
        form->Mailbox->Server = s.Address();
        form->Mailbox->UserName = "anna";
        form->Mailbox->Password = "pw";
        form->Mailbox->SetTimeOut(2);
    }
    void switchOn() { SendMessageA(fw::TPopupMenu::PopupListWindow(), WM_COMMAND, form->CheckMailItem->Command(), 0); }
};

TEST_F(PollCycle, TheTooltipTellsTheCountAfterTheStatusText) {
    ScriptedServer one;
    playMailbox(one, {120});
    one.Start();
    point(one);
    switchOn();
    EXPECT_TRUE(form->PollTimer->Enabled());
    form->PollTick(form->PollTimer);
    EXPECT_TRUE(boxes().boxes.empty());
    // Before any desktop toggle the status text is empty.
    EXPECT_EQ(lastTip, " (1 messages)");
    EXPECT_EQ(one.Received(), "CAPA\r\nUSER anna\r\nPASS pw\r\nSTAT\r\nUIDL\r\nLIST 1\r\nTOP 1 1\r\nQUIT\r\n");
    EXPECT_TRUE(form->PollTimer->Enabled()) << "the next check comes one interval later";

    // A desktop toggle replaces the tooltip with the bare status text.
    SendMessageA(form->TrayIcon->WindowHandle(), WM_USER + 1, 0, WM_LBUTTONUP);
    EXPECT_EQ(lastTip, "Show Desktop Icons");

    ScriptedServer empty;
    playMailbox(empty, {});
    empty.Start();
    point(empty);
    form->PollTick(form->PollTimer);
    EXPECT_EQ(lastTip, "Show Desktop Icons (No messages)");
    EXPECT_EQ(empty.Received(), "CAPA\r\nUSER anna\r\nPASS pw\r\nSTAT\r\nQUIT\r\n");
    SendMessageA(form->TrayIcon->WindowHandle(), WM_USER + 1, 0, WM_LBUTTONUP);  // icons back
}

TEST_F(PollCycle, AFailedCycleIsReportedAndSwitchesCheckingOff) {
    switchOn();
    form->Mailbox->Server = "127.0.0.1:1";
    form->PollTick(form->PollTimer);
    ASSERT_EQ(boxes().boxes.size(), 1u);
    EXPECT_EQ(boxes().boxes[0].first, "UserName property is required.");
    EXPECT_EQ(boxes().boxes[0].second, "Tidemark");
    EXPECT_FALSE(form->PollTimer->Enabled());
    EXPECT_FALSE(form->CheckingMail);
    EXPECT_EQ(form->CheckMailItem->Caption(), "Start Checking email");
    // The next use of the switch starts checking again, and says so.
    switchOn();
    EXPECT_TRUE(form->PollTimer->Enabled());
    EXPECT_EQ(form->CheckMailItem->Caption(), "Stop Checking email");
}

TEST_F(PollCycle, ADesktopToggleDuringACheckShowsInItsResult) {
    ScriptedServer slow;
    playMailbox(slow, {10, 20}, 400);
    slow.Start();
    point(slow);
    switchOn();
    fw::TTimer toggler(nullptr);
    bool toggled = false;
    toggler.SetInterval(150);
    toggler.SetOnTimer([&](fw::TObject*) {
        toggler.SetEnabled(false);
        toggled = true;
        SendMessageA(form->TrayIcon->WindowHandle(), WM_USER + 1, 0, WM_LBUTTONUP);
    });
    form->PollTick(form->PollTimer);
    EXPECT_TRUE(toggled) << "messages were dispatched while the check waited";
    EXPECT_EQ(lastTip, "Show Desktop Icons (2 messages)");
    SendMessageA(form->TrayIcon->WindowHandle(), WM_USER + 1, 0, WM_LBUTTONUP);
}

TEST_F(PollCycle, TheSwitchUsedDuringACheckNeverStartsASecondOne) {
    ScriptedServer slow;
    playMailbox(slow, {10}, 500);
    slow.Start();
    point(slow);
    switchOn();
    form->PollTimer->SetInterval(50);
    fw::TTimer user(nullptr);
    int uses = 0;
    user.SetInterval(100);
    user.SetOnTimer([&](fw::TObject*) {
        // Off and on again: the poll timer runs while the first check waits.
        if (++uses == 2) user.SetEnabled(false);
        switchOn();
    });
    form->PollTick(form->PollTimer);
    EXPECT_EQ(uses, 2);
    EXPECT_TRUE(boxes().boxes.empty()) << (boxes().boxes.empty() ? "" : boxes().boxes[0].first);
    EXPECT_EQ(slow.Received(), "CAPA\r\nUSER anna\r\nPASS pw\r\nSTAT\r\nUIDL\r\nLIST 1\r\nTOP 1 1\r\nQUIT\r\n");
    EXPECT_TRUE(form->PollTimer->Enabled());
    form->PollTimer->SetEnabled(false);
}

}  // namespace
