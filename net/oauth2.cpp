#include "framework/network_handles.h"  // winsock2.h before windows.h
//
#include "net/oauth2.h"

#include <bcrypt.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <vector>

#include "framework/json_text.h"
#include "framework/system_error.h"
#include "framework/sysutils.h"
#include "net/socket_errors.h"

namespace net {

namespace {

constexpr std::uint64_t kFreshForMs = 60000;
// A token endpoint's answer is a few kilobytes; more is no token endpoint.
constexpr std::size_t kMaxAnswerBytes = 256 * 1024;
constexpr std::size_t kMaxRequestBytes = 16 * 1024;
constexpr std::size_t kMaxConnections = 8;

[[noreturn]] void raise(std::uint16_t id, const std::string& arg = "") {
    throw ESocketError(fw::FormatStr(CatalogueText(id), arg), id);
}

std::string randomBytes(std::size_t n) {
    std::string bytes(n, '\0');
    if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(n),
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        throw fw::Exception("The system gave no random numbers");
    return bytes;
}

std::string sha256(const std::string& data) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        throw fw::Exception("The system offers no SHA-256");
    const fw::ScopeExit closeAlgorithm([&] { BCryptCloseAlgorithmProvider(algorithm, 0); });
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::string digest(32, '\0');
    const bool done = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    const fw::ScopeExit closeHash([&] {
        if (hash) BCryptDestroyHash(hash);
    });
    if (!done ||
        BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())), static_cast<ULONG>(data.size()),
                       0) != 0 ||
        BCryptFinishHash(hash, reinterpret_cast<PUCHAR>(digest.data()), 32, 0) != 0)
        throw fw::Exception("The system offers no SHA-256");
    return digest;
}

std::string urlEncode(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::string urlDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && fw::HexDigitValue(text[i + 1]) >= 0 &&
                   fw::HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(fw::HexDigitValue(text[i + 1]) * 16 + fw::HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The first value of each name; a name given twice keeps its first value
// (a forged second "state" must not win).
std::map<std::string, std::string> readQuery(const std::string& query) {
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start <= query.size()) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        const std::size_t eq = pair.find('=');
        if (!pair.empty())
            values.emplace(urlDecode(pair.substr(0, eq)),
                           eq == std::string::npos ? "" : urlDecode(pair.substr(eq + 1)));
        start = end + 1;
    }
    return values;
}

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// What WinHTTP's codes mean to a user; the system's message table does not
// hold them (they live in winhttp.dll).
std::string winHttpText(DWORD code) {
    switch (code) {
        case ERROR_WINHTTP_TIMEOUT: return "the connection timed out";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "its name was not found";
        case ERROR_WINHTTP_CANNOT_CONNECT: return "the connection was refused";
        case ERROR_WINHTTP_CONNECTION_ERROR: return "the connection was reset";
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "its answer was garbled";
        default: return "error " + std::to_string(code);
    }
}

struct THttpAnswer {
    DWORD Status = 0;
    std::map<std::string, std::string> Json;
};

// POSTs a form to `url` and reads the JSON answer. Plain http only for this
// computer itself (a provider of the user's own for testing); anything
// leaving the computer goes over HTTPS with WinHTTP's certificate checks.
THttpAnswer postForm(const std::string& url, const std::string& form, int timeOutSeconds) {
    const std::wstring wurl = wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256] = {}, path[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    wchar_t extra[2048] = {};
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 2048;
    if (wurl.empty() || !WinHttpCrackUrl(wurl.c_str(), 0, 0, &parts))
        raise(sSignInRefused, "its address is not valid: " + url);
    const std::wstring hostName(host, parts.dwHostNameLength);
    const bool loopback = hostName == L"localhost" || hostName == L"[::1]" || hostName.rfind(L"127.", 0) == 0;
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (!secure && !loopback) raise(sSignInNotSecure);

    const int ms = std::max(1, timeOutSeconds) * 1000;
    const fw::UniqueInternet session(
        WinHttpOpen(L"Tidemark", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) raise(sSignInUnreachable, winHttpText(GetLastError()));
    WinHttpSetTimeouts(session.get(), ms, ms, ms, ms);
    const fw::UniqueInternet connection(WinHttpConnect(session.get(), hostName.c_str(), parts.nPort, 0));
    const std::wstring object =
        std::wstring(path, parts.dwUrlPathLength) + std::wstring(extra, parts.dwExtraInfoLength);
    const fw::UniqueInternet request(connection ? WinHttpOpenRequest(connection.get(), L"POST", object.c_str(), nullptr,
                                                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                                     secure ? WINHTTP_FLAG_SECURE : 0)
                                                : nullptr);
    const wchar_t* headers = L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    if (!request ||
        !WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L), const_cast<char*>(form.data()),
                            static_cast<DWORD>(form.size()), static_cast<DWORD>(form.size()), 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        const DWORD error = GetLastError();
        // A certificate that fails the check will fail the next time too.
        if (error == ERROR_WINHTTP_SECURE_FAILURE)
            throw ESocketError(fw::FormatStr(CatalogueText(sCertInvalid), "the sign-in provider's certificate"),
                               sCertInvalid);
        raise(sSignInUnreachable, winHttpText(error));
    }
    THttpAnswer answer;
    DWORD size = sizeof answer.Status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &answer.Status, &size, WINHTTP_NO_HEADER_INDEX);
    std::string body;
    for (;;) {
        char chunk[4096];
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), chunk, sizeof chunk, &read))
            raise(sSignInUnreachable, winHttpText(GetLastError()));
        if (read == 0) break;
        body.append(chunk, read);
        if (body.size() > kMaxAnswerBytes) raise(sSignInRefused, "its answer is too long");
    }
    // A provider that is down or overloaded answers with a page, not JSON:
    // that passes.
    if (answer.Status >= 500 || answer.Status == 429)
        raise(sSignInUnreachable, "HTTP status " + std::to_string(answer.Status));
    if (!fw::ReadJsonObject(body, answer.Json))
        raise(sSignInRefused, "its answer (HTTP status " + std::to_string(answer.Status) + ") is not JSON");
    return answer;
}

std::string accountOfIdToken(const std::string& idToken) {
    const std::size_t first = idToken.find('.'), second = idToken.find('.', first + 1);
    std::string json;
    std::map<std::string, std::string> claims;
    if (second == std::string::npos || !fw::Base64Decode(idToken.substr(first + 1, second - first - 1), json) ||
        !fw::ReadJsonObject(json, claims))
        return {};
    return !claims["email"].empty() ? claims["email"] : claims["preferred_username"];
}

TOAuthTokens requestTokens(const TOAuthProvider& provider, std::string form, int timeOutSeconds, bool refreshing) {
    form += "&client_id=" + urlEncode(provider.ClientId);
    if (!provider.ClientSecret.empty()) form += "&client_secret=" + urlEncode(provider.ClientSecret);
    const std::uint64_t sent = GetTickCount64();
    THttpAnswer answer = postForm(provider.TokenUrl, form, timeOutSeconds);
    auto& json = answer.Json;
    if (answer.Status != 200 || json["access_token"].empty()) {
        // RFC 6749 5.2: a refresh token that expired, was revoked or belongs
        // to another client. Only a new sign-in mends that.
        if (refreshing && json["error"] == "invalid_grant") raise(sSignInAgain);
        std::string words = json["error"].empty() ? "HTTP status " + std::to_string(answer.Status) : json["error"];
        if (!json["error_description"].empty()) words += " (" + json["error_description"] + ")";
        raise(sSignInRefused, words);
    }
    TOAuthTokens tokens;
    tokens.AccessToken = json["access_token"];
    tokens.RefreshToken = json["refresh_token"];
    tokens.Account = accountOfIdToken(json["id_token"]);
    std::int32_t seconds = 3600;
    if (!fw::TryStrToInt(json["expires_in"], seconds) || seconds <= 0) seconds = 3600;
    tokens.ExpiresAtMs = sent + static_cast<std::uint64_t>(seconds) * 1000;
    return tokens;
}

}  // namespace

bool AccessTokenFresh(const TOAuthTokens& tokens, std::uint64_t nowMs) {
    return !tokens.AccessToken.empty() && nowMs + kFreshForMs < tokens.ExpiresAtMs;
}

TAuthorizationRequest BeginAuthorization(const TOAuthProvider& provider, const std::string& redirectUri,
                                         const std::string& loginHint) {
    TAuthorizationRequest request;
    request.RedirectUri = redirectUri;
    request.State = fw::Base64Encode(randomBytes(16), true);
    request.CodeVerifier = fw::Base64Encode(randomBytes(32), true);
    const std::string challenge = fw::Base64Encode(sha256(request.CodeVerifier), true);
    request.Url = provider.AuthorizationUrl + (provider.AuthorizationUrl.find('?') == std::string::npos ? "?" : "&") +
                  "response_type=code&client_id=" + urlEncode(provider.ClientId) +
                  "&redirect_uri=" + urlEncode(redirectUri) + "&scope=" + urlEncode(provider.Scope) +
                  "&state=" + request.State + "&code_challenge=" + challenge + "&code_challenge_method=S256";
    if (!loginHint.empty()) request.Url += "&login_hint=" + urlEncode(loginHint);
    return request;
}

std::string CodeOfRedirect(const TAuthorizationRequest& request, const std::string& query) {
    std::map<std::string, std::string> values = readQuery(query);
    // RFC 6749 10.12: any page the user visits may send the browser here; an
    // answer without this sign-in's state is not the provider's.
    if (values["state"] != request.State) raise(sSignInForeignAnswer);
    if (!values["error"].empty()) {
        std::string words = values["error"];
        if (!values["error_description"].empty()) words += " (" + values["error_description"] + ")";
        raise(sSignInRefused, words);
    }
    if (values["code"].empty()) raise(sSignInRefused, "no code came back");
    return values["code"];
}

TOAuthTokens ExchangeCode(const TOAuthProvider& provider, const TAuthorizationRequest& request, const std::string& code,
                          int timeOutSeconds) {
    return requestTokens(provider,
                         "grant_type=authorization_code&code=" + urlEncode(code) + "&redirect_uri=" +
                             urlEncode(request.RedirectUri) + "&code_verifier=" + urlEncode(request.CodeVerifier),
                         timeOutSeconds, false);
}

TOAuthTokens RefreshTokens(const TOAuthProvider& provider, const std::string& refreshToken, int timeOutSeconds) {
    if (refreshToken.empty()) raise(sSignInIncomplete);
    TOAuthTokens tokens = requestTokens(provider, "grant_type=refresh_token&refresh_token=" + urlEncode(refreshToken),
                                        timeOutSeconds, true);
    if (tokens.RefreshToken.empty()) tokens.RefreshToken = refreshToken;
    return tokens;
}

struct TRedirectListener::TState {
    struct TConnection {
        fw::UniqueWinsock2Socket Socket;
        std::string Request;
    };
    bool started = false;
    fw::UniqueWinsock2Socket listener;
    HWND window = nullptr;
    UINT message = 0;
    std::vector<TConnection> connections;
    // The browser whose request Poll returned, waiting for Answer.
    fw::UniqueWinsock2Socket waiting;
    unsigned short port = 0;
    ~TState() {
        connections.clear();
        waiting.reset();
        listener.reset();
        if (started) WSACleanup();
    }
};

TRedirectListener::TRedirectListener(HWND window, UINT message) : state_(std::make_unique<TState>()) {
    WSADATA data;
    state_->started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    state_->window = window;
    state_->message = message;
    state_->listener.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    // RFC 8252 7.3: the loopback address itself, never every interface, so
    // nothing on the network can answer in the browser's place.
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (!state_->started || !state_->listener ||
        bind(state_->listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(state_->listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        listen(state_->listener.get(), SOMAXCONN) != 0 ||
        WSAAsyncSelect(state_->listener.get(), window, message, FD_ACCEPT) != 0)
        raise(sSignInNoBrowser,
              "no port for its answer: " + fw::SystemErrorText(static_cast<DWORD>(WSAGetLastError())));
    state_->port = ntohs(address.sin_port);
}

TRedirectListener::~TRedirectListener() = default;

std::string TRedirectListener::RedirectUri() const { return "http://127.0.0.1:" + std::to_string(state_->port) + "/"; }

bool TRedirectListener::Poll(std::string& query) {
    TState& s = *state_;
    // accept and recv post the message again while more is waiting, so one
    // message may stand for several connections or none.
    for (;;) {
        fw::UniqueWinsock2Socket accepted(accept(s.listener.get(), nullptr, nullptr));
        if (!accepted) break;
        // Browsers open spare connections that may never send a word: the
        // oldest gives way.
        if (s.connections.size() >= kMaxConnections) s.connections.erase(s.connections.begin());
        // An accepted socket inherits FD_ACCEPT only.
        if (WSAAsyncSelect(accepted.get(), s.window, s.message, FD_READ | FD_CLOSE) == 0)
            s.connections.push_back({std::move(accepted), {}});
    }
    for (auto c = s.connections.begin(); c != s.connections.end();) {
        char chunk[2048];
        int n = 0;
        bool closed = false;
        while ((n = recv(c->Socket.get(), chunk, sizeof chunk, 0)) > 0 && c->Request.size() <= kMaxRequestBytes)
            c->Request.append(chunk, static_cast<std::size_t>(n));
        closed = n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
        const std::size_t end = c->Request.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (closed || c->Request.size() > kMaxRequestBytes)
                c = s.connections.erase(c);
            else
                ++c;
            continue;
        }
        const std::string line = c->Request.substr(0, c->Request.find("\r\n"));
        const std::size_t target = line.find(' ') + 1, version = line.rfind(' ');
        const std::string path = target > 0 && version > target ? line.substr(target, version - target) : "";
        if (line.rfind("GET ", 0) == 0 && (path == "/" || path.rfind("/?", 0) == 0)) {
            query = path.size() > 2 ? path.substr(2) : "";
            s.waiting = std::move(c->Socket);
            s.connections.erase(c);
            // The one socket left to work with blocks again for the answer.
            WSAAsyncSelect(s.waiting.get(), s.window, 0, 0);
            u_long blocking = 0;
            ioctlsocket(s.waiting.get(), FIONBIO, &blocking);
            return true;
        }
        const char* notFound = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        send(c->Socket.get(), notFound, static_cast<int>(std::strlen(notFound)), 0);
        c = s.connections.erase(c);
    }
    return false;
}

void TRedirectListener::Answer(const std::string& title, const std::string& text) {
    if (!state_->waiting) return;
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '&': escaped += "&amp;"; break;
            case '"': escaped += "&quot;"; break;
            default: escaped += c;
        }
    }
    const std::string page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
                             "</title></head><body style=\"font-family:sans-serif\"><p>" + escaped +
                             "</p></body></html>";
    const std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
        "Connection: close\r\nContent-Length: " +
        std::to_string(page.size()) + "\r\n\r\n" + page;
    // A browser that went away meanwhile changes nothing for the sign-in.
    DWORD ms = 2000;
    setsockopt(state_->waiting.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    send(state_->waiting.get(), reply.data(), static_cast<int>(reply.size()), 0);
    shutdown(state_->waiting.get(), SD_SEND);
    state_->waiting.reset();
}

}  // namespace net
