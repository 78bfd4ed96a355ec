// The controller form: its icon, menu and animation, the Setup dialog and
// the stored settings, the poll cycle against scripted servers, keeping
// watch through failures that pass, sleep and address changes, and the
// new-mail notice.
#include <windows.h>
#include <commctrl.h>

#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <utility>

#include "app/settings.h"
#include "app/setup_dialog.h"
#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "framework/application.h"
#include "gtest/gtest.h"
#include "tests/support/dovecot.h"
#include "tests/support/helpers.h"
#include "tests/support/scripted_server.h"

using namespace app;
using testsupport::Boxes;
using testsupport::Later;
using testsupport::ScriptedServer;

namespace {
// Where the controller keeps the seen ids during a test.
std::string seenFolder() {
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return dir + std::string("tidemark-test-app");
}

class Controller : public testing::Test {
protected:
    void SetUp() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
        SetupDialog = new TSetupDialog(nullptr);
        form = std::make_unique<TTrayController>(nullptr);
        form->AnimationTimer->SetEnabled(false);  // the tests tick themselves
        form->Announcer.Store.Folder = seenFolder();
        Boxes().clear();
    }
    void TearDown() override {
        form.reset();
        delete std::exchange(SetupDialog, nullptr);
        RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
        const std::string list = seenFolder() + '\0';  // SHFileOperation's list ends in two zeros
        SHFILEOPSTRUCTA remove{nullptr, FO_DELETE, list.c_str(), nullptr, FOF_NO_UI, FALSE, nullptr, nullptr};
        SHFileOperationA(&remove);
    }
    void command(fw::TMenuItem* item) { SendMessageA(fw::TPopupMenu::PopupListWindow(), WM_COMMAND, item->Command(), 0); }
    void mouse(UINT message) { SendMessageA(form->TrayIcon->WindowHandle(), desktop::TTrayIcon::WM_TRAYNOTIFY, 0, message); }
    void tick() { form->AnimationTick(form->AnimationTimer); }
    // What the user meets: the two switches' captions, the tooltip, whether
    // checks come (by the poll or a retry), and the first exception box.
    std::string seen() {
        char icons[64] = {}, mail[64] = {};
        GetMenuStringA(form->TrayMenu->Handle(), form->DesktopIconsItem->Command(), icons, sizeof icons, MF_BYCOMMAND);
        GetMenuStringA(form->TrayMenu->Handle(), form->CheckMailItem->Command(), mail, sizeof mail, MF_BYCOMMAND);
        return std::string(icons) + "|" + mail + "|" + form->TrayIcon->ToolTip() + (form->PollTimer->Enabled() ? "|polling" : "|") +
               (form->RetryTimer->Enabled() ? "|retry " + std::to_string(form->RetryTimer->Interval()) : "") +
               (Boxes().empty() ? "" : "|" + Boxes()[0].first);
    }
    // Chooses Setup; `fill` runs inside the dialog's modal loop, then `key`
    // (posted first: a second modal loop would take it) is pressed.
    void setup(const std::function<void(TSetupDialog&)>& fill, WPARAM key) {
        Later inside(30, [&] {
            PostMessageA(SetupDialog->OKBtn->Handle(), WM_KEYDOWN, key, 0);
            fill(*SetupDialog);
        });
        command(form->SetupItem);
    }
    // Points the mailbox at `server` and switches checking on.
    void point(const std::string& server) {
        form->Mailbox->Server = server;
        form->Mailbox->UserName = "anna";
        form->Mailbox->Password = "pw";
        form->Mailbox->SetTimeOut(2);
        command(form->CheckMailItem);
    }
    void power(WPARAM event) { SendMessageA(form->Handle(), WM_POWERBROADCAST, event, 0); }
    testsupport::ShellCalls calls;
    std::unique_ptr<TTrayController> form;
};

HICON resourceIcon(const std::string& name) { return fw::ResourceIcon(GetModuleHandleA(nullptr), name, desktop::TrayIconSize()); }

std::string refusing() { return "127.0.0.1:" + std::to_string(ScriptedServer::UnusedPort()); }

// Greeting, CAPA refused (one command at a time), then the log-in.
const std::string login = "S +OK ready\nC CAPA\nS -ERR\nC USER anna\nS +OK\nC PASS pw\n";

// A mailbox of `count` messages, as the poll cycle meets it; `uidl` answers UIDL.
std::string mailbox(int count, int pauseBeforeStat = 0, const std::string& uidl = "-ERR") {
    std::string s = login + "S +OK\nC STAT\nP " + std::to_string(pauseBeforeStat) + "\nS +OK " + std::to_string(count) + " 999\n";
    const bool ids = uidl[0] == '+';
    if (count > 0) s += "C UIDL\nS " + uidl + (ids ? "\nC LIST\nS +OK" : "\n");
    for (int i = 1; i <= count && ids; ++i) s += "\\r\\n" + std::to_string(i) + " 10" + (i == count ? "\\r\\n.\n" : "");
    for (int i = 1; i <= count; ++i)
        s += (ids ? "" : "C LIST " + std::to_string(i) + "\nS +OK 10\n") + "C TOP " + std::to_string(i) + " 1\nS +OK\\r\\nSubject: m\\r\\n.\n";
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

// Owned by an About box; notes whether the controller is still whole when the box goes.
struct Witness : fw::TComponent {
    Witness(fw::TComponent* owner, fw::TComponent* controller, bool& whole) : fw::TComponent(owner), controller(controller), whole(whole) {}
    ~Witness() override { whole = dynamic_cast<TTrayController*>(controller) != nullptr; }
    fw::TComponent* controller;
    bool& whole;
};
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
    EXPECT_EQ(std::to_string(IsWindowVisible(desk.get())) + seen(), "0Show Desktop &Icons|Start Checking &email|Show Desktop Icons|");
    command(form->DesktopIconsItem);
    EXPECT_EQ(std::to_string(IsWindowVisible(desk.get())) + seen(), "1Hide Desktop &Icons|Start Checking &email|Hide Desktop Icons|");
    desk.reset();
    mouse(WM_LBUTTONUP);  // without the desktop window the switch still flips
    command(form->CheckMailItem);
    EXPECT_EQ(seen(), "Show Desktop &Icons|Stop Checking &email|Show Desktop Icons|polling");
    command(form->CheckMailItem);
    EXPECT_EQ(seen(), "Show Desktop &Icons|Start Checking &email|Show Desktop Icons|");
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
    // An About box still open at the end goes while the controller its handlers call is whole.
    auto* box = new desktop::TAboutBox(form.get());
    box->Show();
    bool whole = false;
    new Witness(box, form.get(), whole);
    form.reset();
    EXPECT_TRUE(whole);
    EXPECT_FALSE(fw::Application->FormExists(box));
}

TEST_F(Controller, SetupShowsWhatIsInUseEscapeKeepsItAndEnterAppliesAndStoresTheTextsAsTyped) {
    TSetupDialog& d = *SetupDialog;
    std::string texts = d.Caption();
    for (fw::TControl* c : std::initializer_list<fw::TControl*>{d.TitleLabel, d.ServerLabel, d.SecurityLabel, d.UserNameLabel,
                                                                d.PasswordLabel, d.IntervalLabel, d.HideCheckBox,
                                                                d.StartAtLogonCheckBox, d.AnnounceCheckBox, d.OKBtn, d.CancelBtn})
        texts += "|" + c->Caption();
    EXPECT_EQ(texts, "Vesk Setup|Vesk Agent Mailbox Setup|POP3 Mail Server|Security|Username|Password|Poll Interval (secs)|"
                     "Hide icons on startup|Start Tidemark when I log on|Announce new mail|OK|Cancel");
    int low = 0, high = 0;
    SendMessageA(d.IntervalUpDown->Handle(), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(std::to_string(low) + ".." + std::to_string(high), "1..10000");
    std::string shown;
    std::vector<HWND> tabs;
    auto read = [&](TSetupDialog&) {
        shown = d.ServerEdit->Text() + "|" + d.SecurityCombo->Text() + "|" + d.UserNameEdit->Text() + "|" + d.PasswordEdit->Text() +
                "|" + d.IntervalEdit->Text() + (d.HideCheckBox->Checked() ? "|hide" : "|") +
                (d.AnnounceCheckBox->Checked() ? "|announce" : "|") + (GetFocus() == d.OKBtn->Handle() ? "" : "|not on OK");
    };
    setup([&](TSetupDialog&) {
        read(d);
        for (HWND h = d.OKBtn->Handle(); tabs.size() < 12 && (tabs.empty() || h != tabs[0]); h = GetNextDlgTabItem(d.Handle(), h, FALSE))
            tabs.push_back(h);
        d.ServerEdit->SetText("typed");
        command(form->SetupItem);  // chosen again while open: what was typed stays
        shown += "|" + d.ServerEdit->Text();
    }, VK_ESCAPE);
    EXPECT_EQ(shown + testsupport::ReadValue(SettingsKey, "server") + form->Mailbox->Server, "|TLS|||60||announce|typed");
    EXPECT_EQ(tabs, (std::vector<HWND>{d.OKBtn->Handle(), d.CancelBtn->Handle(), d.ServerEdit->Handle(), d.SecurityCombo->Handle(),
                                       d.UserNameEdit->Handle(), d.PasswordEdit->Handle(), d.IntervalEdit->Handle(), d.IntervalUpDown->Handle(),
                                       d.HideCheckBox->Handle(), d.StartAtLogonCheckBox->Handle(), d.AnnounceCheckBox->Handle()}));
    setup([](TSetupDialog& d) {
        d.ServerEdit->SetText("pop.example.org:1110");
        d.SecurityCombo->SetItemIndex(SecurityIndex(net::TSecurity::None));
        d.UserNameEdit->SetText("anna");
        d.PasswordEdit->SetText("s3cret pass");
        d.IntervalEdit->SetText(" 30 ");
        d.HideCheckBox->SetChecked(true);
        d.AnnounceCheckBox->SetChecked(false);
    }, VK_RETURN);
    std::string stored;
    for (const char* name : {"server", "username", "interval", "hideonstart", "announce"})
        stored += testsupport::ReadValue(SettingsKey, name) + "|";
    EXPECT_EQ(stored + std::to_string(form->PollTimer->Interval()), "pop.example.org:1110|anna|30|#1|#0|30000");
    setup(read, VK_ESCAPE);
    EXPECT_EQ(shown, "pop.example.org:1110|None|anna|s3cret pass|30|hide|");
    // The arrows write no thousands separator, which would not read back as
    // a number; the first tick's load no longer overwrites what is in use.
    setup([](TSetupDialog& d) {
        d.ServerEdit->SetText("mail.example.org");
        d.IntervalUpDown->SetPosition(1000);
    }, VK_RETURN);
    tick();
    EXPECT_EQ(form->Mailbox->Server + "|" + std::to_string(form->PollTimer->Interval()) + "|" + testsupport::ReadValue(SettingsKey, "interval"),
              "mail.example.org|1000000|1000");
    EXPECT_TRUE(Boxes().empty());
}

// What the load at show time and the one at the first tick make of what is
// stored, over what is in use ("mem", 20 s): server|user|password|interval|
// hide-on-start|the first report|the desktop icons|the notices.
TEST_F(Controller, TheTwoLoadsOfTheStoredSettings) {
    const char* table[][3] = {
        {"server=pop.example.org;username=anna;password=pw;interval=  45;hideonstart=#1;announce=#0",
         "pop.example.org|anna|pw|45000|hide||quiet", "pop.example.org|anna|pw|45000|hide||icons hidden|quiet"},
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
                   (Boxes().empty() ? "" : Boxes()[0].first) + (f.DesktopVisible ? "" : "|icons hidden") +
                   (f.Announcer.Announce ? "" : "|quiet");
        };
        f.Show();
        EXPECT_EQ(state(), afterShow) << stored;
        Boxes().clear();
        f.Announcer.Announce = true;
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
    ScriptedServer one(mailbox(1, 0, "+OK\\r\\n1 u1\\r\\n."));
    // The ids seen by an earlier run: none, so the message is news.
    form->Announcer.Store.Save(mail::MailboxName(one.Address(), "anna"), mail::TSeenIds{true, {}});
    point(one.Address());
    form->PollTick(form->PollTimer);
    EXPECT_EQ(seen() + "|" + one.Received(), "Hide Desktop &Icons|Stop Checking &email|Tidemark: 1 message|polling|" + one.Expected());
    EXPECT_EQ(calls.balloons, std::vector<std::string>{"New mail|m"});
    mouse(WM_LBUTTONUP);
    ScriptedServer none(mailbox(0));
    form->Mailbox->Server = none.Address();
    form->PollTick(form->PollTimer);
    EXPECT_EQ(seen(), "Show Desktop &Icons|Stop Checking &email|Show Desktop Icons (No messages)|polling");
    // A seen-id list that cannot be stored is told by a notice, never a box
    // that would hold up the checks, and only once the new-mail notice is over.
    form->Announcer.Store.Folder = testsupport::SourcePath("README.md");  // a file: no folder there
    for (auto [waitMs, id] : {std::pair<std::uint64_t, std::string>{60000, "u2"}, {0, "u3"}}) {  // u1's notice waits, then it is over
        form->TrayIcon->UnreportedBalloonMs = waitMs;
        ScriptedServer other(mailbox(1, 0, "+OK\\r\\n1 " + id + "\\r\\n."));
        form->Mailbox->Server = other.Address();
        form->PollTick(form->PollTimer);
        ASSERT_EQ(calls.balloons.size(), waitMs ? 1u : 2u);
    }
    EXPECT_EQ(calls.balloons[1].substr(0, 50), "Tidemark|Cannot save the list of seen messages in ");
    form->Mailbox->UserName = "";
    form->PollTick(form->PollTimer);
    EXPECT_EQ(seen(), "Show Desktop &Icons|Start Checking &email|Show Desktop Icons (1 message)||UserName property is required.");
    EXPECT_EQ(Boxes()[0].second, "Tidemark");
    command(form->CheckMailItem);  // the switch turns checking on again
    EXPECT_EQ(seen(), "Show Desktop &Icons|Stop Checking &email|Show Desktop Icons (1 message)|polling|UserName property is required.");
}

// A server whose certificate differs from the one trusted: the question says
// so first, No is its default, and after No no second box repeats it.
TEST_F(Controller, AChangedCertificateIsAskedAboutOnceAndNoEndsTheChecks) {
    const std::string server = "127.0.0.2:" + testsupport::dovecot::FirstLine("tls_port", true);
    testsupport::WriteText(SettingsKey, TrustedCertificateValue(server).c_str(), "AB:CD");
    form->Mailbox->Security = net::TSecurity::Tls;
    point(server);
    char question[1024] = {};
    int focus = 0;
    fw::TTimer answer(nullptr);
    answer.SetInterval(50);
    answer.SetOnTimer([&](fw::TObject*) {
        if (!GetDlgItemTextA(GetActiveWindow(), 0xFFFF, question, sizeof question)) return;
        focus = GetDlgCtrlID(GetFocus());
        testsupport::SaveShot(GetActiveWindow(), "trust-question-changed");
        PostMessageA(GetActiveWindow(), WM_COMMAND, IDNO, 0);
    });
    form->PollTick(form->PollTimer);
    EXPECT_EQ(std::string(question).rfind("The certificate of " + server + " has changed since you trusted it. The server's", 0), 0u) << question;
    EXPECT_EQ(std::to_string(focus) + seen() + "|" + std::to_string(Boxes().size()) + " boxes", "7Hide Desktop &Icons|Start Checking &email|||0 boxes");
}

// Off and on again during a check: the toggle shows in its result, no second
// check starts, and a failure still leaves checking off before its one report.
TEST_F(Controller, DuringACheckAToggleShowsInItsResultAndTheSwitchStartsNoSecondCheck) {
    const std::pair<std::string, std::string> table[] = {
        {mailbox(2, 400), "Show Desktop &Icons|Stop Checking &email|Show Desktop Icons (2 messages)|polling|0 boxes"},
        {"P 400\nS -ERR busy\n", "Show Desktop &Icons|Start Checking &email|Show Desktop Icons||-ERR busy.|1 boxes"},
    };
    for (const auto& [script, expected] : table) {
        TearDown();
        SetUp();
        ScriptedServer server(script);
        point(server.Address());
        form->PollTimer->SetInterval(50);
        Later toggle(150, [&] { mouse(WM_LBUTTONUP); });
        Later offAndOn(200, [&] {
            command(form->CheckMailItem);
            command(form->CheckMailItem);
        });
        form->PollTick(form->PollTimer);
        EXPECT_EQ(seen() + "|" + std::to_string(Boxes().size()) + " boxes" + server.Received(), expected + server.Expected());
        form->PollTimer->SetEnabled(false);
    }
}

TEST_F(Controller, ATickWhileAWindowOfOursIsModalWaitsUntilItCloses) {
    ScriptedServer server(mailbox(0));
    point(server.Address());
    form->PollTimer->SetInterval(50);
    bool checkedUnderSetup = true;
    setup([&](TSetupDialog&) {
        testsupport::PumpFor(300);  // six ticks' time
        checkedUnderSetup = server.Accepted();
    }, VK_ESCAPE);
    EXPECT_FALSE(checkedUnderSetup);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return server.Finished(); }));
    EXPECT_EQ(seen() + server.Received(), "Hide Desktop &Icons|Stop Checking &email|Tidemark: no messages|polling" + server.Expected());
}

TEST_F(Controller, CloseDuringACheckCancelsItBringsTheIconsBackAtOnceAndEndsTheLoop) {
    auto desk = testsupport::ProgramManager(true);
    mouse(WM_LBUTTONUP);
    ScriptedServer silent;
    point(silent.Address());
    fw::Application->SetMainForm(form.get());
    bool shownAtOnce = false;
    Later close(150, [&] {
        command(form->CloseItem);
        shownAtOnce = IsWindowVisible(desk.get());
    });
    const ULONGLONG start = GetTickCount64();
    form->PollTick(form->PollTimer);
    EXPECT_LT(GetTickCount64() - start, 1000u) << "the check ran on to its 2 s time-out";
    EXPECT_TRUE(shownAtOnce);
    EXPECT_TRUE(fw::Application->Terminated());
    EXPECT_TRUE(Boxes().empty());
    fw::Application->SetMainForm(nullptr);
    fw::Application->ClearTerminated();
}

// Failures that pass by themselves: no box, checking stays on, the next try
// after 30 s, 1, 2 and 4 minutes, never later than the interval, a tooltip
// that says why, one balloon per spell of trouble. A good check brings back
// the count and the polls; a failure that needs the user ends it all.
TEST_F(Controller, PassingFailuresAreRetriedQuietlyUntilAGoodCheckOrOneThatNeedsTheUser) {
    const std::string on = "Hide Desktop &Icons|Stop Checking &email|", unreachable = on + "Tidemark: mail server unreachable, retrying||retry ";
    const std::pair<std::string, std::string> table[] = {
        {"", unreachable + "30000"},
        {login + "S -ERR [IN-USE] Mailbox is locked\n", on + "Tidemark: mailbox busy, retrying||retry 60000"},
        {"", unreachable + "120000"},
        {"", unreachable + "240000"},
        {"", unreachable + "300000"},
        {mailbox(0), on + "Tidemark: no messages|polling"},
        {"", unreachable + "30000"},
        {login + "S -ERR [AUTH] Authentication failed.\n", "Hide Desktop &Icons|Start Checking &email|||-ERR [AUTH] Authentication failed."},
    };
    point("");
    form->PollTimer->SetInterval(300000);
    form->BalloonAfterMs = 0;
    for (const auto& [script, expected] : table) {
        ScriptedServer server(script);
        form->Mailbox->Server = script.empty() ? refusing() : server.Address();
        form->PollTick(form->RetryTimer);
        EXPECT_EQ(seen(), expected) << script;
    }
    EXPECT_EQ(calls.balloons.size(), 2u);
    for (const std::string& b : calls.balloons)
        EXPECT_TRUE(std::regex_match(b, std::regex(R"(Tidemark\|Mail could not be checked since \d\d:\d\d )"
                                                   R"(\(\[10061\] Connection refused\)\. Tidemark keeps trying\.)"))) << b;
}

// Sleep cancels a running check without a report; waking brings a check
// within seconds, failures soon after it are retried every ten; the network
// coming back brings at once the retry of a check that failed, and nothing else.
TEST_F(Controller, SleepCancelsACheckQuietlyAndWakingOrTheNetworkComingBackBringsOneSoon) {
    ScriptedServer silent;
    point(silent.Address());
    const std::string on = "Hide Desktop &Icons|Stop Checking &email|";
    auto addressChanged = [&] { SendMessageA(form->AddressWatch->WindowHandle(), net::TAddressWatch::WM_ADDRESS_CHANGED, 0, 0); };
    addressChanged();
    EXPECT_EQ(seen(), on + "|polling");
    Later sleep(100, [&] { power(PBT_APMSUSPEND); });
    const ULONGLONG start = GetTickCount64();
    form->PollTick(form->PollTimer);
    EXPECT_LT(GetTickCount64() - start, 1000u) << "the check ran on to its 2 s time-out";
    EXPECT_EQ(seen(), on + "||retry 10000");
    for (WPARAM resume : {PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND}) {
        power(resume);
        EXPECT_EQ(seen(), on + "||retry 5000");
        form->Mailbox->Server = refusing();
        form->PollTick(form->RetryTimer);
        EXPECT_EQ(seen(), on + "Tidemark: mail server unreachable, retrying||retry 10000");
    }
    addressChanged();
    EXPECT_EQ(seen(), on + "Tidemark: mail server unreachable, retrying||retry 1000");
}

// A notice names the messages whose ids are new, once; the seen ids outlive
// a restart; with the notices off new ids are taken as seen in silence. A
// notice not yet seen (the shell's balloon events before each check) is
// counted into the next.
TEST_F(Controller, NewMessagesAreAnnouncedOnceAcrossChecksAndRestarts) {
    const struct {
        const char* ids;
        bool restart, announce;
        std::vector<UINT> events = {};
    } checks[] = {{"a b", false, true}, {"a b c", false, true}, {"a b c", false, true}, {"b c d", true, true}, {"b c d e", false, false, {NIN_BALLOONSHOW}},
                  {"b c d e f", false, true}, {"b c d e f g", false, true, {NIN_BALLOONTIMEOUT}}, {"b c d e f g h i j k", false, true, {NIN_BALLOONSHOW, NIN_BALLOONHIDE}}};
    mail::TPop3Mailbox& box = *form->Mailbox;
    box.UniqueIdsKnown = true;
    box.CheckedMailbox = mail::MailboxName("pop.example.org", "anna");
    TNewMailAnnouncer announcer;
    for (const auto& check : checks) {
        for (UINT event : check.events) mouse(event);
        if (check.restart) announcer = TNewMailAnnouncer();
        announcer.Store.Folder = seenFolder();
        announcer.Announce = check.announce;
        std::istringstream ids(check.ids);
        const std::vector<std::string> names(std::istream_iterator<std::string>(ids), {});
        box.UniqueIds.clear();
        box.RemoteInfo.Clear();
        for (const std::string& id : names) {
            box.UniqueIds.push_back(mail::MessageKey(id, 1));
            box.RemoteInfo.Add(std::make_unique<mail::TMessageInfo>());
            if (id == "k") continue;  // no sender, no subject
            box.RemoteInfo.Items(box.RemoteInfo.Count() - 1).Headers.Add("From: " + id + "@example.org");
            box.RemoteInfo.Items(box.RemoteInfo.Count() - 1).Headers.Add("Subject: about " + id);
        }
        announcer.AfterCheck(box, *form->TrayIcon);
    }
    EXPECT_EQ(calls.balloons, (std::vector<std::string>{"New mail|c@example.org: about c", "New mail|d@example.org: about d",
                                                        "2 new messages|f@example.org: about f\nd@example.org: about d",
                                                        "3 new messages|g@example.org: about g\nf@example.org: about f\nd@example.org: about d",
                                                        "4 new messages|(no subject)\nj@example.org: about j\ni@example.org: about i\nand 1 more"}));
    // A list that could not be saved is saved at the next check, changed or not.
    box.UniqueIds = {mail::MessageKey("x", 1)};
    announcer.Store.Folder = testsupport::SourcePath("README.md");  // a file: no folder there
    testsupport::MessageOf([&] { announcer.AfterCheck(box, *form->TrayIcon); });
    announcer.Store.Folder = seenFolder();
    announcer.AfterCheck(box, *form->TrayIcon);
    EXPECT_TRUE(announcer.Store.Load(box.CheckedMailbox).Ids == std::vector{mail::MessageKey("x", 1)});
}
