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
    } table[] = {{"mail.example.org", "mail.example.org", 0}, {"mail.example.org:110", "mail.example.org", 110},
                 {"host:65535", "host", 65535}, {"host:65646", "host", 110}, {"host: +110", "host", 110},
                 {"host:$6E", "host", 110}, {"host:", "host", 0}, {"host:pop", "host", 0}, {"host:65536", "host", 0},
                 {"host:110:25", "host", 0}, {":110", "", 110}, {"", "", 0}};
    for (const auto& t : table) EXPECT_EQ(SplitServer(t.server).Host + ":" + std::to_string(SplitServer(t.server).Port),
                                          t.host + std::string(":") + std::to_string(t.port)) << t.server;
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
    } data[] = {{"a\r\n.\r\n", 0, true}, {"\r\n.\r\n", 0, true}, {".\r\n", 0, true}, {"abc.\r\n", 3, true},
                {"a\r\n.\r\nb", 0, false}, {"a\r\n..\r\n", 0, false}, {"a\n.\n", 0, false}, {".\r", 0, false},
                {"abc.\r\n", 0, false}, {"ab.\r\n", 1, false}, {"", 0, false}};
    for (const auto& d : data) EXPECT_EQ(IsDataComplete(d.data, std::strlen(d.data), d.start), d.complete) << d.data;
}

// A certificate's name stands for one host; its wildcard for one whole left-most label.
TEST(SocketText, CertificateNamesAndAddressTexts) {
    const struct { const char *pattern, *host; bool matches; } names[] = {
        {"Mail.Example.org", "mail.example.ORG.", true}, {"*.example.org", "mail.example.org", true}, {"*.example.org", "a.mail.example.org", false},
        {"*.example.org", "example.org", false}, {"*.org", "example.org", false}, {"*.org.", "example.org", false}, {"m*.example.org", "mail.example.org", false},
        {"mail.*.org", "mail.x.org", false}, {"*.*.org", "a.b.org", false}, {"*.example.org", ".example.org", false}, {"*.example.org", "*.example.org", false}};
    for (const auto& n : names) EXPECT_EQ(CertificateNameMatches(n.pattern, n.host), n.matches) << n.pattern << " " << n.host;
    unsigned char ip[4];
    for (const char* text : {"256.0.0.1", "1.2.3", "1.2.3.4.", "0x7f.0.0.1", "1.2.3.0004", "localhost"}) EXPECT_FALSE(Ipv4Bytes(text, ip)) << text;
}

TEST(SocketText, ProgressIsRoundedHalvesToEven) {
    const struct {
        std::int64_t size;
        std::int32_t expected, percent;
    } table[] = {{0, 200, 0}, {1, 200, 0}, {3, 200, 2}, {5, 200, 2}, {2, 3, 67}, {1, 3, 33}, {300, 200, 150},
                 {100, 0, -1}, {100, -1, -1}, {50000000, 100000000, 50}};
    for (const auto& t : table) EXPECT_EQ(ProgressPercent(t.size, t.expected), t.percent) << t.size << "/" << t.expected;
}

// Every text a user may read in an error box, as the catalogue must hold it
// (a Winsock code's text begins with the code in brackets). The catalogue's
// other texts (57006, 57007, 57009, 57013, 57014) are never raised.
TEST(Catalogue, EveryTextWordForWord) {
    const std::pair<unsigned, const char*> table[] = {
        {10000, "No Error"}, {10004, "Interrupted function call"}, {10009, "Bad file number"},
        {10013, "Permission denied."}, {10014, "Bad address"}, {10022, "Invalid argument"},
        {10024, "Too many open files"}, {10035, "Resource temporarily not available"},
        {10036, "Operation now in progress"}, {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"}, {10039, "Destination address required"},
        {10040, "Message too long"}, {10041, "Protocol wrong type for socket"}, {10042, "Bad protocol option"},
        {10043, "Protocol not supported"}, {10044, "Socket type not supported"}, {10045, "Operation not supported"},
        {10046, "Protocol family not supported"}, {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"}, {10049, "Cannot assign requested address"}, {10050, "Network is down"},
        {10051, "Network is unreachable"}, {10052, "Network dropped connection or reset"},
        {10053, "Software caused connection abort"}, {10054, "Connection reset by peer"},
        {10055, "No buffer space available"}, {10056, "Socket is already connected"},
        {10057, "Socket is not connected"}, {10058, "Can't send after socket shutdown"},
        {10059, "Too many references, can't splice"}, {10060, "Connection timed out"}, {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"}, {10063, "File name too long"}, {10064, "Host is down"},
        {10065, "No Route to Host"}, {10066, "Directory not empty"}, {10067, "Too many processes"},
        {10068, "Too many users"}, {10069, "Disc Quota Exceeded"}, {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"}, {10091, "Network subsystem is unavailable"},
        {10092, "WINSOCK DLL Version out of range"}, {10093, "Successful WSAStartup() not yet performed"},
        {10094, "Graceful shutdown in progress"}, {11001, "Host not found"},
        {11002, "Non-Authoritative Host not found"}, {11003, "Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
        {11004, "Valid name, no data record of requested type"}, {57000, "Operation timed out"},
        {57001, "Operation has been canceled"}, {57002, "Server property is required"},
        {57003, "Invalid Winsock version"}, {57004, "Error resolving remote host"},
        {57005, "Service name is required"}, {57008, "You have to connect to the server first"},
        {57010, "Function %s not found"}, {57011, "Winsock is not loaded"}, {57012, "Winsock not found"},
        {57015, "Connection closed by the server"}, {57016, "Server reply is too long"},
        {57103, "UserName property is required"}, {57104, "Password property is required"},
        {57020, "The secure connection could not be set up: %s"},
        {57021, "The server closed the connection during the secure handshake"},
        {57022, "The server does not speak TLS on this port"},
        {57023, "The server accepts no TLS version or cipher that this system offers (TLS 1.2 or later)"},
        {57024, "Data from the server could not be decrypted: %s"},
        {57025, "The server sent plain text after agreeing to STLS"},
        {57026, "The server accepts only TLS versions that are no longer safe (TLS 1.1 or older)"},
        {57027, "The server's certificate changed during the connection"},
        {57035, "The server's certificate is not trusted: it names no server (it has no subject alternative names)"},
        {57030, "The server's certificate is not trusted: it is not issued for %s"},
        {57031, "The server's certificate is not trusted: it is not issued by a trusted authority"},
        {57032, "The server's certificate is not trusted: it has expired or is not valid yet"},
        {57033, "The server's certificate is not trusted: it has been revoked"},
        {57034, "The server's certificate is not trusted: %s"},
        {57105, "The server does not offer STLS, so the password cannot be sent safely"},
        {57106, "The server refused STLS: %s"},
    };
    for (auto [id, text] : table)
        EXPECT_EQ(CatalogueText(id), (id < 57000 ? "[" + std::to_string(id == 10000 ? 0 : id) + "] " : "") + text);
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
