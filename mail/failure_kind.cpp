#include "mail/failure_kind.h"

#include "mail/pop3_text.h"

namespace mail {

namespace {
// Winsock codes and catalogue ids, by number: this file builds without
// <winsock2.h>.
enum : int {
    kNetDown = 10050,
    kNetUnreachable = 10051,
    kNetReset = 10052,
    kConnectionAborted = 10053,
    kConnectionReset = 10054,
    kNoBufferSpace = 10055,
    kNotConnected = 10057,
    kShutDown = 10058,
    kConnectTimedOut = 10060,
    kConnectionRefused = 10061,
    kHostDown = 10064,
    kHostUnreachable = 10065,
    kSystemNotReady = 10091,
    kHostNotFound = 11001,
    kTryAgain = 11002,
    kNoRecovery = 11003,
    kNoData = 11004,
    kConnectionClosed = 57015,
    kClosedInHandshake = 57021,
};

bool passingSocketError(int code, bool hostKnown) {
    switch (code) {
    case kNetDown: case kNetUnreachable: case kNetReset: case kConnectionAborted: case kConnectionReset:
    case kNoBufferSpace: case kNotConnected: case kShutDown: case kConnectTimedOut: case kConnectionRefused:
    case kHostDown: case kHostUnreachable: case kSystemNotReady: case kTryAgain: case kNoRecovery:
    case kConnectionClosed: case kClosedInHandshake:
        return true;
    case kHostNotFound: case kNoData:
        return hostKnown;
    default:
        return false;
    }
}

// RFC 2449 and 3206 codes of a refusal that lifts by itself; an extension
// below one ("SYS/TEMP/QUOTA") counts as its parent.
bool passingResponseCode(const std::string& code) {
    for (const char* passing : {"IN-USE", "LOGIN-DELAY", "SYS/TEMP"}) {
        const std::string p = passing;
        if (code == p || code.rfind(p + "/", 0) == 0) return true;
    }
    return false;
}
}  // namespace

TFailureKind ClassifyFailure(const TFailureFacts& facts) {
    bool passing = false;
    switch (facts.Source) {
    case TFailureFacts::TimedOut:
    case TFailureFacts::Canceled:
        passing = true;
        break;
    case TFailureFacts::Socket:
        passing = passingSocketError(facts.Code, facts.HostKnown);
        break;
    case TFailureFacts::ServerReply:
        // Any other refusal ([AUTH], [SYS/PERM], a bare "-ERR" to USER or
        // PASS, a reply that is no POP3 at all) will be the same next time.
        passing = passingResponseCode(PopResponseCode(facts.Reply));
        break;
    case TFailureFacts::Certificate:
    case TFailureFacts::Other:
        break;
    }
    return passing ? TFailureKind::Passing : TFailureKind::NeedsUser;
}

}  // namespace mail
