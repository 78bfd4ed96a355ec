// The controller form: its icon, menu and animation, the Setup dialog and
// the stored settings with the move to several mailboxes; one mailbox's
// watcher and its rules as a table; checks of real scripted servers, each
// mailbox on its thread; the new-mail notice.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <utility>

#include "app/mail_count_text.h"
#include "app/mailbox_watcher.h"
#include "app/settings.h"
#include "app/setup_dialog.h"
#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "desktop/mail_program.h"
#include "desktop/new_mail_sound.h"
#include "framework/application.h"
#include "gtest/gtest.h"
#include "net/socket_errors.h"
#include "tests/support/dovecot.h"
#include "tests/support/helpers.h"
#include "tests/support/scripted_server.h"

using namespace app;
using testsupport::Boxes;
using testsupport::Later;
using testsupport::ScriptedServer;

namespace {
// Where the watchers keep the seen ids during a test.
std::string seenFolder() {
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return dir + std::string("tidemark-test-app");
}

void removeSettings() {
    for (int slot = 1; slot <= kMaxMailboxes; ++slot) RegDeleteKeyA(HKEY_CURRENT_USER, MailboxKey(slot).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, (std::string(SettingsKey) + "\\Mailboxes").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
}

// Checks that end when the test says so.
struct FakeRunner : TCheckRunner {
    mail::TPop3Mailbox box{nullptr};
    TImapResult result;
    bool listening = false;
    int started = 0, canceled = 0;
    void Start(const TMailboxSettings&, const mail::TUidMark&) override { ++started; }
    void Cancel() override { ++canceled; }
    const mail::TPop3Mailbox& Mailbox() const override { return box; }
    const TImapResult& ImapResult() const override { return result; }
    bool Listening() const override { return listening; }
    std::string renewed;
    const std::string& NewRefreshToken() const override { return renewed; }
};

class Controller : public testing::Test {
protected:
    void SetUp() override {
        removeSettings();
        SetupDialog = new TSetupDialog(nullptr);
        form = std::make_unique<TTrayController>(nullptr);
        form->AnimationTimer->SetEnabled(false);  // the tests tick themselves
        form->MakeRunner = [] {
            auto runner = MakeThreadCheckRunner();
            runner->TimeOut = 2;
            return runner;
        };
        form->Settings.Mailboxes = {TMailboxSettings{}};
        form->Settings.Mailboxes[0].Slot = 1;
        form->ApplySettings();
        Boxes().clear();
    }
    void TearDown() override {
        form.reset();
        desktop::SetSoundSeam(nullptr);
        desktop::SetOpenMailSeam(nullptr);
        desktop::SetNotificationStateSeam(nullptr);
        delete std::exchange(SetupDialog, nullptr);
        removeSettings();
        const std::string list = seenFolder() + '\0';  // SHFileOperation's list ends in two zeros
        SHFILEOPSTRUCTA remove{nullptr, FO_DELETE, list.c_str(), nullptr, FOF_NO_UI, FALSE, nullptr, nullptr};
        SHFileOperationA(&remove);
    }
    void command(fw::TMenuItem* item) { SendMessageA(fw::TPopupMenu::PopupListWindow(), WM_COMMAND, item->Command(), 0); }
    void mouse(UINT message) { SendMessageA(form->TrayIcon->WindowHandle(), desktop::TTrayIcon::WM_TRAYNOTIFY, 0, message); }
    void tick() { form->AnimationTick(form->AnimationTimer); }
    TMailboxWatcher& watcher(std::size_t i = 0) { return *form->Watchers.at(i); }
    // What the user meets: the two switches' captions, the tooltip, whether
    // checks come, and the first exception box.
    std::string seen() {
        char icons[64] = {}, mail[64] = {};
        GetMenuStringA(form->TrayMenu->Handle(), form->DesktopIconsItem->Command(), icons, sizeof icons, MF_BYCOMMAND);
        GetMenuStringA(form->TrayMenu->Handle(), form->CheckMailItem->Command(), mail, sizeof mail, MF_BYCOMMAND);
        return std::string(icons) + "|" + mail + "|" + form->TrayIcon->ToolTip() + (watcher().PollTimer->Enabled() ? "|polling" : "|") +
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
    // Clicks `button` of Setup; `fill` runs inside the mailbox's fields, then `key` is pressed there.
    void fields(fw::TButton* button, const std::function<void(TMailboxDialog&)>& fill, WPARAM key) {
        TMailboxDialog& m = *SetupDialog->MailboxDialog;
        Later inside(30, [&] {
            fill(m);
            PostMessageA(m.OKBtn->Handle(), WM_KEYDOWN, key, 0);
        });
        button->Click();
    }
    // Points mailbox `i` at `server` (named `name`).
    void point(std::size_t i, const std::string& server, const std::string& name = "") {
        form->Settings.Mailboxes.resize(std::max(form->Settings.Mailboxes.size(), i + 1));
        TMailboxSettings& m = form->Settings.Mailboxes[i];
        m.Slot = static_cast<int>(i) + 1;
        m.Server = server;
        m.Name = name;
        m.Security = net::TSecurity::None;
        m.UserName = "anna";
        m.Password = "pw";
        form->ApplySettings();
        watcher(i).Announcer.Store.Folder = seenFolder();
    }
    // Checks every mailbox now, and waits until none is checking.
    void checkAll() {
        for (TMailboxWatcher* w : form->Watchers) w->Handle(TWatchEvent::Tick);
        EXPECT_TRUE(testsupport::PumpUntil([&] {
            for (TMailboxWatcher* w : form->Watchers)
                if (w->State() == TWatchState::Checking) return false;
            return true;
        }));
    }
    testsupport::ShellCalls calls;
    std::unique_ptr<TTrayController> form;
};

HICON resourceIcon(const std::string& name) { return fw::ResourceIcon(GetModuleHandleA(nullptr), name, desktop::TrayIconSize()); }

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

// Stores "name=text" or "name=#number" values, separated by ";", under `key`.
void store(const std::string& values, const std::string& key = SettingsKey) {
    std::istringstream in(values);
    for (std::string v; std::getline(in, v, ';');) {
        const std::string name = v.substr(0, v.find('=')), value = v.substr(name.size() + 1);
        if (value.rfind('#', 0) == 0) testsupport::WriteNumber(key.c_str(), name.c_str(), std::stoul(value.substr(1)));
        if (value.rfind('#', 0) != 0) testsupport::WriteText(key.c_str(), name.c_str(), value);
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
    EXPECT_EQ(menu, "Hide Desktop &Icons|Start Checking &email|Check &Now|&Mark all as seen|&Open Mail|-|&Setup|Check for &Upgrades|&About|-|&Close|");
    // New mail's sound is an event of its own, the system's new-mail sound
    // its default; a sound the user chose stays.
    const std::string apps = "AppEvents\\Schemes\\Apps\\", event = apps + desktop::SoundApplicationName() + "\\TidemarkNewMail\\.Current";
    testsupport::WriteText((apps + ".Default\\MailBeep\\.Current").c_str(), "", "%SystemRoot%\\media\\mail.wav");
    RegDeleteTreeA(HKEY_CURRENT_USER, (apps + desktop::SoundApplicationName()).c_str());
    desktop::RegisterNewMailSound();
    std::string sound = testsupport::ReadValue(event.c_str(), "");
    testsupport::WriteText(event.c_str(), "", "C:\\chime.wav");
    desktop::RegisterNewMailSound();
    EXPECT_EQ(testsupport::ReadValue("AppEvents\\EventLabels\\TidemarkNewMail", "") + "|" + sound + "|" + testsupport::ReadValue(event.c_str(), ""),
              "New Mail|C:\\windows\\media\\mail.wav|C:\\chime.wav");
    ASSERT_EQ(calls.at(0).message, static_cast<DWORD>(NIM_ADD));
    ICONINFO info{};
    EXPECT_TRUE(GetIconInfo(calls[0].data.hIcon, &info)) << "the first image went with its source";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(Controller, AClickOrTheMenuItemTogglesTheDesktopIconsAndTheMailSwitchTheChecks) {
    auto desk = testsupport::ProgramManager(true);
    mouse(NIN_SELECT);
    EXPECT_EQ(std::to_string(IsWindowVisible(desk.get())) + seen(), "0Show Desktop &Icons|Start Checking &email|Show Desktop Icons|");
    command(form->DesktopIconsItem);
    EXPECT_EQ(std::to_string(IsWindowVisible(desk.get())) + seen(), "1Hide Desktop &Icons|Start Checking &email|Hide Desktop Icons|");
    desk.reset();
    mouse(NIN_SELECT);  // without the desktop window the switch still flips
    // Starting checks every mailbox at once; Check Now is greyed while
    // checking is off or a check runs, and checks every mailbox again.
    form->Settings.Mailboxes.clear();
    form->ApplySettings();
    form->MakeRunner = [] { return std::make_unique<FakeRunner>(); };
    form->Settings.Mailboxes.resize(2);
    form->Settings.Mailboxes[0].Name = "A";
    form->Settings.Mailboxes[1].Name = "B";
    form->ApplySettings();
    auto state = [&] {
        std::string out = GetMenuState(form->TrayMenu->Handle(), form->CheckNowItem->Command(), MF_BYCOMMAND) & MF_GRAYED ? "grey" : "now";
        for (TMailboxWatcher* w : form->Watchers) out += " " + std::to_string(dynamic_cast<FakeRunner&>(w->Runner()).started);
        return out;
    };
    const std::string off = state();
    command(form->CheckMailItem);
    EXPECT_EQ(off + "|" + state() + "|" + seen(), "grey 0 0|grey 1 1|Show Desktop &Icons|Stop Checking &email|Show Desktop Icons\nA\nB|");
    for (TMailboxWatcher* w : form->Watchers) w->Handle(TWatchEvent::CheckDone);
    const std::string idle = state();
    command(form->CheckNowItem);
    EXPECT_EQ(idle + "|" + state(), "now 1 1|grey 2 2");
    for (TMailboxWatcher* w : form->Watchers) w->Handle(TWatchEvent::CheckDone);
    command(form->CheckMailItem);
    command(form->CheckNowItem);
    EXPECT_EQ(state() + "|" + seen(), "grey 2 2|Show Desktop &Icons|Start Checking &email|Show Desktop Icons\nA (No messages)\nB (No messages)|");
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

// Setup lists the mailboxes; Edit and Add open one's fields; Escape on the
// list keeps everything as it was, Enter applies and stores it; Remove, and
// a 17th mailbox refused with a reason.
TEST_F(Controller, SetupListsTheMailboxesEditsAddsRemovesAndStoresThemAtOK) {
    TSetupDialog& d = *SetupDialog;
    TMailboxDialog& m = *d.MailboxDialog;
    std::string texts = d.Caption();
    for (fw::TControl* c : std::initializer_list<fw::TControl*>{d.TitleLabel, d.AddBtn, d.EditBtn, d.RemoveBtn, d.HideCheckBox,
                                                                d.StartAtLogonCheckBox, d.OKBtn, d.CancelBtn})
        texts += "|" + c->Caption();
    texts += "|" + m.Caption();
    for (fw::TControl* c : std::initializer_list<fw::TControl*>{m.NameLabel, m.ProtocolLabel, m.ServerLabel, m.SecurityLabel, m.UserNameLabel, m.SignInLabel,
                                                                m.EndpointsLabel, m.PasswordLabel, m.AccountRowLabel, m.SignInBtn, m.AccountLabel, m.IntervalLabel, m.AnnounceCheckBox})
        texts += "|" + c->Caption();
    EXPECT_EQ(texts,
              "Vesk Setup|Vesk Agent Mailbox Setup|&Add...|&Edit...|&Remove|Hide icons on startup|Start Tidemark when I log on|OK|"
              "Cancel|Mailbox|Name|Protocol|POP3 Mail Server|Security|Username|Sign in|Endpoints from the registry|Password|Account|Sign in...|Not "
              "signed in|Poll Interval (secs)|Announce new mail");
    int low = 0, high = 0;
    SendMessageA(m.IntervalUpDown->Handle(), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(std::to_string(low) + ".." + std::to_string(high), "1..10000");
    std::string shown;
    std::vector<HWND> tabs;
    auto tabOrder = [&](fw::TForm& f, fw::TControl* first) {
        std::vector<HWND> order;
        for (HWND h = first->Handle(); order.size() < 14 && (order.empty() || h != first->Handle()); h = GetNextDlgTabItem(f.Handle(), h, FALSE))
            order.push_back(h);
        tabs.insert(tabs.end(), order.begin(), order.end());
        // Each field's label comes just before it, where screen readers look for its name.
        for (fw::TControl* c : f.Controls())
            if (c->Label && GetWindow(c->Handle(), GW_HWNDPREV) != c->Label->Handle()) shown += "unnamed field|";
    };
    auto read = [&](TMailboxDialog& m) {
        shown += m.NameEdit->Text() + "|" + m.ServerEdit->Text() + "|" + m.SecurityCombo->Text() + "|" + m.UserNameEdit->Text() + "|" +
                 m.PasswordEdit->Text() + "|" + m.IntervalEdit->Text() + (m.AnnounceCheckBox->Checked() ? "|announce; " : "|; ");
    };
    auto list = [&] {
        std::string lines;
        for (int i = 0; i < d.MailboxList->Count(); ++i) {
            char line[256] = {};
            SendMessageA(d.MailboxList->Handle(), LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
            lines += std::string(line) + ";";
        }
        return lines;
    };
    setup([&](TSetupDialog&) {
        tabOrder(d, d.OKBtn);
        shown += GetFocus() == d.OKBtn->Handle() ? "" : "not on OK|";
        fields(
            d.EditBtn, [&](TMailboxDialog& m) {
                read(m);
                tabOrder(m, m.OKBtn);
                m.ServerEdit->SetText("typed"), m.UserNameEdit->SetText("u");
            },
            VK_RETURN);
        command(form->SetupItem);  // chosen again while open: what was typed stays
        shown += list();
    },
          VK_ESCAPE);
    EXPECT_EQ(shown + testsupport::ReadValue(MailboxKey(1).c_str(), "server") + form->Settings.Mailboxes[0].Server, "||TLS|||60|announce; \ttyped\tu\tPOP3;");
    EXPECT_EQ(tabs, (std::vector<HWND>{d.OKBtn->Handle(), d.CancelBtn->Handle(), d.MailboxList->Handle(), d.AddBtn->Handle(), d.EditBtn->Handle(),
                                       d.RemoveBtn->Handle(), d.HideCheckBox->Handle(), d.StartAtLogonCheckBox->Handle(), d.PlaySoundCheckBox->Handle(), m.OKBtn->Handle(),
                                       m.CancelBtn->Handle(), m.NameEdit->Handle(), m.ProtocolCombo->Handle(), m.ServerEdit->Handle(), m.SecurityCombo->Handle(),
                                       m.UserNameEdit->Handle(), m.SignInCombo->Handle(), m.PasswordEdit->Handle(), m.IntervalEdit->Handle(), m.IntervalUpDown->Handle(),
                                       m.AnnounceCheckBox->Handle(), m.WebMailEdit->Handle()}));
    shown.clear();
    setup([&](TSetupDialog&) {
        fields(
            d.EditBtn, [](TMailboxDialog& m) {
                m.NameEdit->SetText("Home");
                m.ServerEdit->SetText("pop.example.org:1110");
                m.SecurityCombo->SetItemIndex(SecurityIndex(net::TSecurity::None));
                m.UserNameEdit->SetText("anna");
                m.PasswordEdit->SetText("s3cret pass");
                m.IntervalEdit->SetText(" 30 ");
                m.AnnounceCheckBox->SetChecked(false);
            },
            VK_RETURN);
        fields(
            d.AddBtn, [&](TMailboxDialog& m) {
                read(m);
                m.NameEdit->SetText("Work"), m.ServerEdit->SetText("pop.work.example"), m.UserNameEdit->SetText("bo");
            },
            VK_RETURN);
        d.HideCheckBox->SetChecked(true);
    },
          VK_RETURN);
    std::string stored;
    for (const char* name : {"name", "server", "username", "interval", "announce"}) stored += testsupport::ReadValue(MailboxKey(1).c_str(), name) + "|";
    EXPECT_EQ(shown + stored + testsupport::ReadValue(MailboxKey(2).c_str(), "name") + testsupport::ReadValue(SettingsKey, "hideonstart") +
                  std::to_string(form->Watchers.size()) + std::to_string(watcher().PollTimer->Interval()),
              "||TLS|||60|announce; Home|pop.example.org:1110|anna|30|#0|Work#1230000");
    shown.clear();
    setup([&](TSetupDialog&) {
        fields(d.EditBtn, read, VK_ESCAPE);
        d.RemoveBtn->Click();
        std::vector<TMailboxSettings> many(15, form->Settings.Mailboxes[1]);
        d.SetMailboxes(many);
        fields(
            d.AddBtn, [](TMailboxDialog& m) { m.ServerEdit->SetText("s16"), m.UserNameEdit->SetText("u"); }, VK_RETURN);
        Later refused(100, [&] { if (m.Visible()) shown += "opened|", m.CancelBtn->Click(); });
        d.AddBtn->Click();  // the 17th: refused, and nothing opens
        shown += std::to_string(d.MailboxList->Count()) + "|" + d.ProblemLabel->Text() + (m.Visible() ? "|open" : "");
        RedrawWindow(d.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        testsupport::SaveShot(d.Handle(), "setup-17th-refused");
    },
          VK_RETURN);
    EXPECT_EQ(shown, "Home|pop.example.org:1110|None|anna|s3cret pass|30|; 16|Tidemark watches at most 16 mailboxes. Remove one before you add another.");
    EXPECT_EQ(std::to_string(form->Watchers.size()) + testsupport::ReadValue(MailboxKey(16).c_str(), "server"), "16s16");
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
        TMailboxSettings& m = f.Settings.Mailboxes[0];
        m.Server = m.UserName = m.Password = "mem";
        m.IntervalMs = 20000;
        auto state = [&] {
            const TMailboxSettings& m = f.Settings.Mailboxes.at(0);
            return m.Server + "|" + m.UserName + "|" + m.Password + "|" + std::to_string(watcher().PollTimer->Interval()) +
                   (f.Settings.HideOnStart ? "|hide|" : "||") + (Boxes().empty() ? "" : Boxes()[0].first) +
                   (f.DesktopVisible ? "" : "|icons hidden") + (watcher().Announcer.Announce ? "" : "|quiet");
        };
        f.Show();
        EXPECT_EQ(state(), afterShow) << stored;
        Boxes().clear();
        f.Settings.Mailboxes.at(0).Announce = true;
        tick();
        tick();
        EXPECT_EQ(state(), afterTicks) << stored;
    }
    // A failing first-tick load is reported once and tried again until it works.
    TearDown();
    SetUp();
    store("server=#7", MailboxKey(1));
    for (int i = 0; i < 3; ++i) tick();
    store("server=fixed", MailboxKey(1));
    tick();
    EXPECT_EQ(form->Settings.Mailboxes.at(0).Server + "|" + std::to_string(Boxes().size()), "fixed|1");
    // Several mailboxes: each its own key and certificates; one taken out leaves the others' keys alone.
    removeSettings();
    store("server=old;username=u;trusted_certificate old=AB");
    EXPECT_TRUE(MoveSingleMailbox());
    // The old values stay for an older version; a second start moves nothing.
    store("username=v");
    EXPECT_FALSE(MoveSingleMailbox());
    EXPECT_EQ(testsupport::ReadValue(MailboxKey(1).c_str(), "trusted_certificate old") + testsupport::ReadValue(MailboxKey(1).c_str(), "username"), "ABu");
    TSettings settings;
    LoadSettings(settings, TLoadMoment::OnFirstTick);
    for (const char* name : {"Home", "Work"}) settings.Mailboxes.push_back(TMailboxSettings{}), settings.Mailboxes.back().Name = name;
    settings.Mailboxes.erase(settings.Mailboxes.begin());
    SaveSettings(settings);
    TSettings back;
    LoadSettings(back, TLoadMoment::OnShow);
    std::string list;
    for (const TMailboxSettings& m : back.Mailboxes) list += std::to_string(m.Slot) + m.Title() + "|";
    EXPECT_EQ(list + testsupport::ReadValue(MailboxKey(1).c_str(), "trusted_certificate old"), "1Home|2Work|");
    // The protocol and sign-in come back as saved, the token never stored plain, nothing where none is kept;
    // texts in any letter case; one that names none (or a token that cannot be opened) is told, the rest read.
    TMailboxSettings& o = settings.Mailboxes[1];
    o.Protocol = TProtocol::Imap, o.SignIn = TSignIn::Other, o.Account = "a@x", o.RefreshToken = "old", o.ClientId = "c", o.AuthorizationUrl = "u1", o.TokenUrl = "u2", o.Scope = "s";
    SaveSettings(settings);
    SaveRefreshToken(o.Slot, "rt");  // the provider's renewed one, stored alone
    LoadSettings(back, TLoadMoment::OnShow);
    const TMailboxSettings& w = back.Mailboxes.at(1);
    EXPECT_EQ(std::to_string(static_cast<int>(w.Protocol)) + std::to_string(static_cast<int>(w.SignIn)) + w.Account + w.RefreshToken + w.ClientId + w.AuthorizationUrl + w.TokenUrl + w.Scope +
                  testsupport::ReadValue(MailboxKey(1).c_str(), "refresh_token_protected") + (testsupport::ReadValue(MailboxKey(2).c_str(), "refresh_token_protected").find("rt") + 1 ? "plain" : ""),
              "13a@xrtcu1u2s");
    net::TSecurity security = net::TSecurity::None;
    EXPECT_TRUE(SecurityFromText("", "imap.example.org:993", security) && security == net::TSecurity::Tls) << "a key without security";
    for (const char* bad : {"protocol=SMTP;signin=Google", "protocol=IMAP;signin=sso", "signin=MICROSOFT"}) {
        store(bad, MailboxKey(2));
        if (bad[0] == 's') testsupport::WriteValue(MailboxKey(2).c_str(), "refresh_token_protected", REG_BINARY, "damaged", 7);
        try {
            LoadSettings(back, TLoadMoment::OnShow);
        } catch (const fw::Exception& e) {
            list += e.Message + "|";
        }
        list += std::to_string(static_cast<int>(back.Mailboxes.at(1).Protocol)) + std::to_string(static_cast<int>(back.Mailboxes.at(1).SignIn)) + back.Mailboxes.at(1).Account + back.Mailboxes.at(1).RefreshToken + "; ";
    }
    EXPECT_EQ(list,
              "1Home|2Work|The saved protocol 'SMTP' is not pop3 or imap; POP3 is used until Setup saves another|02a@xrt; The saved sign-in 'sso' is not password, microsoft, "
              "google or other; the password is used until Setup saves another|10a@xrt; The saved sign-in of Work cannot be read here (it was saved by another user or "
              "on another computer). Please sign in again in Setup|11a@x; ");
}

// The count and the notice of a real server's check, through the mailbox's
// thread; a failure that needs the user switches checking off with one box.
TEST_F(Controller, TheTooltipTellsTheCountAfterTheStatusTextAndAFailureSwitchesCheckingOff) {
    std::string sounds, opened;
    desktop::SetSoundSeam([&](const std::string& alias) { sounds += alias + " "; });
    desktop::SetOpenMailSeam([&](const std::string& address) { opened += "[" + address + "]"; });
    const HICON plain = calls.back().data.hIcon;
    ScriptedServer one(mailbox(1, 0, "+OK\\r\\n1 u1\\r\\n."));
    point(0, one.Address());
    // The ids seen by an earlier run: none, so the message is news.
    watcher().Announcer.Store.Save(mail::MailboxName(one.Address(), "anna"), mail::TSeenIds{true, {}});
    command(form->CheckMailItem);
    checkAll();
    EXPECT_EQ(seen() + "|" + one.Received(), "Hide Desktop &Icons|Stop Checking &email|Tidemark: 1 message|polling|" + one.Expected());
    EXPECT_EQ(calls.balloons, std::vector<std::string>{"New mail|m"});
    // The count on the icon and the sound, once; the notice's click opens
    // the mail and clears the count, as Mark all as seen and Open Mail do.
    EXPECT_EQ(sounds + std::to_string(form->NewCount) + std::to_string(calls.back().data.hIcon != plain), "TidemarkNewMail 11");
    form->TrayIcon->OnBalloonClick(nullptr);  // the notice stays unseen for what follows
    std::string after = opened + std::to_string(form->NewCount) + std::to_string(calls.back().data.hIcon == plain);
    for (fw::TMenuItem* item : {form->MarkSeenItem, form->OpenMailItem}) {
        watcher().OnNewMail(watcher(), 12);
        form->Settings.Mailboxes[0].WebMail = "https://mail.example.org/";
        form->ApplySettings();
        after += std::to_string(calls.back().data.hIcon != plain);
        command(item);
        after += std::to_string(form->NewCount) + std::to_string(calls.back().data.hIcon == plain);
    }
    EXPECT_EQ(after + opened, "[]01101101[][https://mail.example.org/]");
    mouse(NIN_SELECT);
    ScriptedServer none(mailbox(0));
    point(0, none.Address());
    checkAll();
    EXPECT_EQ(seen(), "Show Desktop &Icons|Stop Checking &email|Show Desktop Icons (No messages)|polling");
    // A seen-id list that cannot be stored is told by a notice, never a box
    // that would hold up the checks, and only once the new-mail notice is over.
    for (auto [waitMs, id] : {std::pair<std::uint64_t, std::string>{60000, "u2"}, {0, "u3"}}) {  // u1's notice waits, then it is over
        form->TrayIcon->UnreportedBalloonMs = waitMs;
        ScriptedServer other(mailbox(1, 0, "+OK\\r\\n1 " + id + "\\r\\n."));
        point(0, other.Address());
        watcher().Announcer.Store.Folder = testsupport::SourcePath("README.md");  // a file: no folder there
        checkAll();
        ASSERT_EQ(calls.balloons.size(), waitMs ? 1u : 2u);
    }
    EXPECT_EQ(calls.balloons[1].substr(0, 50), "Tidemark|Cannot save the list of seen messages in ");
    form->Settings.Mailboxes[0].UserName = "";
    form->ApplySettings();
    checkAll();
    EXPECT_EQ(seen(), "Show Desktop &Icons|Start Checking &email|Show Desktop Icons (1 message)||UserName property is required.");
    EXPECT_EQ(Boxes()[0].second, "Tidemark");
    command(form->CheckMailItem);  // the switch turns checking on again, and checks at once
    EXPECT_EQ(seen() + std::to_string(watcher().State() == TWatchState::Checking), "Show Desktop &Icons|Stop Checking &email|Show Desktop Icons (1 message)||UserName property is required.1");
    // A mailbox taken out in the middle of a check: its thread ends, and its quit never ends the program.
    ScriptedServer silent;
    point(0, silent.Address());
    watcher().Handle(TWatchEvent::Tick);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return silent.Accepted(); }));
    form->Settings.Mailboxes.clear();
    form->ApplySettings();
    EXPECT_FALSE(fw::Application->Terminated());
}

// A server whose certificate differs from the one trusted: the question says
// so first, No is its default, and after No no second box repeats it.
TEST_F(Controller, AChangedCertificateIsAskedAboutOnceAndNoEndsTheChecks) {
    const std::string server = "127.0.0.2:" + testsupport::dovecot::FirstLine("tls_port", true);
    testsupport::WriteText(MailboxKey(1).c_str(), TrustedCertificateValue(server).c_str(), "AB:CD");
    point(0, server);
    form->Settings.Mailboxes[0].Security = net::TSecurity::Tls;
    form->ApplySettings();
    command(form->CheckMailItem);
    char question[1024] = {};
    int focus = 0;
    fw::TTimer answer(nullptr);
    answer.SetInterval(50);
    answer.SetOnTimer([&](fw::TObject*) {
        char text[sizeof question] = {};  // a failed read empties its buffer: only a question is kept
        if (!GetDlgItemTextA(GetActiveWindow(), 0xFFFF, text, sizeof text)) return;
        std::memcpy(question, text, sizeof text);
        focus = GetDlgCtrlID(GetFocus());
        testsupport::SaveShot(GetActiveWindow(), "trust-question-changed");
        PostMessageA(GetActiveWindow(), WM_COMMAND, IDNO, 0);
    });
    checkAll();
    EXPECT_EQ(std::string(question).rfind("The certificate of " + server + " has changed since you trusted it. The server's", 0), 0u) << question;
    EXPECT_EQ(std::to_string(focus) + seen() + "|" + std::to_string(Boxes().size()) + " boxes", "7Hide Desktop &Icons|Start Checking &email|||0 boxes");
}

// An IMAP mailbox idles after its check, no poll timer running: a message
// delivered then is announced at once, a read one never counts, and
// switching checking off closes the idling connection.
TEST_F(Controller, AnImapMailboxIdlesAndAnnouncesADeliveryAtOnce) {
    namespace dovecot = testsupport::dovecot;
    ASSERT_TRUE(dovecot::Deliver("dora", "Subject: read\r\n\r\n.\r\n", true, true));
    form->MakeRunner = [] {
        auto runner = MakeThreadCheckRunner();
        runner->TimeOut = 2, runner->IdleRenewalMs = 300;  // renewed a few times while the test waits
        return runner;
    };
    point(0, "127.0.0.1:" + dovecot::FirstLine("imap_port", true));
    form->Settings.Mailboxes[0].Protocol = TProtocol::Imap;
    form->Settings.Mailboxes[0].UserName = "dora", form->Settings.Mailboxes[0].Password = "deep";
    form->ApplySettings();
    watcher().Announcer.Store.Folder = seenFolder();
    command(form->CheckMailItem);
    checkAll();
    EXPECT_EQ(std::to_string(static_cast<int>(watcher().State())) + seen(), "3Hide Desktop &Icons|Stop Checking &email|Tidemark: no messages|");
    ASSERT_TRUE(dovecot::Deliver("dora", "From: Harbour <hm@example.org>\r\nSubject: Spring tide\r\n\r\n.\r\n", true));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !calls.balloons.empty(); }, 5000));
    testsupport::PumpUntil([] { return false; }, 1000);
    mouse(NIN_BALLOONSHOW), mouse(NIN_BALLOONTIMEOUT);
    ASSERT_TRUE(dovecot::Deliver("dora", "From: Harbour <hm@example.org>\r\nSubject: Neap tide\r\n\r\n.\r\n", true));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return calls.balloons.size() == 2; }, 5000));
    EXPECT_EQ(calls.balloons, (std::vector<std::string>{"New mail|Harbour: Spring tide", "New mail|Harbour: Neap tide"}));
    EXPECT_EQ(form->TrayIcon->ToolTip(), "Tidemark: 2 messages");
    command(form->CheckMailItem);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return std::regex_search(dovecot::Log(true), std::regex("imap\\(dora\\)[^\n]*Disconnected")); }, 5000)) << dovecot::Log(true);
    EXPECT_EQ(watcher().State(), TWatchState::Off);
}

// Two mailboxes, one on a server that never answers: the other's count and
// notice come at once, each line of the tooltip names its mailbox, and the
// silent one waits out its own time-out alone; Close then ends both at once.
TEST_F(Controller, AMailboxWhoseServerHangsDelaysNoOtherAndCloseEndsEveryCheck) {
    auto desk = testsupport::ProgramManager(true);
    mouse(NIN_SELECT);
    ScriptedServer silent, answering(mailbox(1, 0, "+OK\\r\\n1 u1\\r\\n."));
    point(0, silent.Address(), "Silent");
    point(1, answering.Address(), "Harbour");
    watcher(1).Announcer.Store.Save(mail::MailboxName(answering.Address(), "anna"), mail::TSeenIds{true, {}});
    command(form->CheckMailItem);
    const ULONGLONG start = GetTickCount64();
    for (TMailboxWatcher* w : form->Watchers) w->Handle(TWatchEvent::Tick);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !calls.balloons.empty(); }));
    EXPECT_LT(GetTickCount64() - start, 1500u) << "the answering mailbox waited on the silent one";
    EXPECT_EQ(form->TrayIcon->ToolTip() + "|" + calls.balloons[0], "Show Desktop Icons\nSilent\nHarbour (1 message)|Harbour: New mail|m");
    EXPECT_EQ(watcher(0).State(), TWatchState::Checking);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return watcher(0).State() != TWatchState::Checking; }));
    EXPECT_EQ(form->TrayIcon->ToolTip(), "Show Desktop Icons\nSilent (retrying)\nHarbour (1 message)");
    form->Settings.Mailboxes[1].Name = std::string(130, 'x');
    form->ApplySettings();
    EXPECT_EQ(form->TrayIcon->ToolTip(), "Show Desktop Icons\nSilent (retrying)\n" + std::string(124 - 37, 'x') + "...");
    // A failure that needs the user names its mailbox and switches only that one off.
    form->Settings.Mailboxes[0].UserName = "";
    form->ApplySettings();
    watcher(0).Handle(TWatchEvent::Tick);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return watcher(0).State() != TWatchState::Checking; }));
    EXPECT_EQ(Boxes().at(0).first + (watcher(1).On() ? "" : " (both off)"), "Silent: UserName property is required.");
    Boxes().clear();
    // Taken out of the list, a mailbox takes its state with it; the other keeps its own.
    form->Settings.Mailboxes.erase(form->Settings.Mailboxes.begin());
    form->ApplySettings();
    EXPECT_EQ(form->TrayIcon->ToolTip(), "Show Desktop Icons (1 message)");
    // Close during a check cancels it without a word and brings the icons back at once.
    fw::Application->SetMainForm(form.get());
    for (TMailboxWatcher* w : form->Watchers) w->Handle(TWatchEvent::Tick);
    Later close(150, [&] { command(form->CloseItem); });
    EXPECT_TRUE(testsupport::PumpUntil([&] { return fw::Application->Terminated(); }));
    const ULONGLONG closed = GetTickCount64();
    EXPECT_TRUE(IsWindowVisible(desk.get()));
    form.reset();
    EXPECT_LT(GetTickCount64() - closed, 1000u) << "a check ran on to its 2 s time-out";
    EXPECT_TRUE(Boxes().empty());
    fw::Application->SetMainForm(nullptr);
    fw::Application->ClearTerminated();
}

// One mailbox's rules: each row is a run of events from a new watcher
// (checking of a 300 s interval, nothing modal), and what follows: the
// state, the timers, checks started/cancelled, the tooltip texts, the boxes
// and warnings. "ok", "pass" and "user" end the check as a good one, one
// that fails for a passing reason, and one that needs the user.
TEST(Watcher, EachEventInEachStateAndWhatFollows) {
    const std::pair<const char*, const char*> table[] = {
        {"", "Off|||0/0|"},
        {"on", "Idle|poll 300000||0/0|"},
        {"on tick", "Checking|||1/0|"},
        {"on tick tick", "Checking|||1/0|"},
        {"on tick ok", "Idle|poll 300000||1/0|Tidemark: no messages"},
        {"on tick off ok", "Off|||1/0|Tidemark: no messages"},
        {"on tick off on ok", "Idle|poll 300000||1/0|Tidemark: no messages"},
        {"on tick off user", "Off|||1/0||box -ERR [AUTH] no"},
        {"off tick", "Off|||0/0|"},
        {"on tick pass", "WaitingToRetry||retry 30000|1/0|Tidemark: mail server unreachable, retrying|warn"},
        {"on tick pass tick pass tick pass tick pass tick pass", "WaitingToRetry||retry 300000|5/0|Tidemark: mail server unreachable, retrying|warn"},
        {"on tick pass tick pass tick pass", "WaitingToRetry||retry 120000|3/0|Tidemark: mail server unreachable, retrying|warn"},
        {"on tick pass tick ok", "Idle|poll 300000||2/0|Tidemark: no messages|warn"},
        {"on tick pass tick ok tick pass", "WaitingToRetry||retry 30000|3/0|Tidemark: mail server unreachable, retrying|warn|warn"},
        {"on tick pass off", "Off|||1/0||warn"},
        {"on tick off pass", "Off|||1/0|"},
        {"on tick pass tick user", "Off|||2/0||warn|box -ERR [AUTH] no"},
        {"on modal tick", "WaitingForModal|||0/0|"},
        {"on modal tick unmodal", "Checking|||1/0|"},
        {"on modal tick off unmodal", "Off|||0/0|"},
        {"on tick sleep", "Suspended||retry 10000|1/1|"},
        {"off sleep", "Suspended|||0/0|"},
        {"on tick sleep ok", "Suspended||retry 10000|1/1|"},
        {"on tick sleep tick", "Checking|||2/1|"},
        {"on tick sleep wake", "WaitingToRetry||retry 5000|1/1|"},
        {"on tick sleep wake wake tick pass", "WaitingToRetry||retry 10000|2/1|Tidemark: mail server unreachable, retrying|warn"},
        {"on tick wake", "Checking|||1/0|"},
        {"off sleep wake", "Off|||0/0|"},
        {"on tick pass addr", "WaitingToRetry||retry 1000|1/0|Tidemark: mail server unreachable, retrying|warn"},
        {"on addr", "Idle|poll 300000||0/0|"},
        {"on tick addr", "Checking|||1/0|"},
        {"on tick close", "Closing|||1/1|"},
        {"on tick close ok tick on", "Closing|||1/1|"},
        {"on tick server", "Idle|poll 300000||1/1|"},
        {"on tick ok push", "Idle|poll 300000||1/0|Tidemark: no messages"},
        {"imap on tick ok push", "Listening|||1/0|Tidemark: 3 messages"},
        {"imap on tick ok tick", "Checking|||2/0|Tidemark: 3 messages"},
        {"imap on tick ok pushpass", "WaitingToRetry||retry 30000|1/0|Tidemark: mail server unreachable, retrying|warn"},
        {"imap on tick ok off", "Off|||1/1|Tidemark: 3 messages"},
        {"imap on tick off ok", "Off|||1/1|Tidemark: 3 messages"},
        {"imap on tick ok sleep", "Suspended||retry 10000|1/1|Tidemark: 3 messages"},
        {"imap on tick ok addr", "WaitingToRetry||retry 1000|1/1|Tidemark: 3 messages"},
        {"imap on tick ok server", "Checking|||2/1|Tidemark: 3 messages"},
        {"imap on tick ok close", "Closing|||1/1|Tidemark: 3 messages"},
        {"on tick renew pass", "WaitingToRetry||retry 30000|1/0|Tidemark: mail server unreachable, retrying|token r2|warn"},
        {"imap on alert tick ok tick ok", "Listening|||2/0|Tidemark: 3 messages|alert"},
    };
    const char* states[] = {"Off", "Idle", "Checking", "Listening", "WaitingToRetry", "WaitingForModal", "Suspended", "Closing"};
    for (const auto& [events, expected] : table) {
        desktop::TTrayIcon tray(nullptr);
        auto fake = std::make_unique<FakeRunner>();
        FakeRunner& runner = *fake;
        runner.box.MessageCount = 2;
        runner.result.UnseenCount = 3;
        TMailboxWatcher w(nullptr, std::move(fake), tray);
        w.Announcer.Store.Folder = seenFolder();
        TMailboxSettings settings;
        settings.IntervalMs = 300000;
        w.SetSettings(settings);
        w.BalloonAfterMs = 0;
        std::string told;
        w.OnFailure = [&](TMailboxWatcher&, std::exception_ptr failure) { told += "|box " + testsupport::MessageOf([&] { std::rethrow_exception(failure); }); };
        w.OnRefreshToken = [&](TMailboxWatcher& m) { told += "|token " + m.Settings().RefreshToken; };
        w.OnWarning = [&](TMailboxWatcher&, const std::string& text) {
            if (text == "The mail server says: Quota nearly full") return void(told += "|alert");
            EXPECT_TRUE(std::regex_match(text, std::regex(R"(Mail could not be checked since \d\d:\d\d \(\[10061\] Connection refused\)\. Tidemark keeps trying\.)"))) << text;
            told += "|warn";
        };
        std::istringstream in(events);
        for (std::string e; in >> e;) {
            if (e == "on" || e == "off") w.Handle(e == "on" ? TWatchEvent::SwitchOn : TWatchEvent::SwitchOff);
            if (e == "imap") w.SetSettings([&] { settings.Protocol = TProtocol::Imap; return settings; }());
            runner.listening = settings.Protocol == TProtocol::Imap;
            if (e == "push") w.Handle(TWatchEvent::Pushed);
            if (e == "alert") runner.result.Alerts = {"Quota nearly full"};
            if (e == "renew") runner.renewed = "r2";
            if (e == "pushpass") w.Handle(TWatchEvent::Pushed, std::make_exception_ptr(net::ESocketError("[10061] Connection refused", 10061)));
            if (e == "tick") w.Handle(TWatchEvent::Tick);
            if (e == "ok") w.Handle(TWatchEvent::CheckDone);
            if (e == "pass") w.Handle(TWatchEvent::CheckDone, std::make_exception_ptr(net::ESocketError("[10061] Connection refused", 10061)));
            if (e == "user") w.Handle(TWatchEvent::CheckDone, std::make_exception_ptr(net::EServerError("-ERR [AUTH] no")));
            if (e == "modal") fw::Application->BeginModal();
            if (e == "unmodal") {
                fw::Application->EndModal();
                w.Handle(TWatchEvent::ModalClosed);
            }
            if (e == "sleep" || e == "wake") w.Handle(e == "sleep" ? TWatchEvent::Suspend : TWatchEvent::Resume);
            if (e == "addr") w.Handle(TWatchEvent::AddressChanged);
            if (e == "close") w.Handle(TWatchEvent::Close);
            if (e == "server") w.SetSettings([&] { settings.Server = "other"; return settings; }());
        }
        const std::string seen = std::string(states[static_cast<int>(w.State())]) +
                                 (w.PollTimer->Enabled() ? "|poll " + std::to_string(w.PollTimer->Interval()) : "|") +
                                 (w.RetryTimer->Enabled() ? "|retry " + std::to_string(w.RetryTimer->Interval()) : "|") + "|" +
                                 std::to_string(runner.started) + "/" + std::to_string(runner.canceled) + "|" + (w.Counted() ? MessageCountToolTip("", w.InfoCount(), w.MessageCount()) : "") +
                                 w.RetryText() + told;
        EXPECT_EQ(seen, expected) << events;
        while (fw::Application->ModalCount() > 0) fw::Application->EndModal();
    }
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
    } checks[] = {{"a b", false, true}, {"a b c", false, true}, {"a b c", false, true}, {"b c d", true, true}, {"b c d e", false, false, {NIN_BALLOONSHOW}}, {"b c d e f", false, true}, {"b c d e f g", false, true, {NIN_BALLOONTIMEOUT}}, {"b c d e f g h i j k", false, true, {NIN_BALLOONSHOW, NIN_BALLOONHIDE}}};
    mail::TPop3Mailbox box(nullptr);
    box.UniqueIdsKnown = true;
    box.CheckedMailbox = mail::MailboxName("pop.example.org", "anna");
    TNewMailAnnouncer announcer;
    // Each notice's sound, but none under quiet hours (the sixth check).
    std::string sounds;
    int number = 0;
    desktop::SetSoundSeam([&](const std::string&) { sounds += std::to_string(number); });
    desktop::SetNotificationStateSeam([&] { return number == 6 ? QUNS_QUIET_TIME : QUNS_ACCEPTS_NOTIFICATIONS; });
    for (const auto& check : checks) {
        ++number;
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
    EXPECT_EQ(sounds, "2478");
    // A list that could not be saved is saved at the next check, changed or not.
    box.UniqueIds = {mail::MessageKey("x", 1)};
    announcer.Store.Folder = testsupport::SourcePath("README.md");  // a file: no folder there
    testsupport::MessageOf([&] { announcer.AfterCheck(box, *form->TrayIcon); });
    announcer.Store.Folder = seenFolder();
    announcer.AfterCheck(box, *form->TrayIcon);
    EXPECT_TRUE(announcer.Store.Load(box.CheckedMailbox).Ids == std::vector{mail::MessageKey("x", 1)});
    // An IMAP mailbox keeps its UID mark across restarts; messages a mark
    // already covers (a check that was given an older one) are not news again.
    TImapResult imap{mail::MailboxName("imap.example.org", "anna"), 0, 9, {true, 7, 10}, {}, {}};
    announcer.AfterCheck(imap, *form->TrayIcon);
    announcer = TNewMailAnnouncer();
    announcer.Store.Folder = seenFolder();
    EXPECT_TRUE(announcer.MarkOf(imap.CheckedMailbox) == imap.Mark);
    imap.NewMessages.resize(2);
    imap.NewMessages[0].Uid = 11, imap.NewMessages[1].Uid = 12;
    imap.NewMessages[1].Info.Headers.Add("Subject: twelve");
    imap.Mark.HighestUid = 12;
    mouse(NIN_BALLOONHIDE);
    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(announcer.AfterCheck(imap, *form->TrayIcon), twice ? 0u : 2u);
    EXPECT_EQ(calls.balloons.back(), "2 new messages|twelve\n(no subject)");
    EXPECT_TRUE(announcer.Store.LoadMark(imap.CheckedMailbox) == imap.Mark);
}
