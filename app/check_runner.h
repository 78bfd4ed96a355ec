#pragma once
// Where one mailbox's checks run. The watcher decides when; a runner does
// the check and hands back its outcome on the GUI thread. The shipped runner
// keeps a thread of its own for the mailbox's whole life, so a server that
// never answers holds up no other mailbox and no window of the program.
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/new_mail_notice.h"
#include "app/settings.h"
#include "mail/imap_session.h"
#include "mail/pop3_session.h"

namespace app {

// An IMAP mailbox whose server offers IDLE stays connected after a check,
// waiting for the server to tell of a change; the runner then checks again
// by itself and reports that check through OnPushed. The socket's readiness
// wakes the worker: nothing polls while the connection idles.
class TCheckRunner {
public:
    virtual ~TCheckRunner() = default;
    // Starts a check with a copy of `settings`; an IMAP check takes the
    // mailbox's UID mark. OnDone follows on the GUI thread, unless a later
    // Start or a Cancel came first.
    virtual void Start(const TMailboxSettings& settings, const mail::TUidMark& mark = {}) = 0;
    // Cuts the running check short (its outcome is dropped) and closes a
    // connection left idling.
    virtual void Cancel() = 0;
    // The mailbox of the check OnDone or OnPushed reports; read it only
    // inside them, the one of the check's protocol.
    virtual const mail::TPop3Mailbox& Mailbox() const = 0;
    virtual const TImapResult& ImapResult() const = 0;
    // Whether the check just reported left the connection idling: changes
    // come by OnPushed, until a failure or Cancel.
    virtual bool Listening() const = 0;
    // A refresh token the provider sent with a new access token, to be
    // stored in place of the mailbox's; "" when it keeps the old one.
    virtual const std::string& NewRefreshToken() const = 0;

    // Null for a good check.
    std::function<void(std::exception_ptr failure)> OnDone;
    // A check the runner made because the idling server told of a change,
    // or the failure of the idling connection (it is closed then).
    std::function<void(std::exception_ptr failure)> OnPushed;
    // The question whether to trust a certificate; asked on the GUI thread.
    std::function<bool(const std::string& question)> OnAsk;
    // Seconds every wait of a check may take.
    int TimeOut = 60;
    // How long a connection idles before IDLE is renewed (servers may drop
    // one after 30 minutes).
    unsigned IdleRenewalMs = 25 * 60 * 1000;
};

// The runner with a worker thread; it joins the thread when destroyed.
std::unique_ptr<TCheckRunner> MakeThreadCheckRunner();

}  // namespace app
