// Which failures of a check pass by themselves and which need the user: the
// rules as one table, the facts each exception class gives them, and
// popcheck's exit codes for the two kinds.
#include <windows.h>

#include <string>

#include "framework/handles.h"
#include "gtest/gtest.h"
#include "mail/failure_kind.h"
#include "net/socket_errors.h"
#include "tests/support/scripted_server.h"
#include "tests/support/wine_helpers.h"

using mail::TFailureFacts;
using Kind = mail::TFailureKind;

namespace {

struct Row {
    TFailureFacts::TSource source;
    int code;
    const char* reply;
    bool hostKnown;
    Kind kind;
};

const Row kRows[] = {
    {TFailureFacts::Socket, 10061, "", false, Kind::Passing},    // connection refused
    {TFailureFacts::Socket, 10054, "", false, Kind::Passing},    // reset
    {TFailureFacts::Socket, 10051, "", false, Kind::Passing},    // network unreachable
    {TFailureFacts::Socket, 10065, "", false, Kind::Passing},    // no route to host
    {TFailureFacts::Socket, 11002, "", false, Kind::Passing},    // lookup: try again
    {TFailureFacts::Socket, 57015, "", false, Kind::Passing},    // closed by the server
    {TFailureFacts::Socket, 11001, "", false, Kind::NeedsUser},  // no such host
    {TFailureFacts::Socket, 11001, "", true, Kind::Passing},     // ... that resolved before
    {TFailureFacts::Socket, 57002, "", false, Kind::NeedsUser},  // server setting missing
    {TFailureFacts::Socket, 57104, "", false, Kind::NeedsUser},  // password setting missing
    {TFailureFacts::Socket, 57016, "", false, Kind::NeedsUser},  // reply too long
    {TFailureFacts::TimedOut, 0, "", false, Kind::Passing},
    {TFailureFacts::ServerReply, 0, "-ERR [IN-USE] Mailbox is locked", false, Kind::Passing},
    {TFailureFacts::ServerReply, 0, "-ERR [LOGIN-DELAY] wait", false, Kind::Passing},
    {TFailureFacts::ServerReply, 0, "-ERR [sys/temp/quota] later", false, Kind::Passing},
    {TFailureFacts::ServerReply, 0, "-ERR [AUTH] Authentication failed.", false, Kind::NeedsUser},
    {TFailureFacts::ServerReply, 0, "-ERR [SYS/PERM] gone", false, Kind::NeedsUser},
    {TFailureFacts::ServerReply, 0, "-ERR bad password", false, Kind::NeedsUser},
    {TFailureFacts::ServerReply, 0, "-ERR [IN-USE-NOT] x", false, Kind::NeedsUser},
    {TFailureFacts::ServerReply, 0, "-ERR locked [IN-USE]", false, Kind::NeedsUser},
    {TFailureFacts::Certificate, 0, "", false, Kind::NeedsUser},
    {TFailureFacts::Other, 0, "", false, Kind::NeedsUser},
};

TFailureFacts factsOf(auto&& raise) {
    try {
        raise();
    } catch (...) {
        return mail::FactsOfFailure(std::current_exception());
    }
    return {};
}

DWORD popcheckExit(const std::string& server) {
    std::string cmd = "\"" + testsupport::ExeDirectory() + "..\\..\\mail\\popcheck.exe\" --timeout 2 " + server + " anna pw";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 999;
    fw::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    DWORD code = 998;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

}  // namespace

TEST(FailureKind, EachFailureHasItsKind) {
    for (const Row& r : kRows) {
        TFailureFacts f;
        f.Source = r.source;
        f.Code = r.code;
        f.Reply = r.reply;
        f.HostKnown = r.hostKnown;
        EXPECT_EQ(mail::ClassifyFailure(f), r.kind) << "source " << r.source << " code " << r.code << " " << r.reply;
    }
}

TEST(FailureKind, EachExceptionGivesItsFacts) {
    EXPECT_EQ(factsOf([] { throw net::ETimedOutError(); }).Source, TFailureFacts::TimedOut);
    EXPECT_EQ(factsOf([] { throw net::ECanceledError(); }).Source, TFailureFacts::Canceled);
    const TFailureFacts refused = factsOf([] { throw net::ESocketError("rewritten by OnError", 10061); });
    EXPECT_EQ(refused.Source, TFailureFacts::Socket);
    EXPECT_EQ(refused.Code, 10061);
    const TFailureFacts locked = factsOf([] { throw net::EServerError("-ERR [IN-USE] locked"); });
    EXPECT_EQ(locked.Source, TFailureFacts::ServerReply);
    EXPECT_EQ(locked.Reply, "-ERR [IN-USE] locked");
    const TFailureFacts hungUp = factsOf([] { throw net::EServerError("Connection closed by the server", true); });
    EXPECT_EQ(hungUp.Source, TFailureFacts::Socket);
    EXPECT_EQ(hungUp.Code, net::sConnectionClosed);
    EXPECT_EQ(factsOf([] { throw fw::Exception("Cannot create file"); }).Source, TFailureFacts::Other);
}

TEST(FailureKind, PopcheckExitsWithOneCodePerKind) {
    testsupport::ScriptedServer refusing;
    refusing.Send("+OK\r\n").ExpectLine().Send("-ERR\r\n");  // CAPA
    refusing.ExpectLine().Send("+OK\r\n").ExpectLine().Send("-ERR [AUTH] Authentication failed.\r\n");
    refusing.Start();
    EXPECT_EQ(popcheckExit(refusing.Address()), 1u);
    EXPECT_EQ(popcheckExit("127.0.0.1:" + std::to_string(testsupport::ScriptedServer::UnusedPort())), 75u);
}
