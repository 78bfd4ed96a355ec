#include "mail/failure_kind.h"
#include "net/socket_errors.h"

namespace mail {

TFailureFacts FactsOfFailure(const std::exception_ptr& failure) {
    TFailureFacts facts;
    if (!failure) return facts;
    try {
        std::rethrow_exception(failure);
    } catch (const net::ETimedOutError&) {
        facts.Source = TFailureFacts::TimedOut;
    } catch (const net::ECanceledError&) {
        facts.Source = TFailureFacts::Canceled;
    } catch (const net::ESocketError& e) {
        facts.Source = TFailureFacts::Socket;
        facts.Code = e.Code;
    } catch (const net::EServerError& e) {
        // A hang-up in place of a status line is the connection's failure,
        // not the server's answer.
        if (e.HungUp) {
            facts.Source = TFailureFacts::Socket;
            facts.Code = net::sConnectionClosed;
        } else {
            facts.Source = TFailureFacts::ServerReply;
            facts.Reply = e.Message;
        }
    } catch (...) {
    }
    return facts;
}

}  // namespace mail
