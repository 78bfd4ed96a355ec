// Header decoding for the new-mail notice through the system's code pages:
// one table of From and Subject fields as TOP gives them, and what the
// notice shows of each.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "mail/charsets.h"
#include "mail/header_text.h"

namespace {

struct Decoding {
    std::vector<std::string> lines;
    std::u16string sender, subject;
};

const Decoding kDecodings[] = {
    {{"From: \"Doe, John\" <jd@example.org>", "Subject: =?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?="},
     u"Doe, John", u"Grüße aus Köln"},
    {{"FROM: <ann@example.org>", "subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?="}, u"ann@example.org", u"Café crème"},
    {{"From: bob@example.org (Bob \\(the\\) Builder)", "Subject: Re: =?utf-8?q?caf=C3=A9?= and =?KOI8-R?B?8NLJ18XU?= !"},
     u"Bob (the) Builder", u"Re: café and Привет !"},
    // Adjacent words are one text, even with a character split between them.
    {{"From: =?utf-8?B?SsO2cmc=?= <j@example.org>", "Subject: =?utf-8?Q?=C3?= =?utf-8?Q?=A9t=C3=A9?= =?windows-1251?Q?=CF=F0=E8=E2=E5=F2?="},
     u"Jörg", u"étéПривет"},
    {{"From: \"=?Shift_JIS?B?k/qWe4zq?=\" <jp@example.org>", "Subject: =?utf-8?Q?bad=Z1?= =?x-unknown?Q?abc?= =?utf-8?B?/w==?="},
     u"日本語", u"=?utf-8?Q?bad=Z1?= =?x-unknown?Q?abc?= =?utf-8?B?/w==?="},
    {{"Subject: =?utf-8?Q?A_long_subject?=", "\t=?utf-8?Q?_folded_over?=", " =?utf-8?B?SG9jaHdhc3NlciBpbiBIYWZlbg==?=",
      "  and plain text", "From: harbour@example.org"},
     u"harbour@example.org", u"A long subject folded overHochwasser in Hafen  and plain text"},
    {{"Subject: =?utf-8?Q?line=0Abreak?=", "X-From: nobody"}, u"", u"line break"},
    {{"From: =?utf-8?Q?trunc", "Subject: =?utf-8?B?R?= =?utf-8?Q?=C3=BC?="}, u"=?utf-8?Q?trunc", u"=?utf-8?B?R?= ü"},
};

}  // namespace

TEST(HeaderDecoding, TheNoticeShowsWhatThePersonWrote) {
    for (const Decoding& d : kDecodings) {
        SCOPED_TRACE(d.lines[0]);
        EXPECT_EQ(mail::DecodedSender(d.lines, mail::ConvertCharset), d.sender);
        EXPECT_EQ(mail::DecodedSubject(d.lines, mail::ConvertCharset), d.subject);
    }
}
