// Pipelined checks: where CAPA lists PIPELINING the LIST and TOP commands go
// out before their replies, and the caller sees exactly what a check one
// command at a time shows. Transcripts against a scripted server, and a
// Dovecot mailbox of 1,000 messages read both ways.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "mail/pop3_session.h"
#include "mail/pop3_text.h"
#include "tests/mail/pop3_probe.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/scripted_server.h"

using mailtest::Events;
using mailtest::MessageOf;
using mailtest::ProbePOP;
using testsupport::ScriptedServer;

namespace {

const std::string kLoginSent = "CAPA\r\nUSER alice\r\nPASS secret\r\nSTAT\r\n";
const std::string kPipelining = "+OK\r\nUSER\r\npipelining\r\nTOP\r\n.\r\n";

ScriptedServer& login(ScriptedServer& s, const std::string& capa, const std::string& stat) {
    s.Send("+OK ready\r\n").ExpectLine().Send(capa);
    return s.ExpectLine().Send("+OK\r\n").ExpectLine().Send("+OK in\r\n").ExpectLine().Send(stat + "\r\n");
}

std::string item(int n) {
    const std::string k = std::to_string(n);
    return "+OK " + k + " " + k + "00\r\n+OK\r\nSubject: s" + k + "\r\n\r\nbody\r\n.\r\n";
}

std::string commands(int from, int to) {
    std::string text;
    for (int n = from; n <= to; ++n) text += "LIST " + std::to_string(n) + "\r\nTOP " + std::to_string(n) + " 1\r\n";
    return text;
}

std::string sentUntilClosed(ScriptedServer& s, bool serverHangsUp = false) {
    EXPECT_TRUE(mailtest::PumpUntil([&] { return s.ClientClosed() || (serverHangsUp && s.ScriptDone()); }, 3000));
    return s.Received();
}

}  // namespace

TEST(Pop3Pipelining, AllCommandsArriveBeforeAnyReplyAndTheCallerSeesTheSame) {
    ScriptedServer server;
    login(server, kPipelining, "+OK 3 600");
    for (int i = 0; i < 6; ++i) server.ExpectLine();
    // One segment: each reply's data must end at its own "." line.
    server.Send(item(1) + "+OK 2 200\r\n+OK\r\n.\r\n" + item(3)).ExpectLine().Send("+OK bye\r\n").Start();

    ProbePOP pop(server.Address());
    pop.UpdateInfo();
    EXPECT_EQ(sentUntilClosed(server), kLoginSent + commands(1, 3) + "QUIT\r\n");
    EXPECT_TRUE(pop.Pipelined());
    EXPECT_EQ(pop.events, (Events{"open", "updating", "progress:-1", "next:0", "progress:-1", "next:1", "progress:-1",
                                  "next:2", "closing", "closed", "updated"}));
    ASSERT_EQ(pop.RemoteInfo.Count(), 3);
    EXPECT_EQ(pop.RemoteInfo.Items(0).Size, 100);
    EXPECT_EQ(pop.headers(0), (std::vector<std::string>{"Subject: s1"}));
    EXPECT_EQ(pop.headers(1), (std::vector<std::string>{"."}));
    EXPECT_EQ(pop.RemoteInfo.Items(2).Size, 300);
    EXPECT_EQ(pop.headers(2), (std::vector<std::string>{"Subject: s3"}));
    EXPECT_EQ(pop.LastReply, "+OK bye");
}

// A failure at message 3 of 5, all ten commands sent: what the server said
// after it is never used, and no QUIT follows.
TEST(Pop3Pipelining, AFailureMidBatchEndsTheCheckAsOneAtATimeDoes) {
    struct Case {
        const char* afterMessage2;
        bool hangUp;
        const char* message;
        Events lastEvents;
    } cases[] = {
        {"+OK 3 300\r\n-ERR no such message\r\n", false, "-ERR no such message", {"next:1", "closing", "closed"}},
        {"-ERR gone\r\n", false, "-ERR gone", {"next:1", "closing", "closed"}},
        {"+OK 3 300\r\n+OK\r\nSubject: cut", true, "Connection closed by the server",
         {"next:1", "progress:-1", "error:Connection closed by the server", "closing", "closed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ScriptedServer server;
        login(server, kPipelining, "+OK 5 500");
        for (int i = 0; i < 10; ++i) server.ExpectLine();
        server.Send(item(1) + item(2) + c.afterMessage2 + (c.hangUp ? "" : item(4) + item(5)));
        if (c.hangUp) server.Close();
        server.Start();

        ProbePOP pop(server.Address());
        EXPECT_EQ(MessageOf<fw::Exception>([&] { pop.UpdateInfo(); }), c.message);
        EXPECT_EQ(sentUntilClosed(server, c.hangUp), kLoginSent + commands(1, 5));
        EXPECT_FALSE(pop.Connected());
        ASSERT_EQ(pop.RemoteInfo.Count(), 2);
        EXPECT_EQ(pop.headers(1), (std::vector<std::string>{"Subject: s2"}));
        ASSERT_GE(pop.events.size(), c.lastEvents.size());
        EXPECT_EQ(Events(pop.events.end() - static_cast<long>(c.lastEvents.size()), pop.events.end()), c.lastEvents);
        EXPECT_EQ(std::count(pop.events.begin(), pop.events.end(), "next:2"), 0);
    }
}

// Without PIPELINING in the CAPA reply, after a refused CAPA, or with
// pipelining switched off, each command waits for the last reply.
TEST(Pop3Pipelining, OtherwiseOneCommandAtATime) {
    struct Case {
        const char* capa;
        bool use;
        std::set<std::string> capabilities;
    } cases[] = {
        {"-ERR unknown command\r\n", true, {}},
        {"+OK\r\nTOP\r\nSASL PLAIN\r\nX-PIPELINING\r\n.\r\n", true, {"TOP", "SASL", "X-PIPELINING"}},
        {"+OK\r\nPIPELINING\r\n.\r\n", false, {"PIPELINING"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capa);
        ScriptedServer server;
        login(server, c.capa, "+OK 2 200");
        for (int n = 1; n <= 2; ++n) {
            const std::string reply = item(n);
            const std::size_t top = reply.find("+OK\r\nSubject");
            server.ExpectLine().ExpectSilence(100).Send(reply.substr(0, top));
            server.ExpectLine().ExpectSilence(100).Send(reply.substr(top));
        }
        server.ExpectLine().Send("+OK bye\r\n").Start();

        ProbePOP pop(server.Address());
        pop.UsePipelining = c.use;
        pop.UpdateInfo();
        EXPECT_EQ(sentUntilClosed(server), kLoginSent + commands(1, 2) + "QUIT\r\n");
        EXPECT_FALSE(server.HeardDuringSilence());
        EXPECT_EQ(pop.Capabilities, c.capabilities);
        EXPECT_EQ(pop.events, (Events{"open", "updating", "progress:-1", "next:0", "progress:-1", "next:1", "closing",
                                      "closed", "updated"}));
        EXPECT_EQ(pop.RemoteInfo.Count(), 2);
    }
}

// A check of 1,000 messages: every command goes out once, in order, before
// its replies are read; unanswered commands stay within the bounds; few sends.
TEST(Pop3Pipelining, TheCommandWindowSendsAheadWithinItsBounds) {
    std::vector<std::int32_t> numbers(1000);
    for (int i = 0; i < 1000; ++i) numbers[i] = i + 1;
    mail::TCommandWindow window(numbers);
    std::string sent;
    int sends = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::string due = window.Due(i);
        sends += !due.empty();
        sent += due;
        const std::string answered = commands(1, i);
        ASSERT_GE(sent.size(), commands(1, i + 1).size()) << i;
        const std::string waiting = sent.substr(answered.size());
        EXPECT_LE(waiting.size(), mail::TCommandWindow::MaxBytes) << i;
        EXPECT_LE(std::count(waiting.begin(), waiting.end(), '\n'), mail::TCommandWindow::MaxCommands) << i;
    }
    EXPECT_EQ(sent, commands(1, 1000));
    EXPECT_LE(sends, 10);
}

TEST(Pop3Pipelining, ADovecotMailboxOf1000MessagesReadsAsOneAtATime) {
    testsupport::DovecotServer server(TIDEMARK_SOURCE_DIR "/scripts/dovecot-fixture.sh");
    std::string error;
    ASSERT_TRUE(server.Start({{"alice", "secret"}}, error)) << error;
    for (int n = 1; n <= 1000; ++n)
        ASSERT_TRUE(server.AddMessage("alice", "Subject: number " + std::to_string(n) + "\nFrom: a@b\n\n" +
                                                   std::string(static_cast<std::size_t>(n), 'x') + "\n"));
    ProbePOP pipelined(server.ServerText()), serial(server.ServerText());
    serial.UsePipelining = false;
    pipelined.SetTimeOut(10);
    serial.SetTimeOut(10);
    pipelined.UpdateInfo();
    serial.UpdateInfo();

    EXPECT_TRUE(pipelined.Pipelined());
    EXPECT_EQ(pipelined.events, serial.events);
    ASSERT_EQ(pipelined.RemoteInfo.Count(), 1000);
    ASSERT_EQ(serial.RemoteInfo.Count(), 1000);
    std::vector<bool> seen(1001);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(pipelined.RemoteInfo.Items(i).Size, serial.RemoteInfo.Items(i).Size);
        EXPECT_EQ(pipelined.headers(i), serial.headers(i));
        const auto headers = pipelined.headers(i);
        ASSERT_EQ(headers.size(), 2u);
        const int n = std::atoi(headers[0].c_str() + 16);
        ASSERT_TRUE(n >= 1 && n <= 1000 && !seen[n]) << headers[0];
        seen[n] = true;
        EXPECT_EQ(pipelined.RemoteInfo.Items(i).Size, 33 + static_cast<int>(std::to_string(n).size()) + n);
    }
    // Dovecot's own count, logged once each session has ended: two sessions
    // of 1,000 TOPs, nothing retrieved.
    std::string log;
    auto count = [&](const std::string& what) {
        int k = 0;
        for (auto at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++k;
        return k;
    };
    mailtest::PumpUntil(
        [&] {
            log = server.Log();
            return count("top=") >= 2;
        },
        3000);
    EXPECT_EQ(count("top=1000/"), 2) << log;
    EXPECT_EQ(count("retr=0/0, del=0/1000"), 2) << log;
}
