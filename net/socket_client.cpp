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
}  // namespace

TSocketClient::TSocketClient(fw::TComponent* owner)
    : fw::TComponent(owner), counter_(std::make_unique<TTimeCounter>()) {
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
            if (asyncHandle_) Winsock.WSACancelAsyncRequest(asyncHandle_);
            // A socket left open would stay allocated until the process ends.
            socket_.reset();
            for (; startupCount_ > 0; --startupCount_) Winsock.WSACleanup();
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
            if (!asyncHandle_ || wp != reinterpret_cast<WPARAM>(asyncHandle_)) return true;
            (msg == WM_ASYNC_HOST ? hostResolved_ : servResolved_) = true;
            asyncError_ = TWinsockLibrary::WSAGETASYNCERROR(lp);
            asyncFailed_ = asyncError_ != 0;
            woken_ = true;
            return true;
        case WM_ASYNC_SELECT:
            // Events of a closed socket can still sit in the queue.
            if (!Connected() || wp != static_cast<WPARAM>(socket_.get())) return true;
            asyncError_ = TWinsockLibrary::WSAGETSELECTERROR(lp);
            asyncFailed_ = asyncError_ != 0;
            if (!asyncFailed_ && TWinsockLibrary::WSAGETSELECTEVENT(lp) == FD_CONNECT) connectEvent_ = true;
            woken_ = true;
            // Within a wait, the wait itself takes what arrived.
            if (waitDepth_ == 0 && OnReadable && (TWinsockLibrary::WSAGETSELECTEVENT(lp) & (FD_READ | FD_CLOSE)))
                OnReadable(this);
            return true;
        default: return false;
    }
}

TSocketClient::TWaitResult TSocketClient::wait(TWaitOrder order, bool restartOnProgress,
                                               const std::function<TStep()>& step) {
    const bool outermost = waitDepth_ == 0;
    if (outermost) counter_->Start();
    ++waitDepth_;
    bool failed = false;
    try {
        for (;;) {
            const TStep s = step();
            if (s == TStep::Done) break;
            if (s == TStep::Failed) {
                failed = true;
                break;
            }
            if (canceled_ || counter_->Expired) break;
            if (s == TStep::Progress) {
                if (restartOnProgress && outermost) counter_->Start();
                // Where messages get through while a long reply streams in.
                fw::DispatchPendingEvery();
                continue;
            }
            // A message of ours dispatched here would not wake the wait
            // below (MsgWaitForMultipleObjectsEx waits for new input only):
            // the step is tried again instead.
            woken_ = false;
            fw::DispatchPending();
            if (!woken_ && !canceled_ && !counter_->Expired) fw::WaitForInput();
        }
    } catch (...) {
        --waitDepth_;
        throw;
    }
    --waitDepth_;
    if (outermost) counter_->Pause();
    return endOf(order, failed);
}

TSocketClient::TWaitResult TSocketClient::endOf(TWaitOrder order, bool failed) const {
    const bool expired = counter_->Expired;
    switch (order) {
        case TWaitOrder::FailureFirst:
            if (failed) return TWaitResult::Failed;
            if (expired) return TWaitResult::TimedOut;
            if (canceled_) return TWaitResult::Canceled;
            break;
        case TWaitOrder::CancelFirst:
            if (canceled_) return TWaitResult::Canceled;
            if (expired) return TWaitResult::TimedOut;
            if (failed) return TWaitResult::Failed;
            break;
        case TWaitOrder::TimeOutFirst:
            if (expired) return TWaitResult::TimedOut;
            if (canceled_) return TWaitResult::Canceled;
            if (failed) return TWaitResult::Failed;
            break;
    }
    return TWaitResult::Done;
}

void TSocketClient::raiseUnlessDone(TWaitResult result) {
    switch (result) {
        case TWaitResult::Done: return;
        case TWaitResult::Failed: RaiseSocketError(asyncError_); return;
        case TWaitResult::TimedOut: raiseTimedOut();
        case TWaitResult::Canceled: raiseCanceled();
    }
}

int TSocketClient::transferred(int n) {
    if (n != SOCKET_ERROR) return n;
    const int error = Winsock.WSAGetLastError();
    if (error != WSAEWOULDBLOCK && !canceled_) RaiseSocketError(static_cast<std::uint16_t>(error));
    return SOCKET_ERROR;
}

int TSocketClient::receive(char* buffer, int size, int flags) {
    return transferred(Winsock.recv(socket_.get(), buffer, size, flags));
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
    canceled_ = false;
    counter_->Expired = false;
    asyncHandle_ = nullptr;
    asyncFailed_ = false;
    hostResolved_ = servResolved_ = false;
    connectEvent_ = woken_ = false;
}

int TSocketClient::GetReplyCode(const std::string& line) { return ThreeDigitReplyCode(line); }

void TSocketClient::resetConnection() {
    socket_.reset();
    tls_.reset();
    tlsClosed_ = false;
    input_.clear();
    inputPos_ = 0;
}

void TSocketClient::SendLine(const std::string& line) { SendText(line + "\r\n"); }

void TSocketClient::SendText(const std::string& data) {
    if (!Connected()) RaiseSocketError(sNotConnected);
    sendBytes(tls_ ? secure([&] { return tls_->Encrypt(data.data(), data.size()); }) : data);
}

void TSocketClient::sendBytes(const std::string& data) {
    fw::DispatchPendingEvery();
    std::size_t sent = 0;
    // A full send buffer clears with FD_WRITE, which wakes the wait.
    raiseUnlessDone(wait(TWaitOrder::TimeOutFirst, false, [&] {
        if (sent == data.size()) return TStep::Done;
        const int n =
            transferred(Winsock.send(socket_.get(), data.data() + sent, static_cast<int>(data.size() - sent), 0));
        if (n <= 0) return TStep::Idle;
        sent += static_cast<std::size_t>(n);
        return sent == data.size() ? TStep::Done : TStep::Progress;
    }));
}

TSocketClient::TStep TSocketClient::readStep() {
    switch (fill()) {
        case TFill::Data:
        case TFill::Partial: return TStep::Progress;
        case TFill::Closed: return TStep::Done;
        case TFill::Nothing: break;
    }
    return TStep::Idle;
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
    bool done = false;
    raiseUnlessDone(wait(TWaitOrder::TimeOutFirst, true, [&] {
        if (asyncFailed_) return TStep::Failed;
        const int n = receive(chunk_.data(), kDataChunk, 0);
        if (n == 0) return TStep::Done;
        if (n < 0) return TStep::Idle;
        std::string reply;
        done = secure([&] { return tls_->Handshake(chunk_.data(), static_cast<std::size_t>(n), reply); });
        if (!reply.empty()) sendBytes(reply);
        return done ? TStep::Done : TStep::Progress;
    }));
    // A server restarting or a link dropping mid-handshake, like any other
    // closed connection: the code tells it apart from a refusal.
    if (!done) RaiseSocketError(sTlsClosedInHandshake);
    // The greeting often comes with the handshake's last flight.
    std::string reply;
    if (!secure([&] { return tls_->Decrypt(nullptr, 0, input_, reply); })) tlsClosed_ = true;
    if (!reply.empty()) sendBytes(reply);

    const fw::UniqueCertificate cert = tls_->ServerCertificate();
    const TCertificateVerdict verdict = CheckServerCertificate(cert.get(), host_, ExtraRootCertificate);
    if (verdict.Trusted) return;
    if (!verdict.MayTrustOnce || !OnUntrustedCertificate) raiseText(verdict.Message);
    if (OnUntrustedCertificate(this, verdict)) return;
    raiseText(verdict.Message, sCertDeclined);
}

int TSocketClient::ReadLine(std::string& line, std::size_t maxLength) {
    if (!Connected()) RaiseSocketError(sNotConnected);
    // Lines that are already there are read without a wait, so this is
    // where messages get through while a long reply streams in.
    fw::DispatchPendingEvery();
    // A time-out, cancellation or Winsock error left by the last operation
    // ends this one before it takes anything.
    raiseUnlessDone(endOf(TWaitOrder::CancelFirst, asyncFailed_));

    line.clear();
    std::size_t end = 0;
    std::size_t scanned = 0;
    // The whole line must arrive within TimeOut (no restart on progress), so
    // a server that trickles a byte at a time cannot hold a check for hours.
    const TWaitResult result = wait(TWaitOrder::TimeOutFirst, maxLength > MaxLineLength, [&] {
        const char* begin = input_.data() + inputPos_;
        const std::size_t limit = std::min(buffered(), maxLength);
        // A text protocol's line never starts with a TLS record's header (a
        // handshake or an alert, version 3.x): this port speaks TLS.
        if (!tls_ && limit >= 2 && (begin[0] == 0x15 || begin[0] == 0x16) && begin[1] == 0x03)
            RaiseSocketError(sTlsWherePlainExpected);
        const auto* lf = static_cast<const char*>(std::memchr(begin + scanned, '\n', limit - scanned));
        if (lf) {
            end = static_cast<std::size_t>(lf - begin) + 1;
            return TStep::Done;
        }
        scanned = limit;
        if (limit >= maxLength) RaiseSocketError(sReplyTooLong);
        // An error reported by a message before any byte arrived.
        if (buffered() == 0 && asyncFailed_) return TStep::Failed;
        // Bytes already in Winsock are taken before any wait: no FD_READ
        // announces them a second time.
        return readStep();
    });
    int code = -1;
    if (end > 0) {
        line = StripLineEnd(std::string(input_.data() + inputPos_, end));
        consume(end);
        code = GetReplyCode(line);
    }
    raiseUnlessDone(result);
    // A server that hangs up without a word is told at once. Part of a line
    // before the hang-up is no line at all: -1 and an empty line, for the
    // caller to judge.
    if (end == 0 && buffered() == 0) RaiseSocketError(sConnectionClosed);
    if (end == 0) consume(buffered());
    return code;
}

void TSocketClient::ReadBytes(std::string& out, std::size_t count) {
    if (!Connected()) RaiseSocketError(sNotConnected);
    raiseUnlessDone(endOf(TWaitOrder::CancelFirst, asyncFailed_));
    std::size_t taken = 0;
    raiseUnlessDone(wait(TWaitOrder::TimeOutFirst, true, [&] {
        const std::size_t n = std::min(buffered(), count - taken);
        out.append(input_.data() + inputPos_, n);
        consume(n);
        taken += n;
        if (taken == count) return TStep::Done;
        if (asyncFailed_) return TStep::Failed;
        return readStep();
    }));
    if (taken < count) RaiseSocketError(sConnectionClosed);
}

bool TSocketClient::LineBuffered() const { return std::memchr(input_.data() + inputPos_, '\n', buffered()) != nullptr; }

bool TSocketClient::TakeAvailable(std::size_t limit) {
    if (!Connected()) RaiseSocketError(sNotConnected);
    // Winsock posts FD_READ again only after a recv: everything is taken
    // now, or the next bytes would never be announced.
    for (;;) {
        // A server that floods lines is read no further for now: a recv
        // that leaves bytes behind has Winsock post FD_READ again.
        if (buffered() > limit) {
            if (!LineBuffered()) RaiseSocketError(sReplyTooLong);
            return true;
        }
        if (asyncFailed_ && buffered() == 0) RaiseSocketError(asyncError_);
        switch (fill()) {
            case TFill::Data:
            case TFill::Partial: continue;
            case TFill::Closed: return false;
            case TFill::Nothing: return true;
        }
    }
}

void TSocketClient::PostReadable() {
    if (Connected())
        PostMessageA(window_->Handle(), WM_ASYNC_SELECT, static_cast<WPARAM>(socket_.get()), MAKELPARAM(FD_READ, 0));
}

void TSocketClient::ReadData(fw::TMemoryStream& stream, std::int32_t expectedSize) {
    if (!Connected()) RaiseSocketError(sNotConnected);
    fw::DispatchPendingEvery();
    raiseUnlessDone(endOf(TWaitOrder::CancelFirst, asyncFailed_));

    const auto start = static_cast<std::size_t>(stream.Size());
    bool complete = false;
    // Until the first bytes (or the hang-up) arrive, passes report no progress.
    bool arrived = false;
    const auto progress = [&] {
        if (!OnProgress) return;
        const std::int64_t size = stream.Size();
        OnProgress(this, ProgressPercent(size, expectedSize), static_cast<std::int32_t>(size));
    };
    // The time-out counts from the last chunk received.
    raiseUnlessDone(wait(TWaitOrder::TimeOutFirst, true, [&] {
        if (buffered() > 0) {
            arrived = true;
            progress();
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
        if (complete) return TStep::Done;
        if (!arrived && asyncFailed_) return TStep::Failed;
        switch (fill()) {
            case TFill::Data:
            case TFill::Partial: return TStep::Progress;
            case TFill::Closed: return TStep::Done;
            case TFill::Nothing: break;
        }
        if (arrived) progress();
        return TStep::Idle;
    }));
    if (!complete) RaiseSocketError(sConnectionClosed);
}

void TSocketClient::Close() {
    // The end of a check: a counter only paused between its waits would tick once more.
    if (counter_->Paused()) counter_->Stop();
    if (Connected()) {
        if (OnClosing) OnClosing(this);
        // The closing alert goes out with one try: the socket closes right after.
        if (tls_ && !tlsClosed_) {
            const std::string alert = tls_->Shutdown();
            if (!alert.empty()) Winsock.send(socket_.get(), alert.data(), static_cast<int>(alert.size()), 0);
        }
        socket_.reset();
        if (OnClosed) OnClosed(this);
    }
    resetConnection();
    if (ras_) ras_->Disconnect();
}

void TSocketClient::Cancel() {
    canceled_ = true;
    if (OnCancel) OnCancel(this);
    cancelLookup();
    Close();
}

void TSocketClient::fireError(std::string& msg) {
    if (OnError) OnError(this, msg);
}

void TSocketClient::RaiseSocketError(std::uint16_t code) {
    if (code == 0) return;
    counter_->Stop();
    std::string msg;
    if (!FindCatalogueText(code, msg)) msg = "Error #" + fw::IntToStr(code);
    fireError(msg);
    throw ESocketError(msg, code);
}

void TSocketClient::RaiseSocketError(std::uint16_t code, const std::string& argument) {
    raiseText(fw::FormatStr(CatalogueText(code), argument), code);
}

void TSocketClient::raiseText(std::string msg, int code) {
    counter_->Stop();
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
    counter_->Stop();
    std::string msg = CatalogueText(sTimedOut);
    fireError(msg);
    cancelLookup();
    if (Winsock.WSAIsBlocking()) Winsock.WSACancelBlockingCall();
    Close();
    throw ETimedOutError();
}

void TSocketClient::raiseCanceled() {
    counter_->Stop();
    std::string msg = CatalogueText(sCanceled);
    fireError(msg);
    throw ECanceledError();
}

}  // namespace net
