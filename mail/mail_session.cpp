#include "mail/mail_session.h"

namespace mail {

void TMailSession::Connect() {
    if (Connected()) return;
    try {
        Open();
        Login();
    } catch (...) {
        CloseAfterFailure();
        throw;
    }
}

void TMailSession::Disconnect() {
    if (!Connected()) return;
    try {
        Logout();
    } catch (...) {
        CloseAfterFailure();
        throw;
    }
    Close();
}

void TMailSession::CloseAfterFailure() noexcept {
    // Only a socket that exists is closed: a failure before one was
    // created (a missing user name, an unknown host) leaves nothing to undo.
    if (!Connected()) return;
    try {
        Close();
    } catch (...) {
    }
}

}  // namespace mail
