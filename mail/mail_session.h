#pragma once
// Base of the mail-protocol components: the socket's settings and events,
// and the frame every mail session shares (open and log in; work; log out
// and close). The protocol classes fill in Login and Logout.
#include "net/socket_client.h"

namespace mail {

class TMailSession : public net::TSocketClient {
public:
    explicit TMailSession(fw::TComponent* owner) : net::TSocketClient(owner) {}

    // Opens the socket and logs in, unless a socket is open already. A
    // failure on the way closes the socket before the exception passes on,
    // so the next Connect opens and logs in afresh instead of skipping the
    // login on a half-open session.
    void Connect();
    // Logs out and closes the socket, if one is open. The socket is closed
    // also when the log-out fails; the failure still reaches the caller.
    void Disconnect();

    // Brings an opened socket to a logged-in session.
    virtual void Login() = 0;
    // Ends the session on the server.
    virtual void Logout() = 0;

protected:
    // Closes the socket after a failure without letting a second failure
    // (a hang-up of the dial-up link, say) hide the first one.
    void CloseAfterFailure() noexcept;
};

}  // namespace mail
