// The socket against a scripted server on 127.0.0.1: each test is a
// transcript of exactly what the server sends, what the client sent back and
// what the caller saw (results, events, exceptions).
#include <windows.h>

#include <string>
#include <vector>

#include "framework/timer.h"
#include "gtest/gtest.h"
#include "net/socket_client.h"
#include "tests/support/scripted_server.h"
#include "tests/support/raised.h"
#include "tests/support/wine_helpers.h"

using namespace net;
using testsupport::MessageOf;
using testsupport::PumpUntil;
using testsupport::ScriptedServer;

namespace {

// Gives the tests a view of the socket's state and records its events.
class ProbeSocket : public TSocketClient {
public:
    ProbeSocket() : TSocketClient(nullptr) {
        SetWinsockLoaded(true);
        OnOpen = [this](fw::TObject*) { events.push_back("open"); };
        OnClosing = [this](fw::TObject*) { events.push_back("closing"); };
        OnClosed = [this](fw::TObject*) { events.push_back("closed"); };
        OnCancel = [this](fw::TObject*) { events.push_back("cancel"); };
        OnError = [this](fw::TObject*, std::string& msg) { events.push_back("error:" + msg); };
    }
    std::uint16_t port() const { return Port; }
    std::uint32_t remoteAddr() const { return RemoteAddr; }
    int startups() const { return StartupCount; }
    bool counterTicking() const { return Counter->Timer->Running(); }
    // Drops every FD_ notification, queued or already seen.
    void forgetNotifications() {
        MSG msg;
        while (PeekMessageA(&msg, WindowHandle(), WM_ASYNC_SELECT, WM_ASYNC_SELECT, PM_REMOVE)) {
        }
        ReadEvent = false;
    }

    void openAndConnect(const std::string& server) {
        Server = server;
        Open();
        ResetState();
        ConnectSocket();
    }

    std::vector<std::string> events;
};

std::string text(const fw::TMemoryStream& s) { return std::string(s.Memory(), static_cast<std::size_t>(s.Size())); }

using Events = std::vector<std::string>;

}  // namespace

TEST(SocketTranscript, LinesBothWaysThenClose) {
    ScriptedServer server;
    server.Send("200 ready\r\n").ExpectLine().Send("+OK two\n").ExpectLine().Start();
    ProbeSocket s;
    s.openAndConnect(server.Address());
    EXPECT_TRUE(s.Connected());
    EXPECT_EQ(s.port(), server.Port());
    EXPECT_EQ(s.remoteAddr(), 0x0100007Fu);
    EXPECT_EQ(s.startups(), 1);

    std::string line = "old";
    EXPECT_EQ(s.ReadLine(line), 200);
    EXPECT_EQ(line, "200 ready");
    s.SendLine("USER bob");
    EXPECT_EQ(s.ReadLine(line), -1);  // not three digits
    EXPECT_EQ(line, "+OK two");        // a line ending in LF alone
    s.SendLine("QUIT");
    ASSERT_TRUE(PumpUntil([&] { return server.ScriptDone(); }, 2000));
    s.Close();
    EXPECT_FALSE(s.Connected());
    ASSERT_TRUE(PumpUntil([&] { return server.ClientClosed(); }, 2000));
    EXPECT_EQ(server.Received(), "USER bob\r\nQUIT\r\n");
    EXPECT_EQ(s.events, (Events{"open", "closing", "closed"}));
}

TEST(SocketTranscript, ReadLineLeavesTheNextBytesForReadData) {
    ScriptedServer server;
    server.Send("+OK 2 messages\r\nFrom: a@b\r\n\r\n.\r\n").Start();
    ProbeSocket s;
    std::vector<std::pair<int, int>> progress;
    s.OnProgress = [&](fw::TObject*, std::int32_t perc, std::int32_t done) { progress.emplace_back(perc, done); };
    s.openAndConnect(server.Address());
    std::string line;
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK 2 messages");
    fw::TMemoryStream data;
    s.ReadData(data, -1);
    EXPECT_EQ(text(data), "From: a@b\r\n\r\n.\r\n");
    ASSERT_FALSE(progress.empty());
    for (auto [perc, done] : progress) EXPECT_EQ(perc, -1);
    EXPECT_EQ(progress.front().second, 0);
}

TEST(SocketTranscript, DataTerminatorSplitAcrossReads) {
    ScriptedServer server;
    server.Send("+OK\r\n").Pause(100).Send("Subject: x\r\n\r\n.\r").Pause(300).Send("\n").ExpectLine().Send("+OK after\r\n").Start();
    ProbeSocket s;
    std::vector<std::pair<int, int>> progress;
    s.OnProgress = [&](fw::TObject*, std::int32_t perc, std::int32_t done) { progress.emplace_back(perc, done); };
    s.openAndConnect(server.Address());
    std::string line;
    s.ReadLine(line);
    fw::TMemoryStream data;
    s.ReadData(data, 20);
    EXPECT_EQ(text(data), "Subject: x\r\n\r\n.\r\n");
    // Progress is reported before each chunk is added: 0 of 20, then 16 of 20.
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front(), std::make_pair(0, 0));
    EXPECT_EQ(progress.back(), std::make_pair(80, 16));
    for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i].second, progress[i - 1].second);
    s.SendLine("NOOP");
    EXPECT_EQ(s.ReadLine(line), -1);
    EXPECT_EQ(line, "+OK after");
}

TEST(SocketTranscript, AnEmptyReplyIsJustTheDotLine) {
    ScriptedServer server;
    server.Send("+OK\r\n.\r\n").Start();
    ProbeSocket s;
    s.SetTimeOut(5);
    s.openAndConnect(server.Address());
    std::string line;
    s.ReadLine(line);
    fw::TMemoryStream data;
    const ULONGLONG start = GetTickCount64();
    s.ReadData(data, -1);
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(text(data), ".\r\n");
}

TEST(SocketTranscript, DataWithoutTerminatorTimesOutAndCloses) {
    ScriptedServer server;
    server.Send("x\r\n").Start();
    ProbeSocket s;
    s.SetTimeOut(1);
    s.openAndConnect(server.Address());
    fw::TMemoryStream data;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ETimedOutError>([&] { s.ReadData(data, -1); }), "Operation timed out");
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 800u);
    EXPECT_LE(elapsed, 2500u);
    EXPECT_EQ(text(data), "x\r\n");
    EXPECT_FALSE(s.Connected());
    EXPECT_EQ(s.events, (Events{"open", "error:Operation timed out", "closing", "closed"}));
    EXPECT_TRUE(PumpUntil([&] { return server.ClientClosed(); }, 2000));
}

TEST(SocketTranscript, SilentServerTimesOutWithoutBurningTheProcessor) {
    ScriptedServer server;
    server.Start();
    ProbeSocket s;
    s.SetTimeOut(1);
    s.openAndConnect(server.Address());
    std::string line;
    // The processor clock must be able to see a spin at all.
    // On a busy machine a spin gets only part of a core: spin until the
    // clock has counted 50 ms of it (or give up after 3 s of wall time).
    double cpuBefore = testsupport::ProcessCpuMs();
    for (ULONGLONG until = GetTickCount64() + 3000;
         GetTickCount64() < until && testsupport::ProcessCpuMs() - cpuBefore <= 50.0;) {
    }
    ASSERT_GT(testsupport::ProcessCpuMs() - cpuBefore, 50.0);
    cpuBefore = testsupport::ProcessCpuMs();
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ETimedOutError>([&] { s.ReadLine(line); }), "Operation timed out");
    const ULONGLONG elapsed = GetTickCount64() - start;
    const double cpu = testsupport::ProcessCpuMs() - cpuBefore;
    EXPECT_GE(elapsed, 800u);
    EXPECT_LE(elapsed, 2500u);
    EXPECT_LT(cpu, elapsed * 0.3) << "the wait spun instead of blocking";
    EXPECT_FALSE(s.Connected());
    std::printf("[ measured ] 1 s time-out wait: %llu ms elapsed, %.0f ms processor\n", elapsed, cpu);
}

TEST(SocketTranscript, ServerHangingUpWithoutAWordIsReportedAtOnce) {
    ScriptedServer server;
    server.Close().Start();
    ProbeSocket s;
    s.SetTimeOut(5);
    s.openAndConnect(server.Address());
    std::string line = "old";
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.ReadLine(line); }), "Connection closed by the server");
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(line, "");
    // A socket error leaves the socket to its owner.
    EXPECT_TRUE(s.Connected());
    EXPECT_EQ(s.events, (Events{"open", "error:Connection closed by the server"}));
    s.Close();
}

TEST(SocketTranscript, PartOfALineThenAHangUpGivesMinusOneAndAnEmptyLine) {
    ScriptedServer server;
    server.Send("+OK par").Close().Start();
    ProbeSocket s;
    s.SetTimeOut(5);
    s.openAndConnect(server.Address());
    std::string line = "old";
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(s.ReadLine(line), -1);
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(line, "");
    EXPECT_EQ(s.events, (Events{"open"}));
    s.Close();
}

TEST(SocketTranscript, ServerHangingUpInDataKeepsWhatArrived) {
    ScriptedServer server;
    server.Send("+OK\r\n").ExpectLine().Send("a\r\nb").Close().Start();
    ProbeSocket s;
    s.SetTimeOut(5);
    s.openAndConnect(server.Address());
    std::string line;
    s.ReadLine(line);
    s.SendLine("TOP 1 0");
    fw::TMemoryStream data;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.ReadData(data, -1); }), "Connection closed by the server");
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(text(data), "a\r\nb");
    EXPECT_EQ(server.Received(), "TOP 1 0\r\n");
}

TEST(SocketTranscript, LongLines) {
    const std::string line253(253, 'a');
    const std::string line1000(1000, 'b');
    ScriptedServer server;
    server.Send(line253 + "\r\n" + line1000 + "\r\n" + std::string(3000, 'c') + "\r\n").Start();
    ProbeSocket s;
    s.openAndConnect(server.Address());
    std::string line;
    s.ReadLine(line);
    EXPECT_EQ(line, line253);
    s.ReadLine(line);
    EXPECT_EQ(line, line1000);
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.ReadLine(line); }), "Server reply is too long");
    EXPECT_EQ(line, "");
}

TEST(SocketTranscript, LinesOfOneSegmentAreTakenOneAtATime) {
    ScriptedServer server;
    server.Send("+OK 3\r\nfirst\r\nsecond\n\r\nData: x\r\n.\r\n").ExpectLine().Send("+OK after\r\n").Start();
    ProbeSocket s;
    s.SetTimeOut(5);
    s.openAndConnect(server.Address());
    // All of it has arrived before the first read.
    testsupport::PumpFor(200);
    std::string line;
    EXPECT_EQ(s.ReadLine(line), -1);
    EXPECT_EQ(line, "+OK 3");
    s.ReadLine(line);
    EXPECT_EQ(line, "first");
    s.ReadLine(line);
    EXPECT_EQ(line, "second");
    s.ReadLine(line);
    EXPECT_EQ(line, "");
    // Whatever follows the last line read is left for the next read, byte for byte.
    fw::TMemoryStream data;
    s.ReadData(data, -1);
    EXPECT_EQ(text(data), "Data: x\r\n.\r\n");
    s.SendLine("NOOP");
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK after");
    EXPECT_EQ(server.Received(), "NOOP\r\n");
}

TEST(SocketTranscript, ALineSplitOverSeveralSegments) {
    ScriptedServer server;
    server.Send("+OK sp").Pause(150).Send("lit ov").Pause(150).Send("er three\r").Pause(150).Send("\n+OK next\r\n").Start();
    ProbeSocket s;
    s.SetTimeOut(5);
    s.openAndConnect(server.Address());
    std::string line;
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK split over three");
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK next");
}

TEST(SocketTranscript, BytesAlreadyReceivedNeedNoNotification) {
    ScriptedServer server;
    server.Send("+OK one\r\n+OK two\r\nbody\r\n.\r\n").Start();
    ProbeSocket s;
    s.SetTimeOut(5);
    s.openAndConnect(server.Address());
    ASSERT_TRUE(PumpUntil([&] { return server.ScriptDone(); }, 2000));
    testsupport::PumpFor(100);
    // The bytes sit in Winsock and no FD_READ will announce them again.
    auto dropNotifications = [&] { s.forgetNotifications(); };
    std::string line;
    dropNotifications();
    ULONGLONG start = GetTickCount64();
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK one");
    dropNotifications();
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK two");
    dropNotifications();
    fw::TMemoryStream data;
    s.ReadData(data, -1);
    EXPECT_EQ(text(data), "body\r\n.\r\n");
    EXPECT_LT(GetTickCount64() - start, 500u);
}

TEST(SocketTranscript, MessagesGetThroughWhileReadyLinesAreRead) {
    // Enough lines, most received before the first read, that reading them
    // from the buffer takes far longer than the dispatch interval.
    const int count = 4000000;
    std::string burst;
    for (int i = 0; i < count; ++i) burst += "+OK\r\n";
    ScriptedServer server;
    server.Send(burst).Start();
    ProbeSocket s;
    s.SetTimeOut(10);
    s.openAndConnect(server.Address());
    testsupport::PumpFor(300);
    fw::TTimer timer(nullptr);
    timer.SetInterval(10);
    timer.SetOnTimer([&](fw::TObject*) {
        timer.SetEnabled(false);
        s.Cancel();
    });
    std::string line;
    int read = 0;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ECanceledError>([&] {
                  for (; read < count; ++read) s.ReadLine(line);
              }),
              "Operation has been canceled");
    EXPECT_LT(read, count);
    EXPECT_LT(GetTickCount64() - start, 2000u);
    std::printf("[ measured ] cancelled after %d of %d ready lines, %llu ms\n", read, count, GetTickCount64() - start);
}

TEST(SocketTranscript, TheCounterDoesNotTickBetweenChecks) {
    ScriptedServer server;
    server.Send("+OK a\r\n").ExpectLine().Send("+OK b\r\n").Start();
    ProbeSocket s;
    s.openAndConnect(server.Address());
    std::string line;
    s.ReadLine(line);
    s.SendLine("NOOP");
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK b");
    s.Close();
    EXPECT_FALSE(s.counterTicking());
}

TEST(SocketTranscript, AnIdleCounterStopsByItself) {
    ScriptedServer server;
    server.Send("+OK a\r\n").Start();
    ProbeSocket s;
    s.openAndConnect(server.Address());
    std::string line;
    s.ReadLine(line);
    // Left open and idle: the counter stops at its next tick at the latest.
    EXPECT_TRUE(PumpUntil([&] { return !s.counterTicking(); }, 2500));
    s.Close();
}

TEST(SocketErrors, TransfersNeedAnOpenSocket) {
    ProbeSocket s;
    fw::TMemoryStream data;
    const std::string expected = "You have to connect to the server first";
    std::string line;
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.SendLine("NOOP"); }), expected);
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.ReadLine(line); }), expected);
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.ReadData(data, -1); }), expected);
    EXPECT_EQ(s.events, Events(3, "error:" + expected));
}

TEST(SocketErrors, OpenChecksServerAndServiceAfterOnOpen) {
    ProbeSocket s;
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.Open(); }), "Server property is required");
    EXPECT_EQ(s.events, (Events{"open", "error:Server property is required"}));
    EXPECT_EQ(s.startups(), 0);
    s.Server = ":110";
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.Open(); }), "Server property is required");
    s.events.clear();
    s.Server = "127.0.0.1";
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.Open(); }), "Service name is required");
    EXPECT_EQ(s.events, (Events{"open", "error:Service name is required"}));
    // Past WSAStartup: counted although Open failed.
    EXPECT_EQ(s.startups(), 1);
    EXPECT_FALSE(s.Connected());
}

TEST(SocketErrors, PortComesFromServerThenServiceThenDefault) {
    ProbeSocket s;
    s.ServiceName = "pop3";
    s.DefaultPort = 2110;
    s.Server = "127.0.0.1:pop";
    s.Open();
    EXPECT_EQ(s.port(), 110);
    s.Close();
    s.Server = "127.0.0.1:65646";  // taken by its low 16 bits
    s.Open();
    EXPECT_EQ(s.port(), 110);
    s.Close();
    s.Server = "127.0.0.1:65536";  // 0 after the cut: the service decides
    s.Open();
    EXPECT_EQ(s.port(), 110);
    s.Close();
    s.Server = "127.0.0.1:";  // a bare colon: the service decides
    s.Open();
    EXPECT_EQ(s.port(), 110);
    s.Close();
    s.Server = "127.0.0.1:995";
    s.Open();
    EXPECT_EQ(s.port(), 995);
    s.Close();

    // An unknown service falls back to DefaultPort, and the connection works.
    ScriptedServer server;
    server.Send("+OK hello\r\n").Start();
    s.ServiceName = "tidemark-no-such-service";
    s.DefaultPort = server.Port();
    s.openAndConnect("127.0.0.1");
    EXPECT_EQ(s.port(), server.Port());
    std::string line;
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK hello");
    EXPECT_EQ(s.startups(), 6);  // one per Open
}

TEST(SocketErrors, HostNamesAreLookedUp) {
    ScriptedServer server;
    server.Send("+OK local\r\n").Start();
    ProbeSocket s;
    s.openAndConnect("localhost:" + std::to_string(server.Port()));
    EXPECT_EQ(s.remoteAddr(), 0x0100007Fu);
    std::string line;
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK local");
    s.Close();

    ProbeSocket t;
    t.SetTimeOut(5);
    t.Server = "tidemark-no-such-host.invalid:110";
    const std::string msg = MessageOf<ESocketError>([&] { t.Open(); });
    EXPECT_EQ(msg.rfind("[1100", 0), 0u) << msg;
    ASSERT_EQ(t.events.size(), 2u);
    EXPECT_EQ(t.events[0], "open");
    EXPECT_EQ(t.events[1], "error:" + msg);
    EXPECT_FALSE(t.Connected());
}

TEST(SocketErrors, RefusedConnectionIsReportedAtOnce) {
    ProbeSocket s;
    s.SetTimeOut(5);
    s.Server = "127.0.0.1:" + std::to_string(ScriptedServer::UnusedPort());
    s.Open();
    s.ResetState();
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.ConnectSocket(); }), "[10061] Connection refused");
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_TRUE(s.Connected());
}

TEST(SocketErrors, OnErrorRewritesSocketErrorsOnly) {
    ProbeSocket s;
    s.OnError = [](fw::TObject*, std::string& msg) { msg = "Mail server: " + msg; };
    std::string line;
    EXPECT_EQ(MessageOf<ESocketError>([&] { s.ReadLine(line); }),
              "Mail server: You have to connect to the server first");

    ScriptedServer server;
    server.Start();
    s.SetTimeOut(1);
    s.openAndConnect(server.Address());
    EXPECT_EQ(MessageOf<ETimedOutError>([&] { s.ReadLine(line); }), "Operation timed out");
}

TEST(SocketErrors, CancelFromAHandlerEndsTheWait) {
    ScriptedServer server;
    server.Start();
    ProbeSocket s;
    s.SetTimeOut(10);
    s.openAndConnect(server.Address());
    fw::TTimer timer(nullptr);
    timer.SetInterval(200);
    timer.SetOnTimer([&](fw::TObject*) {
        timer.SetEnabled(false);
        s.Cancel();
    });
    std::string line;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ECanceledError>([&] { s.ReadLine(line); }), "Operation has been canceled");
    EXPECT_LT(GetTickCount64() - start, 1500u);
    EXPECT_FALSE(s.Connected());
    EXPECT_EQ(s.events, (Events{"open", "cancel", "closing", "closed", "error:Operation has been canceled"}));
    EXPECT_TRUE(PumpUntil([&] { return server.ClientClosed(); }, 2000));
}

TEST(SocketLifetime, AnEndedOperationDoesNotSpoilTheNextOpen) {
    ScriptedServer first;
    first.Start();
    ScriptedServer second;
    second.Send("+OK again\r\n").Start();
    ProbeSocket s;
    s.openAndConnect(first.Address());
    s.Cancel();
    // The next check opens by name: its lookup must wait for its own answer.
    s.Server = "localhost:" + std::to_string(second.Port());
    s.Open();
    s.ResetState();
    s.ConnectSocket();
    std::string line;
    s.ReadLine(line);
    EXPECT_EQ(line, "+OK again");
}

TEST(SocketLifetime, NoSocketHandleOutlivesItsUse) {
    ScriptedServer first;
    first.Start();
    ScriptedServer second;
    second.Send("+OK second\r\n").Start();
    {
        ProbeSocket s;
        s.openAndConnect(first.Address());
        // Opening again must not lose the first socket.
        s.openAndConnect(second.Address());
        EXPECT_TRUE(PumpUntil([&] { return first.ClientClosed(); }, 2000));
        std::string line;
        s.ReadLine(line);
        EXPECT_EQ(line, "+OK second");
        EXPECT_EQ(s.startups(), 2);
        // Destroyed without Close.
    }
    EXPECT_TRUE(PumpUntil([&] { return second.ClientClosed(); }, 2000));
}
