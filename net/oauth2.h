#pragma once
// OAuth2 for mailboxes whose provider takes no password (RFC 6749, RFC 8252
// for a program on the user's computer): the authorization request with PKCE
// (RFC 7636) and a state value, the one-shot listener on 127.0.0.1 that
// catches the browser's redirect, and the token endpoint (the code exchanged,
// the access token refreshed) over WinHTTP, the platform's own HTTPS and
// certificate checks. Failures raise ESocketError with a catalogue id as the
// code: sSignInUnreachable passes by itself, the others need the user.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace net {

struct TOAuthProvider {
    std::string Name, AuthorizationUrl, TokenUrl, Scope, ClientId, ClientSecret;
};

// The providers built in ("microsoft", "google"), with the client ids this
// build was made with (TIDEMARK_MICROSOFT_CLIENT_ID and friends in CMake);
// Name "" for any other name.
TOAuthProvider BuiltInProvider(const std::string& name);

struct TOAuthTokens {
    std::string AccessToken, RefreshToken, Account;
    std::uint64_t ExpiresAtMs = 0;  // GetTickCount64
};

// Whether `tokens` has an access token that lasts at least another minute at
// `nowMs` (GetTickCount64): a check must not start with one that runs out
// during it.
bool AccessTokenFresh(const TOAuthTokens& tokens, std::uint64_t nowMs);

// What one sign-in sends the browser to, and what it keeps to judge and use
// the answer.
struct TAuthorizationRequest {
    std::string Url, State, CodeVerifier, RedirectUri;
};
// A fresh state and PKCE verifier (S256) for `redirectUri`; `loginHint` (the
// mailbox's user name, may be empty) saves the user picking an account.
TAuthorizationRequest BeginAuthorization(const TOAuthProvider& provider, const std::string& redirectUri,
                                         const std::string& loginHint);
// The code of the redirect's query text (after "?"). Raises
// sSignInForeignAnswer when its state is not the request's, sSignInRefused
// with the provider's words when it carries an error instead.
std::string CodeOfRedirect(const TAuthorizationRequest& request, const std::string& query);

// Trades the code for tokens at the token endpoint (with the PKCE verifier).
// Account comes from the id token's email or preferred_username claim, if any.
TOAuthTokens ExchangeCode(const TOAuthProvider& provider, const TAuthorizationRequest& request, const std::string& code,
                          int timeOutSeconds);
// Exchanges a refresh token for a new access token (keeps the refresh token
// unless the endpoint sends a new one). Raises: a refused grant with
// sSignInAgain (needs the user), an unreachable endpoint with
// sSignInUnreachable (passing).
TOAuthTokens RefreshTokens(const TOAuthProvider& provider, const std::string& refreshToken, int timeOutSeconds);

// The listener the browser is sent back to: http://127.0.0.1:<free port>/,
// loopback only. It takes connections and requests without blocking, and
// posts `message` to `window` whenever there may be something to take
// (WSAAsyncSelect), so the waiting window's own message loop drives it.
class TRedirectListener {
public:
    // Raises ESocketError when no port can be had.
    TRedirectListener(HWND window, UINT message);
    ~TRedirectListener();
    TRedirectListener(const TRedirectListener&) = delete;
    TRedirectListener& operator=(const TRedirectListener&) = delete;

    std::string RedirectUri() const;
    // Takes what has arrived. True when a request for "/" has come in whole:
    // `query` is its text after "?" ("" without one), and that browser waits
    // for Answer. Requests for other paths (a favicon) are answered "not
    // found"; over-long or garbled ones are dropped.
    bool Poll(std::string& query);
    // Sends the waiting browser a page with `text` as its heading and body
    // (HTML-escaped), and closes its connection.
    void Answer(const std::string& title, const std::string& text);

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

// Opens an address in a browser; raises with the reason when it cannot.
using TBrowserLauncher = std::function<void(const std::string& url)>;
// The user's default browser (ShellExecute "open").
void OpenInDefaultBrowser(const std::string& url);

// One sign-in in the user's own browser, start to end.
class TBrowserSignIn {
public:
    TBrowserSignIn(TOAuthProvider provider, std::string loginHint);
    ~TBrowserSignIn();
    TBrowserSignIn(const TBrowserSignIn&) = delete;
    TBrowserSignIn& operator=(const TBrowserSignIn&) = delete;

    // Listens, opens the authorization address with `launch`, waits for the
    // browser to come back (dispatching the thread's messages meanwhile, so
    // a window's Cancel works), answers it with a page saying how it went,
    // and exchanges the code on a thread of its own. Raises ECanceledError
    // after Cancel (or a WM_QUIT, which it posts again), sSignInTimedOut when
    // no answer came within `timeOutMs`, and what the steps raise.
    TOAuthTokens Run(const TBrowserLauncher& launch, unsigned timeOutMs, int httpTimeOutSeconds);
    void Cancel() { canceled_ = true; }
    // Opens the same address again (the user closed the tab); only while Run waits.
    void OpenAgain();

private:
    TOAuthProvider provider_;
    std::string loginHint_;
    TBrowserLauncher launch_;
    TAuthorizationRequest request_;
    bool canceled_ = false;
    bool running_ = false;
};

}  // namespace net
