// The one read buffer: a reply line must arrive whole within TimeOut (a
// trickling server cannot stretch it), while a data reply's time-out counts
// from its last chunk; and a read takes nothing beyond its own reply.
#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "net/socket_client.h"
#include "tests/support/raised.h"
#include "tests/support/scripted_server.h"
#include "tests/support/wine_helpers.h"

using namespace net;
using testsupport::MessageOf;
using testsupport::ScriptedServer;

namespace {
void connect(TSocketClient& s, const ScriptedServer& server) {
    s.SetWinsockLoaded(true);
    s.SetTimeOut(2);
    s.Server = server.Address();
    s.Open();
    s.ConnectSocket();
}
}  // namespace

TEST(ReadBuffer, ATricklingLineTimesOutAfterTimeOutButTricklingDataDoesNot) {
    ScriptedServer lineServer, dataServer;
    for (char c : std::string("+OK trickling")) lineServer.Send(std::string(1, c)).Pause(300);
    // Data for 3 s, a chunk every 300 ms, against a TimeOut of 2 s.
    for (int i = 0; i < 10; ++i) dataServer.Send("line " + std::to_string(i) + "\r\n").Pause(300);
    dataServer.Send(".\r\n");
    lineServer.Start();
    dataServer.Start();

    TSocketClient line(nullptr);
    connect(line, lineServer);
    std::string text;
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ETimedOutError>([&] { line.ReadLine(text); }), "Operation timed out");
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 1000u);
    EXPECT_LE(elapsed, 3000u) << "the time-out restarted with a chunk";

    TSocketClient data(nullptr);
    connect(data, dataServer);
    fw::TMemoryStream stream;
    start = GetTickCount64();
    data.ReadData(stream, -1);
    EXPECT_GE(GetTickCount64() - start, 2500u);
    EXPECT_EQ(std::string(stream.Memory(), 9), "line 0\r\nl");
}

TEST(ReadBuffer, AReplyAfterADataReplyInOneSegmentIsLeftForTheNextRead) {
    ScriptedServer server;
    server.Send("+OK\r\nSubject: a\r\n\r\n.\r\n+OK next\r\n.\r\n+OK last\r\n").Start();
    TSocketClient s(nullptr);
    connect(s, server);
    testsupport::PumpFor(200);
    std::string line;
    s.ReadLine(line);
    fw::TMemoryStream first, empty;
    s.ReadData(first, -1);
    EXPECT_EQ(std::string(first.Memory(), static_cast<std::size_t>(first.Size())), "Subject: a\r\n\r\n.\r\n");
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK next");
    s.ReadData(empty, -1);
    EXPECT_EQ(std::string(empty.Memory(), static_cast<std::size_t>(empty.Size())), ".\r\n");
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK last");
}
