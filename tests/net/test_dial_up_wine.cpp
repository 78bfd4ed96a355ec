// The dial-up component against Wine's own rasapi32, whose functions are
// stubs: with no service to dial, a socket that carries the component opens,
// talks and closes as one without it.
#include <string>

#include "gtest/gtest.h"
#include "net/dial_up.h"
#include "net/socket_client.h"
#include "tests/support/scripted_server.h"

using namespace net;

TEST(RasWithWinesLibrary, AnEmptyServiceLeavesTheSocketWorkingAsUsual) {
    testsupport::ScriptedServer server;
    server.Send("+OK ready\r\n").ExpectLine().Send("+OK bye\r\n").Start();
    TDialUp ras(nullptr);
    EXPECT_FALSE(ras.HasEntries());
    TSocketClient s(nullptr);
    s.SetWinsockLoaded(true);
    s.SetTimeOut(2);
    s.SetRAS(&ras);
    s.Server = server.Address();
    s.Open();
    s.ConnectSocket();
    std::string line;
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK ready");
    s.SendLine("QUIT");
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK bye");
    s.Close();
    EXPECT_FALSE(s.Connected());
    EXPECT_FALSE(ras.Connected);
    EXPECT_EQ(server.Received(), "QUIT\r\n");
}
