#include "app/check_runner.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <optional>

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

class TThreadCheckRunner : public TCheckRunner {
public:
    TThreadCheckRunner();
    ~TThreadCheckRunner() override;
    void Start(const TMailboxSettings& settings) override;
    void Cancel() override;
    const mail::TPop3Mailbox& Mailbox() const override { return *mailbox_; }

private:
    struct TRequest {
        unsigned Id;
        TMailboxSettings Settings;
        int TimeOut;
    };
    static DWORD WINAPI threadMain(LPVOID self);
    void run();
    void check(const TRequest& request);
    bool guiMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    fw::TUtilWindow gui_;
    fw::UniqueKernelHandle ready_, thread_;
    HWND workerWindow_ = nullptr;
    DWORD workerId_ = 0;
    // Made, used and freed on the worker: its socket and counter windows belong there.
    std::unique_ptr<mail::TPop3Mailbox> mailbox_;
    std::string key_;  // the stored mailbox's key, for its trusted certificates
    std::atomic<bool> closing_{false};
    // GUI thread: the number of the check whose outcome counts, 0 for none.
    unsigned current_ = 0, last_ = 0;
    // Worker: the number of the check running, 0 between checks.
    unsigned running_ = 0;
    std::mutex mutex_;
    std::optional<TRequest> pending_;
    std::exception_ptr outcome_;
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
        if (msg != WM_CANCEL_CHECK) return false;
        if (running_ != 0 && running_ <= wp) mailbox_->Cancel();
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
    mailbox_.reset();
}

void TThreadCheckRunner::check(const TRequest& request) {
    running_ = request.Id;
    key_ = request.Settings.Slot ? MailboxKey(request.Settings.Slot) : SettingsKey;
    mailbox_->Server = request.Settings.Server;
    mailbox_->Security = request.Settings.Security;
    mailbox_->UserName = request.Settings.UserName;
    mailbox_->Password = request.Settings.Password;
    mailbox_->SetTimeOut(request.TimeOut);
    std::exception_ptr failure;
    try {
        mailbox_->UpdateInfo();
    } catch (...) {
        failure = std::current_exception();
    }
    running_ = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        outcome_ = failure;
    }
    PostMessageA(gui_.Handle(), WM_CHECK_DONE, request.Id, 0);
}

void TThreadCheckRunner::Start(const TMailboxSettings& settings) {
    current_ = ++last_;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = TRequest{current_, settings, TimeOut};
    }
    PostMessageA(workerWindow_, WM_WAKE, 0, 0);
}

void TThreadCheckRunner::Cancel() {
    if (current_ == 0) return;
    PostMessageA(workerWindow_, WM_CANCEL_CHECK, current_, 0);
    current_ = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.reset();
}

bool TThreadCheckRunner::guiMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    result = 0;
    if (msg == WM_ASK) {
        result = !closing_ && OnAsk && OnAsk(*reinterpret_cast<const std::string*>(lp)) ? 1 : 0;
        return true;
    }
    if (msg != WM_CHECK_DONE) return false;
    // The outcome of a check cancelled or overtaken since is not this mailbox's news.
    if (wp != current_ || current_ == 0) return true;
    current_ = 0;
    std::exception_ptr failure;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure = outcome_;
    }
    if (OnDone) OnDone(failure);
    return true;
}
}  // namespace

std::unique_ptr<TCheckRunner> MakeThreadCheckRunner() { return std::make_unique<TThreadCheckRunner>(); }

}  // namespace app
