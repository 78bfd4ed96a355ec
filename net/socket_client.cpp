#include "net/socket_client.h"

#include <cstring>
#include <vector>

#include "framework/application.h"
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
    // An FD_READ dispatched just now would not wake the wait below.
    if (!ReadEvent && !Canceled && !Counter->Expired) fw::WaitForInput();
    ReadEvent = false;
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
    // Open on an open socket would otherwise lose the old handle.
    if (Connected()) {
        Winsock.closesocket(SocketHandle);
        SocketHandle = INVALID_SOCKET;
    }
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
}

void TSocketClient::SendLine(const std::string& line) {
    if (!Connected()) RaiseSocketError(sNotConnected);
    const std::string data = line + "\r\n";
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
    // ends this one before it takes anything from Winsock.
    checkWaitEnd();
    Counter->Start();

    // Peek, then take exactly through the LF: nothing after it is taken from
    // Winsock, so the next read starts exactly at the next line. Each recv
    // costs wineserver round trips under Wine, so a line takes two of them,
    // not one per byte; bytes already there need no FD_READ to be read.
    std::string buffer;
    line.clear();
    bool complete = false;
    bool peerClosed = false;
    char chunk[MaxLineLength];
    for (;;) {
        bool progress = false;
        const int n = receive(chunk, static_cast<int>(MaxLineLength - buffer.size()), MSG_PEEK);
        if (n == 0) {
            peerClosed = true;
        } else if (n > 0) {
            const auto* lf = static_cast<const char*>(std::memchr(chunk, '\n', static_cast<std::size_t>(n)));
            const int through = lf ? static_cast<int>(lf - chunk) + 1 : n;
            const int taken = receive(chunk, through, 0);
            if (taken > 0) {
                buffer.append(chunk, static_cast<std::size_t>(taken));
                progress = true;
                complete = buffer.back() == '\n';
                // The time-out counts from the last bytes received.
                Counter->Start();
            }
            if (!complete && buffer.size() >= MaxLineLength) RaiseSocketError(sReplyTooLong);
        }
        if (complete || peerClosed || Canceled || Counter->Expired) break;
        if (progress) {
            fw::DispatchPendingEvery();
            continue;
        }
        waitForRead();
        // An error reported by a message before any byte arrived.
        if (buffer.empty() && AsyncFailed && !Canceled && !Counter->Expired) RaiseSocketError(AsyncError);
    }
    Counter->Pause();
    if (complete) {
        line = StripLineEnd(buffer);
        result = GetReplyCode(line);
    }
    if (Counter->Expired) raiseTimedOut();
    if (Canceled) raiseCanceled();
    // A server that hangs up without a word is told at once. Part of a line
    // before the hang-up is no line at all: -1 and an empty line, for the
    // caller to judge.
    if (!complete && buffer.empty()) RaiseSocketError(sConnectionClosed);
    return result;
}

void TSocketClient::ReadData(fw::TMemoryStream& stream, std::int32_t ExpectedSize) {
    if (!Connected()) RaiseSocketError(sNotConnected);
    fw::DispatchPendingEvery();
    checkWaitEnd();

    std::vector<char> buffer(kDataChunk);
    const auto start = static_cast<std::size_t>(stream.Size());
    bool complete = false;
    bool peerClosed = false;
    Counter->Start();
    // Until the first bytes (or the hang-up) arrive, passes report no progress.
    bool arrived = false;
    for (;;) {
        const int n = receive(buffer.data(), kDataChunk, 0);
        if (n == 0) peerClosed = true;
        if (!arrived && n < 0) {
            waitForRead();
            checkWaitEnd();
            continue;
        }
        arrived = true;
        if (OnProgress) {
            const std::int64_t size = stream.Size();
            OnProgress(this, ProgressPercent(size, ExpectedSize), static_cast<std::int32_t>(size));
        }
        if (n > 0) {
            stream.Position = stream.Size();
            stream.Write(buffer.data(), static_cast<std::size_t>(n));
            complete = IsDataComplete(stream.Memory(), static_cast<std::size_t>(stream.Size()), start);
            if (!complete && stream.Size() - static_cast<std::int64_t>(start) > MaxDataSize)
                RaiseSocketError(sReplyTooLong);
            // The time-out counts from the last chunk received.
            Counter->Start();
        }
        if (complete || peerClosed || Canceled || Counter->Expired) break;
        if (n > 0) {
            fw::DispatchPendingEvery();
        } else {
            waitForRead();
        }
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
        Winsock.closesocket(SocketHandle);
        SocketHandle = INVALID_SOCKET;
        if (OnClosed) OnClosed(this);
    }
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
