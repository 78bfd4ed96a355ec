// The run-time Winsock binding, the error catalogue, the exception texts and
// the seconds counter.
#include <windows.h>

#include "gtest/gtest.h"
#include "net/socket_client.h"
#include "net/socket_errors.h"
#include "net/winsock_library.h"
#include "tests/support/raised.h"
#include "tests/support/wine_helpers.h"

using namespace net;
using testsupport::MessageOf;
using testsupport::PumpUntil;

TEST(Winsock, MissingLibraryRaisesAndLeavesNoHandle) {
    TWinsockLibrary lib;
    lib.LibraryName = "tidemark-no-such-winsock.dll";
    EXPECT_EQ(MessageOf<EWinsockDLLError>([&] { lib.Load(); }), "Winsock not found");
    EXPECT_FALSE(lib.Loaded());
    EXPECT_EQ(lib.Handle(), nullptr);
    lib.Unload();  // nothing loaded: nothing happens
    EXPECT_FALSE(lib.Loaded());
}

TEST(Winsock, CallsWithoutTheLibraryOrTheEntryPointRaise) {
    TWinsockLibrary lib;
    EXPECT_EQ(MessageOf<EWinsockDLLError>([&] { lib.WSAGetLastError(); }), "Winsock is not loaded");
    EXPECT_EQ(MessageOf<EWinsockDLLError>([&] { lib.GetProc("send"); }), "Winsock is not loaded");
    lib.Load();
    ASSERT_TRUE(lib.Loaded());
    EXPECT_EQ(MessageOf<EWinsockDLLError>([&] { lib.GetProc("WSAAsyncSelectEx"); }),
              "Function WSAAsyncSelectEx not found");
    lib.Unload();
    EXPECT_EQ(MessageOf<EWinsockDLLError>([&] { lib.htons(1); }), "Winsock is not loaded");
}

TEST(Winsock, CallsReachTheLibrary) {
    TWinsockLibrary lib;
    lib.Load();
    WSADATA data{};
    ASSERT_EQ(lib.WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(lib.htons(0x1234), 0x3412);
    EXPECT_EQ(lib.inet_addr("1.2.3.4"), 0x04030201u);
    EXPECT_EQ(lib.inet_addr("mail.example.org"), INADDR_NONE);
    // Every entry point the socket needs is there.
    for (const char* name : {"WSACleanup", "WSAGetLastError", "socket", "connect", "send", "recv", "closesocket",
                             "WSAAsyncGetHostByName", "WSAAsyncGetServByName", "WSAAsyncSelect",
                             "WSACancelAsyncRequest", "WSAIsBlocking", "WSACancelBlockingCall"})
        EXPECT_NE(lib.GetProc(name), nullptr) << name;
    EXPECT_FALSE(lib.WSAIsBlocking());
    EXPECT_EQ(lib.WSACleanup(), 0);
    lib.Unload();
}

TEST(Winsock, MessageParametersSplitIntoErrorAndEvent) {
    const LPARAM lp = MAKELPARAM(FD_CONNECT, WSAECONNREFUSED);
    EXPECT_EQ(TWinsockLibrary::WSAGETSELECTEVENT(lp), FD_CONNECT);
    EXPECT_EQ(TWinsockLibrary::WSAGETSELECTERROR(lp), WSAECONNREFUSED);
    EXPECT_EQ(TWinsockLibrary::WSAGETASYNCERROR(MAKELPARAM(512, WSAHOST_NOT_FOUND)), WSAHOST_NOT_FOUND);
}

TEST(Winsock, WinsockLoadedActsOnTheOneProcessWideLibrary) {
    Winsock.Unload();
    TSocketClient a(nullptr);
    TSocketClient b(nullptr);
    EXPECT_FALSE(a.WinsockLoaded());
    a.SetWinsockLoaded(true);
    EXPECT_TRUE(b.WinsockLoaded());
    EXPECT_TRUE(Winsock.Loaded());
    {
        // A socket created later leaves the library to the ones using it.
        TSocketClient c(nullptr);
        EXPECT_TRUE(c.WinsockLoaded());
    }
    EXPECT_TRUE(Winsock.Loaded());
    b.SetWinsockLoaded(false);
    EXPECT_FALSE(a.WinsockLoaded());
}

TEST(Catalogue, WinsockCodesCarryTheirNumber) {
    EXPECT_EQ(CatalogueText(10000), "[0] No Error");
    EXPECT_EQ(CatalogueText(10013), "[10013] Permission denied.");
    EXPECT_EQ(CatalogueText(10035), "[10035] Resource temporarily not available");
    EXPECT_EQ(CatalogueText(10061), "[10061] Connection refused");
    EXPECT_EQ(CatalogueText(10093), "[10093] Successful WSAStartup() not yet performed");
    EXPECT_EQ(CatalogueText(11003), "[11003] Non-Recoverable errors: FORMERR, REFUSED, NOTIMP");
    int count = 0;
    for (unsigned id = 10001; id <= 11004; ++id) {
        std::string text;
        if (!FindCatalogueText(id, text)) continue;
        ++count;
        EXPECT_EQ(text.rfind("[" + std::to_string(id) + "] ", 0), 0u) << text;
    }
    EXPECT_EQ(count, 51);
    std::string text = "x";
    EXPECT_FALSE(FindCatalogueText(10101, text));
    EXPECT_EQ(text, "");
}

TEST(Catalogue, ComponentMessages) {
    EXPECT_EQ(CatalogueText(57000), "Operation timed out");
    EXPECT_EQ(CatalogueText(57001), "Operation has been canceled");
    EXPECT_EQ(CatalogueText(57002), "Server property is required");
    EXPECT_EQ(CatalogueText(57005), "Service name is required");
    EXPECT_EQ(CatalogueText(57008), "You have to connect to the server first");
    EXPECT_EQ(CatalogueText(57010), "Function %s not found");
    EXPECT_EQ(CatalogueText(57013), "Invalid query format.  @ symbol not present");
    EXPECT_EQ(CatalogueText(57014), "Server returned invalid reply");
    EXPECT_EQ(ECanceledError().Message, "Operation has been canceled");
    EXPECT_EQ(ETimedOutError().Message, "Operation timed out");
}

TEST(TimeCounter, ExpiresAfterTimeOutSeconds) {
    TTimeCounter counter;
    EXPECT_EQ(counter.TimeOut, 60);
    EXPECT_FALSE(counter.Timer->Enabled());
    counter.TimeOut = 2;
    const ULONGLONG start = GetTickCount64();
    counter.Start();
    ASSERT_TRUE(PumpUntil([&] { return counter.Expired; }, 4000));
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 1800u);
    EXPECT_LE(elapsed, 3000u);
    EXPECT_EQ(counter.Remaining, 0);
    // The timer keeps running after expiry; the owner stops it.
    EXPECT_TRUE(counter.Timer->Enabled());
    counter.Stop();
    EXPECT_FALSE(counter.Timer->Enabled());
}

TEST(TimeCounter, ZeroTimeOutExpiresAtTheFirstTick) {
    TTimeCounter counter;
    counter.TimeOut = 0;
    const ULONGLONG start = GetTickCount64();
    counter.Start();
    EXPECT_FALSE(counter.Expired);
    ASSERT_TRUE(PumpUntil([&] { return counter.Expired; }, 3000));
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 800u);
    EXPECT_LE(elapsed, 1600u);
    EXPECT_EQ(counter.Remaining, -1);
    counter.Stop();
}

TEST(TimeCounter, RestartReloadsWithoutRestartingThePeriod) {
    TTimeCounter counter;
    counter.TimeOut = 5;
    const ULONGLONG start = GetTickCount64();
    counter.Start();
    testsupport::PumpFor(600);
    counter.Start();  // as after each received chunk
    ASSERT_TRUE(PumpUntil([&] { return counter.Remaining < 5; }, 3000));
    // The first tick still came one second after the first Start.
    EXPECT_LE(GetTickCount64() - start, 1400u);
    EXPECT_EQ(counter.Remaining, 4);
    counter.Stop();
}

TEST(TimeCounter, PauseLeavesTheTimerUntilItsNextTick) {
    TTimeCounter counter;
    counter.TimeOut = 5;
    counter.Start();
    counter.Pause();
    EXPECT_TRUE(counter.Paused());
    EXPECT_TRUE(counter.Timer->Running());
    ASSERT_TRUE(PumpUntil([&] { return !counter.Timer->Running(); }, 2500));
    // The tick that stopped it was not counted.
    EXPECT_EQ(counter.Remaining, 5);
    EXPECT_FALSE(counter.Paused());
    EXPECT_FALSE(counter.Timer->Enabled());
}

TEST(TimeCounter, StartAfterPauseCountsAFreshSecond) {
    TTimeCounter counter;
    counter.TimeOut = 5;
    counter.Start();
    testsupport::PumpFor(700);
    counter.Pause();
    const ULONGLONG resumed = GetTickCount64();
    counter.Start();
    EXPECT_FALSE(counter.Paused());
    ASSERT_TRUE(PumpUntil([&] { return counter.Remaining < 5; }, 3000));
    // The timer's tick 300 ms after the second Start is not a second of it.
    const ULONGLONG elapsed = GetTickCount64() - resumed;
    EXPECT_GE(elapsed, 950u);
    EXPECT_LE(elapsed, 1600u);
    EXPECT_EQ(counter.Remaining, 4);
    counter.Stop();
    EXPECT_FALSE(counter.Timer->Running());
}

TEST(TimeCounter, ExpiresAfterPausedWaits) {
    TTimeCounter counter;
    counter.TimeOut = 1;
    counter.Start();
    counter.Pause();
    const ULONGLONG start = GetTickCount64();
    counter.Start();
    ASSERT_TRUE(PumpUntil([&] { return counter.Expired; }, 3000));
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 950u);
    EXPECT_LE(elapsed, 1600u);
    counter.Stop();
}

TEST(TimeCounter, ExpiredStaysUntilTheOwnerClearsIt) {
    TTimeCounter counter;
    counter.TimeOut = 0;
    counter.Start();
    ASSERT_TRUE(PumpUntil([&] { return counter.Expired; }, 3000));
    counter.TimeOut = 10;
    counter.Start();
    EXPECT_TRUE(counter.Expired);
    EXPECT_EQ(counter.Remaining, 10);
    counter.Stop();
}
