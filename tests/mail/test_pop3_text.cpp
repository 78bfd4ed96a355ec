// The POP3 text rules on their own: reply judging, the LIST size, header
// splitting, body removal, the information list and the message directory.
#include "framework/sysutils.h"
#include "gtest/gtest.h"
#include "mail/pop3_text.h"
#include "mail/mailbox_info.h"

using namespace mail;

TEST(PopText, OnlyTheFirstCharacterJudgesAReply) {
    EXPECT_EQ(PopReplyCode(""), 0);
    EXPECT_EQ(PopReplyCode("+OK"), 1);
    EXPECT_EQ(PopReplyCode("+"), 1);
    EXPECT_EQ(PopReplyCode("-ERR no such user"), -1);
    EXPECT_EQ(PopReplyCode(" +OK"), 0);
    EXPECT_EQ(PopReplyCode("200 OK"), 0);
    EXPECT_EQ(PopReplyCode("OK"), 0);
}

TEST(PopText, ListSizeIsTheWholeTextAfterTheFirstBlank) {
    EXPECT_EQ(ParseListSize("+OK 1 120"), 120);
    EXPECT_EQ(ParseListSize("+OK 120"), 120);
    EXPECT_EQ(ParseListSize("+OK 1 120 octets"), 0);
    EXPECT_EQ(ParseListSize("+OK 1 abc"), 0);
    EXPECT_EQ(ParseListSize("+OK 1 "), 0);
    EXPECT_EQ(ParseListSize("+OK"), 0);
    EXPECT_EQ(ParseListSize(""), 0);
    EXPECT_EQ(ParseListSize("+OK 7 99999999999"), 0);
}

TEST(PopText, StatAssignsTheCountBeforeTheSizeIsConverted) {
    std::int32_t count = -1, size = -1;
    std::string reply = "+OK 2 abc";
    try {
        ParseStatReply(reply, count, size);
        ADD_FAILURE() << "no exception";
    } catch (const fw::EConvertError& e) {
        EXPECT_EQ(e.Message, "'abc' is not a valid integer value");
    }
    EXPECT_EQ(count, 2);
    EXPECT_EQ(size, -1);

    reply = "+OK 3 4500 octets";
    ParseStatReply(reply, count, size);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(size, 4500);
    EXPECT_EQ(reply, "octets");

    reply = "+OK 5";
    ParseStatReply(reply, count, size);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(size, 4500);
}

TEST(Headers, SplitAtEveryLineEndAndStopAtNul) {
    fw::TMemoryStream s;
    const char text[] = "Subject: a\r\nFrom: b\rTo: c\n\tfolded\r\n\r\nbody\r\n.\r\n\0junk";
    s.Write(text, sizeof(text) - 1);
    s.Position = 0;
    THeaderLines h;
    h.Add("left over");
    h.LoadFromStream(s);
    ASSERT_EQ(h.Count(), 7);
    EXPECT_EQ(h[2], "To: c");
    EXPECT_EQ(h[3], "\tfolded");
    EXPECT_EQ(h[4], "");
    EXPECT_EQ(h[6], ".");
    h.RemoveBody();
    ASSERT_EQ(h.Count(), 4);
    EXPECT_EQ(h[0], "Subject: a");
    EXPECT_EQ(h[1], "From: b");
}

TEST(Headers, RemoveBodyKeepsAListWithoutAnEmptyLineAndEmptiesOneThatStartsEmpty) {
    THeaderLines h;
    h.Add("Subject: x");
    h.Add(".");
    h.RemoveBody();
    EXPECT_EQ(h.Count(), 2);
    h.Add(" ");
    h.RemoveBody();
    EXPECT_EQ(h.Count(), 3);  // a blank is not an empty line

    THeaderLines e;
    e.Add("");
    e.Add("body");
    e.Add(".");
    e.RemoveBody();
    EXPECT_EQ(e.Count(), 0);
}

namespace {
struct Counted : TMessageInfo {
    Counted(std::vector<int>& log, int id) : log(log), id(id) {}
    ~Counted() override { log.push_back(id); }
    std::vector<int>& log;
    int id;
};
}  // namespace

TEST(RemoteInfo, OwnsItemsInOrderAndFreesTheLastFirst) {
    std::vector<int> freed;
    {
        TMailboxInfo info;
        for (int i = 0; i < 3; ++i) {
            auto item = std::make_unique<Counted>(freed, i);
            item->Size = 100 + i;
            info.Add(std::move(item));
        }
        ASSERT_EQ(info.Count(), 3);
        EXPECT_EQ(info.Items(0).Size, 100);
        EXPECT_EQ(info.Items(2).Size, 102);
        for (int bad : {-1, 3}) {
            try {
                info.Items(bad);
                ADD_FAILURE() << "index " << bad << " accepted";
            } catch (const fw::EListError& e) {
                EXPECT_EQ(e.Message, "List index out of bounds");
            }
        }
        info.Clear();
        EXPECT_EQ(info.Count(), 0);
        EXPECT_EQ(freed, (std::vector<int>{2, 1, 0}));
        info.Add(std::make_unique<Counted>(freed, 7));
    }
    EXPECT_EQ(freed, (std::vector<int>{2, 1, 0, 7}));
}

TEST(PopText, MessageDirectoryGetsOneTrailingBackslash) {
    EXPECT_EQ(NormalizeMessageDirectory(""), "");
    EXPECT_EQ(NormalizeMessageDirectory("C:\\Mail"), "C:\\Mail\\");
    EXPECT_EQ(NormalizeMessageDirectory(".\\"), ".\\");
    EXPECT_EQ(MessageFileName(".\\", 3), ".\\msg_3.eml");
    EXPECT_EQ(MessageFileName("", 12), "msg_12.eml");
}
