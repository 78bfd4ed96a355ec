#include "framework/network_handles.h"  // winsock2.h before windows.h
//
#include <shellapi.h>

#include <algorithm>
#include <exception>
#include <thread>

#include "framework/application.h"
#include "framework/system_error.h"
#include "framework/window.h"
#include "net/oauth2.h"
#include "net/socket_errors.h"

namespace net {

namespace {

constexpr UINT WM_REDIRECT_SOCKET = WM_USER + 160;

// What the thread of a code exchange hands back. Shared: a cancelled sign-in
// stops waiting for the thread, which may still finish afterwards.
struct TExchange {
    fw::UniqueKernelHandle Done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    TOAuthTokens Tokens;
    std::exception_ptr Failure;
};

// Client ids are set when Tidemark is built (CMake options); a build without
// one leaves the provider to a client id of the user's own, per mailbox.
#ifndef TIDEMARK_MICROSOFT_CLIENT_ID
#define TIDEMARK_MICROSOFT_CLIENT_ID ""
#endif
#ifndef TIDEMARK_GOOGLE_CLIENT_ID
#define TIDEMARK_GOOGLE_CLIENT_ID ""
#endif
#ifndef TIDEMARK_GOOGLE_CLIENT_SECRET
#define TIDEMARK_GOOGLE_CLIENT_SECRET ""
#endif

}  // namespace

TOAuthProvider BuiltInProvider(const std::string& name) {
    if (name == "microsoft")
        return {"Microsoft",
                "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
                "https://login.microsoftonline.com/common/oauth2/v2.0/token",
                "https://outlook.office.com/POP.AccessAsUser.All https://outlook.office.com/IMAP.AccessAsUser.All "
                "offline_access",
                TIDEMARK_MICROSOFT_CLIENT_ID,
                ""};
    // Google hands out a refresh token only for offline access, and again
    // after the first time only when the consent is asked for again.
    if (name == "google")
        return {"Google",
                "https://accounts.google.com/o/oauth2/v2/auth?access_type=offline&prompt=consent",
                "https://oauth2.googleapis.com/token",
                "https://mail.google.com/",
                TIDEMARK_GOOGLE_CLIENT_ID,
                TIDEMARK_GOOGLE_CLIENT_SECRET};
    return {};
}

void OpenInDefaultBrowser(const std::string& url) {
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    // ShellExecute's results up to 32 are its own error codes; most match
    // the system's.
    if (result <= 32)
        throw ESocketError(
            fw::FormatStr(CatalogueText(sSignInNoBrowser), fw::SystemErrorText(static_cast<DWORD>(result))),
            sSignInNoBrowser);
}

TBrowserSignIn::TBrowserSignIn(TOAuthProvider provider, std::string loginHint)
    : provider_(std::move(provider)), loginHint_(std::move(loginHint)) {}

TBrowserSignIn::~TBrowserSignIn() = default;

void TBrowserSignIn::OpenAgain() {
    if (running_ && launch_) launch_(request_.Url);
}

TOAuthTokens TBrowserSignIn::Run(const TBrowserLauncher& launch, unsigned timeOutMs, int httpTimeOutSeconds) {
    if (provider_.AuthorizationUrl.empty() || provider_.TokenUrl.empty() || provider_.ClientId.empty())
        throw ESocketError(CatalogueText(sSignInNoClient), sSignInNoClient);
    bool arrived = false;
    std::unique_ptr<TRedirectListener> listener;
    std::string query;
    fw::TUtilWindow window([&](HWND, UINT msg, WPARAM, LPARAM, LRESULT&) {
        if (msg != WM_REDIRECT_SOCKET) return false;
        if (!arrived && listener) arrived = listener->Poll(query);
        return true;
    });
    listener = std::make_unique<TRedirectListener>(window.Handle(), WM_REDIRECT_SOCKET);
    request_ = BeginAuthorization(provider_, listener->RedirectUri(), loginHint_);
    launch_ = launch;
    running_ = true;
    const fw::ScopeExit stopped([&] { running_ = false; });
    launch(request_.Url);

    const ULONGLONG deadline = GetTickCount64() + timeOutMs;
    std::shared_ptr<TExchange> exchange;
    for (;;) {
        if (canceled_) throw ECanceledError();
        if (arrived && !exchange) {
            std::string code;
            try {
                code = CodeOfRedirect(request_, query);
            } catch (const fw::Exception& e) {
                listener->Answer("Tidemark", "Tidemark could not sign in: " + e.Message + ". You can close this tab.");
                throw;
            }
            exchange = std::make_shared<TExchange>();
            std::thread([exchange, provider = provider_, request = request_, code, httpTimeOutSeconds] {
                try {
                    exchange->Tokens = ExchangeCode(provider, request, code, httpTimeOutSeconds);
                } catch (...) {
                    exchange->Failure = std::current_exception();
                }
                SetEvent(exchange->Done.get());
            }).detach();
        }
        if (exchange && WaitForSingleObject(exchange->Done.get(), 0) == WAIT_OBJECT_0) break;
        const ULONGLONG now = GetTickCount64();
        if (!exchange && now >= deadline) throw ESocketError(CatalogueText(sSignInTimedOut), sSignInTimedOut);
        fw::DispatchPending();
        if (fw::Application && fw::Application->Terminated()) canceled_ = true;
        if (canceled_ || (arrived && !exchange)) continue;
        HANDLE done = exchange ? exchange->Done.get() : nullptr;
        MsgWaitForMultipleObjectsEx(done ? 1 : 0, done ? &done : nullptr,
                                    exchange ? 1000 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 1000)),
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    if (exchange->Failure) {
        std::string words = "the provider refused";
        try {
            std::rethrow_exception(exchange->Failure);
        } catch (const fw::Exception& e) {
            words = e.Message;
        } catch (...) {
        }
        listener->Answer("Tidemark", "Tidemark could not sign in: " + words + ". You can close this tab.");
        std::rethrow_exception(exchange->Failure);
    }
    listener->Answer("Tidemark", "Tidemark is signed in; you can close this tab.");
    return exchange->Tokens;
}

}  // namespace net
