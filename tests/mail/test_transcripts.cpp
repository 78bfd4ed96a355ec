// The POP3 mailbox (and the socket under it) against scripted servers: one
// gtest case per file in tests/mail/transcripts, one mailbox per file, its
// cases played in order (each sees what the one before left: the list, the
// statistics, the header cache, a cancelled or timed-out state). A case is a
// block of lines:
//
//   case <title>            starts the case; the settings return to defaults
//   server <text>           Server; default 127.0.0.1:{port}, where {port} is
//                           the case's scripted server, {unused} a port that
//                           refuses and {stalled} one that never answers
//   user|password <text>, timeout <seconds>   defaults: alice, secret, 1
//   security tls|starttls   default: none
//   token <text>            AccessToken (log in with XOAUTH2); default: none
//   front tls               the client meets the server through a TLS front
//                           (tests/support/tls_front.py, with the TLS
//                           Dovecot's localhost certificate and CA)
//   capa <name> ...         the CAPA reply lists these names; without it the
//                           server refuses CAPA ("-ERR")
//   listen <port>           the scripted server's port (0: a free one)
//   isolated                played only by the run inside a network namespace
//                           of its own (TIDEMARK_ISOLATED set, see
//                           tests/support/isolated.sh), and only there
//   drop host               the host lookup's answer never arrives
//   cancel <ms>             Cancel() from a timer, ms after the check began
//   hello                   the greeting and the CAPA exchange
//   login <STAT reply>      hello, then the USER, PASS and STAT exchange
//   uidl [<UIDL reply>]     unique ids on (UseUniqueIds), and that exchange
//   list <LIST reply>       the LIST exchange (all sizes at once)
//   message <n> <size> <TOP reply>   the LIST n and TOP n 1 exchange;
//                           message <n> <LIST reply>: a refused LIST n
//   top <n> <TOP reply>     the TOP n 1 exchange alone
//   quit                    the QUIT exchange
//   S s C P X H <text>      the server's script (tests/support/scripted_server.h)
//   ! <text>                the text of the exception UpdateInfo raises; a
//                           trailing * matches any rest; without it: none
//   = stat <count> <size>   MessageCount and MailboxSize afterwards
//   = item <size>|<header>|...   the list afterwards, one line per item
//                           (always checked: no line means an empty list)
//   = ids <id>:<size> ...   UniqueIdsKnown and UniqueIds afterwards (always
//                           checked: no line means the ids are not known)
//   = events <e>, <e>, ...  open, updating, progress:<%> (repeats merged),
//                           next:<index>, cancel, error:<text>, closing,
//                           closed, updated
//   protocol imap           (before the first case) the file's cases check an
//                           IMAP mailbox instead: Check from the case's
//                           `mark <uidvalidity> <highest>` (default: none);
//                           with `idle`, where the server offers IDLE, then
//                           StartIdle, a wait for IdleChanged, EndIdle and a
//                           second Check; then Disconnect
//   imap-login <exists> <uidvalidity> [capability ...]   the greeting, LOGIN
//                           (a1) and EXAMINE (a2) exchanges
//   logout <tag>            the LOGOUT exchange
//   last <tag> <uid>        UID FETCH * (UID) answered with that UID
//   unseen <tag> [<uid> ...]   UID SEARCH UNSEEN answered with those UIDs
//   count <tag> <n>         UID SEARCH RETURN (COUNT) UNSEEN answered with n
//   token <text>            IMAP's AccessToken (default: none)
//   = imap <unseen> <uidvalidity> <highest> <new uids>|-   after the last
//                           Check; `= item` lines are its new messages
//   = alerts <text>, ...    the [ALERT] texts of the last Check (always checked)
//   = waited <ms>           a time-out came at least ms after the server's
//                           last word (default: `timeout` seconds; the counter
//                           ticks whole seconds, so a restart in the middle of
//                           a wait may end up to one second sooner)
// When the CAPA reply names PIPELINING (in any letter case), the commands of
// consecutive `message` (or `top`) lines, and those of `uidl` and `list`,
// all come before any of their replies: the server reads the whole batch
// before it answers, so a client that waited for each reply would time
// out. Texts take the escapes of the scripted
// server. Every case also checks that the client sent exactly the C lines,
// that the socket is closed and its time-out counter stopped, and that a
// time-out came neither early nor late with the processor idle meanwhile.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <utility>

#include "framework/sysutils.h"
#include "gtest/gtest.h"
#include "mail/imap_session.h"
#include "mail/pop3_session.h"
#include "tests/support/dovecot.h"
#include "tests/support/helpers.h"
#include "tests/support/scripted_server.h"

using testsupport::ScriptedServer;

namespace {

struct Case {
    int line = 0;
    std::string title, script, error = "<no exception>", stat, events, waited, ids = "unknown", imap, alerts;
    std::map<std::string, std::string> settings;
    std::vector<std::string> items;
};

class Mailbox : public mail::TPop3Mailbox {
public:
    Mailbox() : mail::TPop3Mailbox(nullptr) {
        SetWinsockLoaded(true);
        auto note = [this](const char* e) { return [this, e](fw::TObject*) { events.push_back(e); }; };
        OnOpen = note("open");
        // The header cache belongs to the mailbox named by the server text
        // and the user name; each case's server has a port of its own.
        OnUpdatingInfo = [this](fw::TObject*) { events.push_back("updating"); Server = "scripted"; };
        OnCancel = note("cancel");
        OnClosing = note("closing");
        OnClosed = note("closed");
        OnInfoUpdated = note("updated");
        OnError = [this](fw::TObject*, std::string& msg) { events.push_back("error:" + msg); };
        OnNextInfoUpdated = [this](fw::TObject*, std::int32_t n) { events.push_back("next:" + std::to_string(n)); };
        OnProgress = [this](fw::TObject*, std::int32_t perc, std::int32_t) {
            const std::string e = "progress:" + std::to_string(perc);
            if (events.empty() || events.back() != e) events.push_back(e);
        };
    }
    std::vector<std::string> events;
};

// The IMAP action of a case: one check from the case's mark, with `idle`
// an IDLE until the server reports a change and a second check, then the
// log-out.
void checkImap(mail::TImapMailbox& box, Case& c) {
    mail::TUidMark mark;
    std::istringstream(c.settings["mark"]) >> mark.UidValidity >> mark.HighestUid;
    mark.Known = c.settings["mark"] != "";
    box.Check(mark);
    if (c.settings.count("idle") && box.CanIdle()) {
        box.StartIdle();
        bool changed = false;
        std::exception_ptr failure;
        box.OnReadable = [&](fw::TObject*) {
            try {
                changed = changed || box.IdleChanged();
            } catch (...) {
                failure = std::current_exception();
            }
        };
        const double cpu = testsupport::CpuMs();
        const ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(testsupport::PumpUntil([&] { return changed || failure; }, 3000)) << "no change seen while idling";
        EXPECT_LT(testsupport::CpuMs() - cpu, 0.3 * (GetTickCount64() - start) + 50) << "the idle wait spun";
        box.OnReadable = nullptr;
        if (failure) std::rethrow_exception(failure);
        EXPECT_TRUE(box.EndIdle());
        box.Check(box.Mark);
    }
    box.Disconnect();
}

// Swallows one Winsock notification of the socket's window, as if the answer never came.
UINT dropped = 0;
WNDPROC socketProc = nullptr;
LRESULT CALLBACK dropping(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return msg == dropped ? 0 : CallWindowProcA(socketProc, h, msg, wp, lp);
}

std::string join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : separator) + p;
    return out;
}

std::vector<Case> readCases(const std::string& path) {
    std::vector<Case> cases;
    std::ifstream in(path);
    int number = 0;
    std::string replies;   // of a pipelined batch, sent after all its commands
    std::string protocol;  // a file's "protocol" line, before its first case
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string key = line.substr(0, line.find(' '));
        const std::string value = line.size() > key.size() ? line.substr(key.size() + 1) : "";
        const std::string what = value.substr(0, value.find(' ')), rest = value.substr(what.size() + (what != value));
        ++number;
        if (key != "message" && key != "top" && key != "list" && !cases.empty()) cases.back().script += std::exchange(replies, "");
        if (key == "case") cases.emplace_back().line = number;
        if (key == "case") cases.back().title = value;
        if (key == "case" && !protocol.empty()) cases.back().settings["protocol"] = protocol;
        if (key == "protocol" && cases.empty()) protocol = value;
        if (key.empty() || key[0] == '#' || key == "case" || cases.empty()) continue;
        Case& c = cases.back();
        auto setting = [&](const char* name, const char* fallback) {
            return c.settings.count(name) ? c.settings[name] : std::string(fallback);
        };
        std::string capa = c.settings.count("capa") ? "S +OK\n" : "S -ERR\n";
        std::istringstream names(setting("capa", ""));
        for (std::string name; names >> name;) capa += "S " + name + "\n";
        capa += c.settings.count("capa") ? "S .\n" : "";
        const bool pipelined = fw::UpperCaseAscii(" " + setting("capa", "") + " ").find(" PIPELINING ") != std::string::npos;
        if (key == "imap-login") {
            // <EXISTS> <UIDVALIDITY> [capabilities]: the greeting, LOGIN and EXAMINE as tags a1 and a2.
            std::istringstream in(value);
            std::string exists, validity, caps;
            in >> exists >> validity;
            std::getline(in, caps);
            c.script += "S * OK [CAPABILITY IMAP4rev1" + caps + "] ready\nC a1 LOGIN \"" + setting("user", "alice") +
                        "\" \"" + setting("password", "secret") + "\"\nS a1 OK logged in\nC a2 EXAMINE INBOX\nS * " + exists +
                        " EXISTS\nS * OK [UIDVALIDITY " + validity + "] ok\nS a2 OK [READ-ONLY] done\n";
        } else if (key == "last" || key == "unseen" || key == "count") {
            c.script += "C " + what + (key == "last" ? " UID FETCH * (UID)\nS * 1 FETCH (UID " + rest + ")" : key == "count" ? " UID SEARCH RETURN (COUNT) UNSEEN\nS * ESEARCH (TAG \"" + what + "\") UID COUNT " + rest
                                                                                                                             : " UID SEARCH UNSEEN\nS * SEARCH" + std::string(rest.empty() ? "" : " ") + rest) +
                        "\nS " + what + " OK done\n";
        } else if (key == "logout") {
            c.script += "C " + value + " LOGOUT\nS * BYE bye\nS " + value + " OK done\n";
        } else if (key == "hello" || key == "login") {
            c.script += "S +OK POP3 server ready\nC CAPA\n" + capa;
            if (key == "login")
                c.script += "C USER " + setting("user", "alice") + "\nS +OK\nC PASS " + setting("password", "secret") +
                            "\nS +OK logged in\nC STAT\nS " + value + "\n";
        } else if (key == "message") {
            const std::string size = rest.substr(0, rest.find(' '));
            const bool listed = std::isdigit(static_cast<unsigned char>(size[0]));
            const std::string list = "C LIST " + what + "\n", top = listed || pipelined ? "C TOP " + what + " 1\n" : "";
            const std::string listReply = "S " + (listed ? "+OK " + what + " " + size : rest) + "\n";
            const std::string topReply = listed ? "S " + rest.substr(size.size() + 1) + "\n" : "";
            c.script += pipelined ? list + top : list + listReply + top + topReply;
            if (pipelined) replies += listReply + topReply;
        } else if (key == "top") {
            c.script += "C TOP " + what + " 1\n" + (pipelined ? "" : "S " + rest + "\n");
            if (pipelined) replies += "S " + rest + "\n";
        } else if (key == "list") {
            c.script += "C LIST\n" + std::exchange(replies, "") + "S " + value + "\n";
        } else if (key == "quit") {
            c.script += "C QUIT\nS +OK bye\n";
        } else if (key == "uidl") {
            c.script += value.empty() ? "" : "C UIDL\n";
            (pipelined ? replies : c.script) += value.empty() ? "" : "S " + value + "\n";
            c.settings[key] = "on";
        } else if (key.size() == 1 && std::string("SsCPXH").find(key) != std::string::npos) {
            c.script += line + "\n";
        } else if (key == "!") {
            c.error = ScriptedServer::Unescape(value);
        } else if (key == "=" && what == "item") {
            c.items.push_back(ScriptedServer::Unescape(rest));
        } else if (key == "=") {
            (what == "stat" ? c.stat : what == "events" ? c.events
                                   : what == "ids"      ? c.ids
                                   : what == "imap"     ? c.imap
                                   : what == "alerts"   ? c.alerts
                                                        : c.waited) = rest;
        } else {
            c.settings[key] = value;
        }
    }
    if (!cases.empty()) cases.back().script += replies;
    return cases;
}

void play(Mailbox& box, mail::TImapMailbox& imap, Case c) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": " + c.title);
    ScriptedServer server(c.script, static_cast<unsigned short>(std::stoul(c.settings.count("listen") ? c.settings["listen"] : "0")));
    const unsigned unused = ScriptedServer::UnusedPort(), stalled = ScriptedServer::StalledPort();
    auto setting = [&](const char* name, const char* fallback) {
        std::string text = c.settings.count(name) ? c.settings[name] : fallback;
        for (auto [port, number] : {std::pair<std::string, unsigned>{"{port}", server.Port()}, {"{unused}", unused}, {"{stalled}", stalled}})
            if (auto at = text.find(port); at != std::string::npos) text.replace(at, port.size(), std::to_string(number));
        return ScriptedServer::Unescape(text);
    };
    const bool isImap = c.settings["protocol"] == "imap";
    net::TSocketClient& socket = isImap ? static_cast<net::TSocketClient&>(imap) : box;
    socket.Server = setting("server", "127.0.0.1:{port}");
    (isImap ? imap.UserName : box.UserName) = setting("user", "alice");
    (isImap ? imap.Password : box.Password) = setting("password", "secret");
    imap.AccessToken = setting("token", "");
    const std::string security = setting("security", "none");
    socket.Security = security == "tls" ? net::TSecurity::Tls : security == "starttls" ? net::TSecurity::StartTls
                                                                                       : net::TSecurity::None;
    box.AccessToken = setting("token", "");
    socket.ExtraRootCertificate.clear();
    if (c.settings.count("front")) {
        const std::string dir = std::getenv("TIDEMARK_DOVECOT_TLS"), portFile = testsupport::dovecot::Folder(true) + "\\front.port";
        DeleteFileA(portFile.c_str());
        std::string command = "/usr/bin/python3 " TIDEMARK_SOURCE_DIR "/tests/support/tls_front.py " + dir + "/tls/server.pem " + dir + "/tls/server.key " + std::to_string(server.Port()) + " " + dir + "/front.port";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        fw::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
        ASSERT_TRUE(testsupport::PumpUntil([&] { return GetFileAttributesA(portFile.c_str()) != INVALID_FILE_ATTRIBUTES; }));
        std::ifstream port(portFile), ca(testsupport::dovecot::Folder(true) + "\\tls\\ca.pem");
        socket.Server = "localhost:" + std::string(std::istreambuf_iterator<char>(port), {});
        socket.ExtraRootCertificate = net::CertificateDer(std::string(std::istreambuf_iterator<char>(ca), {}));
        socket.Security = net::TSecurity::Tls;
    }
    box.UseUniqueIds = c.settings.count("uidl") != 0;
    const unsigned timeOut = std::stoul(setting("timeout", "1"));
    socket.SetTimeOut(static_cast<std::int32_t>(timeOut));
    box.events.clear();
    dropped = c.settings.count("drop") ? net::WM_ASYNC_HOST : 0;
    std::unique_ptr<testsupport::Later> cancel;
    if (c.settings.count("cancel")) cancel = std::make_unique<testsupport::Later>(std::stoul(c.settings["cancel"]), [&] { box.Cancel(); });

    const ULONGLONG start = GetTickCount64();
    const double cpu = testsupport::CpuMs();
    const std::string error = testsupport::MessageOf([&] { isImap ? checkImap(imap, c) : box.UpdateInfo(); });
    const ULONGLONG end = GetTickCount64();
    const bool prefix = c.error.size() > 1 && c.error.back() == '*';
    EXPECT_EQ(prefix ? error.substr(0, c.error.size() - 1) + "*" : error, c.error);
    if (error == net::CatalogueText(net::sTimedOut)) {
        const ULONGLONG waited = end - std::max(start, server.LastActivity());
        EXPECT_GE(waited, c.waited.empty() ? timeOut * 1000 - 100 : std::stoul(c.waited)) << "the time-out came early";
        EXPECT_LE(waited, timeOut * 1000 + 1500) << "the time-out came late";
        EXPECT_LT(testsupport::CpuMs() - cpu, 0.3 * (end - start)) << "the wait spun instead of blocking";
    }
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !server.Accepted() || server.Finished(); }))
        << "the client never closed its connection";
    EXPECT_EQ(server.Received(), server.Expected());
    EXPECT_FALSE(socket.Connected());
    EXPECT_FALSE(socket.CounterRunning());
    if (isImap) {
        std::string uids;
        std::vector<std::string> items;
        for (const mail::TImapMessage& m : imap.NewMessages) {
            uids += (uids.empty() ? "" : ",") + std::to_string(m.Uid);
            items.push_back(std::to_string(m.Info.Size));
            for (const std::string& header : m.Info.Headers.Lines()) items.back() += "|" + header;
        }
        const std::string result = std::to_string(imap.UnseenCount) + " " + std::to_string(imap.Mark.UidValidity) + " " +
                                   std::to_string(imap.Mark.HighestUid) + " " + (uids.empty() ? "-" : uids);
        EXPECT_EQ(c.imap.empty() ? "" : result, c.imap);
        EXPECT_EQ(items, c.items);
        EXPECT_EQ(join(imap.Alerts, ", "), c.alerts);
        return;
    }
    const std::string stat = std::to_string(box.MessageCount) + " " + std::to_string(box.MailboxSize);
    EXPECT_EQ(c.stat.empty() ? "" : stat, c.stat);
    EXPECT_EQ(c.events.empty() ? "" : join(box.events, ", "), c.events);
    std::vector<std::string> items;
    for (int i = 0; i < box.RemoteInfo.Count(); ++i) {
        items.push_back(std::to_string(box.RemoteInfo.Items(i).Size));
        for (const std::string& header : box.RemoteInfo.Items(i).Headers.Lines()) items.back() += "|" + header;
    }
    EXPECT_EQ(items, c.items);
    std::istringstream ids(c.ids);
    std::vector<mail::TMessageKey> keys;
    for (std::string id; ids >> id && c.ids != "unknown";)
        keys.push_back(mail::MessageKey(ScriptedServer::Unescape(id.substr(0, id.rfind(':'))), std::stoll(id.substr(id.rfind(':') + 1))));
    EXPECT_TRUE(box.UniqueIdsKnown == (c.ids != "unknown") && (!box.UniqueIdsKnown || box.UniqueIds == keys)) << c.ids;
}

class Transcript : public testing::TestWithParam<std::string> {};

TEST_P(Transcript, EveryCaseAsScripted) {
    const std::vector<Case> cases = readCases(testsupport::SourcePath("tests/mail/transcripts/" + GetParam() + ".txt"));
    ASSERT_FALSE(cases.empty());
    Mailbox box;
    mail::TImapMailbox imap(nullptr);
    socketProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(box.WindowHandle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&dropping)));
    for (const Case& c : cases)
        if (c.settings.count("isolated") == (std::getenv("TIDEMARK_ISOLATED") != nullptr)) play(box, imap, c);
}

std::vector<std::string> transcriptFiles() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(testsupport::SourcePath("tests/mail/transcripts/*.txt").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        names.push_back(std::string(found.cFileName, std::strlen(found.cFileName) - 4));
    FindClose(search);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Pop3, Transcript, testing::ValuesIn(transcriptFiles()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
