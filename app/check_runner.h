#pragma once
// Where one mailbox's checks run. The watcher decides when; a runner does
// the check and hands back its outcome on the GUI thread. The shipped runner
// keeps a thread of its own for the mailbox's whole life, so a server that
// never answers holds up no other mailbox and no window of the program.
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "app/settings.h"
#include "mail/pop3_session.h"

namespace app {

class TCheckRunner {
public:
    virtual ~TCheckRunner() = default;
    // Starts a check with a copy of `settings`. OnDone follows on the GUI
    // thread, unless a later Start or a Cancel came first.
    virtual void Start(const TMailboxSettings& settings) = 0;
    // Cuts the running check short; its outcome is dropped.
    virtual void Cancel() = 0;
    // The mailbox of the check OnDone reports; read it only inside OnDone.
    virtual const mail::TPop3Mailbox& Mailbox() const = 0;

    // Null for a good check.
    std::function<void(std::exception_ptr failure)> OnDone;
    // The question whether to trust a certificate; asked on the GUI thread.
    std::function<bool(const std::string& question)> OnAsk;
    // Seconds every wait of a check may take.
    int TimeOut = 60;
};

// The runner with a worker thread; it joins the thread when destroyed.
std::unique_ptr<TCheckRunner> MakeThreadCheckRunner();

}  // namespace app
