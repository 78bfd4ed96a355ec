// What the Setup dialog shows and stores (the password protected with
// DPAPI, the security mode, trusted certificates, the logon entry), and how
// every window looks at the prefix's DPI and again at 144 DPI.
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/settings.h"
#include "app/setup_dialog.h"
#include "app/start_at_logon.h"
#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "framework/registry.h"
#include "gtest/gtest.h"
#include "tests/support/helpers.h"

using namespace app;
using testsupport::ReadValue;
using testsupport::WriteText;

namespace {
// The faults of the visible children of `parent`, and of theirs: outside its
// client area (inside the edge a frame draws), over a sibling, or smaller
// than their text needs in their own font (buttons and check boxes measure
// themselves with BCM_GETIDEALSIZE; a list needs room for its choice and arrow).
std::string lookAt(HWND parent, int edge) {
    std::string faults;
    RECT area, both, r, client;
    GetClientRect(parent, &area);
    InflateRect(&area, -edge, -edge);
    std::vector<std::pair<std::string, RECT>> siblings;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = {}, text[256] = {};
        if (!IsWindowVisible(c)) continue;
        GetClassNameA(c, cls, sizeof cls);
        const std::string name(text, GetWindowTextA(c, text, sizeof text));
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        GetClientRect(c, &client);
        HDC dc = GetDC(c);
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(c, WM_GETFONT, 0, 0)));
        auto extent = [&](const char* s) { SIZE e{}; return GetTextExtentPoint32A(dc, s, static_cast<int>(std::strlen(s)), &e), e; };
        SIZE need{0, _stricmp(cls, "Edit") ? 0 : extent("A").cy + 2};
        if (!_stricmp(cls, "Button")) SendMessageA(c, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&need));
        if (!_stricmp(cls, "Static") && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) <= SS_RIGHT) need = extent(text);
        if (!_stricmp(cls, "ComboBox")) need.cx = extent(text).cx + GetSystemMetrics(SM_CXVSCROLL) + 4;
        ReleaseDC(c, dc);
        if (!IntersectRect(&both, &r, &area) || !EqualRect(&both, &r)) faults += name + " outside; ";
        for (const auto& [other, o] : siblings)
            if (IntersectRect(&both, &r, &o)) faults += name + " over " + other + "; ";
        if (need.cx > client.right || need.cy > client.bottom) faults += name + " cut off; ";
        siblings.emplace_back(name, r);
        faults += lookAt(c, 2);
    }
    return faults;
}

// The faults of a shown form; the form as the screen shows it is kept as
// <shot>-<dpi>dpi.bmp in TIDEMARK_ARTIFACTS.
std::string looks(fw::TForm& form, const std::string& shot) {
    RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    testsupport::SaveShot(form.Handle(), shot + "-" + std::to_string(fw::SystemDpi()) + "dpi");
    return lookAt(form.Handle(), 0);
}

class Setup : public testing::Test {
protected:
    void SetUp() override { form->AnimationTimer->SetEnabled(false); }
    void TearDown() override {
        for (const std::string& key : {MailboxKey(1), std::string(SettingsKey) + "\\Mailboxes", std::string(SettingsKey)})
            RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
        RegDeleteKeyValueA(HKEY_CURRENT_USER, RunKey, RunValueName);
    }
    static std::string stored() {
        fw::TRegistry reg;
        return reg.OpenKey(MailboxKey(1), false) ? reg.ReadBinaryData("password_protected") : "";
    }
    testsupport::ShellCalls calls;
    std::unique_ptr<TSetupDialog> dialog{SetupDialog = new TSetupDialog(nullptr)};
    std::unique_ptr<TTrayController> form{new TTrayController(nullptr)};
};
}  // namespace

TEST_F(Setup, AnOldPlainPasswordMovesOverProtectedAndTheSecurityAndTheLogonEntryAreStored) {
    WriteText(SettingsKey, "server", "pop.example.org");
    WriteText(SettingsKey, "password", "old plain");
    WriteText(SettingsKey, "username", "anna");
    form->Show();
    std::string shown, back;
    // Chooses Setup, notes what it shows, sets the security row and the
    // logon box, and closes it with `key`.
    auto setup = [&](net::TSecurity security, bool logon, WPARAM key) {
        testsupport::Later inside(30, [&] {
            TSetupDialog& d = *SetupDialog;
            TMailboxDialog& m = *d.MailboxDialog;
            // The mailbox's fields take Enter; the list's key decides.
            testsupport::Later fields(30, [&] {
                shown += m.PasswordEdit->Text() + "|" + m.SecurityCombo->Text() + (d.StartAtLogonCheckBox->Checked() ? "|logon" : "|") +
                         (SendMessageA(m.PasswordEdit->Handle(), EM_GETPASSWORDCHAR, 0, 0) ? "|hidden; " : "; ");
                m.SecurityCombo->SetItemIndex(SecurityIndex(security));
                PostMessageA(m.OKBtn->Handle(), WM_KEYDOWN, VK_RETURN, 0);
            });
            d.EditBtn->Click();
            d.StartAtLogonCheckBox->SetChecked(logon);
            PostMessageA(d.OKBtn->Handle(), WM_KEYDOWN, key, 0);
        });
        form->SetupItemClick(form.get());
    };
    setup(net::TSecurity::None, true, VK_RETURN);
    EXPECT_EQ(ReadValue(RunKey, RunValueName), "\"" + std::string(_pgmptr) + "\"") << "quoted: the path may hold blanks";
    for (WPARAM key : {VK_ESCAPE, VK_RETURN, VK_ESCAPE}) setup(net::TSecurity::StartTls, false, key);
    EXPECT_EQ(shown, "old plain|None||hidden; old plain|None|logon|hidden; old plain|None|logon|hidden; old plain|STARTTLS||hidden; ");
    EXPECT_TRUE(UnprotectPassword(stored(), back) && back == "old plain" && stored().find(back) == std::string::npos);
    EXPECT_EQ(ReadValue(RunKey, RunValueName) + ReadValue(MailboxKey(1).c_str(), "password") + ReadValue(SettingsKey, "password") +
                  ReadValue(MailboxKey(1).c_str(), "security"),
              "starttls");
}

// The last steps choose IMAP (its port follows) and Google's sign-in, which
// needs a secure connection and a sign-in through the caller's hook.
TEST_F(Setup, OkWithAFieldThatCannotWorkSaysWhyBesideItAndKeepsTheDialogAndTheTextOpen) {
    form->Show();
    // What is typed before each OK; from the second OK on, what the dialog showed before it.
    const struct {
        const char *server, *user, *interval, *web = "";
        int signIn = 0, security = 0;
    } typed[] = {
        {"", "", "abc"}, {"pop.example.org:99999", "", "abc"}, {"pop.example.org", "", "abc"}, {"pop.example.org", "anna", "abc"}, {"pop.example.org", "anna", "0"}, {"pop.example.org:110", "anna", " 15 ", "file:///c:/x"}, {"imap.example.org:995", "anna", " 15 ", "https://mail.example.org/", 2, 2}, {"imap.example.org:993", "anna", " 15 ", "https://mail.example.org/", 2}, {"imap.example.org:993", "anna", " 15 ", "https://mail.example.org/", 2}};
    std::string seen;
    std::vector<std::unique_ptr<testsupport::Later>> steps;
    TMailboxDialog& d = *SetupDialog->MailboxDialog;
    auto choose = [](fw::TComboBox* c, int i) { c->SetItemIndex(i), SendMessageA(GetParent(c->Handle()), WM_COMMAND, MAKEWPARAM(c->Id(), CBN_SELCHANGE), reinterpret_cast<LPARAM>(c->Handle())); };
    d.OnSignIn = [&](HWND owner, TMailboxSettings& box) {
        seen += (owner == d.Handle() ? "signs in " : "not over the dialog ") + box.Server + "; ";
        return box.Account = "anna@example.org", box.RefreshToken = "rt-1", true;
    };
    steps.push_back(std::make_unique<testsupport::Later>(20, [&] { SetupDialog->AddBtn->Click(); }));
    steps.push_back(std::make_unique<testsupport::Later>(580, [&] { d.CancelBtn->Click(), SetupDialog->OKBtn->Click(); }));  // never left open
    for (int i = 0; i < 9; ++i)
        steps.push_back(std::make_unique<testsupport::Later>(40 + 60 * i, [&, i] {
            if (i > 0) seen += d.ProblemLabel->Text() + "|" + d.ServerEdit->Text() + "|" + d.IntervalEdit->Text() + (d.Visible() ? "; " : " closed; ");
            EXPECT_EQ(i == 4 || i == 8 ? looks(d, i == 4 ? "mailbox-problem" : "mailbox-not-signed-in") : "", "") << "the problem beside its field";
            d.ServerEdit->SetText(typed[i].server), d.UserNameEdit->SetText(typed[i].user), d.IntervalEdit->SetText(typed[i].interval);
            d.WebMailEdit->SetText(typed[i].web);
            if (typed[i].signIn) choose(d.ProtocolCombo, 1), choose(d.SignInCombo, typed[i].signIn), choose(d.SecurityCombo, typed[i].security);
            if (i == 8) d.SignInBtn->Click();
            d.OKBtn->Click();
        }));
    form->SetupItemClick(form.get());
    EXPECT_EQ(seen,
              "Enter the server's name (host or host:port).||abc; The port after ':' must be a number from 1 to 65535.|pop.example.org:99999|abc; "
              "Enter the user name.|pop.example.org|abc; Enter a whole number of seconds from 1 to 10000.|pop.example.org|abc; "
              "Enter a whole number of seconds from 1 to 10000.|pop.example.org|0; "
              "Enter a web address that starts with http:// or https://, or nothing.|pop.example.org:110| 15 ; "
              "Choose TLS or STARTTLS: a sign-in token is never sent in plain text.|imap.example.org:993| 15 ; "
              "Press Sign in... to sign in with Google.|imap.example.org:993| 15 ; signs in imap.example.org:993; ");
    std::string token;
    const std::string blob = ReadValue(MailboxKey(1).c_str(), "refresh_token_protected");
    EXPECT_TRUE(UnprotectPassword(blob, token) && token == "rt-1" && blob.find(token) == std::string::npos);
    for (const char* name : {"server", "interval", "webmail", "protocol", "signin", "account"}) token += "|" + ReadValue(MailboxKey(1).c_str(), name);
    EXPECT_EQ(token + std::to_string(form->Watchers.at(0)->PollTimer->Interval()) + d.ProblemLabel->Text(),
              "rt-1|imap.example.org:993|15|https://mail.example.org/|imap|google|anna@example.org15000")
        << "stored; the next show starts without the old problem";
    // A token counts only for the provider that gave it; the password sign-in keeps none.
    seen.clear();
    for (int i : {1, 2, 0}) choose(d.SignInCombo, i), seen += d.AccountLabel->Text() + "|" + d.Read().RefreshToken + (d.PasswordEdit->Visible() ? "|password; " : "; ");
    d.OnSignIn = nullptr, d.SignInClick(), seen += d.ProblemLabel->Text();
    EXPECT_EQ(seen, "Not signed in|; anna@example.org|rt-1; Not signed in||password; Signing in is not available in this build.");
}

TEST_F(Setup, ADamagedProtectedPasswordIsReportedAndTheRestIsReadAndKept) {
    testsupport::WriteValue(SettingsKey, "password_protected", REG_BINARY, "damaged", 7);
    WriteText(SettingsKey, "username", "anna");
    form->Show();
    EXPECT_EQ(form->Settings.Mailboxes.at(0).UserName + "|" + form->Settings.Mailboxes.at(0).Password + "|" + stored(), "anna||damaged");
    EXPECT_EQ(testsupport::Boxes(), (testsupport::BoxList{{"The saved password cannot be read here (it was saved by another user or on "
                                                           "another computer). Please enter the password again in Setup.",
                                                           "Tidemark"}}));
}

TEST_F(Setup, ACertificateTrustedForAServerIsKeptAndAChangedOneAskedAbout) {
    std::string asked;
    auto accept = [&](const char* fingerprint, bool yes) {
        return AcceptCertificate(MailboxKey(1), "mail.lan", {false, true, "Not trusted", fingerprint}, [&](const std::string& q) { return asked += q + "|", yes; });
    };
    EXPECT_TRUE(accept("AB:CD", true) && accept("AB:CD", false) && !accept("EF:01", false)) << "kept; a changed one asked about again";
    EXPECT_EQ(asked,
              "Not trusted.\n\nTrust this certificate for mail.lan? SHA-256 fingerprint: AB:CD|The certificate of mail.lan "
              "has changed since you trusted it. Not trusted.\n\nSHA-256 fingerprint you trusted: AB:CD\nSHA-256 "
              "fingerprint now: EF:01\n\nTrust the new certificate for mail.lan?|");
    EXPECT_EQ(ReadValue(MailboxKey(1).c_str(), "trusted_certificate mail.lan"), "AB:CD");
}

TEST(Looks, TheSetupDialogAndTheAboutBoxInItsThreeUses) {
    EXPECT_TRUE(!std::getenv("TIDEMARK_DPI") || fw::SystemDpi() == 144) << "LogPixels did not reach this run";
    TSetupDialog setup(nullptr);
    std::vector<TMailboxSettings> boxes(3);
    for (int i = 0; i < 3; ++i) boxes[i].Name = "Harbour " + std::to_string(i), boxes[i].Server = "pop.harbour.example.org", boxes[i].UserName = "anna";
    boxes[1].Protocol = TProtocol::Imap;
    setup.SetMailboxes(boxes);
    setup.Show();
    EXPECT_EQ(looks(setup, "setup"), "");
    // STARTTLS, the widest choice; a provider's sign-in with its account, and "Other" not signed in yet.
    boxes[0].Security = net::TSecurity::StartTls;
    boxes[1].SignIn = TSignIn::Microsoft, boxes[1].Account = "anna.lindqvist@harbour.example.org", boxes[1].RefreshToken = "t";
    boxes[2].SignIn = TSignIn::Other;
    std::vector<LONG> tops;  // the sign-in button takes the password's place
    for (auto [box, shot] : {std::pair{0, "mailbox"}, {1, "mailbox-microsoft"}, {2, "mailbox-other"}}) {
        setup.MailboxDialog->Fill(boxes[box]);
        setup.MailboxDialog->Show();
        EXPECT_EQ(looks(*setup.MailboxDialog, shot), "");
        tops.push_back((box ? static_cast<fw::TControl*>(setup.MailboxDialog->SignInBtn) : setup.MailboxDialog->PasswordEdit)->BoundsRect().top);
    }
    EXPECT_EQ(std::count(tops.begin(), tops.end(), tops[0]), 3);
    const std::pair<const char*, int (*)()> uses[] = {
        {"splash", desktop::ShowSplash}, {"about", [] { return desktop::ShowAboutBox(nullptr); }}, {"reminder", [] { return desktop::ShowUpgradeReminder(nullptr); }}};
    for (const auto& [shot, show] : uses) {
        std::string faults = "not shown";
        testsupport::Later inside(100, [&] { faults = looks(*desktop::AboutBox, shot), desktop::CloseAboutBox(); });
        show();
        EXPECT_EQ(faults, "") << shot;
    }
}

// Each Wine process reads the prefix's LogPixels as it starts: a second run
// of this program checks the looks at 144 DPI (its output shows above).
TEST(Looks, AgainAt144Dpi) {
    if (std::getenv("TIDEMARK_DPI")) return;
    const std::string before = ReadValue("Control Panel\\Desktop", "LogPixels");
    testsupport::WriteNumber("Control Panel\\Desktop", "LogPixels", 144);
    _putenv("TIDEMARK_DPI=144");
    // Bounded by the watchdog of the run it starts.
    EXPECT_EQ(_spawnl(_P_WAIT, _pgmptr, "test_setup", "--gtest_filter=Looks.*", "--gtest_color=no", nullptr), 0);
    _putenv("TIDEMARK_DPI=");
    testsupport::WriteNumber("Control Panel\\Desktop", "LogPixels", before.empty() ? 96 : std::stoul(before.substr(1)));
}
