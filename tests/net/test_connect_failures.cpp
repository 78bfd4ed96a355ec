// A connection attempt that fails for another reason than a refusal is told
// at once, with its own text. A TCP connect to a multicast address fails in
// the local network stack ("network unreachable"): no packet leaves the machine.
#include <windows.h>

#include "gtest/gtest.h"
#include "net/socket_client.h"
#include "tests/support/raised.h"

TEST(ConnectFailures, AnUnreachableNetworkIsReportedAtOnceWithItsOwnText) {
    net::TSocketClient s(nullptr);
    s.SetWinsockLoaded(true);
    s.SetTimeOut(5);
    s.Server = "224.0.0.1:110";
    s.Open();
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(testsupport::MessageOf<net::ESocketError>([&] { s.ConnectSocket(); }), "[10051] Network is unreachable");
    EXPECT_LT(GetTickCount64() - start, 1000u);
}
