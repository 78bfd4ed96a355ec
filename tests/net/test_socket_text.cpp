// The socket's text rules on their own: server setting, reply codes, line
// ends, the end of multi-line data and the progress percentage.
#include <string>

#include "gtest/gtest.h"
#include "net/socket_text.h"

using namespace net;

TEST(SocketText, ServerSettingSplitsAtTheFirstColon) {
    struct Case {
        const char* server;
        const char* host;
        unsigned port;
    } cases[] = {
        {"mail.example.org", "mail.example.org", 0},
        {"mail.example.org:110", "mail.example.org", 110},
        {"10.0.0.1:995", "10.0.0.1", 995},
        {"host:65535", "host", 65535},
        {"host:1", "host", 1},
        // Numbers beyond 16 bits are taken by their low 16 bits.
        {"host:65646", "host", 110},
        {"host:+110", "host", 110},
        {"host: 110", "host", 110},
        // No port (the service lookup decides): not a number, or 0 after the cut.
        {"host:", "host", 0},
        {"host:pop", "host", 0},
        {"host:0", "host", 0},
        {"host:65536", "host", 0},
        {"host:4294967406", "host", 0},
        {"host:110:25", "host", 0},
        {"host:110 ", "host", 0},
        {":110", "", 110},
        {"", "", 0},
    };
    for (const auto& c : cases) {
        ServerParts p = SplitServer(c.server);
        EXPECT_EQ(p.Host, c.host) << c.server;
        EXPECT_EQ(p.Port, c.port) << c.server;
    }
}

TEST(SocketText, ReplyCodeIsThreeLeadingDigits) {
    EXPECT_EQ(ThreeDigitReplyCode("220 ready"), 220);
    EXPECT_EQ(ThreeDigitReplyCode("007"), 7);
    EXPECT_EQ(ThreeDigitReplyCode("12"), -1);
    EXPECT_EQ(ThreeDigitReplyCode("+OK 2 320"), -1);
    EXPECT_EQ(ThreeDigitReplyCode(" 12 x"), -1);
    EXPECT_EQ(ThreeDigitReplyCode("-12"), -1);
    EXPECT_EQ(ThreeDigitReplyCode(""), -1);
}

TEST(SocketText, LineEndsAreStrippedOnlyAtTheEnd) {
    EXPECT_EQ(StripLineEnd("+OK hi\r\n"), "+OK hi");
    EXPECT_EQ(StripLineEnd("+OK hi\n"), "+OK hi");
    EXPECT_EQ(StripLineEnd("a\r\r\n\n"), "a");
    EXPECT_EQ(StripLineEnd("a\rb\r\n"), "a\rb");
    EXPECT_EQ(StripLineEnd("\r\n"), "");
}

TEST(SocketText, DataEndsWithADotLine) {
    auto complete = [](const std::string& s, std::size_t start = 0) {
        return IsDataComplete(s.data(), s.size(), start);
    };
    EXPECT_TRUE(complete("a\r\n.\r\n"));
    EXPECT_TRUE(complete("\r\n.\r\n"));
    EXPECT_TRUE(complete(".\r\n"));  // an empty reply: the dot line alone
    EXPECT_FALSE(complete("a\r\n.\r\nb"));
    EXPECT_FALSE(complete("a\r\n..\r\n"));
    EXPECT_FALSE(complete("a\n.\n"));
    EXPECT_FALSE(complete("x\r\n"));
    EXPECT_FALSE(complete(".\r"));
    EXPECT_FALSE(complete(""));
    // The dot line alone counts only at the start of this read.
    EXPECT_FALSE(complete("abc.\r\n", 0));
    EXPECT_TRUE(complete("abc.\r\n", 3));
    EXPECT_FALSE(complete("ab.\r\n", 1));
}

TEST(SocketText, ProgressRoundsHalvesToEven) {
    EXPECT_EQ(ProgressPercent(0, 200), 0);
    EXPECT_EQ(ProgressPercent(1, 200), 0);    // 0.5 -> 0
    EXPECT_EQ(ProgressPercent(3, 200), 2);    // 1.5 -> 2
    EXPECT_EQ(ProgressPercent(5, 200), 2);    // 2.5 -> 2
    EXPECT_EQ(ProgressPercent(2, 3), 67);     // 66.67
    EXPECT_EQ(ProgressPercent(1, 3), 33);     // 33.33
    EXPECT_EQ(ProgressPercent(300, 200), 150);
    EXPECT_EQ(ProgressPercent(100, 0), -1);
    EXPECT_EQ(ProgressPercent(100, -1), -1);
    // Sizes past 21 MB must not wrap a 32-bit product.
    EXPECT_EQ(ProgressPercent(50000000, 100000000), 50);
}
