// The transport's text rules, one table each; the error catalogue word for
// word; and what the socket itself promises beyond the POP3 transcripts of
// tests/mail: a send that cannot complete times out and closes it, and no
// socket or stale state outlives its use.
#include <windows.h>

#include <cstring>

#include "gtest/gtest.h"
#include "net/socket_client.h"
#include "net/socket_text.h"
#include "tests/support/helpers.h"
#include "tests/support/scripted_server.h"

using namespace net;
using testsupport::MessageOf;
using testsupport::ScriptedServer;

TEST(SocketText, TheServerSettingSplitsAtTheFirstColonAndThePortTakesItsLow16Bits) {
    const struct {
        const char *server, *host;
        unsigned port;
    } table[] = {{"mail.example.org", "mail.example.org", 0}, {"mail.example.org:110", "mail.example.org", 110}, {"host:65535", "host", 65535}, {"host:65646", "host", 110}, {"host: +110", "host", 110}, {"host:$6E", "host", 110}, {"host:", "host", 0}, {"host:pop", "host", 0}, {"host:65536", "host", 0}, {"host:110:25", "host", 0}, {":110", "", 110}, {"", "", 0}};
    for (const auto& t : table) EXPECT_EQ(SplitServer(t.server).Host + ":" + std::to_string(SplitServer(t.server).Port),
                                          t.host + std::string(":") + std::to_string(t.port))
                                    << t.server;
}

TEST(SocketText, LineEndsAndTheEndOfData) {
    const std::pair<const char*, const char*> ends[] = {
        {"+OK hi\r\n", "+OK hi"}, {"a\r\r\n\n", "a"}, {"a\rb\n", "a\rb"}, {"\r\n", ""}, {"", ""}};
    for (auto [line, stripped] : ends) EXPECT_EQ(StripLineEnd(line), stripped) << line;
    // The dot line ends the data; alone, it counts only where this read began.
    const struct {
        const char* data;
        std::size_t start;
        bool complete;
    } data[] = {{"a\r\n.\r\n", 0, true}, {"\r\n.\r\n", 0, true}, {".\r\n", 0, true}, {"abc.\r\n", 3, true}, {"a\r\n.\r\nb", 0, false}, {"a\r\n..\r\n", 0, false}, {"a\n.\n", 0, false}, {".\r", 0, false}, {"abc.\r\n", 0, false}, {"ab.\r\n", 1, false}, {"", 0, false}};
    for (const auto& d : data) EXPECT_EQ(IsDataComplete(d.data, std::strlen(d.data), d.start), d.complete) << d.data;
}

// A certificate's name stands for one host; its wildcard for one whole left-most label.
TEST(SocketText, CertificateNamesAndAddressTexts) {
    const struct {
        const char *pattern, *host;
        bool matches;
    } names[] = {
        {"Mail.Example.org", "mail.example.ORG.", true}, {"*.example.org", "mail.example.org", true}, {"*.example.org", "a.mail.example.org", false}, {"*.example.org", "example.org", false}, {"*.org", "example.org", false}, {"*.org.", "example.org", false}, {"m*.example.org", "mail.example.org", false}, {"mail.*.org", "mail.x.org", false}, {"*.*.org", "a.b.org", false}, {"*.example.org", ".example.org", false}, {"*.example.org", "*.example.org", false}};
    for (const auto& n : names) EXPECT_EQ(CertificateNameMatches(n.pattern, n.host), n.matches) << n.pattern << " " << n.host;
    unsigned char ip[4];
    for (const char* text : {"127.256.0.1", "127.2.3", "127.2.3.4.", "0x7f.0.0.1", "127.2.3.0004", "localhost"}) EXPECT_FALSE(Ipv4Bytes(text, ip)) << text;
}

TEST(SocketText, ProgressIsRoundedHalvesToEven) {
    const struct {
        std::int64_t size;
        std::int32_t expected, percent;
    } table[] = {{0, 200, 0}, {1, 200, 0}, {3, 200, 2}, {5, 200, 2}, {2, 3, 67}, {1, 3, 33}, {300, 200, 150}, {100, 0, -1}, {100, -1, -1}, {50000000, 100000000, 50}};
    for (const auto& t : table) EXPECT_EQ(ProgressPercent(t.size, t.expected), t.percent) << t.size << "/" << t.expected;
}

// The string table is made from the catalogue's list by the resource
// compiler: every entry must come back as the list has it, byte for byte
// (its quotes, apostrophes and "%s" included), and nothing else.
TEST(Catalogue, TheStringTableHoldsEveryTextOfTheList) {
    int entries = 0;
#define TIDEMARK_CATALOGUE_CHECK(name, id, text) \
    ++entries;                                   \
    EXPECT_EQ(CatalogueText(id), text) << #name;
    TIDEMARK_CATALOGUE(TIDEMARK_CATALOGUE_CHECK)
#undef TIDEMARK_CATALOGUE_CHECK
    EXPECT_GT(entries, 80);
    EXPECT_EQ(CatalogueText(sWsaNetworkIsUnreachable), "[10051] Network is unreachable");
    EXPECT_EQ(CatalogueText(sCertDeclined), "");
}

namespace {
struct Socket : TSocketClient {
    explicit Socket(const std::string& server) : TSocketClient(nullptr) {
        SetWinsockLoaded(true);
        SetTimeOut(1);
        Server = server;
        OnClosing = [this](fw::TObject*) { events += "closing "; };
        OnError = [this](fw::TObject*, std::string& msg) { events += "error:" + msg + " "; };
    }
    void OpenAndConnect() {
        Open();
        ConnectSocket();
    }
    std::string events;
};
}  // namespace

TEST(Socket, ASendThatCannotCompleteTimesOutAndClosesTheSocket) {
    ScriptedServer server("H");
    Socket s(server.Address());
    s.OpenAndConnect();
    const std::string line(32 << 20, 'a');  // more than the loopback buffers hold
    const ULONGLONG start = GetTickCount64();
    const double cpu = testsupport::CpuMs();
    EXPECT_EQ(MessageOf([&] { s.SendLine(line); }), "Operation timed out");
    const ULONGLONG waited = GetTickCount64() - start;
    EXPECT_TRUE(waited >= 900 && waited <= 2500) << waited;
    EXPECT_LT(testsupport::CpuMs() - cpu, 0.3 * waited) << "the wait spun instead of blocking";
    EXPECT_FALSE(s.Connected());
    EXPECT_EQ(s.events, "error:Operation timed out closing ");
}

TEST(Socket, NoSocketOutlivesItsUseAndNoEndedOperationSpoilsTheNextOpen) {
    ScriptedServer first, second, third("S +OK third");
    {
        Socket s(first.Address());
        s.OpenAndConnect();
        s.Server = second.Address();
        s.OpenAndConnect();
        EXPECT_TRUE(testsupport::PumpUntil([&] { return first.Finished(); })) << "the first socket was lost";
        s.Cancel();
        // Looked up by name: the lookup must wait for its own answer.
        s.Server = "localhost:" + std::to_string(third.Port());
        s.OpenAndConnect();
        std::string line;
        s.ReadLine(line);
        EXPECT_EQ(line, "+OK third");
    }  // destroyed without Close
    EXPECT_TRUE(testsupport::PumpUntil([&] { return third.Finished(); })) << "the socket outlived its component";
}
