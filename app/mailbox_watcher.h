#pragma once
// Everything about watching one mailbox: its settings, its schedule (the
// poll, the retry after a failure that passes, the growing wait), its
// failures, its seen ids and notices. What it is doing is one state; every
// event goes through one place that decides what follows. It tells the tray
// what to show through its On... handlers and never shows a box itself.
#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "app/check_runner.h"
#include "app/new_mail_notice.h"
#include "app/settings.h"
#include "framework/classes.h"
#include "framework/timer.h"
#include "mail/failure_kind.h"

namespace app {

enum class TWatchState {
    Off,              // no check comes until switched on
    Idle,             // the poll timer runs
    Checking,         // the runner has a check
    Listening,        // the IMAP server tells of changes on an idling connection: no poll timer
    WaitingToRetry,   // the retry timer runs (after a failure that passes, a wake-up, the network back)
    WaitingForModal,  // a tick came while a window of ours was modal
    Suspended,        // between the machine's sleep and its wake-up
    Closing,          // the program ends: nothing more starts
};

// Pushed: the runner checked again because the idling server told of a
// change, or the idling connection failed.
enum class TWatchEvent {
    SwitchOn,
    SwitchOff,
    Tick,
    CheckDone,
    Pushed,
    ModalClosed,
    Suspend,
    Resume,
    AddressChanged,
    Close
};

class TMailboxWatcher : public fw::TComponent {
public:
    TMailboxWatcher(fw::TComponent* owner, std::unique_ptr<TCheckRunner> runner, desktop::TTrayIcon& tray);
    ~TMailboxWatcher() override;

    fw::TTimer* PollTimer;
    fw::TTimer* RetryTimer;
    TNewMailAnnouncer Announcer;
    // Failures that pass by themselves are retried quietly; after this long
    // one balloon tells the user since when.
    std::uint64_t BalloonAfterMs = 60 * 60 * 1000;

    // The tooltip, the switch or the state may have changed.
    std::function<void(TMailboxWatcher&)> OnStatus;
    // A failure only the user can mend; checking is off already.
    std::function<void(TMailboxWatcher&, std::exception_ptr)> OnFailure;
    // A notice announced this many new messages.
    std::function<void(TMailboxWatcher&, std::size_t count)> OnNewMail;
    // The provider replaced the mailbox's refresh token (in Settings() now).
    std::function<void(TMailboxWatcher&)> OnRefreshToken;
    // The one warning after long trouble.
    std::function<void(TMailboxWatcher&, const std::string& text)> OnWarning;

    const TMailboxSettings& Settings() const { return settings_; }
    // Different connection settings cut a running check short: its outcome
    // would belong to the old ones.
    void SetSettings(const TMailboxSettings& settings);
    TWatchState State() const { return state_; }
    // The user's switch for this mailbox; a failure that needs the user turns it off.
    bool On() const { return on_; }
    int PassingFailures() const { return passingFailures_; }
    // Whether a good check's count stands (none before one, none while retrying).
    bool Counted() const { return counted_; }
    // The entries the last good check built, and the server's count.
    std::int32_t InfoCount() const { return infoCount_; }
    std::int32_t MessageCount() const { return messageCount_; }
    // What the tooltip says while failures are retried, else "".
    const std::string& RetryText() const { return retryText_; }
    TCheckRunner& Runner() { return *runner_; }

    // The one place that decides; `failure` goes with CheckDone and Pushed.
    void Handle(TWatchEvent event, std::exception_ptr failure = nullptr);

private:
    void checkDone(std::exception_ptr failure);
    void startCheck();
    void goTo(TWatchState state);
    void retryIn(unsigned ms);
    // The retry timer `ms` from now, whatever the state.
    void arm(unsigned ms);
    void keepTrying(const mail::TFailureFacts& facts, const std::string& reason);
    // Forgets the failures in a row and the retrying tooltip with them.
    void endRetries();
    void changed() {
        if (OnStatus) OnStatus(*this);
    }

    std::unique_ptr<TCheckRunner> runner_;
    desktop::TTrayIcon& tray_;
    TMailboxSettings settings_;
    TWatchState state_ = TWatchState::Off;
    bool on_ = false;
    bool counted_ = false;
    std::int32_t infoCount_ = 0, messageCount_ = 0;
    std::string retryText_;
    int passingFailures_ = 0;
    // GetTickCount64 and the local time of day of the first of them.
    std::uint64_t failingSince_ = 0;
    std::string failingSinceText_;
    bool warningShown_ = false;
    // The last wake-up (GetTickCount64), 0 before any.
    std::uint64_t resumedAt_ = 0;
    // The server setting of the last good check: its name exists.
    std::string knownServer_;
    // A seen-id list that cannot be stored is reported once per run, by a
    // notice (a modal box would hold up every check until the user came
    // back to it); its reason waits here until no new-mail notice does.
    bool storeFailureReported_ = false;
    std::string storeFailure_;
    // The server's last [ALERT], told once (when no notice waits) unless it changes.
    std::string alert_, alertShown_;
};

}  // namespace app
