// The POP3 component against a scripted server: each test is a transcript of
// exactly what the server sends, what the client sent back, and what the
// caller saw (events, exceptions, statistics, the information list).
#include <windows.h>

#include <algorithm>
#include <string>

#include "gtest/gtest.h"
#include "mail/pop3_session.h"
#include "tests/mail/pop3_probe.h"
#include "tests/support/scripted_server.h"

using mailtest::Events;
using mailtest::MessageOf;
using mailtest::ProbePOP;
using net::EServerError;
using testsupport::ScriptedServer;

namespace {

const std::string kLoginSent = "CAPA\r\nUSER alice\r\nPASS secret\r\nSTAT\r\n";

// Greeting, CAPA (refused: one command at a time), USER, PASS, then STAT
// answered with `stat`.
ScriptedServer& login(ScriptedServer& s, const std::string& stat) {
    return s.Send("+OK POP3 server ready\r\n")
        .ExpectLine()
        .Send("-ERR unknown command\r\n")
        .ExpectLine()
        .Send("+OK\r\n")
        .ExpectLine()
        .Send("+OK logged in\r\n")
        .ExpectLine()
        .Send(stat + "\r\n");
}

// One client line answered with `reply` (sent as is, line ends included).
ScriptedServer& answer(ScriptedServer& s, const std::string& reply) { return s.ExpectLine().Send(reply); }

std::string top(const std::string& headers) { return "+OK\r\n" + headers + "\r\nfirst body line\r\n.\r\n"; }

// The transcript is complete once the client has closed its end (or the
// server has hung up, when its script ends so).
std::string sentUntilClosed(ScriptedServer& s, bool serverHangsUp = false) {
    EXPECT_TRUE(mailtest::PumpUntil([&] { return s.ClientClosed() || (serverHangsUp && s.ScriptDone()); }, 3000))
        << "client never closed its connection";
    return s.Received();
}

void addItem(mail::TMailboxInfo& info, std::int32_t size) {
    auto item = std::make_unique<mail::TMessageInfo>();
    item->Size = size;
    info.Add(std::move(item));
}

// A fresh log-in on another server, as the next poll after a failure does.
void expectFreshLogin(ProbePOP& pop) {
    ScriptedServer again;
    answer(login(again, "+OK 0 0"), "+OK bye\r\n").Start();
    pop.Server = again.Address();
    pop.events.clear();
    pop.UpdateInfo();
    EXPECT_EQ(sentUntilClosed(again), kLoginSent + "QUIT\r\n");
    EXPECT_EQ(pop.events, (Events{"open", "updating", "closing", "closed", "updated"}));
    EXPECT_EQ(pop.MessageCount, 0);
}

}  // namespace

TEST(Pop3Transcript, TwoMessagesByteForByteWithTheEventOrder) {
    ScriptedServer server;
    login(server, "+OK 2 320");
    answer(server, "+OK 1 120\r\n");
    answer(server, top("Subject: First\r\nFrom: Ann <ann@example.org>\r\n"));
    answer(server, "+OK 2 200\r\n");
    // The status line first, the rest a moment later: the data read must
    // wait for it rather than take the status line's end for the reply's.
    server.ExpectLine().Send("+OK 200 octets\r\n").Pause(50).Send("From: bob@example.org\r\nSubject: Second\r\n\r\nhi\r\n.\r\n");
    answer(server, "+OK bye\r\n").Start();

    ProbePOP pop(server.Address());
    pop.UpdateInfo();

    EXPECT_EQ(sentUntilClosed(server), kLoginSent + "LIST 1\r\nTOP 1 1\r\nLIST 2\r\nTOP 2 1\r\nQUIT\r\n");
    EXPECT_EQ(pop.events, (Events{"open", "updating", "progress:-1", "next:0", "progress:-1", "next:1", "closing",
                                  "closed", "updated"}));
    EXPECT_FALSE(pop.Connected());
    EXPECT_EQ(pop.MessageCount, 2);
    EXPECT_EQ(pop.MailboxSize, 320);
    ASSERT_EQ(pop.RemoteInfo.Count(), 2);
    EXPECT_EQ(pop.RemoteInfo.Items(0).Size, 120);
    EXPECT_EQ(pop.headers(0), (std::vector<std::string>{"Subject: First", "From: Ann <ann@example.org>"}));
    EXPECT_EQ(pop.RemoteInfo.Items(1).Size, 200);
    EXPECT_EQ(pop.headers(1), (std::vector<std::string>{"From: bob@example.org", "Subject: Second"}));
    EXPECT_EQ(pop.LastReply, "+OK bye");
}

TEST(Pop3Transcript, EmptyMailboxSendsNoListAndClearsTheOldList) {
    ScriptedServer server;
    answer(login(server, "+OK 0 0"), "+OK bye\r\n").Start();
    ProbePOP pop(server.Address());
    addItem(pop.RemoteInfo, 99);
    pop.UpdateInfo();
    EXPECT_EQ(sentUntilClosed(server), kLoginSent + "QUIT\r\n");
    EXPECT_EQ(pop.events, (Events{"open", "updating", "closing", "closed", "updated"}));
    EXPECT_EQ(pop.RemoteInfo.Count(), 0);
    EXPECT_EQ(pop.MessageCount, 0);
    EXPECT_EQ(pop.MailboxSize, 0);
}

// Where the log-in is refused: what was sent up to there, and the line the
// caller sees. Nothing after the refusal is sent, not even QUIT.
struct LoginRefusal {
    const char* name;
    int okReplies;  // replies before the refusal (greeting, USER, PASS)
    const char* refusal;
    const char* sent;
};

void PrintTo(const LoginRefusal& p, std::ostream* os) { *os << p.name; }

class Pop3LoginRefused : public testing::TestWithParam<LoginRefusal> {};

TEST_P(Pop3LoginRefused, ClosesTheSocketKeepsTheOldStateAndLogsInAfresh) {
    const LoginRefusal& p = GetParam();
    ScriptedServer server;
    const char* ok[] = {"+OK POP3 server ready\r\n", "+OK\r\n", "+OK logged in\r\n"};
    for (int i = 0; i < p.okReplies; ++i) {
        if (i > 0) server.ExpectLine();
        server.Send(ok[i]);
        if (i == 0) server.ExpectLine().Send("-ERR unknown command\r\n");  // CAPA
    }
    if (p.okReplies > 0) server.ExpectLine();
    server.Send(std::string(p.refusal) + "\r\n").Start();

    ProbePOP pop(server.Address());
    addItem(pop.RemoteInfo, 7);
    EXPECT_EQ(MessageOf<EServerError>([&] { pop.UpdateInfo(); }), p.refusal);
    EXPECT_EQ(sentUntilClosed(server), p.sent);
    EXPECT_FALSE(pop.Connected());
    // No event of the update itself: the list is the previous one.
    EXPECT_EQ(pop.events, (Events{"open", "closing", "closed"}));
    EXPECT_EQ(pop.MessageCount, -1);
    EXPECT_EQ(pop.MailboxSize, -1);
    ASSERT_EQ(pop.RemoteInfo.Count(), 1);
    EXPECT_EQ(pop.RemoteInfo.Items(0).Size, 7);

    expectFreshLogin(pop);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Pop3LoginRefused,
    testing::Values(LoginRefusal{"Greeting", 0, "-ERR too busy", ""},
                    LoginRefusal{"User", 1, "-ERR unknown user", "CAPA\r\nUSER alice\r\n"},
                    LoginRefusal{"Password", 2, "-ERR [AUTH] Authentication failed.", "CAPA\r\nUSER alice\r\nPASS secret\r\n"},
                    LoginRefusal{"Stat", 3, "-ERR maildrop locked", kLoginSent.c_str()},
                    // Only a plus sign is a success: a blank or a digit first is not.
                    LoginRefusal{"BlankFirst", 2, " +OK", "CAPA\r\nUSER alice\r\nPASS secret\r\n"},
                    LoginRefusal{"DigitFirst", 1, "200 OK", "CAPA\r\nUSER alice\r\n"}),
    [](const testing::TestParamInfo<LoginRefusal>& info) { return std::string(info.param.name); });

TEST(Pop3Transcript, AStatusLineCutShortByAHangUpIsReportedAsSuch) {
    ScriptedServer server;
    server.Send("+OK POP3 server ready\r\n").ExpectLine().Send("-ERR\r\n");
    server.ExpectLine().Send("+OK\r\n").ExpectLine().Send("+OK logg").Close().Start();
    ProbePOP pop(server.Address());
    EXPECT_EQ(MessageOf<EServerError>([&] { pop.UpdateInfo(); }), "Connection closed by the server");
    EXPECT_EQ(server.Received(), "CAPA\r\nUSER alice\r\nPASS secret\r\n");
    EXPECT_FALSE(pop.Connected());
    EXPECT_EQ(pop.MessageCount, -1);
}

// STAT replies through Connect: the statistics they leave, and how the
// session goes on.
TEST(Pop3Transcript, StatRepliesSetTheStatisticsAsFarAsTheyGo) {
    struct Case {
        const char* reply;
        std::int32_t count, size;
        const char* failure;  // nullptr: the log-in succeeds
    } cases[] = {
        {"+OK 2 320", 2, 320, nullptr},
        {"+OK 0 0", 0, 0, nullptr},
        {"+OK 3 4500 octets", 3, 4500, nullptr},
        {"+OK 5", 41, 42, nullptr},
        {"+OK 2 abc", 2, 42, "'abc' is not a valid integer value"},
        {"+OK x 12", 41, 42, "'x' is not a valid integer value"},
        {"-ERR maildrop locked", 41, 42, "-ERR maildrop locked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        ScriptedServer server;
        answer(login(server, c.reply), "+OK bye\r\n").Start();
        ProbePOP pop(server.Address());
        pop.MessageCount = 41;
        pop.MailboxSize = 42;
        if (c.failure) {
            EXPECT_EQ(MessageOf<fw::Exception>([&] { pop.Connect(); }), c.failure);
            EXPECT_FALSE(pop.Connected());
            EXPECT_EQ(sentUntilClosed(server), kLoginSent);
        } else {
            pop.Connect();
            EXPECT_TRUE(pop.Connected());
            pop.Disconnect();
            EXPECT_EQ(sentUntilClosed(server), kLoginSent + "QUIT\r\n");
        }
        EXPECT_EQ(pop.MessageCount, c.count);
        EXPECT_EQ(pop.MailboxSize, c.size);
    }
}

TEST(Pop3Transcript, SizesAndHeaderLinesAsTheRepliesGiveThem) {
    ScriptedServer server;
    login(server, "+OK 4 1000");
    // The size must be the whole text after the first blank.
    answer(server, "+OK 1 120 octets\r\n");
    // Folded lines stay separate lines; lone CR and lone LF end lines too.
    answer(server, top("Subject: a long\r\n\tsubject line\r\nTo: x@example.org,\r\n y@example.org\nFrom: z@example.org\r"));
    answer(server, "+OK 120\r\n");
    // No empty line: every line stays, the terminating "." included.
    answer(server, "+OK\r\nSubject: no body\r\nFrom: q@example.org\r\n.\r\n");
    answer(server, "+OK 3 77\r\n");
    // An empty first line: nothing but body.
    answer(server, "+OK\r\n\r\nbody only\r\n.\r\n");
    answer(server, "+OK 4 5\r\n");
    // An empty reply: just the terminating line.
    answer(server, "+OK\r\n.\r\n");
    answer(server, "+OK bye\r\n").Start();

    ProbePOP pop(server.Address());
    pop.UpdateInfo();
    EXPECT_EQ(sentUntilClosed(server),
              kLoginSent + "LIST 1\r\nTOP 1 1\r\nLIST 2\r\nTOP 2 1\r\nLIST 3\r\nTOP 3 1\r\nLIST 4\r\nTOP 4 1\r\nQUIT\r\n");
    ASSERT_EQ(pop.RemoteInfo.Count(), 4);
    EXPECT_EQ(pop.RemoteInfo.Items(0).Size, 0);
    EXPECT_EQ(pop.headers(0), (std::vector<std::string>{"Subject: a long", "\tsubject line", "To: x@example.org,",
                                                        " y@example.org", "From: z@example.org"}));
    EXPECT_EQ(pop.RemoteInfo.Items(1).Size, 120);
    EXPECT_EQ(pop.headers(1), (std::vector<std::string>{"Subject: no body", "From: q@example.org", "."}));
    EXPECT_EQ(pop.RemoteInfo.Items(2).Size, 77);
    EXPECT_TRUE(pop.headers(2).empty());
    EXPECT_EQ(pop.headers(3), (std::vector<std::string>{"."}));
}

// A failure at message 3 of 5: where it happens, and what the caller sees.
struct ItemFailure {
    const char* name;
    const char* listReply;
    const char* topReply;  // nullptr: the failure is in LIST
    bool hangUp;  // the server hangs up after the TOP reply (cut short)
    const char* sentForItem3;
    const char* message;
};

void PrintTo(const ItemFailure& p, std::ostream* os) { *os << p.name; }

class Pop3FailsAtMessage3 : public testing::TestWithParam<ItemFailure> {};

TEST_P(Pop3FailsAtMessage3, KeepsTwoItemsClosesWithoutQuitAndLogsInAfresh) {
    const ItemFailure& p = GetParam();
    ScriptedServer server;
    login(server, "+OK 5 500");
    for (int i = 1; i <= 2; ++i) {
        answer(server, "+OK " + std::to_string(i) + " 100\r\n");
        answer(server, top("Subject: message " + std::to_string(i) + "\r\n"));
    }
    answer(server, std::string(p.listReply) + "\r\n");
    if (p.topReply) {
        server.ExpectLine().Send(p.topReply);
        if (p.hangUp) server.Close();
    }
    server.Start();

    ProbePOP pop(server.Address());
    EXPECT_EQ(MessageOf<fw::Exception>([&] { pop.UpdateInfo(); }), p.message);
    EXPECT_EQ(sentUntilClosed(server, p.hangUp), kLoginSent + "LIST 1\r\nTOP 1 1\r\nLIST 2\r\nTOP 2 1\r\n" + p.sentForItem3);
    EXPECT_FALSE(pop.Connected());
    ASSERT_EQ(pop.RemoteInfo.Count(), 2);
    EXPECT_EQ(pop.headers(1), (std::vector<std::string>{"Subject: message 2"}));
    EXPECT_EQ(pop.MessageCount, 5);
    // No "updated": the caller learns of the failure from the exception alone.
    ASSERT_GE(pop.events.size(), 2u);
    EXPECT_EQ(Events(pop.events.end() - 2, pop.events.end()), (Events{"closing", "closed"}));
    EXPECT_EQ(std::count(pop.events.begin(), pop.events.end(), "updated"), 0);
    EXPECT_EQ(std::count(pop.events.begin(), pop.events.end(), "next:1"), 1);
    EXPECT_EQ(std::count(pop.events.begin(), pop.events.end(), "next:2"), 0);

    expectFreshLogin(pop);
    EXPECT_EQ(pop.RemoteInfo.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Pop3FailsAtMessage3,
    testing::Values(ItemFailure{"List", "-ERR no such message", nullptr, false, "LIST 3\r\n", "-ERR no such message"},
                    ItemFailure{"Top", "+OK 3 100", "-ERR no such message\r\n", false, "LIST 3\r\nTOP 3 1\r\n",
                                "-ERR no such message"},
                    ItemFailure{"DataCutShort", "+OK 3 100", "+OK\r\nSubject: cut", true, "LIST 3\r\nTOP 3 1\r\n",
                                "Connection closed by the server"}),
    [](const testing::TestParamInfo<ItemFailure>& info) { return std::string(info.param.name); });

TEST(Pop3Transcript, QuitRefusedKeepsTheListClosesAndLogsInAfresh) {
    ScriptedServer server;
    login(server, "+OK 1 10");
    answer(server, "+OK 1 10\r\n");
    answer(server, top("Subject: only\r\n"));
    answer(server, "-ERR cannot quit now\r\n").Start();

    ProbePOP pop(server.Address());
    EXPECT_EQ(MessageOf<EServerError>([&] { pop.UpdateInfo(); }), "-ERR cannot quit now");
    EXPECT_EQ(sentUntilClosed(server), kLoginSent + "LIST 1\r\nTOP 1 1\r\nQUIT\r\n");
    EXPECT_FALSE(pop.Connected());
    EXPECT_EQ(pop.events, (Events{"open", "updating", "progress:-1", "next:0", "closing", "closed"}));
    ASSERT_EQ(pop.RemoteInfo.Count(), 1);
    EXPECT_EQ(pop.headers(0), (std::vector<std::string>{"Subject: only"}));

    expectFreshLogin(pop);
}

TEST(Pop3Transcript, MissingLoginPropertiesFailBeforeAnythingHappens) {
    ScriptedServer server;
    server.Start();
    ProbePOP pop(server.Address(), "", "");
    EXPECT_EQ(MessageOf<net::ESocketError>([&] { pop.UpdateInfo(); }), "UserName property is required");
    EXPECT_EQ(pop.events, (Events{"error:UserName property is required"}));

    pop.UserName = "alice";
    pop.events.clear();
    pop.OnError = [&](fw::TObject*, std::string& msg) { msg = "Enter a password in Setup"; };
    EXPECT_EQ(MessageOf<net::ESocketError>([&] { pop.UpdateInfo(); }), "Enter a password in Setup");
    EXPECT_TRUE(pop.events.empty());
    EXPECT_FALSE(pop.Connected());
    EXPECT_FALSE(mailtest::PumpUntil([&] { return server.Accepted(); }, 100));
}

TEST(Pop3Transcript, ConnectOnAnOpenSessionSendsNothing) {
    ScriptedServer server;
    answer(login(server, "+OK 0 0"), "+OK bye\r\n").Start();
    ProbePOP pop(server.Address());
    pop.Connect();
    pop.events.clear();
    pop.Connect();
    EXPECT_TRUE(pop.events.empty());
    pop.Disconnect();
    pop.Disconnect();
    EXPECT_EQ(sentUntilClosed(server), kLoginSent + "QUIT\r\n");
    EXPECT_EQ(pop.events, (Events{"closing", "closed"}));
}

TEST(Pop3Files, SaveMessageWritesTheWholeStreamOrLeavesItToTheHandler) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string dir = std::string(temp) + "tidemark-mail-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const std::string file = dir + "\\msg_3.eml";

    mail::TPop3Mailbox pop(nullptr);
    pop.SetMessageDirectory(dir);
    EXPECT_EQ(pop.MessageDirectory(), dir + "\\");
    fw::TMemoryStream contents;
    const char raw[] = "Subject: kept\r\n\r\nbody\0with a zero\r\n";
    const std::string text(raw, sizeof raw - 1);
    contents.Write(text.data(), text.size());  // the position is now at the end
    pop.SaveMessage(3, contents);
    pop.SaveMessage(3, contents);  // replaces, does not append

    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[256];
    DWORD n = 0;
    ReadFile(h, buffer, sizeof buffer, &n, nullptr);
    CloseHandle(h);
    EXPECT_EQ(std::string(buffer, n), text);
    DeleteFileA(file.c_str());

    int handled = 0;
    pop.OnUserMessageSave = [&](fw::TObject* sender, std::int32_t num, fw::TMemoryStream& c) {
        EXPECT_EQ(sender, &pop);
        EXPECT_EQ(num, 3);
        EXPECT_EQ(&c, &contents);
        ++handled;
    };
    pop.SaveMessage(3, contents);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryA(dir.c_str());

    pop.SetMessageDirectory(".\\");
    EXPECT_EQ(pop.MessageDirectory(), ".\\");
    pop.SetMessageDirectory("");
    EXPECT_EQ(pop.MessageDirectory(), "");
}
