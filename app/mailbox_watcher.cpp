#include "app/mailbox_watcher.h"

#include <cstdio>
#include <utility>

#include "app/retry_rules.h"
#include "framework/application.h"
#include "framework/window.h"

namespace app {

namespace {
// After a wake-up the network needs a few seconds; a check comes within ten.
constexpr unsigned kCheckAfterWakeMs = 5000;
// Armed at the sleep in case no wake-up notice comes: timers count on
// after waking, so this tick stands in for it.
constexpr unsigned kWakeFallbackMs = 10000;
// Failures this soon after a wake-up are retried quickly (RetryDelayMs).
constexpr std::uint64_t kQuickRetriesAfterWakeMs = 2 * 60 * 1000;
// Addresses change in bursts as an adapter comes up: one check after them.
constexpr unsigned kCheckAfterAddressChangeMs = 1000;

std::string textOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "";
    }
}

bool sameConnection(const TMailboxSettings& a, const TMailboxSettings& b) {
    return a.Server == b.Server && a.Security == b.Security && a.UserName == b.UserName && a.Password == b.Password &&
           a.Protocol == b.Protocol && a.SignIn == b.SignIn && a.Account == b.Account;
}
}  // namespace

TMailboxWatcher::TMailboxWatcher(fw::TComponent* owner, std::unique_ptr<TCheckRunner> runner, desktop::TTrayIcon& tray)
    : fw::TComponent(owner), runner_(std::move(runner)), tray_(tray) {
    PollTimer = new fw::TTimer(this);
    PollTimer->SetEnabled(false);
    PollTimer->SetInterval(settings_.IntervalMs);
    PollTimer->SetOnTimer([this](fw::TObject*) { Handle(TWatchEvent::Tick); });
    RetryTimer = new fw::TTimer(this);
    RetryTimer->SetEnabled(false);
    RetryTimer->SetOnTimer([this](fw::TObject*) { Handle(TWatchEvent::Tick); });
    runner_->OnDone = [this](std::exception_ptr failure) { Handle(TWatchEvent::CheckDone, failure); };
    runner_->OnPushed = [this](std::exception_ptr failure) { Handle(TWatchEvent::Pushed, failure); };
}

TMailboxWatcher::~TMailboxWatcher() {
    // The runner's thread ends before the timers and handlers it reports to.
    runner_.reset();
    DestroyComponents();
}

void TMailboxWatcher::SetSettings(const TMailboxSettings& settings) {
    const bool reconnect = !sameConnection(settings, settings_);
    settings_ = settings;
    PollTimer->SetInterval(settings.IntervalMs);
    Announcer.Announce = settings.Announce;
    if (reconnect && (state_ == TWatchState::Checking || state_ == TWatchState::Listening)) {
        const bool listened = state_ == TWatchState::Listening;
        runner_->Cancel();
        goTo(on_ ? TWatchState::Idle : TWatchState::Off);
        // Changes come from the new account as soon as it idles in turn.
        if (listened && on_) Handle(TWatchEvent::Tick);
    }
}

void TMailboxWatcher::Handle(TWatchEvent event, std::exception_ptr failure) {
    if (state_ == TWatchState::Closing) return;
    const bool checking = state_ == TWatchState::Checking;
    const bool listening = state_ == TWatchState::Listening;
    switch (event) {
        case TWatchEvent::SwitchOn:
        case TWatchEvent::SwitchOff:
            // No check is made at once; one running goes on, and its outcome
            // finds the switch as it is then. An idling connection goes
            // with the switch off, and stays with it on.
            on_ = event == TWatchEvent::SwitchOn;
            endRetries();
            if (listening && !on_) runner_->Cancel();
            if (!checking && !(listening && on_)) goTo(on_ ? TWatchState::Idle : TWatchState::Off);
            changed();
            break;
        case TWatchEvent::Tick:
            // A tick left in the queue after the switch went off, or one
            // during a check (never two on one connection).
            if (checking || state_ == TWatchState::Off) break;
            // A check under a modal window of ours could end in a box over
            // it: it waits, timers stopped, until the last one has closed.
            if (fw::Application && fw::Application->ModalCount() > 0) {
                goTo(TWatchState::WaitingForModal);
                break;
            }
            // Still "asleep" at a tick: the wake-up notice never came, and
            // this tick (armed at the sleep) stands in for it.
            if (state_ == TWatchState::Suspended) resumedAt_ = GetTickCount64();
            startCheck();
            break;
        case TWatchEvent::ModalClosed:
            if (state_ == TWatchState::WaitingForModal) Handle(on_ ? TWatchEvent::Tick : TWatchEvent::SwitchOff);
            break;
        case TWatchEvent::CheckDone:
            if (checking) checkDone(failure);
            break;
        case TWatchEvent::Pushed:
            if (listening) checkDone(failure);
            break;
        case TWatchEvent::Suspend:
            // A check cut off by the sleep would fail after it, late and for
            // nothing: it goes now, without a report; so does an idling
            // connection, which the wake-up's check opens again.
            if (checking || listening) runner_->Cancel();
            goTo(TWatchState::Suspended);
            if (on_) arm(kWakeFallbackMs);
            break;
        case TWatchEvent::Resume:
            // Both resume notices may come, one after the other: the check
            // follows the last. Failures from before the sleep say nothing
            // about the network now.
            resumedAt_ = GetTickCount64();
            endRetries();
            if (checking) break;
            if (on_)
                retryIn(kCheckAfterWakeMs);
            else
                goTo(TWatchState::Off);
            break;
        case TWatchEvent::AddressChanged:
            // Only a check that failed for a passing reason waits for the
            // network; an idling connection may have lost its route without
            // a word, so it is opened afresh.
            if (on_ && passingFailures_ > 0 && state_ == TWatchState::WaitingToRetry)
                retryIn(kCheckAfterAddressChangeMs);
            if (listening) {
                runner_->Cancel();
                retryIn(kCheckAfterAddressChangeMs);
            }
            break;
        case TWatchEvent::Close:
            // A check waits on the network up to its time-out per wait: the
            // program ends without it, and without a word about it.
            if (checking || listening) runner_->Cancel();
            goTo(TWatchState::Closing);
            break;
    }
}

void TMailboxWatcher::startCheck() {
    goTo(TWatchState::Checking);
    if (settings_.Protocol == TProtocol::Imap)
        runner_->Start(settings_, Announcer.MarkOf(mail::MailboxName(settings_.Server, settings_.UserName)));
    else
        runner_->Start(settings_);
}

void TMailboxWatcher::checkDone(std::exception_ptr failure) {
    // Kept whatever the check came to: the provider may have retired the old one.
    const std::string& renewed = runner_->NewRefreshToken();
    if (!renewed.empty() && renewed != settings_.RefreshToken) {
        settings_.RefreshToken = renewed;
        if (OnRefreshToken) OnRefreshToken(*this);
    }
    if (!failure) {
        passingFailures_ = 0;
        retryText_.clear();
        knownServer_ = settings_.Server;
        counted_ = true;
        const bool imap = settings_.Protocol == TProtocol::Imap;
        if (imap) {
            // The unread messages count, and a summary keeps no list of them.
            infoCount_ = messageCount_ = static_cast<std::int32_t>(runner_->ImapResult().UnseenCount);
        } else {
            infoCount_ = runner_->Mailbox().RemoteInfo.Count();
            messageCount_ = runner_->Mailbox().MessageCount;
        }
        if (runner_->Listening() && !on_) runner_->Cancel();
        goTo(!on_ ? TWatchState::Off : runner_->Listening() ? TWatchState::Listening : TWatchState::Idle);
        changed();
        try {
            if (imap)
                Announcer.AfterCheck(runner_->ImapResult(), tray_);
            else
                Announcer.AfterCheck(runner_->Mailbox(), tray_);
        } catch (...) {
            // A list that cannot be stored costs only a repeated notice after
            // a restart: checking goes on, and the reason is told once.
            if (!storeFailureReported_) storeFailure_ = textOf(std::current_exception());
        }
        if (Announcer.Announced > 0 && OnNewMail) OnNewMail(*this, Announcer.Announced);
        if (imap && !runner_->ImapResult().Alerts.empty()) alert_ = runner_->ImapResult().Alerts.back();
        // Never over a new-mail notice the user has not seen yet.
        if (!storeFailure_.empty() && !tray_.BalloonWaiting()) {
            storeFailureReported_ = true;
            if (OnWarning) OnWarning(*this, std::exchange(storeFailure_, std::string()));
        }
        if (alert_ != alertShown_ && !tray_.BalloonWaiting()) {
            alertShown_ = alert_;
            if (OnWarning) OnWarning(*this, "The mail server says: " + alert_);
        }
        return;
    }
    mail::TFailureFacts facts = mail::FactsOfFailure(failure);
    facts.HostKnown = !knownServer_.empty() && knownServer_ == settings_.Server;
    if (mail::ClassifyFailure(facts) == mail::TFailureKind::Passing) {
        // Switched off during the check: it stays off, quietly.
        if (on_)
            keepTrying(facts, textOf(failure));
        else
            goTo(TWatchState::Off);
        return;
    }
    // Switch and timers say "off" before the report is shown: its box runs
    // a loop of its own, and ticks there would start checks under it.
    endRetries();
    on_ = false;
    goTo(TWatchState::Off);
    changed();
    if (OnFailure) OnFailure(*this, failure);
}

void TMailboxWatcher::goTo(TWatchState state) {
    state_ = state;
    PollTimer->SetEnabled(state == TWatchState::Idle);
    RetryTimer->SetEnabled(false);
}

void TMailboxWatcher::retryIn(unsigned ms) {
    goTo(TWatchState::WaitingToRetry);
    arm(ms);
}

void TMailboxWatcher::arm(unsigned ms) {
    RetryTimer->SetInterval(ms);
    RetryTimer->SetEnabled(true);
}

void TMailboxWatcher::keepTrying(const mail::TFailureFacts& facts, const std::string& reason) {
    const std::uint64_t now = GetTickCount64();
    if (passingFailures_++ == 0) {
        failingSince_ = now;
        SYSTEMTIME local;
        GetLocalTime(&local);
        char since[16];
        std::snprintf(since, sizeof since, "%02u:%02u", local.wHour, local.wMinute);
        failingSinceText_ = since;
        warningShown_ = false;
    }
    const bool justWoken = resumedAt_ != 0 && now - resumedAt_ < kQuickRetriesAfterWakeMs;
    retryIn(RetryDelayMs(passingFailures_, settings_.IntervalMs, justWoken));
    counted_ = false;
    retryText_ = RetryToolTip(facts);
    changed();
    if (!warningShown_ && now - failingSince_ >= BalloonAfterMs) {
        warningShown_ = true;
        if (OnWarning)
            OnWarning(*this, FailingSinceNotice(failingSinceText_, reason, desktop::TTrayIcon::kMaxBalloonText));
    }
}

void TMailboxWatcher::endRetries() {
    if (passingFailures_ == 0) return;
    passingFailures_ = 0;
    retryText_.clear();
    changed();
}

}  // namespace app
