// The controller form: its icon, menu and animation, the Setup dialog and
// the stored settings, and the poll cycle against scripted servers.
#include <windows.h>
#include <commctrl.h>

#include <set>
#include <sstream>
#include <utility>

#include "app/settings.h"
#include "app/setup_dialog.h"
#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "framework/application.h"
#include "gtest/gtest.h"
#include "tests/support/helpers.h"
#include "tests/support/scripted_server.h"

using namespace app;
using testsupport::Boxes;
using testsupport::Later;
using testsupport::ScriptedServer;

namespace {
class Controller : public testing::Test {
protected:
    void SetUp() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
        SetupDialog = new TSetupDialog(nullptr);
        form = std::make_unique<TTrayController>(nullptr);
        form->AnimationTimer->SetEnabled(false);  // the tests tick themselves
        Boxes().clear();
    }
    void TearDown() override {
        form.reset();
        delete std::exchange(SetupDialog, nullptr);
        RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    }
    void command(fw::TMenuItem* item) { SendMessageA(fw::TPopupMenu::PopupListWindow(), WM_COMMAND, item->Command(), 0); }
    void mouse(UINT message) { SendMessageA(form->TrayIcon->WindowHandle(), desktop::TTrayIcon::WM_TRAYNOTIFY, 0, message); }
    void tick() { form->AnimationTick(form->AnimationTimer); }
    // What the user meets: the two switches' captions, the tooltip, whether
    // checks come, and the first exception box.
    std::string seen() {
        char icons[64] = {}, mail[64] = {};
        GetMenuStringA(form->TrayMenu->Handle(), form->DesktopIconsItem->Command(), icons, sizeof icons, MF_BYCOMMAND);
        GetMenuStringA(form->TrayMenu->Handle(), form->CheckMailItem->Command(), mail, sizeof mail, MF_BYCOMMAND);
        return std::string(icons) + "|" + mail + "|" + form->TrayIcon->ToolTip() + (form->PollTimer->Enabled() ? "|polling" : "|") +
               (Boxes().empty() ? "" : "|" + Boxes()[0].first);
    }
    // Chooses Setup; `fill` runs inside the dialog's modal loop, then `key` is pressed.
    void setup(const std::function<void(TSetupDialog&)>& fill, WPARAM key) {
        Later inside(30, [&] {
            fill(*SetupDialog);
            PostMessageA(SetupDialog->OKBtn->Handle(), WM_KEYDOWN, key, 0);
        });
        command(form->SetupItem);
    }
    // Points the mailbox at `server` and switches checking on.
    void point(const ScriptedServer& server) {
        form->Mailbox->Server = server.Address();
        form->Mailbox->UserName = "anna";
        form->Mailbox->Password = "pw";
        form->Mailbox->SetTimeOut(2);
        command(form->CheckMailItem);
    }
    testsupport::ShellCalls calls;
    std::unique_ptr<TTrayController> form;
};

HICON resourceIcon(const std::string& name) { return LoadIconA(GetModuleHandleA(nullptr), name.c_str()); }

// A mailbox of `count` messages, as the poll cycle meets it.
std::string mailbox(int count, int pauseBeforeStat = 0) {
    std::string s = "S +OK ready\nC USER anna\nS +OK\nC PASS pw\nS +OK\nC STAT\nP " + std::to_string(pauseBeforeStat) +
                    "\nS +OK " + std::to_string(count) + " 999\n";
    for (int i = 1; i <= count; ++i)
        s += "C LIST " + std::to_string(i) + "\nS +OK 10\nC TOP " + std::to_string(i) + " 1\nS +OK\\r\\nSubject: m\\r\\n.\n";
    return s + "C QUIT\nS +OK bye\n";
}

// Stores "name=text" or "name=#number" values, separated by ";".
void store(const std::string& values) {
    std::istringstream in(values);
    for (std::string v; std::getline(in, v, ';');) {
        const std::string name = v.substr(0, v.find('=')), value = v.substr(name.size() + 1);
        if (value.rfind('#', 0) == 0) testsupport::WriteNumber(SettingsKey, name.c_str(), std::stoul(value.substr(1)));
        if (value.rfind('#', 0) != 0) testsupport::WriteText(SettingsKey, name.c_str(), value);
    }
}
}  // namespace

TEST_F(Controller, ItIsNeverSeenAndPutsItsIconWithItsMenuInTheNotificationArea) {
    EXPECT_EQ(GetWindowLongA(form->Handle(), GWL_STYLE) & WS_CAPTION, 0);
    EXPECT_LT(form->Left() + form->Width(), 0);
    EXPECT_FALSE(IsWindowVisible(form->Handle()) || IsWindowVisible(fw::Application->Handle()));
    std::string menu;
    for (fw::TMenuItem* item : form->TrayIcon->PopupMenu()->Items()) menu += item->Caption() + "|";
    EXPECT_EQ(menu, "Hide Desktop &Icons|Start Checking &email|-|&Setup|Check for &Upgrades|&About|-|&Close|");
    ASSERT_EQ(calls.at(0).message, static_cast<DWORD>(NIM_ADD));
    ICONINFO info{};
    EXPECT_TRUE(GetIconInfo(calls[0].data.hIcon, &info)) << "the first image went with its source";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(Controller, AClickOrTheMenuItemTogglesTheDesktopIconsAndTheMailSwitchTheChecks) {
    auto desk = testsupport::ProgramManager(true);
    mouse(WM_LBUTTONUP);
    EXPECT_EQ(std::to_string(IsWindowVisible(desk.get())) + seen(), "0Show Desktop Icons|Start Checking &email|Show Desktop Icons|");
    command(form->DesktopIconsItem);
    EXPECT_EQ(std::to_string(IsWindowVisible(desk.get())) + seen(), "1Hide Desktop Icons|Start Checking &email|Hide Desktop Icons|");
    desk.reset();
    mouse(WM_LBUTTONUP);  // without the desktop window the switch still flips
    command(form->CheckMailItem);
    EXPECT_EQ(seen(), "Show Desktop Icons|Stop Checking email|Show Desktop Icons|polling");
    command(form->CheckMailItem);
    EXPECT_EQ(seen(), "Show Desktop Icons|Start Checking email|Show Desktop Icons|");
    mouse(WM_MOUSEMOVE);
    EXPECT_EQ(calls.back().data.hIcon, resourceIcon("ICON_3"));
}

TEST_F(Controller, EachTickShowsTheImageDrawnAtTheTickBeforeAndTheTimerNeverStops) {
    std::int32_t drawn = 1;
    for (int i = 0; i < 20; ++i, drawn = form->IconIndex) {
        tick();
        EXPECT_EQ(calls.back().data.hIcon, resourceIcon("ICON_" + std::to_string(drawn)));
    }
    std::set<std::int32_t> icons;
    for (std::uint32_t seed = 0; seed < 86400000u; seed += 863) {
        unsigned interval = 0;
        TTrayController::DrawNext(seed, drawn, interval);
        icons.insert(drawn);
        ASSERT_TRUE(interval >= 1 && interval <= 4999) << interval;  // 0 would stop the timer for good
    }
    EXPECT_EQ(icons.size(), 13u);
    EXPECT_EQ(*icons.begin(), 1);
}

TEST_F(Controller, AboutAndCheckForUpgradesShowTheirBoxOwnedByTheController) {
    for (auto [item, tagline] : {std::make_pair(form->AboutItem, "With Vesk, your email agent."),
                                 std::make_pair(form->UpgradesItem, "      Click on our logo!")}) {
        std::string shown;
        Later look(50, [&] {
            shown = desktop::AboutBox->TaglineLabel->Caption() + (desktop::AboutBox->Owner() == form.get() ? "" : " (owner?)");
            desktop::AboutBox->Close();
        });
        command(item);
        EXPECT_EQ(shown, tagline);
    }
    // Showing the controller closes a splash still open, and never touches one that is gone.
    auto* splash = new desktop::TAboutBox(fw::Application);
    splash->Show();
    form->FormShow(form.get());
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !fw::Application->FormExists(splash); }));
    form->FormShow(form.get());
}

TEST_F(Controller, SetupShowsWhatIsInUseEscapeKeepsItAndEnterAppliesAndStoresTheTextsAsTyped) {
    TSetupDialog& d = *SetupDialog;
    std::string texts = d.Caption();
    for (fw::TControl* c : std::initializer_list<fw::TControl*>{d.TitleLabel, d.ServerLabel, d.UserNameLabel,
                                                                d.PasswordLabel, d.IntervalLabel, d.HideCheckBox, d.OKBtn, d.CancelBtn})
        texts += "|" + c->Caption();
    EXPECT_EQ(texts, "Vesk Setup|Vesk Agent Mailbox Setup|POP3 Mail Server|Username|Password|Poll Interval (secs)|"
                     "Hide icons on startup|OK|Cancel");
    int low = 0, high = 0;
    SendMessageA(d.IntervalUpDown->Handle(), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(std::to_string(low) + ".." + std::to_string(high), "1..10000");
    std::string shown;
    std::vector<HWND> tabs;
    auto read = [&](TSetupDialog&) {
        shown = d.ServerEdit->Text() + "|" + d.UserNameEdit->Text() + "|" + d.PasswordEdit->Text() + "|" + d.IntervalEdit->Text() +
                (d.HideCheckBox->Checked() ? "|hide" : "|") + (GetFocus() == d.OKBtn->Handle() ? "" : "|not on OK");
    };
    setup([&](TSetupDialog&) {
        read(d);
        for (HWND h = GetWindow(d.Handle(), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
            if (GetWindowLongA(h, GWL_STYLE) & WS_TABSTOP) tabs.push_back(h);
        d.ServerEdit->SetText("ignored");
    }, VK_ESCAPE);
    EXPECT_EQ(shown + testsupport::ReadValue(SettingsKey, "server"), "|||60|");
    EXPECT_EQ(tabs, (std::vector<HWND>{d.OKBtn->Handle(), d.CancelBtn->Handle(), d.ServerEdit->Handle(),
                                       d.UserNameEdit->Handle(), d.PasswordEdit->Handle(), d.IntervalUpDown->Handle(),
                                       d.IntervalEdit->Handle(), d.HideCheckBox->Handle()}));
    setup([](TSetupDialog& d) {
        d.ServerEdit->SetText("pop.example.org:1110");
        d.UserNameEdit->SetText("anna");
        d.PasswordEdit->SetText("s3cret pass");
        d.IntervalEdit->SetText(" $1E");
        d.HideCheckBox->SetChecked(true);
    }, VK_RETURN);
    std::string stored;
    for (const char* name : {"server", "username", "password", "interval", "hideonstart"})
        stored += testsupport::ReadValue(SettingsKey, name) + "|";
    EXPECT_EQ(stored + std::to_string(form->PollTimer->Interval()), "pop.example.org:1110|anna|s3cret pass| $1E|#1|30000");
    setup(read, VK_ESCAPE);
    EXPECT_EQ(shown, "pop.example.org:1110|anna|s3cret pass|30|hide");
    // An interval that is no number stops OK after the texts: nothing is stored.
    setup([](TSetupDialog& d) {
        d.ServerEdit->SetText("mail.example.org");
        d.IntervalUpDown->SetPosition(1000);  // written with the thousands separator
    }, VK_RETURN);
    EXPECT_EQ(Boxes(), (testsupport::BoxList{{"'" + d.IntervalEdit->Text() + "' is not a valid integer value.", "Tidemark"}}));
    EXPECT_EQ(form->Mailbox->Server + "|" + std::to_string(form->PollTimer->Interval()), "mail.example.org|30000");
    EXPECT_EQ(testsupport::ReadValue(SettingsKey, "server"), "pop.example.org:1110");
}

// What the load at show time and the one at the first tick make of what is
// stored, over what is in use ("mem", 20 s): server|user|password|interval|
// hide-on-start|the first report|the desktop icons.
TEST_F(Controller, TheTwoLoadsOfTheStoredSettings) {
    const char* table[][3] = {
        {"server=pop.example.org;username=anna;password=pw;interval=  45;hideonstart=#1",
         "pop.example.org|anna|pw|45000|hide|", "pop.example.org|anna|pw|45000|hide||icons hidden"},
        {"interval=$3C", "mem|mem|mem|60000||", "|||60000||"},
        {"server=s;interval=;hideonstart=#1", "s|mem|mem|20000||'' is not a valid integer value.", "s|||20000|hide||icons hidden"},
        {"server=#7;password=pw", "mem|mem|mem|20000||Invalid data type for 'server'.",
         "mem|mem|mem|20000||Invalid data type for 'server'."},
        {"", "mem|mem|mem|20000||", "mem|mem|mem|20000||"},
    };
    for (auto [stored, afterShow, afterTicks] : table) {
        TearDown();
        SetUp();
        store(stored);
        TTrayController& f = *form;
        f.Mailbox->Server = f.Mailbox->UserName = f.Mailbox->Password = "mem";
        f.PollTimer->SetInterval(20000);
        auto state = [&] {
            return f.Mailbox->Server + "|" + f.Mailbox->UserName + "|" + f.Mailbox->Password + "|" +
                   std::to_string(f.PollTimer->Interval()) + (f.HideOnStart ? "|hide|" : "||") +
                   (Boxes().empty() ? "" : Boxes()[0].first) + (f.DesktopVisible ? "" : "|icons hidden");
        };
        f.Show();
        EXPECT_EQ(state(), afterShow) << stored;
        Boxes().clear();
        tick();
        tick();
        EXPECT_EQ(state(), afterTicks) << stored;
    }
    // A failing first-tick load is reported once and tried again until it works.
    TearDown();
    SetUp();
    store("server=#7");
    for (int i = 0; i < 3; ++i) tick();
    store("server=fixed");
    tick();
    EXPECT_EQ(form->Mailbox->Server + "|" + std::to_string(Boxes().size()), "fixed|1");
}

TEST_F(Controller, TheTooltipTellsTheCountAfterTheStatusTextAndAFailureSwitchesCheckingOff) {
    ScriptedServer one(mailbox(1));
    point(one);
    form->PollTick(form->PollTimer);
    EXPECT_EQ(seen() + "|" + one.Received(), "Hide Desktop &Icons|Stop Checking email| (1 messages)|polling|" + one.Expected());
    mouse(WM_LBUTTONUP);
    ScriptedServer none(mailbox(0));
    form->Mailbox->Server = none.Address();
    form->PollTick(form->PollTimer);
    EXPECT_EQ(seen(), "Show Desktop Icons|Stop Checking email|Show Desktop Icons (No messages)|polling");
    form->Mailbox->UserName = "";
    form->PollTick(form->PollTimer);
    EXPECT_EQ(seen(), "Show Desktop Icons|Start Checking email|Show Desktop Icons (No messages)||UserName property is required.");
    EXPECT_EQ(Boxes()[0].second, "Tidemark");
    command(form->CheckMailItem);  // the switch turns checking on again
    EXPECT_EQ(seen(), "Show Desktop Icons|Stop Checking email|Show Desktop Icons (No messages)|polling|UserName property is required.");
}

TEST_F(Controller, DuringACheckAToggleShowsInItsResultAndTheSwitchStartsNoSecondCheck) {
    ScriptedServer server(mailbox(2, 400));
    point(server);
    form->PollTimer->SetInterval(50);
    Later toggle(150, [&] { mouse(WM_LBUTTONUP); });
    Later offAndOn(200, [&] {
        command(form->CheckMailItem);
        command(form->CheckMailItem);
    });
    form->PollTick(form->PollTimer);
    EXPECT_EQ(seen() + server.Received(), "Show Desktop Icons|Stop Checking email|Show Desktop Icons (2 messages)|polling" + server.Expected());
    form->PollTimer->SetEnabled(false);
}

TEST_F(Controller, CloseDuringACheckBringsTheIconsBackAtOnceAndEndsTheLoopWhenTheCheckReturns) {
    auto desk = testsupport::ProgramManager(true);
    mouse(WM_LBUTTONUP);
    ScriptedServer server(mailbox(1, 400));
    point(server);
    fw::Application->SetMainForm(form.get());
    bool shownAtOnce = false;
    Later close(150, [&] {
        command(form->CloseItem);
        shownAtOnce = IsWindowVisible(desk.get());
    });
    form->PollTick(form->PollTimer);
    EXPECT_TRUE(shownAtOnce);
    EXPECT_TRUE(fw::Application->Terminated());
    EXPECT_TRUE(Boxes().empty());
    fw::Application->SetMainForm(nullptr);
    fw::Application->ClearTerminated();
}
