#pragma once
// Which failures of a mail check pass by themselves (the network is down for
// a moment, the mailbox is locked by the user's mail program) and which only
// the user can mend (a wrong password, a missing setting). The rules are one
// table here, with no <windows.h>, so they also build natively.
#include <exception>
#include <string>

namespace mail {

enum class TFailureKind { Passing, NeedsUser };

// What a failed check leaves to judge it by.
struct TFailureFacts {
    enum TSource { Socket, TimedOut, Canceled, ServerReply, Other };
    TSource Source = Other;
    // Socket: the Winsock code or the catalogue id of the error.
    int Code = 0;
    // ServerReply: the line as received. Whatever command it answered, only
    // its response code tells a refusal that lifts by itself.
    std::string Reply;
    // The server's name was found by an earlier check with the same setting:
    // "Host not found" then means the name service is out of reach (a laptop
    // just woken, say), not that the name is wrong.
    bool HostKnown = false;
};

TFailureKind ClassifyFailure(const TFailureFacts& facts);

// The facts of a check's exception: its class and what it carries. Defined
// in failure_facts.cpp, beside the exception classes; a new class of failure
// (a certificate check, say) is one more catch there.
TFailureFacts FactsOfFailure(const std::exception_ptr& failure);

}  // namespace mail
