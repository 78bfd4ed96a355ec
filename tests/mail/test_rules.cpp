// The rules behind unique ids, pipelined commands, new-mail notices and the
// kinds of failure: one table each.
#include <windows.h>

#include <fstream>
#include <numeric>

#include "gtest/gtest.h"
#include "mail/charsets.h"
#include "mail/failure_kind.h"
#include "mail/header_text.h"
#include "mail/new_mail.h"
#include "mail/pop3_text.h"
#include "mail/seen_id_store.h"

using namespace mail;

TEST(Pop3Text, AListingIsTakenOnlyWhenItNamesEachMessageOnceWithAnIdOfItsOwn) {
    const std::string longest(71, '~');
    // The ids (or with "LIST", the sizes) taken, or "-" for a listing refused.
    const struct {
        std::string data;
        std::int32_t count;
        std::string ids;
        const char* list = "";
    } table[] = {
        {"1 a\r\n2 b\r\n.\r\n", 2, "a|b"},
        {"2 b  \r\n1  a\r\n.\r\n", 2, "a|b"},
        {"1 .dot\r\n.\r\n", 1, ".dot"},
        {".\r\n", 0, ""},
        {"1 " + longest + "\r\n.\r\n", 1, longest},
        {"1 a b\r\n2 \x7f\xff\r\n.\r\n", 2, "a b|\x7f\xff"},
        {"1 a\r\n.\r\n", 2, "-"},
        {"1 a\r\n2 a\r\n.\r\n", 2, "-"},
        {"1 a\r\n3 b\r\n.\r\n", 2, "-"},
        {"0 a\r\n.\r\n", 1, "-"},
        {"1 a\r\n", 1, "-"},
        {"1  \r\n.\r\n", 1, "-"},
        {".\r\n", 2000000000, "-"},  // nothing is allocated for a count the data cannot hold
        {"2 20 octets\r\n1 10\r\n.\r\n", 2, "10|20", "LIST"},
        {"1 10\r\n2 10\r\n.\r\n", 2, "10|10", "LIST"},
        {"1 ten\r\n.\r\n", 1, "-", "LIST"},
        {"1 -1\r\n.\r\n", 1, "-", "LIST"},
        {"1 5\r\n1 5\r\n.\r\n", 2, "-", "LIST"},
    };
    for (const auto& t : table) {
        std::vector<std::string> ids{"stale"};
        std::vector<std::int32_t> sizes{-7};
        bool taken = *t.list ? ParseListListing(t.data, t.count, sizes) : ParseUidlListing(t.data, t.count, ids);
        if (*t.list) ids.assign(sizes.size(), "");
        for (std::size_t i = 0; i < sizes.size() && *t.list; ++i) ids[i] = std::to_string(sizes[i]);
        std::string text = taken ? "" : "-";
        for (const std::string& id : ids) text += (text.empty() || text == "-" ? "" : "|") + id;
        EXPECT_EQ(text, t.ids) << t.data;
    }
}

// Which commands go out before the replies about each message are read:
// "index:messages" per send. No more than 512 commands or 8192 bytes wait
// unanswered, and the next batch goes once half of them are answered.
TEST(Pop3Text, PipelinedCommandsGoOutInBatchesWithinTheWindow) {
    // Numbers of 10 digits take 35 bytes a message: the byte bound comes first.
    const struct {
        std::int32_t first, count;
        const char* sends;
    } table[] = {
        {1, 3, "0:3"}, {1, 700, "0:256 128:128 256:128 384:128 512:60"}, {1000000000, 300, "0:234 117:66"}};
    for (const auto& t : table) {
        std::vector<std::int32_t> numbers(static_cast<std::size_t>(t.count));
        std::iota(numbers.begin(), numbers.end(), t.first);
        TCommandWindow window(numbers);
        std::string sent, expected, sends;
        for (std::int32_t i = 0; i < t.count; ++i) {
            const std::string due = window.Due(i);
            const auto commands = std::count(due.begin(), due.end(), '\n');
            if (commands) sends += (sends.empty() ? "" : " ") + std::to_string(i) + ":" + std::to_string(commands / 2);
            sent += due;
            expected += ItemCommands(numbers[static_cast<std::size_t>(i)]);
        }
        EXPECT_EQ(sends, t.sends);
        EXPECT_EQ(sent, expected);
    }
}

// Which ids are news across checks and restarts is the controller's tests'
// to show; here, the list that must not be taken for this mailbox's.
TEST(NewMail, AReusedIdIsNewsAndAnotherMailboxsListOrADamagedOneCountsAsNone) {
    TSeenIdStore store;
    store.Folder += " test " + std::to_string(GetCurrentProcessId());
    const std::string mailbox = MailboxName("pop.example.org", "anna");
    TSeenIds seen;
    seen.Update({MessageKey("a", 1), MessageKey("b", 2)});
    store.Save(mailbox, seen);
    EXPECT_EQ(store.Load(mailbox).Ids, seen.Ids);
    EXPECT_FALSE(TSeenIds().FromText(seen.ToText(mailbox), MailboxName("pop.example.org", "anna ")));
    // Another size is another message; a list of ids without sizes, as kept
    // by earlier versions, still knows its ids.
    EXPECT_EQ(seen.Update({MessageKey("a", 1), MessageKey("b", 3), MessageKey("c", 2)}).Indexes, (std::vector<std::size_t>{1, 2}));
    TSeenIds old;
    ASSERT_TRUE(old.FromText("Tidemark seen messages 1\r\nmailbox " + mailbox + "\r\na\r\n", mailbox));
    EXPECT_EQ(old.Update({MessageKey("a", 9), MessageKey("b", 9)}).Indexes, std::vector<std::size_t>{1});
    std::ofstream(store.FileFor(mailbox)) << seen.ToText(mailbox) << "not one id\r\n";
    EXPECT_FALSE(store.Load(mailbox).Known);
    DeleteFileA(store.FileFor(mailbox).c_str());
    RemoveDirectoryA(store.Folder.c_str());
}

// What a new-mail notice shows of the From and Subject fields as TOP gives them.
TEST(NewMail, HeaderFieldsAreDecodedAsThePersonWroteThem) {
    const struct {
        std::vector<std::string> lines;
        std::u16string sender, subject;
    } table[] = {
        {{"From: \"Doe, John\" <jd@example.org>", "Subject: =?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?="}, u"Doe, John", u"Grüße aus Köln"},
        {{"FROM: bob@example.org (Bob \\(the\\) Builder)", "subject: Re: =?ISO-8859-1?Q?Caf=E9_cr=E8me?= and =?KOI8-R?B?8NLJ18XU?= !"},
         u"Bob (the) Builder",
         u"Re: Café crème and Привет !"},
        // Adjacent words are one text, even with a character split between them.
        {{"From: =?utf-8?B?SsO2cmc=?= <j@example.org>", "Subject: =?utf-8?Q?=C3?= =?utf-8?Q?=A9t=C3=A9?= =?windows-1251?Q?=CF=F0=E8=E2=E5=F2?="},
         u"Jörg",
         u"étéПривет"},
        {{"From: \"=?Shift_JIS?B?k/qWe4zq?=\" <jp@example.org>", "Subject: =?utf-8?Q?bad=Z1?= =?x-unknown?Q?abc?= =?utf-8?B?/w==?="},
         u"日本語",
         u"=?utf-8?Q?bad=Z1?= =?x-unknown?Q?abc?= =?utf-8?B?/w==?="},
        {{"Subject: =?utf-8?Q?A_long?=", "\t=?utf-8?Q?_line=0Abreak?=", "  and plain text", "From: <harbour@example.org>"},
         u"harbour@example.org",
         u"A long line break  and plain text"},
        // A name that decodes to nothing gives way to the address.
        {{"From: \"=?utf-8?Q?_?=\" <ghost@example.org>", "Subject: =?utf-8?Q?_?="}, u"ghost@example.org", u" "},
        {{"From: ghost@example.org (=?utf-8?Q?=0D?=), x@example.org"}, u"ghost@example.org", u""},
        // Systems without the ISO-2022-JP code pages too.
        {{"Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsJE4lYSE8JWsbKEI=?="}, u"", u"日本語のメール"},
    };
    for (const auto& t : table) {
        EXPECT_EQ(DecodedSender(t.lines, ConvertCharset), t.sender) << t.lines[0];
        EXPECT_EQ(DecodedSubject(t.lines, ConvertCharset), t.subject) << t.lines[0];
    }
}

// Which failures pass by themselves (the check is tried again quietly) and
// which only the user can mend.
TEST(FailureKind, EachFailureHasItsKind) {
    using F = TFailureFacts;
    const struct {
        F::TSource source;
        int code;
        const char* reply;
        bool hostKnown, passing;
    } table[] = {
        {F::Socket, 10061, "", false, true},
        {F::Socket, 10065, "", false, true},
        {F::Socket, 11002, "", false, true},
        {F::Socket, 57015, "", false, true},
        {F::Socket, 11001, "", true, true},
        {F::Socket, 11001, "", false, false},
        {F::Socket, 57104, "", false, false},
        {F::Socket, 57016, "", false, false},
        {F::TimedOut, 0, "", false, true},
        {F::Canceled, 0, "", false, true},
        {F::Other, 0, "", false, false},
        {F::ServerReply, 0, "-ERR [IN-USE] locked", false, true},
        {F::ServerReply, 0, "-ERR [LOGIN-DELAY] w", false, true},
        {F::ServerReply, 0, "-ERR [sys/temp/quota] x", false, true},
        {F::ServerReply, 0, "-ERR [AUTH] no", false, false},
        {F::ServerReply, 0, "-ERR [SYS/PERM] gone", false, false},
        {F::ServerReply, 0, "-ERR [IN-USE-NOT] x", false, false},
        {F::ServerReply, 0, "-ERR locked [IN-USE]", false, false},
        {F::Socket, 57111, "", false, true},
        {F::Socket, 57040, "", false, true},
        {F::Socket, 57042, "", false, false},
        {F::Socket, 57110, "", false, false},
        {F::ServerReply, 0, "NO [UNAVAILABLE] try later", false, true},
        {F::ServerReply, 0, "NO [AUTHENTICATIONFAILED] no", false, false},
    };
    for (const auto& t : table)
        EXPECT_EQ(ClassifyFailure({t.source, t.code, t.reply, t.hostKnown}) == TFailureKind::Passing, t.passing)
            << t.source << " " << t.code << " " << t.reply;
}
