// Unique ids and the header cache, as transcripts: one mailbox component
// checks a scripted server again and again, and each check shows exactly
// which commands went out and that RemoteInfo is what reading every message
// would give.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "mail/new_mail.h"
#include "mail/pop3_session.h"
#include "mail/pop3_text.h"
#include "tests/support/scripted_server.h"

namespace {

using Ids = std::vector<std::string>;

// What the server holds for an id, whichever number it has today.
std::int32_t sizeOf(const std::string& id) { return 1000 + id[0]; }
std::string subjectOf(const std::string& id) { return "Subject: about " + id; }

struct Check {
    const char* name;
    Ids mailbox;       // ids on the server, message 1 first
    const char* uidl;  // the UIDL reply, status line included
    std::vector<int> read;
    bool idsKnown;
};

const Check kChecks[] = {
    {"EmptyMailboxSendsNoUidl", {}, nullptr, {}, true},
    {"FirstCheckReadsAll", {"a", "b"}, "+OK\r\n1 a\r\n2 b\r\n.\r\n", {1, 2}, true},
    {"UnchangedMailboxReadsNothing", {"a", "b"}, "+OK\r\n1 a\r\n2 b\r\n.\r\n", {}, true},
    {"DeletionElsewhereShiftsNumbers", {"b", "c"}, "+OK\r\n1 b\r\n2 c\r\n.\r\n", {2}, true},
    {"OnlyNewIdsAreRead", {"b", "c", "d", "e"}, "+OK\r\n1 b\r\n2 c\r\n3 d\r\n4 e\r\n.\r\n", {3, 4}, true},
    {"RefusedUidlReadsAll", {"b", "c"}, "-ERR unknown command\r\n", {1, 2}, false},
    {"ListingThatDoesNotAddUpReadsAll", {"b", "c"}, "+OK\r\n1 b\r\n1 c\r\n.\r\n", {1, 2}, false},
    {"CacheOutlivesACheckWithoutIds", {"c", "b"}, "+OK\r\n1 c\r\n2 b\r\n.\r\n", {}, true},
};

}  // namespace

TEST(NewMailTranscript, EachCheckReadsOnlyMessagesWithUnknownIds) {
    // One server for every check: the cache belongs to one server and user.
    testsupport::ScriptedServer server;
    std::vector<std::string> sent;
    for (const Check& c : kChecks) {
        if (!sent.empty()) server.NextClient();
        // CAPA refused: one command at a time.
        server.Send("+OK ready\r\n").ExpectLine().Send("-ERR\r\n");
        server.ExpectLine().Send("+OK\r\n").ExpectLine().Send("+OK\r\n").ExpectLine();
        server.Send("+OK " + std::to_string(c.mailbox.size()) + " 4000\r\n");
        sent.push_back("CAPA\r\nUSER alice\r\nPASS secret\r\nSTAT\r\n");
        if (c.uidl) {
            server.ExpectLine().Send(c.uidl);
            sent.back() += "UIDL\r\n";
        }
        for (int k : c.read) {
            const std::string& id = c.mailbox[static_cast<std::size_t>(k - 1)];
            const std::string num = std::to_string(k);
            server.ExpectLine().Send("+OK " + num + " " + std::to_string(sizeOf(id)) + "\r\n");
            server.ExpectLine().Send("+OK\r\n" + subjectOf(id) + "\r\n\r\nbody\r\n.\r\n");
            sent.back() += "LIST " + num + "\r\nTOP " + num + " 1\r\n";
        }
        server.ExpectLine().Send("+OK bye\r\n");
        sent.back() += "QUIT\r\n";
    }
    server.Start();

    mail::TPop3Mailbox pop(nullptr);
    pop.SetWinsockLoaded(true);
    pop.SetTimeOut(2);
    pop.Server = server.Address();
    pop.UserName = "alice";
    pop.Password = "secret";
    pop.UseUniqueIds = true;
    std::size_t seen = 0;
    for (std::size_t row = 0; row < sent.size(); ++row) {
        const Check& c = kChecks[row];
        SCOPED_TRACE(c.name);
        pop.UpdateInfo();
        // The server read QUIT before it answered: the session is all there.
        EXPECT_EQ(server.Received().substr(seen), sent[row]);
        seen += sent[row].size();
        ASSERT_EQ(pop.RemoteInfo.Count(), static_cast<int>(c.mailbox.size()));
        for (std::size_t i = 0; i < c.mailbox.size(); ++i) {
            EXPECT_EQ(pop.RemoteInfo.Items(static_cast<int>(i)).Size, sizeOf(c.mailbox[i]));
            EXPECT_EQ(pop.RemoteInfo.Items(static_cast<int>(i)).Headers.Lines(), Ids{subjectOf(c.mailbox[i])});
        }
        EXPECT_EQ(pop.UniqueIdsKnown, c.idsKnown);
        EXPECT_EQ(pop.UniqueIds, c.idsKnown ? c.mailbox : Ids{});
    }
    // Another mailbox, although it has an id the cache holds: its ids say
    // nothing of the last one's.
    testsupport::ScriptedServer other;
    other.Send("+OK\r\n").ExpectLine().Send("-ERR\r\n");
    other.ExpectLine().Send("+OK\r\n").ExpectLine().Send("+OK\r\n").ExpectLine().Send("+OK 1 9\r\n");
    for (const char* reply : {"+OK\r\n1 c\r\n.\r\n", "+OK 1 9\r\n", "+OK\r\nSubject: other\r\n\r\n.\r\n", "+OK\r\n"})
        other.ExpectLine().Send(reply);
    other.Start();
    pop.Server = other.Address();
    pop.UpdateInfo();
    EXPECT_EQ(other.Received(), "CAPA\r\nUSER alice\r\nPASS secret\r\nSTAT\r\nUIDL\r\nLIST 1\r\nTOP 1 1\r\nQUIT\r\n");
    EXPECT_EQ(pop.RemoteInfo.Items(0).Headers.Lines(), Ids{"Subject: other"});
    EXPECT_EQ(pop.CheckedMailbox, mail::MailboxName(other.Address(), "alice"));
}

TEST(NewMailTranscript, UidlListingsAreTakenOnlyWhenTheyAddUp) {
    const struct {
        const char* data;
        std::int32_t count;
        Ids ids;  // empty: refused (unless the count is 0)
    } cases[] = {
        {"1 a\r\n2 b\r\n.\r\n", 2, {"a", "b"}},
        {"2 b  \r\n1  a\r\n.\r\n", 2, {"a", "b"}},  // any order, blanks around the id
        {"1 .dot\r\n.\r\n", 1, {".dot"}},           // an id may begin with a dot
        {".\r\n", 0, {}},
        {"1 a\r\n.\r\n", 2, {}},                    // a message missing
        {"1 a\r\n2 a\r\n.\r\n", 2, {}},             // one id twice
        {"1 a\r\n3 b\r\n.\r\n", 2, {}},             // a number beyond the count
        {"1 a b\r\n.\r\n", 1, {}},                  // a blank inside the id
        {"1 a\r\n", 1, {}},                         // no end line
        {"1 \x7f\r\n.\r\n", 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        Ids ids{"stale"};
        EXPECT_EQ(mail::ParseUidlListing(c.data, c.count, ids), !c.ids.empty() || c.count == 0);
        EXPECT_EQ(ids, c.ids);
    }
    Ids ids;
    EXPECT_TRUE(mail::ParseUidlListing("1 " + std::string(70, 'x') + "\r\n.\r\n", 1, ids));
    EXPECT_FALSE(mail::ParseUidlListing("1 " + std::string(71, 'x') + "\r\n.\r\n", 1, ids));
    EXPECT_FALSE(mail::ParseUidlListing(".\r\n", 2000000000, ids));  // nothing allocated for it
}
