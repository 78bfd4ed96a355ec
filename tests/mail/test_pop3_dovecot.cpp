// The POP3 component against a real Dovecot server: the messages the test
// delivers come back with the sizes Dovecot reports (line ends counted as
// CR LF) and their header lines; a wrong password gets Dovecot's own refusal.
#include <numeric>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "mail/pop3_session.h"
#include "tests/mail/pop3_probe.h"
#include "tests/support/dovecot_fixture.h"

using mailtest::Events;
using mailtest::MessageOf;
using mailtest::ProbePOP;

namespace {

// The size of `text` as POP3 counts it: every line end as CR LF.
std::int32_t crlfSize(const std::string& text) {
    std::int32_t size = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) ++size;
        ++size;
    }
    return size;
}

class Pop3Dovecot : public testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new testsupport::DovecotServer(TIDEMARK_SOURCE_DIR "/scripts/dovecot-fixture.sh");
        if (!server->Start({{"alice", "secret"}, {"bob", "hunter2"}}, startError)) startError += " ";
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(startError.empty()) << startError; }

    static testsupport::DovecotServer* server;
    static std::string startError;
};
testsupport::DovecotServer* Pop3Dovecot::server = nullptr;
std::string Pop3Dovecot::startError;

}  // namespace

TEST_F(Pop3Dovecot, DeliveredMessagesComeBackWithTheirSizesAndHeaderLines) {
    const std::vector<std::string> messages = {
        // Written with LF alone, as Maildir files usually are.
        "From: Ann <ann@example.org>\nTo: alice@example.org\nSubject: Tide tables\n\nHigh water at six.\nLow at noon.\n",
        // CR LF throughout, a folded header, and a long body that TOP cuts.
        "Subject: Quarterly\r\n report\r\nFrom: bob@example.org\r\nX-Extra: 1\r\n\r\n" + std::string(3000, 'x') +
            "\r\nsecond line\r\n",
        // A line that starts with a dot comes back dot-stuffed; the header
        // lines are not affected.
        "From: c@example.org\nSubject: dots\n\n.starts with a dot\n",
    };
    for (const auto& m : messages) ASSERT_TRUE(server->AddMessage("alice", m));

    ProbePOP pop(server->ServerText());
    pop.UpdateInfo();

    EXPECT_EQ(pop.MessageCount, 3);
    std::int32_t total = 0;
    for (const auto& m : messages) total += crlfSize(m);
    EXPECT_EQ(pop.MailboxSize, total);
    ASSERT_EQ(pop.RemoteInfo.Count(), 3);
    EXPECT_EQ(pop.RemoteInfo.Items(0).Size, crlfSize(messages[0]));
    EXPECT_EQ(pop.headers(0), (std::vector<std::string>{"From: Ann <ann@example.org>", "To: alice@example.org",
                                                        "Subject: Tide tables"}));
    EXPECT_EQ(pop.RemoteInfo.Items(1).Size, crlfSize(messages[1]));
    EXPECT_EQ(pop.headers(1),
              (std::vector<std::string>{"Subject: Quarterly", " report", "From: bob@example.org", "X-Extra: 1"}));
    EXPECT_EQ(pop.RemoteInfo.Items(2).Size, crlfSize(messages[2]));
    EXPECT_EQ(pop.headers(2), (std::vector<std::string>{"From: c@example.org", "Subject: dots"}));
    EXPECT_EQ(pop.events.front(), "open");
    EXPECT_EQ(Events(pop.events.end() - 3, pop.events.end()), (Events{"closing", "closed", "updated"}));
    EXPECT_FALSE(pop.Connected());
    // Dovecot's own count of what the session asked for: three TOPs, no
    // message retrieved or deleted.
    const std::string log = server->Log();
    EXPECT_NE(log.find("top=3/"), std::string::npos) << log;
    EXPECT_NE(log.find("retr=0/0, del=0/3"), std::string::npos) << log;
}

TEST_F(Pop3Dovecot, WrongPasswordGetsDovecotsRefusalAndTheCorrectedOneLogsIn) {
    ASSERT_TRUE(server->AddMessage("bob", "Subject: for bob\n\nhello\n"));
    ProbePOP pop(server->ServerText(), "bob", "wrong");
    EXPECT_EQ(MessageOf<net::EServerError>([&] { pop.UpdateInfo(); }), "-ERR [AUTH] Authentication failed.");
    EXPECT_FALSE(pop.Connected());
    EXPECT_EQ(pop.MessageCount, -1);
    EXPECT_EQ(pop.events, (Events{"open", "closing", "closed"}));

    // As after a correction in Setup: the next check logs in with it.
    pop.Password = "hunter2";
    pop.UpdateInfo();
    EXPECT_EQ(pop.MessageCount, 1);
    ASSERT_EQ(pop.RemoteInfo.Count(), 1);
    EXPECT_EQ(pop.headers(0), (std::vector<std::string>{"Subject: for bob"}));
}
