#include "mail/failure_kind.h"

#include "mail/imap_response.h"
#include "mail/pop3_text.h"
#include "net/catalogue_ids.h"

namespace mail {

namespace {
bool passingSocketError(int code, bool hostKnown) {
    switch (code) {
        case net::sWsaNetworkIsDown:
        case net::sWsaNetworkIsUnreachable:
        case net::sWsaNetworkDroppedConnectionOrReset:
        case net::sWsaSoftwareCausedConnectionAbort:
        case net::sWsaConnectionResetByPeer:
        case net::sWsaNoBufferSpaceAvailable:
        case net::sWsaSocketIsNotConnected:
        case net::sWsaCannotSendAfterSocketShutdown:
        case net::sWsaConnectionTimedOut:
        case net::sWsaConnectionRefused:
        case net::sWsaHostIsDown:
        case net::sWsaNoRouteToHost:
        case net::sWsaNetworkSubsystemIsUnavailable:
        case net::sWsaNonAuthoritativeHostNotFound:
        case net::sWsaNonRecoverableErrors:
        case net::sConnectionClosed:
        case net::sImapBye:
        case net::sTlsClosedInHandshake:
        case net::sSignInUnreachable: return true;
        case net::sWsaHostNotFound:
        case net::sWsaValidNameNoDataRecordOfRequestedType: return hostKnown;
        default: return false;
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

// RFC 5530: a server down for a moment, or the mailbox held by another session.
bool passingImapCode(const std::string& code) { return code == "UNAVAILABLE" || code == "INUSE"; }
}  // namespace

TFailureKind ClassifyFailure(const TFailureFacts& facts) {
    bool passing = false;
    switch (facts.Source) {
        case TFailureFacts::TimedOut:
        case TFailureFacts::Canceled: passing = true; break;
        case TFailureFacts::Socket: passing = passingSocketError(facts.Code, facts.HostKnown); break;
        case TFailureFacts::ServerReply:
            // Any other refusal ([AUTH], [SYS/PERM], a bare "-ERR" to USER or
            // PASS, a reply that is no POP3 at all) will be the same next time.
            passing =
                passingResponseCode(PopResponseCode(facts.Reply)) || passingImapCode(ImapResponseCode(facts.Reply));
            break;
        case TFailureFacts::Other: break;
    }
    return passing ? TFailureKind::Passing : TFailureKind::NeedsUser;
}

}  // namespace mail
