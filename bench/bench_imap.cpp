// bench_imap deliver SERVER:PORT USER PASSWORD MAILDIR [DELIVERIES]
//   Delivery to notice: a mailbox watcher (as the tray runs it, with its
//   worker thread) checks an IMAP inbox and idles; the benchmark then writes
//   one message at a time into the user's Maildir (MAILDIR is its Windows
//   path) and times how long the new-mail notice takes. Prints the median
//   and the worst. Goal: median at most 1 s, worst at most 2 s.
// bench_imap idle SERVER:PORT USER PASSWORD SECONDS [MAILBOXES]
//   Cost of idling: MAILBOXES watchers (3 by default) idle on the same
//   server for SECONDS; prints this process's processor time meanwhile
//   (bench/run.sh adds wineserver's). Goal: under 0.1% of one core.
// bench_imap large SERVER:IMAPPORT SERVER:POP3PORT USER PASSWORD
//   A large mailbox: the first check (no mark: nothing is new) and a repeat
//   check of the same mailbox by IMAP, beside the first and repeat check by
//   POP3 with unique ids. Times in ms.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/check_runner.h"
#include "app/mailbox_watcher.h"
#include "bench/bench_common.h"
#include "desktop/tray_icon.h"
#include "mail/imap_session.h"

namespace {

app::TMailboxSettings imapSettings(const std::string& server, const std::string& user, const std::string& password) {
    app::TMailboxSettings s;
    s.Server = server;
    s.Security = net::TSecurity::None;
    s.Protocol = app::TProtocol::Imap;
    s.UserName = user;
    s.Password = password;
    s.IntervalMs = 10 * 60 * 1000;
    return s;
}

// Runs the thread's messages until `done` or `ms` have passed.
bool pumpUntil(const std::function<bool()>& done, double ms) {
    const double end = bench::nowMs() + ms;
    while (!done()) {
        const double left = end - bench::nowMs();
        if (left <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

// A watcher switched on and idling after its first check.
std::unique_ptr<app::TMailboxWatcher> idlingWatcher(desktop::TTrayIcon& tray, const app::TMailboxSettings& s,
                                                    const std::string& seenFolder) {
    auto w = std::make_unique<app::TMailboxWatcher>(nullptr, app::MakeThreadCheckRunner(), tray);
    w->Announcer.Store.Folder = seenFolder;
    w->Announcer.Sound = false;
    w->SetSettings(s);
    w->Handle(app::TWatchEvent::SwitchOn);
    w->Handle(app::TWatchEvent::Tick);
    if (!pumpUntil([&] { return w->State() != app::TWatchState::Checking; }, 20000) ||
        w->State() != app::TWatchState::Listening)
        throw std::runtime_error("the mailbox does not idle (state " + std::to_string(static_cast<int>(w->State())) +
                                 ")");
    return w;
}

std::string tempFolder(const char* name) {
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return dir + std::string(name);
}

void deliver(const std::string& maildir, int n) {
    // Written into tmp and moved into new, as a delivery agent does.
    const std::string name = "bench" + std::to_string(GetTickCount64()) + "." + std::to_string(n) + ".tidemark";
    const std::string tmp = maildir + "\\tmp\\" + name;
    const std::string text = "From: Bench <bench@example.org>\r\nSubject: Delivery " + std::to_string(n) +
                             "\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\nBody.\r\n";
    HANDLE f = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (f == INVALID_HANDLE_VALUE || !WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        throw std::runtime_error("cannot write " + tmp);
    CloseHandle(f);
    if (!MoveFileA(tmp.c_str(), (maildir + "\\new\\" + name).c_str())) throw std::runtime_error("cannot deliver");
}

int deliverToNotice(char** argv, int argc) {
    const std::string maildir = argv[5];
    const int deliveries = argc > 6 ? std::max(1, std::atoi(argv[6])) : 20;
    desktop::TTrayIcon tray(nullptr);
    tray.SetActive(true);
    auto w = idlingWatcher(tray, imapSettings(argv[2], argv[3], argv[4]), tempFolder("tidemark-bench-imap"));
    std::size_t announced = 0;
    int statusChanges = 0;
    w->OnNewMail = [&](app::TMailboxWatcher&, std::size_t count) { announced += count; };
    w->OnStatus = [&](app::TMailboxWatcher&) { ++statusChanges; };
    std::vector<double> times;
    for (int i = 1; i <= deliveries; ++i) {
        // Each delivery on a quiet connection, as mail comes.
        pumpUntil([] { return false; }, 300);
        const std::size_t before = announced;
        const double t0 = bench::nowMs();
        deliver(maildir, i);
        if (!pumpUntil([&] { return announced > before; }, 10000))
            throw std::runtime_error("delivery " + std::to_string(i) + " was not announced within 10 s (state " +
                                     std::to_string(static_cast<int>(w->State())) + ")");
        times.push_back(bench::nowMs() - t0);
    }
    double worst = 0;
    for (double t : times) worst = std::max(worst, t);
    std::printf("%10d %10.0f %10.0f %10lld\n", deliveries, bench::median(times), worst,
                static_cast<long long>(w->MessageCount()));
    w->Handle(app::TWatchEvent::Close);
    return 0;
}

int costOfIdling(char** argv, int argc) {
    const double seconds = std::atof(argv[5]);
    const int count = argc > 6 ? std::max(1, std::atoi(argv[6])) : 3;
    desktop::TTrayIcon tray(nullptr);
    std::vector<std::unique_ptr<app::TMailboxWatcher>> watchers;
    for (int i = 0; i < count; ++i)
        watchers.push_back(
            idlingWatcher(tray, imapSettings(argv[2], argv[3], argv[4]), tempFolder("tidemark-bench-idle")));
    const double cpu0 = bench::cpuMs(), t0 = bench::nowMs();
    pumpUntil([] { return false; }, seconds * 1000);
    const double cpu = bench::cpuMs() - cpu0, wall = bench::nowMs() - t0;
    int listening = 0;
    for (auto& w : watchers) listening += w->State() == app::TWatchState::Listening;
    std::printf("%10d %10.0f %10.0f %9.4f%% %10d\n", count, wall / 1000, cpu, 100 * cpu / wall, listening);
    for (auto& w : watchers) w->Handle(app::TWatchEvent::Close);
    return 0;
}

int largeMailbox(char** argv) {
    const std::string user = argv[4], password = argv[5];
    mail::TImapMailbox imap(nullptr);
    imap.SetWinsockLoaded(true);
    imap.Server = argv[2];
    imap.UserName = user;
    imap.Password = password;
    double t0 = bench::nowMs();
    imap.Check({});
    imap.Disconnect();
    const double imapFirst = bench::nowMs() - t0;
    const mail::TUidMark mark = imap.Mark;
    t0 = bench::nowMs();
    imap.Check(mark);
    imap.Disconnect();
    const double imapRepeat = bench::nowMs() - t0;

    mail::TPop3Mailbox pop(nullptr);
    pop.SetWinsockLoaded(true);
    pop.Server = argv[3];
    pop.UserName = user;
    pop.Password = password;
    pop.UseUniqueIds = true;
    t0 = bench::nowMs();
    pop.UpdateInfo();
    const double popFirst = bench::nowMs() - t0;
    t0 = bench::nowMs();
    pop.UpdateInfo();
    const double popRepeat = bench::nowMs() - t0;
    std::printf("%10lld %8lld %10.0f %10.0f %10.0f %10.0f\n", static_cast<long long>(imap.MessageCount),
                static_cast<long long>(imap.UnseenCount), imapFirst, imapRepeat, popFirst, popRepeat);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "deliver" && argc >= 6) || (mode == "idle" && argc >= 6) || (mode == "large" && argc >= 6))) {
        std::fprintf(stderr, "usage: see the comment at the top of bench/bench_imap.cpp\n");
        return 2;
    }
    fw::TApplication app;
    bench::startUp(app);
    try {
        if (mode == "deliver") return deliverToNotice(argv, argc);
        if (mode == "idle") return costOfIdling(argv, argc);
        return largeMailbox(argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_imap: %s\n", e.what());
        return 1;
    }
}
