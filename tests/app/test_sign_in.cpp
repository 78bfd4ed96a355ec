// Signing a mailbox in with OAuth2 against the test provider (the oauth2
// fixture: scripts/oauth2-provider), the browser played by a thread that
// follows the authorization address and the redirect as a browser would,
// then checking the TLS Dovecot, which asks that provider about each token.
#include <windows.h>
#include <winhttp.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "app/mailbox_watcher.h"
#include "app/sign_in.h"
#include "framework/dialogs.h"
#include "gtest/gtest.h"
#include "mail/failure_kind.h"
#include "mail/pop3_session.h"
#include "tests/support/dovecot.h"
#include "tests/support/helpers.h"
#include "tests/support/scripted_server.h"

namespace {

namespace dovecot = testsupport::dovecot;

std::string provider() {
    std::ifstream in(std::string(std::getenv("TIDEMARK_OAUTH2")) + "/port");
    std::string port;
    in >> port;
    return "http://127.0.0.1:" + port;
}

// GET without following a redirect: the body, and the Location in `location`.
std::string get(const std::string& url, std::string* location = nullptr) {
    const std::wstring wide(url.begin(), url.end());
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    WinHttpCrackUrl(wide.c_str(), 0, 0, &parts);
    HINTERNET session = WinHttpOpen(L"test browser", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = WinHttpConnect(session, std::wstring(parts.lpszHostName, parts.dwHostNameLength).c_str(), parts.nPort, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", parts.lpszUrlPath, nullptr, nullptr, nullptr, 0);
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
    WinHttpSetTimeouts(request, 5000, 5000, 5000, 5000);
    std::string body;
    if (WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr)) {
        wchar_t where[4096] = {};
        DWORD size = sizeof where;
        if (location && WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, nullptr, where, &size, nullptr))
            for (const wchar_t* c = where; *c; ++c) *location += static_cast<char>(*c);
        char chunk[4096];
        for (DWORD n = 0; WinHttpReadData(request, chunk, sizeof chunk, &n) && n > 0;) body.append(chunk, n);
    }
    for (HINTERNET h : {request, connection, session}) WinHttpCloseHandle(h);
    return body;
}

// The browser: `tamper` changes the authorization address or the redirect
// on the way ("away": it never comes back); the page it was shown ends in `page`.
struct Browser {
    std::string tamper, page;
    std::thread thread;
    void open(const std::string& url) {
        if (tamper == "away") return;
        thread = std::thread([this, url] {
            std::string to = url, back;
            if (tamper == "challenge") to.replace(to.find("code_challenge=") + 15, 4, "AAAA");
            get(to, &back);
            if (tamper == "state") back.replace(back.find("state=") + 6, 4, "xxxx");
            page = get(back);
        });
    }
    ~Browser() {
        if (thread.joinable()) thread.join();
    }
};

// A button of the waiting window, clicked as the window hears it (BM_CLICK
// needs the window to be the active one).
void click(const char* caption) {
    const HWND window = FindWindowA(nullptr, "Sign in"), button = FindWindowExA(window, nullptr, "Button", caption);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

app::TMailboxSettings box() {
    app::TMailboxSettings b;
    b.Name = "Work";
    b.UserName = "alice";
    b.SignIn = app::TSignIn::Other;
    b.AuthorizationUrl = provider() + "/authorize";
    b.TokenUrl = provider() + "/token";
    b.Scope = "mail";
    b.ClientId = "tidemark-tests";
    return b;
}

// One check of the TLS Dovecot with `token`: "" when it worked, else its failure.
std::string check(const std::string& token) {
    mail::TPop3Mailbox pop(nullptr);
    pop.SetWinsockLoaded(true);
    pop.Server = "localhost:" + dovecot::FirstLine("tls_port", true);
    pop.Security = net::TSecurity::Tls;
    std::ifstream ca(dovecot::Folder(true) + "\\tls\\ca.pem");
    pop.ExtraRootCertificate = net::CertificateDer(std::string(std::istreambuf_iterator<char>(ca), {}));
    pop.UserName = "alice";
    pop.AccessToken = token;
    return testsupport::MessageOf([&] { pop.UpdateInfo(); });
}

}  // namespace

// Signed in once, a mailbox is checked with tokens the refresh token gets;
// an expired token is refused by the server until a refresh, a revoked
// refresh token needs the user, an unreachable provider passes.
TEST(SignIn, SignsInOnceAndChecksWithRefreshedTokensUntilRevoked) {
    ASSERT_NE(dovecot::FirstLine("tls_port", true), "") << "run through ctest (the dovecot_tls and oauth2 fixtures)";
    get(provider() + "/control/reset");
    std::vector<std::string> boxes;
    fw::SetMessageDialogSeam([&](const std::string& text, fw::TMsgDlgType) { boxes.push_back(text); });
    Browser browser;
    std::unique_ptr<testsupport::Later> shot;
    // The first tab is closed unused; "Open Browser Again" opens the same address.
    std::vector<std::string> opened;
    app::SignInTimeOutMs = 5000;
    app::SignInBrowser = [&](const std::string& url) {
        EXPECT_NE(url.find("code_challenge_method=S256&login_hint=alice"), std::string::npos) << url;
        if (opened.emplace_back(url), opened.size() == 2) return browser.open(url);
        shot = std::make_unique<testsupport::Later>(300, [&] {
            testsupport::SaveShot(FindWindowA(nullptr, "Sign in"), "sign-in-wait");
            click("Open Browser Again");
        });
    };
    app::TMailboxSettings b = box();
    ASSERT_TRUE(app::SignInMailbox(nullptr, b)) << (boxes.empty() ? "" : boxes[0]);
    browser.thread.join();
    EXPECT_EQ(browser.page.find("<p>Tidemark is signed in; you can close this tab.</p>") != std::string::npos, true) << browser.page;
    EXPECT_EQ(b.Account, "alice");
    EXPECT_TRUE(opened.size() == 2 && opened[0] == opened[1]);
    EXPECT_EQ(FindWindowA(nullptr, "Sign in"), nullptr);

    const net::TOAuthProvider p = app::ProviderOf(b);
    // The built-in providers take a client id of the mailbox's own, without the built-in secret.
    app::TMailboxSettings own;
    own.SignIn = app::TSignIn::Google, own.ClientId = "mine";
    EXPECT_EQ(app::ProviderOf(own).TokenUrl + " " + app::ProviderOf(own).ClientId + app::ProviderOf(own).ClientSecret, "https://oauth2.googleapis.com/token mine");
    net::TOAuthTokens tokens = net::RefreshTokens(p, b.RefreshToken, 5);
    EXPECT_EQ(tokens.RefreshToken, b.RefreshToken) << "a refresh without a new refresh token keeps the old one";
    EXPECT_TRUE(net::AccessTokenFresh(tokens, GetTickCount64()));
    EXPECT_EQ(check(tokens.AccessToken), "<no exception>");
    EXPECT_NE(dovecot::Log(true).find("user=<alice>, method=XOAUTH2"), std::string::npos);

    get(provider() + "/control/expire?seconds=1");
    tokens = net::RefreshTokens(p, b.RefreshToken, 5);
    EXPECT_FALSE(net::AccessTokenFresh(tokens, GetTickCount64())) << "a token that runs out within a minute is due";
    testsupport::PumpFor(1500);
    EXPECT_EQ(check(tokens.AccessToken), "The server refused the sign-in token: -ERR [AUTH] Authentication failed. (status 401)");
    get(provider() + "/control/reset");
    EXPECT_EQ(check(net::RefreshTokens(p, b.RefreshToken, 5).AccessToken), "<no exception>");

    // A refused grant needs the user; a provider out of reach passes.
    get(provider() + "/control/revoke");
    net::TOAuthProvider away = p;
    away.TokenUrl = "http://127.0.0.1:" + std::to_string(testsupport::ScriptedServer::UnusedPort()) + "/token";
    const std::pair<net::TOAuthProvider, const char*> refusals[] = {
        {p, "The provider no longer accepts this mailbox's sign-in: sign in again in Setup|1"},
        {away, "The sign-in provider cannot be reached: the connection was refused|0"}};
    for (const auto& [endpoint, expected] : refusals) {
        std::string text;
        try {
            net::RefreshTokens(endpoint, b.RefreshToken, 2);
        } catch (const net::ESocketError& e) {
            text = e.Message + "|" + std::to_string(mail::ClassifyFailure(mail::FactsOfFailure(std::current_exception())) == mail::TFailureKind::NeedsUser);
        }
        EXPECT_EQ(text, expected);
    }
    EXPECT_TRUE(boxes.empty());
}

// The watcher checks a signed-in mailbox as the tray does, by POP3 and by
// IMAP over TLS, through a compressed hour: access tokens die after a second
// (the client is told two minutes, so it meets refused ones), and every
// refresh replaces the refresh token. No failure comes, the renewed token
// is kept; a revoked grant then needs the user, once.
TEST(SignIn, TheWatcherChecksThroughExpiringAndRenewedTokensUntilRevoked) {
    get(provider() + "/control/reset");
    net::TAuthorizationRequest request = net::BeginAuthorization(app::ProviderOf(box()), "http://127.0.0.1:1/", "alice");
    std::string back;
    get(request.Url, &back);
    app::TMailboxSettings b = box();
    b.RefreshToken = net::ExchangeCode(app::ProviderOf(b), request, net::CodeOfRedirect(request, back.substr(back.find('?') + 1)), 5).RefreshToken;
    const std::string first = b.RefreshToken;
    b.Security = net::TSecurity::Tls;
    get(provider() + "/control/expire?seconds=1&claim=120");
    get(provider() + "/control/rotate");
    desktop::TTrayIcon tray(nullptr);
    app::TMailboxWatcher w(nullptr, app::MakeThreadCheckRunner(), tray);
    w.Runner().OnAsk = [](const std::string&) { return true; };  // the fixture's own CA
    w.Announcer.Store.Folder.clear();
    std::string failures;
    w.OnFailure = [&](app::TMailboxWatcher&, std::exception_ptr f) { failures += testsupport::MessageOf([&] { std::rethrow_exception(f); }) + "|"; };
    for (auto [protocol, port] : {std::pair{app::TProtocol::Pop3, "tls_port"}, {app::TProtocol::Imap, "imaps_port"}}) {
        b.Protocol = protocol, b.Server = "localhost:" + dovecot::FirstLine(port, true);
        w.SetSettings(b);
        for (int round = 0; round < 4; ++round) {
            // Switched on afresh: each round logs in again (an idling IMAP connection would not).
            w.Handle(app::TWatchEvent::SwitchOff), w.Handle(app::TWatchEvent::SwitchOn), w.Handle(app::TWatchEvent::Tick);
            ASSERT_TRUE(testsupport::PumpUntil([&] { return w.State() != app::TWatchState::Checking; }, 10000));
            EXPECT_EQ(failures + std::to_string(w.Counted()), "1") << round;
            testsupport::PumpFor(1100);
        }
        b = w.Settings();
    }
    EXPECT_NE(b.RefreshToken, first) << "the renewed refresh token is the mailbox's now";
    get(provider() + "/control/revoke");
    w.Handle(app::TWatchEvent::SwitchOff), w.Handle(app::TWatchEvent::SwitchOn), w.Handle(app::TWatchEvent::Tick);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return w.State() != app::TWatchState::Checking; }, 10000));
    EXPECT_EQ(failures + std::to_string(w.On()), "The provider no longer accepts this mailbox's sign-in: sign in again in Setup|0");
    w.Handle(app::TWatchEvent::Close);
    get(provider() + "/control/reset");
}

// A sign-in ends without tokens, with a box saying why (none after Cancel),
// when the browser brings back another state, the provider refuses the PKCE
// verifier, or no answer comes in time.
TEST(SignIn, ForeignAnswersRefusalsTimeOutAndCancel) {
    get(provider() + "/control/reset");
    const struct {
        const char* tamper;
        const char* box;
        const char* page;
    } table[] = {
        {"state", "The browser brought back an answer that does not belong to this sign-in", "<p>Tidemark could not sign in: The browser brought back an answer that does not belong to this sign-in. You can close this tab.</p>"},
        {"challenge", "The sign-in provider refused: invalid_request (code_verifier provided does not match code_challenge)", "could not sign in: The sign-in provider refused: invalid_request"},
        {"away", "No answer came from the browser in time: sign in again", ""},
        {"cancel", "", ""},
        {"no client id", "Signing in needs the provider's addresses and a client id: enter them in the mailbox's settings", ""},
    };
    app::SignInTimeOutMs = 1500;
    for (const auto& t : table) {
        std::vector<std::string> boxes;
        ULONGLONG told = 0;
        fw::SetMessageDialogSeam([&](const std::string& text, fw::TMsgDlgType) { boxes.push_back(text), told = GetTickCount64(); });
        Browser browser;
        browser.tamper = t.tamper == std::string("cancel") ? "away" : t.tamper;
        std::unique_ptr<testsupport::Later> cancel;
        app::SignInBrowser = [&](const std::string& url) {
            browser.open(url);
            if (t.tamper == std::string("cancel"))
                cancel = std::make_unique<testsupport::Later>(200, [] { click("Cancel"); });
        };
        app::TMailboxSettings b = box();
        if (t.tamper == std::string("no client id")) b.ClientId.clear();
        const ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(app::SignInMailbox(nullptr, b)) << t.tamper;
        // Without a browser that comes back, the time-out (the box follows
        // the window's hiding, which Wine without a desktop window may hold 2 s).
        if (t.tamper == std::string("away")) {
            EXPECT_TRUE(told - start >= 1500 && told - start < 4000) << told - start;
        }
        if (browser.thread.joinable()) browser.thread.join();
        EXPECT_EQ(boxes, *t.box ? std::vector<std::string>{t.box} : std::vector<std::string>{}) << t.tamper;
        EXPECT_NE(browser.page.find(t.page), std::string::npos) << browser.page;
        EXPECT_EQ(b.RefreshToken, "");
    }
    app::SignInTimeOutMs = 10 * 60 * 1000;
    fw::SetMessageDialogSeam(nullptr);
}
