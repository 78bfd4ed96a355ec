#include "net/socket_client.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/application.h"
#include "framework/security_handles.h"
#include "framework/sysutils.h"
#include "net/dial_up.h"
#include "net/socket_text.h"

namespace net {

namespace {
constexpr int kDataChunk = 16384;
constexpr long kSelectEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
}  // namespace

TSocketClient::TSocketClient(fw::TComponent* owner) : fw::TComponent(owner), Counter(std::make_unique<TTimeCounter>()) {
    window_ = std::make_unique<fw::TUtilWindow>([this](HWND, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
        if (!handleMessage(msg, wp, lp)) return false;
        result = 0;
        return true;
    });
}

TSocketClient::~TSocketClient() {
    window_.reset();
    // Nothing here may throw: a library unloaded behind our back just means
    // there is nothing left to release in it.
    if (Winsock.Loaded()) {
        try {
            if (AsyncHandle) Winsock.WSACancelAsyncRequest(AsyncHandle);
            // A socket left open would stay allocated until the process ends.
            if (Connected()) Winsock.closesocket(SocketHandle);
            for (; StartupCount > 0; --StartupCount) Winsock.WSACleanup();
        } catch (...) {
        }
    }
    if (ras_) ras_->RemoveFreeNotification(this);
}

void TSocketClient::SetWinsockLoaded(bool value) {
    if (value) {
        if (!Winsock.Loaded()) Winsock.Load();
    } else {
        Winsock.Unload();
    }
}

void TSocketClient::SetRAS(TDialUp* value) {
    if (value == ras_) return;
    if (ras_) ras_->RemoveFreeNotification(this);
    ras_ = value;
    if (ras_) ras_->FreeNotification(this);
}

void TSocketClient::Notification(fw::TComponent* component, fw::TOperation operation) {
    fw::TComponent::Notification(component, operation);
    if (operation == fw::TOperation::opRemove && component == ras_) ras_ = nullptr;
}

bool TSocketClient::handleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_ASYNC_HOST:
        case WM_ASYNC_SERV:
            // The answer of a lookup that was cancelled or belongs to an
            // earlier Open must not pass for the current one.
            if (!AsyncHandle || wp != reinterpret_cast<WPARAM>(AsyncHandle)) return true;
            (msg == WM_ASYNC_HOST ? HostResolved : ServResolved) = true;
            AsyncError = TWinsockLibrary::WSAGETASYNCERROR(lp);
            AsyncFailed = AsyncError != 0;
            return true;
        case WM_ASYNC_SELECT:
            // Events of a closed socket can still sit in the queue.
            if (!Connected() || wp != static_cast<WPARAM>(SocketHandle)) return true;
            AsyncError = TWinsockLibrary::WSAGETSELECTERROR(lp);
            AsyncFailed = AsyncError != 0;
            if (!AsyncFailed) {
                switch (TWinsockLibrary::WSAGETSELECTEVENT(lp)) {
                    case FD_READ: ReadEvent = true; break;
                    case FD_WRITE: WriteEvent = true; break;
                    case FD_CONNECT: ConnectEvent = true; break;
                    case FD_CLOSE: CloseEvent = true; break;
                }
            }
            return true;
        default:
            return false;
    }
}

template <typename Cond>
void TSocketClient::waitFor(Cond done) {
    Counter->Start();
    for (;;) {
        if (done() || Canceled || Counter->Expired) break;
        fw::DispatchPending();
        if (done() || Canceled || Counter->Expired) break;
        fw::WaitForInput();
    }
    Counter->Pause();
}

void TSocketClient::waitForRead() {
    fw::DispatchPending();
    // An FD_READ or FD_CLOSE dispatched just now would not wake the wait
    // below; the next recv takes what either announced.
    if (!ReadEvent && !CloseEvent && !Canceled && !Counter->Expired) fw::WaitForInput();
    ReadEvent = CloseEvent = false;
}

int TSocketClient::transferred(int n) {
    if (n != SOCKET_ERROR) return n;
    const int error = Winsock.WSAGetLastError();
    if (error != WSAEWOULDBLOCK && !Canceled) RaiseSocketError(static_cast<std::uint16_t>(error));
    return SOCKET_ERROR;
}

int TSocketClient::receive(char* buffer, int size, int flags) {
    return transferred(Winsock.recv(SocketHandle, buffer, size, flags));
}

template <typename F>
auto TSocketClient::secure(F call) -> decltype(call()) {
    try {
        return call();
    } catch (const ETlsError& e) {
        raiseText(e.Message);
    }
}

void TSocketClient::ResetState() {
    Canceled = false;
    Counter->Expired = false;
    AsyncHandle = nullptr;
    AsyncFailed = false;
    HostResolved = ServResolved = false;
    ConnectEvent = ReadEvent = WriteEvent = CloseEvent = false;
}

int TSocketClient::GetReplyCode(const std::string& line) { return ThreeDigitReplyCode(line); }

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
    if (Winsock.WSAStartup(0x0101, &WSAData) != 0) RaiseSocketError(sInvalidWinsockVersion);
    ++StartupCount;
    resolveHost(parts.Host);
    resolvePort(parts.Port);
    host_ = parts.Host;
    // Open on an open socket would otherwise lose the old handle.
    if (Connected()) {
        Winsock.closesocket(SocketHandle);
        SocketHandle = INVALID_SOCKET;
    }
    // Nothing read or negotiated on an earlier connection carries over.
    tls_.reset();
    tlsClosed_ = false;
    input_.clear();
    inputPos_ = 0;
    SOCKET s = Winsock.socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) raiseLastError();
    SocketHandle = s;
}

void TSocketClient::resolveHost(const std::string& host) {
    // A name with a zero byte would be looked up cut short, as another host.
    if (host.find('\0') != std::string::npos) RaiseSocketError(WSAHOST_NOT_FOUND);
    RemoteAddr = Winsock.inet_addr(host.c_str());
    if (RemoteAddr != INADDR_NONE) return;

    HostResolved = false;
    AsyncHandle = Winsock.WSAAsyncGetHostByName(WindowHandle(), WM_ASYNC_HOST, host.c_str(), hostEntry_,
                                                   sizeof hostEntry_);
    if (!AsyncHandle) {
        const int error = Winsock.WSAGetLastError();
        RaiseSocketError(static_cast<std::uint16_t>(error ? error : sResolveError));
    }
    waitFor([this] { return HostResolved; });
    // An unanswered request stays registered so the time-out routine cancels it.
    if (HostResolved) AsyncHandle = nullptr;
    if (AsyncFailed) RaiseSocketError(AsyncError);
    if (Counter->Expired) raiseTimedOut();
    if (Canceled) raiseCanceled();

    const auto* entry = reinterpret_cast<const hostent*>(hostEntry_);
    if (!entry->h_addr_list || !entry->h_addr_list[0]) RaiseSocketError(sResolveError);
    const auto* b = reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]);
    const std::string dotted = fw::IntToStr(b[0]) + "." + fw::IntToStr(b[1]) + "." + fw::IntToStr(b[2]) + "." +
                               fw::IntToStr(b[3]);
    RemoteAddr = Winsock.inet_addr(dotted.c_str());
    if (RemoteAddr == INADDR_NONE) RaiseSocketError(sResolveError);
}

void TSocketClient::resolvePort(std::uint16_t portPart) {
    if (portPart > 0) {
        Port = portPart;
        return;
    }
    if (ServiceName.empty()) RaiseSocketError(sServiceRequired);
    if (Canceled) raiseCanceled();
    ServResolved = false;
    AsyncHandle = Winsock.WSAAsyncGetServByName(WindowHandle(), WM_ASYNC_SERV, ServiceName.c_str(), "tcp",
                                                   servEntry_, sizeof servEntry_);
    if (!AsyncHandle) {
        Port = DefaultPort;
        return;
    }
    waitFor([this] { return ServResolved; });
    if (ServResolved) AsyncHandle = nullptr;
    if (AsyncFailed || Counter->Expired) {
        // No answer in time: the request must not write into servEntry_ later.
        cancelLookup();
        Port = DefaultPort;
        return;
    }
    if (Canceled) raiseCanceled();
    Port = Winsock.htons(static_cast<u_short>(reinterpret_cast<const servent*>(servEntry_)->s_port));
}

void TSocketClient::cancelLookup() {
    if (!AsyncHandle) return;
    Winsock.WSACancelAsyncRequest(AsyncHandle);
    AsyncHandle = nullptr;
}

void TSocketClient::ConnectSocket() {
    if (Canceled) raiseCanceled();
    // A failed lookup of Open is no failure of this connection.
    AsyncFailed = false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = Winsock.htons(Port);
    addr.sin_addr.s_addr = RemoteAddr;
    if (Winsock.WSAAsyncSelect(SocketHandle, WindowHandle(), WM_ASYNC_SELECT, kSelectEvents) == SOCKET_ERROR)
        raiseLastError();
    Counter->Start();
    if (Winsock.connect(SocketHandle, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        const int error = Winsock.WSAGetLastError();
        if (error != WSAEWOULDBLOCK) RaiseSocketError(static_cast<std::uint16_t>(error));
    }
    // FD_CONNECT carries a refusal as its error code: report it now rather
    // than as a time-out a minute later.
    waitFor([this] { return ConnectEvent || AsyncFailed; });
    if (Canceled) raiseCanceled();
    if (Counter->Expired) raiseTimedOut();
    if (AsyncFailed) RaiseSocketError(AsyncError);
    if (Security == TSecurity::Tls) StartTls();
}

void TSocketClient::SendLine(const std::string& line) { SendText(line + "\r\n"); }

void TSocketClient::SendText(const std::string& data) {
    if (!Connected()) RaiseSocketError(sNotConnected);
    sendBytes(tls_ ? secure([&] { return tls_->Encrypt(data.data(), data.size()); }) : data);
}

void TSocketClient::sendBytes(const std::string& data) {
    fw::DispatchPendingEvery();
    std::size_t sent = 0;
    Counter->Start();
    while (sent < data.size() && !Counter->Expired && !Canceled) {
        bool progress = false;
        // Cleared before the call, so an FD_WRITE that follows it is not lost.
        WriteEvent = false;
        const int n =
            transferred(Winsock.send(SocketHandle, data.data() + sent, static_cast<int>(data.size() - sent), 0));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            progress = true;
        }
        if (progress) {
            fw::DispatchPendingEvery();
            continue;
        }
        // A full send buffer clears with FD_WRITE, which wakes the wait.
        fw::DispatchPending();
        if (!WriteEvent && !Counter->Expired && !Canceled) fw::WaitForInput();
    }
    Counter->Pause();
    if (Counter->Expired) raiseTimedOut();
    if (Canceled) raiseCanceled();
}

TSocketClient::TFill TSocketClient::fill() {
    if (tlsClosed_) return TFill::Closed;
    if (chunk_.empty()) chunk_.resize(kDataChunk);
    const int n = receive(chunk_.data(), kDataChunk, 0);
    if (n == 0) return TFill::Closed;
    if (n < 0) return TFill::Nothing;
    if (inputPos_ == input_.size()) {
        input_.clear();
        inputPos_ = 0;
    }
    if (!tls_) {
        input_.append(chunk_.data(), static_cast<std::size_t>(n));
        return TFill::Data;
    }
    const std::size_t before = input_.size();
    std::string reply;
    const bool open = secure([&] { return tls_->Decrypt(chunk_.data(), static_cast<std::size_t>(n), input_, reply); });
    if (!reply.empty()) sendBytes(reply);
    if (!open) tlsClosed_ = true;
    if (input_.size() > before) return TFill::Data;
    return tlsClosed_ ? TFill::Closed : TFill::Partial;
}

void TSocketClient::consume(std::size_t n) {
    inputPos_ += n;
    if (inputPos_ >= input_.size()) {
        input_.clear();
        inputPos_ = 0;
    } else if (inputPos_ >= 65536) {
        input_.erase(0, inputPos_);
        inputPos_ = 0;
    }
}

void TSocketClient::StartTls() {
    if (!Connected()) RaiseSocketError(sNotConnected);
    // Nothing may come between the server's go-ahead and the handshake:
    // such bytes can only be someone's in the middle, and would otherwise
    // be read as if they had come protected.
    if (buffered() > 0) raiseText(CatalogueText(sTlsPlainAfterGoAhead));
    input_.clear();
    inputPos_ = 0;
    tlsClosed_ = false;
    tls_ = std::make_unique<TTlsLayer>(host_);
    sendBytes(secure([&] { return tls_->Begin(); }));
    if (chunk_.empty()) chunk_.resize(kDataChunk);
    // As for data replies, the time-out counts from the last bytes received;
    // the layer bounds the bytes a handshake may take.
    Counter->Start();
    bool done = false;
    for (;;) {
        const int n = receive(chunk_.data(), kDataChunk, 0);
        if (n == 0) break;
        if (n > 0) {
            std::string reply;
            done = secure([&] { return tls_->Handshake(chunk_.data(), static_cast<std::size_t>(n), reply); });
            if (!reply.empty()) sendBytes(reply);
            if (done) break;
            Counter->Start();
            fw::DispatchPendingEvery();
            continue;
        }
        if (Canceled || Counter->Expired) break;
        waitForRead();
        if (AsyncFailed && !Canceled && !Counter->Expired) RaiseSocketError(AsyncError);
    }
    Counter->Pause();
    if (Counter->Expired) raiseTimedOut();
    if (Canceled) raiseCanceled();
    if (!done) raiseText(CatalogueText(sTlsClosedInHandshake));
    // The greeting often comes with the handshake's last flight.
    std::string reply;
    if (!secure([&] { return tls_->Decrypt(nullptr, 0, input_, reply); })) tlsClosed_ = true;
    if (!reply.empty()) sendBytes(reply);

    fw::UniqueCertificate cert(tls_->ServerCertificate());
    const TCertificateVerdict verdict = CheckServerCertificate(cert.get(), host_, ExtraRootCertificate);
    if (verdict.Trusted) return;
    if (verdict.MayTrustOnce && OnUntrustedCertificate && OnUntrustedCertificate(this, verdict)) return;
    raiseText(verdict.Message);
}

void TSocketClient::checkWaitEnd() {
    if (Canceled) raiseCanceled();
    if (Counter->Expired) raiseTimedOut();
    if (AsyncFailed) RaiseSocketError(AsyncError);
}

int TSocketClient::ReadLine(std::string& line) {
    int result = -1;
    if (!Connected()) RaiseSocketError(sNotConnected);
    // Lines that are already there are read without a wait, so this is
    // where messages get through while a long reply streams in.
    fw::DispatchPendingEvery();
    // A time-out, cancellation or Winsock error left by the last operation
    // ends this one before it takes anything.
    checkWaitEnd();
    // Started once: the whole line must arrive within TimeOut, so a server
    // that trickles a byte at a time cannot hold a check for hours.
    Counter->Start();

    line.clear();
    std::size_t end = 0;
    std::size_t scanned = 0;
    bool closed = false;
    for (;;) {
        const char* begin = input_.data() + inputPos_;
        const std::size_t limit = std::min(buffered(), MaxLineLength);
        // A text protocol's line never starts with a TLS record's header (a
        // handshake or an alert, version 3.x): this port speaks TLS.
        if (!tls_ && limit >= 2 && (begin[0] == 0x15 || begin[0] == 0x16) && begin[1] == 0x03)
            RaiseSocketError(sTlsWherePlainExpected);
        const auto* lf = static_cast<const char*>(std::memchr(begin + scanned, '\n', limit - scanned));
        if (lf) {
            end = static_cast<std::size_t>(lf - begin) + 1;
            break;
        }
        scanned = limit;
        if (limit >= MaxLineLength) RaiseSocketError(sReplyTooLong);
        if (closed || Canceled || Counter->Expired) break;
        // Bytes already in Winsock are taken before any wait: no FD_READ
        // announces them a second time.
        const TFill got = fill();
        if (got == TFill::Data || got == TFill::Partial) {
            fw::DispatchPendingEvery();
        } else if (got == TFill::Closed) {
            closed = true;
        } else {
            waitForRead();
            // An error reported by a message before any byte arrived.
            if (buffered() == 0 && AsyncFailed && !Canceled && !Counter->Expired) RaiseSocketError(AsyncError);
        }
    }
    Counter->Pause();
    const bool complete = end > 0;
    const bool partial = buffered() > 0;
    if (complete) {
        line = StripLineEnd(std::string(input_.data() + inputPos_, end));
        consume(end);
        result = GetReplyCode(line);
    }
    if (Counter->Expired) raiseTimedOut();
    if (Canceled) raiseCanceled();
    // A server that hangs up without a word is told at once. Part of a line
    // before the hang-up is no line at all: -1 and an empty line, for the
    // caller to judge.
    if (!complete && !partial) RaiseSocketError(sConnectionClosed);
    if (!complete) consume(buffered());
    return result;
}

void TSocketClient::ReadData(fw::TMemoryStream& stream, std::int32_t ExpectedSize) {
    if (!Connected()) RaiseSocketError(sNotConnected);
    fw::DispatchPendingEvery();
    checkWaitEnd();

    const auto start = static_cast<std::size_t>(stream.Size());
    bool complete = false;
    bool closed = false;
    // Until the first bytes (or the hang-up) arrive, passes report no progress.
    bool arrived = false;
    Counter->Start();
    for (;;) {
        if (buffered() > 0) {
            arrived = true;
            if (OnProgress) {
                const std::int64_t size = stream.Size();
                OnProgress(this, ProgressPercent(size, ExpectedSize), static_cast<std::int32_t>(size));
            }
            // Line by line, so nothing after the terminator is taken: the
            // terminator ends with an LF, and whatever follows it is the
            // next reply's.
            stream.Position = stream.Size();
            while (buffered() > 0 && !complete) {
                const char* begin = input_.data() + inputPos_;
                const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', buffered()));
                const std::size_t n = lf ? static_cast<std::size_t>(lf - begin) + 1 : buffered();
                stream.Write(begin, n);
                consume(n);
                complete = lf && IsDataComplete(stream.Memory(), static_cast<std::size_t>(stream.Size()), start);
            }
            if (!complete && stream.Size() - static_cast<std::int64_t>(start) > MaxDataSize)
                RaiseSocketError(sReplyTooLong);
        }
        if (complete || closed || Canceled || Counter->Expired) break;
        const TFill got = fill();
        if (got == TFill::Data || got == TFill::Partial) {
            // The time-out counts from the last chunk received.
            Counter->Start();
            fw::DispatchPendingEvery();
            continue;
        }
        if (got == TFill::Closed) {
            closed = true;
            continue;
        }
        if (arrived && OnProgress) {
            const std::int64_t size = stream.Size();
            OnProgress(this, ProgressPercent(size, ExpectedSize), static_cast<std::int32_t>(size));
        }
        waitForRead();
        if (!arrived) checkWaitEnd();
    }
    Counter->Pause();
    if (Counter->Expired) raiseTimedOut();
    if (Canceled) raiseCanceled();
    if (!complete) RaiseSocketError(sConnectionClosed);
}

void TSocketClient::Close() {
    // The end of a check: a counter only paused between its waits would tick once more.
    if (Counter->Paused()) Counter->Stop();
    if (Connected()) {
        if (OnClosing) OnClosing(this);
        // The closing alert goes out with one try: the socket closes right after.
        if (tls_ && !tlsClosed_) {
            const std::string alert = tls_->Shutdown();
            if (!alert.empty()) Winsock.send(SocketHandle, alert.data(), static_cast<int>(alert.size()), 0);
        }
        Winsock.closesocket(SocketHandle);
        SocketHandle = INVALID_SOCKET;
        if (OnClosed) OnClosed(this);
    }
    tls_.reset();
    tlsClosed_ = false;
    input_.clear();
    inputPos_ = 0;
    if (ras_) ras_->Disconnect();
}

void TSocketClient::Cancel() {
    Canceled = true;
    if (OnCancel) OnCancel(this);
    cancelLookup();
    Close();
}

void TSocketClient::fireError(std::string& msg) {
    if (OnError) OnError(this, msg);
}

void TSocketClient::RaiseSocketError(std::uint16_t code) {
    if (code == 0) return;
    Counter->Stop();
    std::string msg;
    if (!FindCatalogueText(code, msg)) msg = "Error #" + fw::IntToStr(code);
    fireError(msg);
    throw ESocketError(msg, code);
}

void TSocketClient::raiseText(std::string msg) {
    Counter->Stop();
    fireError(msg);
    throw ESocketError(msg);
}

void TSocketClient::raiseLastError() {
    const int error = Winsock.WSAGetLastError();
    // A failure without a code still must not pass for success.
    RaiseSocketError(error ? static_cast<std::uint16_t>(error) : static_cast<std::uint16_t>(WSAENETDOWN));
    throw ESocketError(CatalogueText(WSAENETDOWN), WSAENETDOWN);
}

void TSocketClient::raiseTimedOut() {
    Counter->Stop();
    std::string msg = CatalogueText(sTimedOut);
    fireError(msg);
    cancelLookup();
    if (Winsock.WSAIsBlocking()) Winsock.WSACancelBlockingCall();
    Close();
    throw ETimedOutError();
}

void TSocketClient::raiseCanceled() {
    Counter->Stop();
    std::string msg = CatalogueText(sCanceled);
    fireError(msg);
    throw ECanceledError();
}

}  // namespace net
