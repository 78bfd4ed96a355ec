// Input beyond the sizes a POP3 session needs: each has one outcome, and
// none overflows, hangs or loses the connection's place.
#include <string>

#include "gtest/gtest.h"
#include "net/socket_client.h"
#include "tests/support/raised.h"
#include "tests/support/scripted_server.h"

using namespace net;
using testsupport::MessageOf;

namespace {
class PortView : public TSocketClient {
public:
    PortView() : TSocketClient(nullptr) { SetWinsockLoaded(true); }
    std::uint16_t port() const { return Port; }
};
}  // namespace

TEST(SocketLimits, AZeroByteInALineIsKeptAndTheNextLineFollows) {
    testsupport::ScriptedServer server;
    server.Send(std::string("+OK a\0b\r\n+OK next\r\n", 19)).Start();
    PortView s;
    s.SetTimeOut(2);
    s.Server = server.Address();
    s.Open();
    s.ConnectSocket();
    std::string line;
    EXPECT_EQ(s.ReadLine(line), -1);  // not three digits: the base class's code
    EXPECT_EQ(line, std::string("+OK a\0b", 7));
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK next");
    s.Close();
}

TEST(SocketLimits, AHostNameLongerThanAnyRealOneIsNotFound) {
    PortView s;
    s.SetTimeOut(2);
    s.Server = std::string(300, 'h') + ".invalid:110";
    const std::string message = MessageOf<ESocketError>([&] { s.Open(); });
    EXPECT_EQ(message.rfind("[110", 0), 0u) << message;  // one of the 11001..11004 texts
    EXPECT_FALSE(s.Connected());

    s.Server = std::string("mail.example.org\0evil.example.org:110", 37);
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.Open(); }), "[11001] Host not found");
}

TEST(SocketLimits, AServiceNameLongerThanAnyRealOneFallsBackToTheDefaultPort) {
    PortView s;
    s.SetTimeOut(2);
    s.ServiceName = std::string(200, 's');
    s.DefaultPort = 2110;
    s.Server = "127.0.0.1";
    s.Open();
    EXPECT_EQ(s.port(), 2110);
    s.Close();
}
