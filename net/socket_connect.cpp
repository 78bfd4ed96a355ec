// The socket's way to a connection: the server text's host and port looked
// up by Winsock's asynchronous requests, the socket made, and the connect.
#include <algorithm>

#include "framework/sysutils.h"
#include "net/dial_up.h"
#include "net/socket_client.h"
#include "net/socket_text.h"

namespace net {

namespace {
constexpr long kSelectEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
}  // namespace

void TSocketClient::Open() {
    if (ras_) ras_->Connect();
    if (OnOpen) OnOpen(this);
    if (Server.empty()) RaiseSocketError(sServerRequired);
    const ServerParts parts = SplitServer(Server);
    // ":110" names no host at all; looking up "" would reach some host by accident.
    if (parts.Host.empty()) RaiseSocketError(sServerRequired);
    // A time-out, cancellation or failure left by the last operation would
    // otherwise end this Open's lookups at once, and every later one too.
    ResetState();
    if (Winsock.WSAStartup(0x0101, &wsaData_) != 0) RaiseSocketError(sInvalidWinsockVersion);
    ++startupCount_;
    resolveHost(parts.Host);
    resolvePort(parts.Port);
    host_ = parts.Host;
    // Nothing read or negotiated on an earlier connection carries over, and
    // an open socket is closed rather than lost.
    resetConnection();
    socket_.reset(Winsock.socket(AF_INET, SOCK_STREAM, 0));
    if (!socket_) raiseLastError();
}

void TSocketClient::resolveHost(const std::string& host) {
    // A name with a zero byte would be looked up cut short, as another host.
    if (host.find('\0') != std::string::npos) RaiseSocketError(WSAHOST_NOT_FOUND);
    remoteAddr_ = Winsock.inet_addr(host.c_str());
    if (remoteAddr_ != INADDR_NONE) return;

    hostResolved_ = false;
    asyncHandle_ =
        Winsock.WSAAsyncGetHostByName(WindowHandle(), WM_ASYNC_HOST, host.c_str(), hostEntry_, sizeof hostEntry_);
    if (!asyncHandle_) {
        const int error = Winsock.WSAGetLastError();
        RaiseSocketError(static_cast<std::uint16_t>(error ? error : sResolveError));
    }
    // An unanswered request stays registered so the time-out routine cancels it.
    raiseUnlessDone(wait(TWaitOrder::FailureFirst, false, [this] {
        if (!hostResolved_) return TStep::Idle;
        asyncHandle_ = nullptr;
        return asyncFailed_ ? TStep::Failed : TStep::Done;
    }));

    const auto* entry = reinterpret_cast<const hostent*>(hostEntry_);
    if (!entry->h_addr_list || !entry->h_addr_list[0]) RaiseSocketError(sResolveError);
    const auto* b = reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]);
    const std::string dotted =
        fw::IntToStr(b[0]) + "." + fw::IntToStr(b[1]) + "." + fw::IntToStr(b[2]) + "." + fw::IntToStr(b[3]);
    remoteAddr_ = Winsock.inet_addr(dotted.c_str());
    if (remoteAddr_ == INADDR_NONE) RaiseSocketError(sResolveError);
}

void TSocketClient::resolvePort(std::uint16_t portPart) {
    if (portPart > 0) {
        port_ = portPart;
        return;
    }
    if (ServiceName.empty()) RaiseSocketError(sServiceRequired);
    if (canceled_) raiseCanceled();
    servResolved_ = false;
    asyncHandle_ = Winsock.WSAAsyncGetServByName(WindowHandle(), WM_ASYNC_SERV, ServiceName.c_str(), "tcp", servEntry_,
                                                 sizeof servEntry_);
    if (!asyncHandle_) {
        port_ = DefaultPort;
        return;
    }
    const TWaitResult result = wait(TWaitOrder::CancelFirst, false, [this] {
        if (!servResolved_) return TStep::Idle;
        asyncHandle_ = nullptr;
        return asyncFailed_ ? TStep::Failed : TStep::Done;
    });
    if (result == TWaitResult::Canceled) raiseCanceled();
    if (result != TWaitResult::Done) {
        // Unknown or unanswered, the service falls back to the default port;
        // an unanswered request must not write into servEntry_ later.
        cancelLookup();
        port_ = DefaultPort;
        return;
    }
    port_ = Winsock.htons(static_cast<u_short>(reinterpret_cast<const servent*>(servEntry_)->s_port));
}

void TSocketClient::cancelLookup() {
    if (!asyncHandle_) return;
    Winsock.WSACancelAsyncRequest(asyncHandle_);
    asyncHandle_ = nullptr;
}

void TSocketClient::ConnectSocket() {
    if (canceled_) raiseCanceled();
    // A failed lookup of Open is no failure of this connection.
    asyncFailed_ = false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = Winsock.htons(port_);
    addr.sin_addr.s_addr = remoteAddr_;
    if (Winsock.WSAAsyncSelect(socket_.get(), WindowHandle(), WM_ASYNC_SELECT, kSelectEvents) == SOCKET_ERROR)
        raiseLastError();
    if (Winsock.connect(socket_.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        const int error = Winsock.WSAGetLastError();
        if (error != WSAEWOULDBLOCK) RaiseSocketError(static_cast<std::uint16_t>(error));
    }
    // FD_CONNECT carries a refusal as its error code: report it now rather
    // than as a time-out a minute later.
    raiseUnlessDone(wait(TWaitOrder::CancelFirst, false, [this] {
        if (asyncFailed_) return TStep::Failed;
        return connectEvent_ ? TStep::Done : TStep::Idle;
    }));
    if (Security == TSecurity::Tls) StartTls();
}

}  // namespace net
