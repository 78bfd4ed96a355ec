// New-mail notices in the program: which messages count as new across checks
// and restarts and the list kept per mailbox, the click on the notice, the
// "Announce new mail" choice in Setup, and the real tidemark.exe telling of a
// message delivered into a Dovecot mailbox.
#include <windows.h>
#include <shellapi.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/new_mail_notice.h"
#include "app/settings.h"
#include "app/setup_dialog.h"
#include "app/tray_controller.h"
#include "framework/application.h"
#include "gtest/gtest.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/raised.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_helpers.h"

namespace {

std::string tempPath(const std::string& name) {
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return dir + name + std::to_string(GetCurrentProcessId());
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The mailbox after a check that found these ids, one message each.
void fill(mail::TPop3Mailbox& box, const std::string& ids) {
    box.UniqueIdsKnown = true;
    box.UniqueIds.clear();
    box.RemoteInfo.Clear();
    std::istringstream in(ids);
    for (std::string id; in >> id;) {
        box.UniqueIds.push_back(id);
        auto item = std::make_unique<mail::TMessageInfo>();
        item->Headers.Add("From: \"Sender " + id + "\" <s@example.org>");
        item->Headers.Add("Subject: =?utf-8?Q?Gr=C3=BC=C3=9Fe_" + id + "?=");
        box.RemoteInfo.Add(std::move(item));
    }
}

void setDefault(const std::string& key, DWORD type, const std::string& value) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), nullptr, type, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

BOOL CALLBACK matchWindow(HWND h, LPARAM lp) {
    auto* found = reinterpret_cast<std::pair<const std::function<bool(HWND)>*, std::vector<HWND>>*>(lp);
    if ((*found->first)(h)) found->second.push_back(h);
    return TRUE;
}

// Top-level windows for which `match` holds.
std::vector<HWND> windows(const std::function<bool(HWND)>& match) {
    std::pair<const std::function<bool(HWND)>*, std::vector<HWND>> found{&match, {}};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&found));
    return found.second;
}

// What the screen shows within `r` (Wine leaves the frames of captioned
// windows to a window manager, which Xvfb has not).
bool saveScreen(const std::string& file, RECT r) {
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&r, &r, &screen);
    return testsupport::SaveBitmap(testsupport::ArtifactPath(file), r.right - r.left, r.bottom - r.top, [&](HDC mem) {
        HDC desk = GetDC(nullptr);
        BitBlt(mem, 0, 0, r.right - r.left, r.bottom - r.top, desk, r.left, r.top, SRCCOPY);
        return ReleaseDC(nullptr, desk) == 1;
    });
}

class NewMailNotice : public ::testing::Test {
protected:
    void SetUp() override {
        desktop::SetShellNotifySeam([](DWORD, const NOTIFYICONDATAA&) { return TRUE; });
        desktop::SetShellNotifyWideSeam([this](DWORD, const NOTIFYICONDATAW& d) {
            notices.push_back(reinterpret_cast<const char16_t*>(d.szInfoTitle) + std::u16string(u"|") +
                              reinterpret_cast<const char16_t*>(d.szInfo));
            return TRUE;
        });
        testsupport::ExceptionBoxes().clear();
    }
    void TearDown() override {
        desktop::SetShellNotifySeam(nullptr);
        desktop::SetShellNotifyWideSeam(nullptr);
    }
    std::vector<std::u16string> notices;  // title|text
};

}  // namespace

TEST_F(NewMailNotice, NewIdsAreAnnouncedOnceAndTheStoredListFollowsTheMailbox) {
    desktop::TTrayIcon tray(nullptr);
    tray.SetActive(true);
    mail::TPop3Mailbox box(nullptr);
    box.CheckedMailbox = mail::MailboxName("pop.example.org", "anna");
    const std::string folder = tempPath("tidemark-seen-");
    std::unique_ptr<app::TNewMailAnnouncer> announcer;
    auto restart = [&](const std::string& where) {
        announcer = std::make_unique<app::TNewMailAnnouncer>();
        announcer->Store.Folder = where;
    };
    restart(folder);
    const std::string file = announcer->Store.FileFor(box.CheckedMailbox);
    const struct {
        const char* ids;
        bool restart, announce;
        std::size_t fresh;
        std::u16string notice;
    } steps[] = {
        {"a b", false, true, 0, u""},  // what is there at the first check is not news
        {"a b c", false, true, 1, u"New mail|Sender c: Grüße c"},
        {"a b c", false, true, 0, u""},
        {"b c d", true, true, 1, u"New mail|Sender d: Grüße d"},  // a restart remembers b and c
        {"b c d e", false, false, 1, u""},                        // not announced, seen all the same
        {"b c d e f g h i j", false, true, 5,
         u"5 new messages|Sender j: Grüße j\nSender i: Grüße i\nSender h: Grüße h\nand 2 more"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.ids);
        if (s.restart) restart(folder);
        announcer->Announce = s.announce;
        fill(box, s.ids);
        notices.clear();
        EXPECT_EQ(announcer->AfterCheck(box, tray), s.fresh);
        EXPECT_EQ(notices, s.notice.empty() ? std::vector<std::u16string>{} : std::vector{s.notice});
        std::string stored = "Tidemark seen messages 1\r\nmailbox pop.example.org anna\r\n";
        for (const std::string& id : std::set<std::string>(box.UniqueIds.begin(), box.UniqueIds.end()))
            stored += id + "\r\n";
        EXPECT_EQ(readFile(file), stored);
    }
    const std::string before = readFile(file);
    box.UniqueIdsKnown = false;  // a check without unique ids changes nothing
    EXPECT_EQ(announcer->AfterCheck(box, tray), 0u);
    EXPECT_EQ(readFile(file), before);

    // A damaged list counts as none: a quiet fresh start.
    std::ofstream(file, std::ios::binary) << "Tidemark seen messages 1\r\nmailbox pop.example.org anna\r\nbad id\r\n";
    restart(folder);
    fill(box, "b c z");
    notices.clear();
    EXPECT_EQ(announcer->AfterCheck(box, tray), 0u);
    EXPECT_TRUE(notices.empty());
    // A list that cannot be written is reported with the file's name.
    restart(file + "\\below-a-file");
    EXPECT_EQ(testsupport::MessageOf<fw::Exception>([&] { announcer->AfterCheck(box, tray); })
                  .rfind("Cannot save the list of seen messages in \"" + file + "\\below-a-file\\seen-", 0),
              0u);
    DeleteFileA(file.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_F(NewMailNotice, AClickOnTheNoticeStartsTheRegisteredMailProgram) {
    app::TTrayController form(nullptr);
    form.AnimationTimer->SetEnabled(false);
    const std::string clients = "Software\\Clients\\Mail", command = clients + "\\Tidemark Test\\shell\\open\\command";
    auto click = [&] { SendMessageA(form.TrayIcon->WindowHandle(), WM_USER + 1, 0, NIN_BALLOONUSERCLICK); };
    const std::string marker = tempPath("tidemark-mail-started-");
    setDefault(clients, REG_SZ, "Tidemark Test");
    setDefault(command, REG_EXPAND_SZ, "%SystemRoot%\\system32\\cmd.exe /c echo started> \"" + marker + "\"");
    click();
    EXPECT_TRUE(testsupport::PumpUntil([&] { return readFile(marker) == "started\r\n"; }, 10000));
    EXPECT_TRUE(testsupport::ExceptionBoxes().boxes.empty());

    setDefault(command, REG_SZ, "Z:\\nowhere\\mail.exe");
    click();
    ASSERT_EQ(testsupport::ExceptionBoxes().boxes.size(), 1u);
    EXPECT_EQ(testsupport::ExceptionBoxes().boxes[0].first.rfind("Cannot start the mail program Z:\\nowhere\\mail.exe. ", 0), 0u);
    RegDeleteTreeA(HKEY_CURRENT_USER, clients.c_str());
    DeleteFileA(marker.c_str());
}

TEST_F(NewMailNotice, SetupKeepsTheAnnounceChoiceAndTheLoadsReadIt) {
    RegDeleteKeyA(HKEY_CURRENT_USER, app::SettingsKey);
    app::SetupDialog = new app::TSetupDialog(nullptr);
    auto form = std::make_unique<app::TTrayController>(nullptr);
    form->AnimationTimer->SetEnabled(false);
    bool shownChecked = false;
    fw::TTimer driver(nullptr);
    driver.SetInterval(30);
    driver.SetOnTimer([&](fw::TObject*) {
        driver.SetEnabled(false);
        app::TSetupDialog& d = *app::SetupDialog;
        shownChecked = d.AnnounceCheckBox->Checked();
        RedrawWindow(d.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        fw::Application->ProcessMessages();
        RECT r;
        EXPECT_TRUE(GetWindowRect(d.Handle(), &r) && saveScreen("setup-announce.bmp", r));
        d.AnnounceCheckBox->SetChecked(false);
        SendMessageA(d.Handle(), WM_COMMAND, MAKEWPARAM(d.OKBtn->Id(), BN_CLICKED), (LPARAM)d.OKBtn->Handle());
    });
    SendMessageA(fw::TPopupMenu::PopupListWindow(), WM_COMMAND, form->SetupItem->Command(), 0);
    EXPECT_TRUE(shownChecked) << "on when nothing is stored";
    EXPECT_FALSE(form->Announcer.Announce);
    DWORD value = 7, size = sizeof value;
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, app::SettingsKey, "announce", RRF_RT_REG_DWORD, nullptr, &value, &size), 0);
    EXPECT_EQ(value, 0u);
    app::SaveAnnounceSetting(true);
    form->FirstTick = true;  // Setup's OK ended the first-tick step; run its load once more
    form->AnimationTick(form->AnimationTimer);
    EXPECT_TRUE(form->Announcer.Announce);
    form.reset();
    delete app::SetupDialog;
    app::SetupDialog = nullptr;
    RegDeleteKeyA(HKEY_CURRENT_USER, app::SettingsKey);
}

TEST(EndToEndNewMail, AMessageDeliveredWhileTidemarkChecksIsAnnouncedOnceByName) {
    testsupport::DovecotServer server(TIDEMARK_SOURCE_DIR "/scripts/dovecot-fixture.sh");
    std::string error;
    ASSERT_TRUE(server.Start({{"tide", "flood"}}, error)) << error;
    ASSERT_TRUE(server.AddMessage("tide", "From: harbour@example.org\nSubject: High water\n\nAt six.\n"));
    ASSERT_TRUE(server.AddMessage("tide", "From: pilot@example.org\nSubject: Low water\n\nAt noon.\n"));
    RegDeleteKeyA(HKEY_CURRENT_USER, app::SettingsKey);
    for (const auto& [name, value] : {std::pair<const char*, std::string>{"server", server.ServerText()},
                                      {"username", "tide"}, {"password", "flood"}, {"interval", "1"}})
        RegSetKeyValueA(HKEY_CURRENT_USER, app::SettingsKey, name, REG_SZ, value.data(), static_cast<DWORD>(value.size()));
    auto checks = [&](const std::string& stat) {
        const std::string log = server.Log(), done = "del=0/" + stat;
        int n = 0;
        for (auto at = log.find(done); at != std::string::npos; at = log.find(done, at + 1)) ++n;
        return n;
    };

    std::string cmd = "\"" + testsupport::ExeDirectory() + "..\\..\\app\\tidemark.exe\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) << cmd;
    const auto ofTidemark = [&](HWND h) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        return pid == pi.dwProcessId;
    };
    std::vector<HWND> menu;
    testsupport::PumpUntil([&] {
        menu = windows([&](HWND h) { return ofTidemark(h) && GetPropA(h, "TidemarkPopupList"); });
        return !menu.empty();
    }, 15000);
    ASSERT_EQ(menu.size(), 1u);
    PostMessageA(menu[0], WM_COMMAND, 101, 0);  // "Start Checking &email"

    // The first check finds two messages and keeps their ids without a word.
    EXPECT_TRUE(testsupport::PumpUntil([&] { return checks("2") >= 1; }, 15000)) << server.Log();
    ASSERT_TRUE(server.AddMessage("tide", "From: Harbour Master <hm@example.org>\nSubject: =?UTF-8?Q?Sp=C3=A4te_Flut?=\n\n.\n"));
    // Watched until five more checks have passed: the shell (Wine's explorer
    // draws balloons as tooltip windows) shows each notice in a window of its
    // own, with the notice's text as the window's.
    std::set<HWND> notices, others;
    ULONGLONG firstSeen = 0;
    bool shot = false;
    testsupport::PumpUntil([&] {
        for (HWND h : windows([&](HWND h) {
                 char name[32] = {};
                 GetClassNameA(h, name, sizeof name);
                 return IsWindowVisible(h) && std::string(name) == "tooltips_class32" && !ofTidemark(h);
             })) {
            WCHAR text[300] = {};
            DWORD_PTR n = 0;
            SendMessageTimeoutW(h, WM_GETTEXT, 300, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 1000, &n);
            if (std::wstring(text).find(L"water") != std::wstring::npos) others.insert(h);
            if (std::wstring(text) != L"Harbour Master: Sp\u00e4te Flut") continue;
            notices.insert(h);
            if (!firstSeen) firstSeen = GetTickCount64();
            RECT r;
            if (shot || GetTickCount64() - firstSeen < 500 || !GetWindowRect(h, &r)) continue;
            InflateRect(&r, 40, 40);  // the icon it points at too
            shot = saveScreen(sizeof(void*) == 8 ? "new-mail-notice-x86_64.bmp" : "new-mail-notice-i686.bmp", r);
        }
        return shot && checks("3") >= 5;
    }, 30000);
    EXPECT_EQ(notices.size(), 1u) << "the notice must come exactly once";
    EXPECT_TRUE(others.empty()) << "messages there at the first check are not news";
    EXPECT_TRUE(shot);
    const std::string log = server.Log();
    EXPECT_NE(log.find("top=1/"), std::string::npos) << "only the new message's headers are read\n" << log;
    EXPECT_EQ(log.find("top=3/"), std::string::npos) << log;

    if (HWND mainForm = FindWindowA(nullptr, "Brindlewick Software - Tidemark")) PostMessageA(mainForm, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "Tidemark did not end";
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    RegDeleteKeyA(HKEY_CURRENT_USER, app::SettingsKey);
    DeleteFileA(mail::TSeenIdStore().FileFor(mail::MailboxName(server.ServerText(), "tide")).c_str());
}
