// A hostile server cannot make one check keep memory without bound: it
// claims a million messages and answers every LIST and TOP, each TOP with a
// megabyte of header lines, far past what one check may keep.
#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "mail/pop3_session.h"
#include "tests/support/raised.h"
#include "tests/support/scripted_server.h"

TEST(CheckBounds, AServerAnsweringWithoutEndFailsTheCheckAtTheReplyBound) {
    std::string header;
    while (header.size() < (1u << 20)) header += "X-Filler: " + std::string(1000, 'x') + "\r\n";
    testsupport::ScriptedServer server;
    // CAPA refused: one command at a time.
    server.Send("+OK\r\n").ExpectLine().Send("-ERR\r\n").ExpectLine().Send("+OK\r\n").ExpectLine().Send("+OK\r\n");
    server.ExpectLine().Send("+OK 1000000 0\r\n");
    for (int i = 0; i < 80; ++i) server.ExpectLine().Send("+OK 1 1048576\r\n").ExpectLine().Send("+OK\r\n" + header + "\r\n.\r\n");
    server.Start();
    mail::TPop3Mailbox pop(nullptr);
    pop.SetWinsockLoaded(true);
    pop.Server = server.Address();
    pop.UserName = "anna";
    pop.Password = "pw";
    pop.SetTimeOut(2);
    EXPECT_EQ(testsupport::MessageOf<net::ESocketError>([&] { pop.UpdateInfo(); }), "Server reply is too long");
    std::int64_t kept = 0;
    for (int i = 0; i < pop.RemoteInfo.Count(); ++i) kept += pop.RemoteInfo.Items(i).KeptBytes();
    EXPECT_LE(kept, net::TSocketClient::MaxDataSize);
    EXPECT_GT(kept, net::TSocketClient::MaxDataSize - (2 << 20)) << "the bound is on the sum, not on one reply";
    EXPECT_FALSE(pop.Connected());
}
