#include "app/check_runner.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>

#include "app/sign_in.h"
#include "framework/handles.h"
#include "framework/window.h"
#include "net/winsock_library.h"

namespace app {

namespace {
// To the worker's window: cancel the check numbered wParam (or any older one).
constexpr UINT WM_CANCEL_CHECK = WM_APP + 40;
// To the worker's window: a request is waiting (its outer loop takes it).
constexpr UINT WM_WAKE = WM_APP + 41;
// Posted to the GUI window: the check numbered wParam is over.
constexpr UINT WM_CHECK_DONE = WM_APP + 42;
// Sent to the GUI window: lParam is the question (std::string*); the answer is 1 for yes.
constexpr UINT WM_ASK = WM_APP + 43;
// Posted to the GUI window: the idling connection of check wParam checked again, or failed.
constexpr UINT WM_PUSHED = WM_APP + 44;
// The worker window's timer that renews IDLE.
constexpr UINT_PTR kRenewalTimer = 1;

bool sameAccount(const TMailboxSettings& a, const TMailboxSettings& b) {
    return a.Server == b.Server && a.Security == b.Security && a.UserName == b.UserName && a.Password == b.Password &&
           a.SignIn == b.SignIn && a.Account == b.Account;
}

class TThreadCheckRunner : public TCheckRunner {
public:
    TThreadCheckRunner();
    ~TThreadCheckRunner() override;
    void Start(const TMailboxSettings& settings, const mail::TUidMark& mark) override;
    void Cancel() override;
    const mail::TPop3Mailbox& Mailbox() const override { return *mailbox_; }
    const TImapResult& ImapResult() const override { return reported_.Result; }
    bool Listening() const override { return reported_.Listening; }
    const std::string& NewRefreshToken() const override { return reported_.RefreshToken; }

private:
    struct TRequest {
        unsigned Id;
        TMailboxSettings Settings;
        mail::TUidMark Mark;
        int TimeOut;
        unsigned RenewalMs;
    };
    // One report for the GUI: each posted WM_CHECK_DONE or WM_PUSHED has one, in order.
    struct TOutcome {
        std::exception_ptr Failure;
        bool Listening = false;
        TImapResult Result;
        // A refresh token the provider sent in place of the stored one.
        std::string RefreshToken;
    };
    static DWORD WINAPI threadMain(LPVOID self);
    void run();
    void check(const TRequest& request);
    // Worker: an IMAP check on the open connection (or a new one); true
    // when it is left idling.
    bool checkImap(const TRequest& request);
    // Worker: the idling server sent something, or IDLE is due for renewal.
    void idleEvent(bool renewal);
    // Worker: closes the IMAP connection without a word to the server.
    void closeImap();
    // Worker: runs `check` with the access token of the mailbox's sign-in
    // ("" for a password), refreshed shortly before it runs out; a token the
    // server refuses is refreshed once and the check made again.
    void withToken(const TMailboxSettings& settings, int timeOut, const std::function<void(const std::string&)>& check);
    // Queues the outcome (with a copy of the IMAP check's result when
    // `imapResult`) and posts `msg` for it.
    void report(UINT msg, unsigned id, std::exception_ptr failure, bool listening, bool imapResult);
    bool guiMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    fw::TUtilWindow gui_;
    fw::UniqueKernelHandle ready_, thread_;
    HWND workerWindow_ = nullptr;
    DWORD workerId_ = 0;
    // Made, used and freed on the worker: its socket and counter windows belong there.
    std::unique_ptr<mail::TPop3Mailbox> mailbox_;
    std::unique_ptr<mail::TImapMailbox> imap_;
    std::string key_;  // the stored mailbox's key, for its trusted certificates
    std::atomic<bool> closing_{false};
    // GUI thread: the number of the check whose outcome counts, 0 for none;
    // the check whose connection idles, 0 for none.
    unsigned current_ = 0, last_ = 0, listening_ = 0;
    TOutcome reported_;
    // Worker: the number of the check running, 0 between checks; the check
    // whose connection idles and the settings it was made with.
    unsigned running_ = 0, idleOwner_ = 0;
    TMailboxSettings connectedWith_;
    // The access token and the refresh token it was had with; a refresh
    // token the provider sent in place of the stored `renewedOf_`.
    net::TOAuthTokens tokens_;
    std::string tokensFrom_, renewed_, renewedOf_;
    unsigned renewalMs_ = 0;
    std::mutex mutex_;
    std::optional<TRequest> pending_;
    std::deque<TOutcome> outcomes_;
};

TThreadCheckRunner::TThreadCheckRunner()
    : gui_([this](HWND, UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) { return guiMessage(msg, wp, lp, r); }) {
    // Loaded here, once, on the GUI thread: the workers only read the binding.
    if (!net::Winsock.Loaded()) net::Winsock.Load();
    ready_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_.reset(CreateThread(nullptr, 0, threadMain, this, 0, &workerId_));
    if (!thread_) throw fw::Exception("The mail check could not be started (no thread)");
    // The worker's window must exist before the first cancel is posted to it.
    const HANDLE both[] = {ready_.get(), thread_.get()};
    WaitForMultipleObjects(2, both, FALSE, INFINITE);
}

TThreadCheckRunner::~TThreadCheckRunner() {
    closing_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.reset();
    }
    PostMessageA(workerWindow_, WM_CANCEL_CHECK, static_cast<WPARAM>(-1), 0);
    PostThreadMessageA(workerId_, WM_QUIT, 0, 0);
    // A worker blocked in SendMessage (the certificate question) needs this
    // thread to answer it while the join waits; closing_ makes that a No.
    const HANDLE thread = thread_.get();
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

DWORD WINAPI TThreadCheckRunner::threadMain(LPVOID self) {
    static_cast<TThreadCheckRunner*>(self)->run();
    return 0;
}

void TThreadCheckRunner::run() {
    fw::TUtilWindow window([this](HWND, UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
        result = 0;
        if (msg == WM_WAKE) return true;
        if (msg == WM_TIMER && wp == kRenewalTimer) {
            idleEvent(true);
            return true;
        }
        if (msg != WM_CANCEL_CHECK) return false;
        if (running_ != 0 && running_ <= wp) {
            mailbox_->Cancel();
            if (imap_) imap_->Cancel();
        } else if (idleOwner_ != 0 && idleOwner_ <= wp) {
            closeImap();
        }
        return true;
    });
    mailbox_ = std::make_unique<mail::TPop3Mailbox>(nullptr);
    mailbox_->SetWinsockLoaded(true);
    mailbox_->DefaultPort = 110;
    mailbox_->SetMessageDirectory(".\\");
    // Repeat checks read only new messages, and new ones can be announced.
    mailbox_->UseUniqueIds = true;
    mailbox_->OnUntrustedCertificate = [this](fw::TObject*, const net::TCertificateVerdict& verdict) {
        return AcceptCertificate(key_, mailbox_->Server, verdict, [this](const std::string& question) {
            return !closing_ && SendMessageA(gui_.Handle(), WM_ASK, 0, reinterpret_cast<LPARAM>(&question)) == 1;
        });
    };
    workerWindow_ = window.Handle();
    SetEvent(ready_.get());
    for (;;) {
        for (;;) {
            std::optional<TRequest> request;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                request.swap(pending_);
            }
            if (!request || closing_) break;
            check(*request);
        }
        // Closing ends the loop even where a nested wait took the WM_QUIT.
        if (closing_) break;
        MSG msg;
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    closeImap();
    imap_.reset();
    mailbox_.reset();
}

void TThreadCheckRunner::check(const TRequest& request) {
    running_ = request.Id;
    key_ = request.Settings.Slot ? MailboxKey(request.Settings.Slot) : SettingsKey;
    std::exception_ptr failure;
    bool listening = false;
    if (request.Settings.Protocol == TProtocol::Imap) {
        try {
            listening = checkImap(request);
        } catch (...) {
            failure = std::current_exception();
            closeImap();
        }
    } else {
        // A mailbox switched from IMAP to POP3 leaves no connection idling.
        closeImap();
        mailbox_->Server = request.Settings.Server;
        mailbox_->Security = request.Settings.Security;
        mailbox_->UserName = request.Settings.UserName;
        mailbox_->Password = request.Settings.Password;
        mailbox_->SetTimeOut(request.TimeOut);
        try {
            withToken(request.Settings, request.TimeOut, [this](const std::string& token) {
                mailbox_->AccessToken = token;
                mailbox_->UpdateInfo();
            });
        } catch (...) {
            failure = std::current_exception();
        }
    }
    running_ = 0;
    report(WM_CHECK_DONE, request.Id, failure, listening, request.Settings.Protocol == TProtocol::Imap);
}

bool TThreadCheckRunner::checkImap(const TRequest& request) {
    if (!imap_) {
        imap_ = std::make_unique<mail::TImapMailbox>(nullptr);
        imap_->SetWinsockLoaded(true);
        imap_->OnUntrustedCertificate = mailbox_->OnUntrustedCertificate;
        imap_->OnReadable = [this](fw::TObject*) { idleEvent(false); };
    }
    if (imap_->Connected() && !sameAccount(connectedWith_, request.Settings)) closeImap();
    KillTimer(workerWindow_, kRenewalTimer);
    idleOwner_ = 0;
    imap_->SetTimeOut(request.TimeOut);
    if (imap_->Connected() && imap_->Idling()) {
        // A connection the server dropped without a word shows only now:
        // the check goes on with a new one.
        try {
            imap_->EndIdle();
        } catch (...) {
            closeImap();
        }
    }
    imap_->Server = request.Settings.Server;
    imap_->Security = request.Settings.Security;
    imap_->UserName = request.Settings.UserName;
    imap_->Password = request.Settings.Password;
    connectedWith_ = request.Settings;
    withToken(request.Settings, request.TimeOut, [&](const std::string& token) {
        imap_->AccessToken = token;
        imap_->Check(request.Mark);
    });
    if (!imap_->CanIdle()) {
        // Checked every interval instead, like a POP3 mailbox.
        imap_->Disconnect();
        return false;
    }
    imap_->StartIdle();
    idleOwner_ = request.Id;
    renewalMs_ = request.RenewalMs;
    SetTimer(workerWindow_, kRenewalTimer, renewalMs_, nullptr);
    return true;
}

void TThreadCheckRunner::idleEvent(bool renewal) {
    // Readiness during a check belongs to that check's own waits.
    if (running_ != 0 || idleOwner_ == 0 || !imap_ || !imap_->Idling()) return;
    const unsigned owner = idleOwner_;
    running_ = owner;
    std::exception_ptr failure;
    bool changed = false;
    try {
        changed = renewal ? imap_->EndIdle() : imap_->IdleChanged();
        if (changed) {
            if (imap_->Idling()) imap_->EndIdle();
            withToken(connectedWith_, imap_->TimeOut(), [this](const std::string& token) {
                imap_->AccessToken = token;
                imap_->Check(imap_->Mark);
            });
        }
        if (!imap_->Idling()) imap_->StartIdle();
    } catch (...) {
        failure = std::current_exception();
        closeImap();
    }
    running_ = 0;
    if (failure || changed) report(WM_PUSHED, owner, failure, !failure, true);
    if (!failure) SetTimer(workerWindow_, kRenewalTimer, renewalMs_, nullptr);
}

void TThreadCheckRunner::withToken(const TMailboxSettings& settings, int timeOut,
                                   const std::function<void(const std::string&)>& check) {
    if (settings.SignIn == TSignIn::Password) return check("");
    if (settings.RefreshToken.empty())
        throw net::ESocketError(net::CatalogueText(net::sSignInIncomplete), net::sSignInIncomplete);
    // Stored meanwhile (or replaced by signing in again): the stored one counts.
    if (settings.RefreshToken != renewedOf_) renewed_.clear();
    const std::string from = renewed_.empty() ? settings.RefreshToken : renewed_;
    auto refresh = [&] {
        tokens_ = net::RefreshTokens(ProviderOf(settings), from, timeOut);
        // The access token goes with the newest refresh token, stored or not yet.
        tokensFrom_ = tokens_.RefreshToken;
        if (tokens_.RefreshToken != from) renewed_ = tokens_.RefreshToken, renewedOf_ = settings.RefreshToken;
    };
    if (tokensFrom_ != from || !net::AccessTokenFresh(tokens_, GetTickCount64())) refresh();
    try {
        check(tokens_.AccessToken);
    } catch (const net::ESocketError& e) {
        // Revoked early, or the server's clock runs ahead: one new token, one more try.
        if (e.Code != net::sTokenRejected) throw;
        refresh();
        check(tokens_.AccessToken);
    }
}

void TThreadCheckRunner::closeImap() {
    KillTimer(workerWindow_, kRenewalTimer);
    idleOwner_ = 0;
    if (imap_) imap_->Close();
}

void TThreadCheckRunner::report(UINT msg, unsigned id, std::exception_ptr failure, bool listening, bool imapResult) {
    TOutcome outcome{failure, listening, {}, renewed_};
    if (!failure && imapResult) {
        outcome.Result = {imap_->CheckedMailbox, imap_->UnseenCount, imap_->MessageCount,
                          imap_->Mark,           imap_->NewMessages, imap_->Alerts};
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        outcomes_.push_back(std::move(outcome));
    }
    PostMessageA(gui_.Handle(), msg, id, 0);
}

void TThreadCheckRunner::Start(const TMailboxSettings& settings, const mail::TUidMark& mark) {
    current_ = ++last_;
    // The new check takes the idling connection over.
    listening_ = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = TRequest{current_, settings, mark, TimeOut, IdleRenewalMs};
    }
    PostMessageA(workerWindow_, WM_WAKE, 0, 0);
}

void TThreadCheckRunner::Cancel() {
    if (current_ == 0 && listening_ == 0) return;
    // Every check numbered so far: a later Start gets a higher number.
    PostMessageA(workerWindow_, WM_CANCEL_CHECK, last_, 0);
    current_ = listening_ = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.reset();
}

bool TThreadCheckRunner::guiMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    result = 0;
    if (msg == WM_ASK) {
        result = !closing_ && OnAsk && OnAsk(*reinterpret_cast<const std::string*>(lp)) ? 1 : 0;
        return true;
    }
    if (msg != WM_CHECK_DONE && msg != WM_PUSHED) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (outcomes_.empty()) return true;
        reported_ = std::move(outcomes_.front());
        outcomes_.pop_front();
    }
    // The outcome of a check cancelled or overtaken since is not this mailbox's news.
    if (msg == WM_CHECK_DONE) {
        if (wp != current_ || current_ == 0) return true;
        current_ = 0;
        listening_ = reported_.Listening ? static_cast<unsigned>(wp) : 0;
        if (OnDone) OnDone(reported_.Failure);
    } else {
        if (wp != listening_ || listening_ == 0) return true;
        if (!reported_.Listening) listening_ = 0;
        if (OnPushed) OnPushed(reported_.Failure);
    }
    return true;
}
}  // namespace

std::unique_ptr<TCheckRunner> MakeThreadCheckRunner() { return std::make_unique<TThreadCheckRunner>(); }

}  // namespace app
