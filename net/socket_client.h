#pragma once
// Line-oriented TCP client for the mail components. It never blocks in
// Winsock: lookups and network events arrive as messages at a hidden window,
// and every wait dispatches the thread's messages until its flag is set, the
// time-out counter expires or Cancel is called. To its caller each operation
// looks synchronous: it returns when done or raises.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/window.h"
#include "net/certificate_check.h"
#include "net/socket_errors.h"
#include "net/tls_layer.h"
#include "net/time_counter.h"
#include "net/winsock_library.h"

namespace net {

// `message` is the text of the exception about to be raised; the handler may change it.
using TErrorEvent = std::function<void(fw::TObject* Sender, std::string& message)>;
// `percent` is -1 when no expected size was given.
using TProgressEvent = std::function<void(fw::TObject* Sender, std::int32_t percent, std::int32_t transferred)>;

class TDialUp;

// How a connection is protected: TLS from the first byte, TLS after the
// protocol's own go-ahead (StartTls called by the mail session), or not at all.
enum class TSecurity { None, Tls, StartTls };

// Asked when the server's certificate fails the check only for its root or
// its name; true accepts this very certificate for this connection.
using TCertificateEvent = std::function<bool(fw::TObject* Sender, const TCertificateVerdict& Verdict)>;

// Winsock notifications of the hidden window.
constexpr UINT WM_ASYNC_HOST = WM_USER + 148;
constexpr UINT WM_ASYNC_SERV = WM_USER + 149;
constexpr UINT WM_ASYNC_SELECT = WM_USER + 150;

class TSocketClient : public fw::TComponent {
public:
    explicit TSocketClient(fw::TComponent* owner);
    ~TSocketClient() override;

    std::string Server;
    std::uint16_t DefaultPort = 0;
    std::string ServiceName;
    fw::TNotifyEvent OnOpen;
    fw::TNotifyEvent OnClosing;
    fw::TNotifyEvent OnClosed;
    fw::TNotifyEvent OnCancel;
    TProgressEvent OnProgress;
    TErrorEvent OnError;
    // Bytes (or the end of the stream) arrived while no operation waits for
    // them: a session that waits for the server's word between commands
    // (IMAP's IDLE) takes them then, with TakeAvailable.
    fw::TNotifyEvent OnReadable;
    // Not used by the socket itself; the mail classes read replies into it.
    std::string LastReply;
    TSecurity Security = TSecurity::None;
    TCertificateEvent OnUntrustedCertificate;
    // A CA certificate (DER) trusted for this socket's connections besides
    // the system's roots.
    std::string ExtraRootCertificate;

    // The process-wide library: setting it acts for every socket at once.
    bool WinsockLoaded() const { return Winsock.Loaded(); }
    void SetWinsockLoaded(bool value);
    TDialUp* RAS() const { return ras_; }
    void SetRAS(TDialUp* value);
    std::int32_t TimeOut() const { return counter_->TimeOut; }
    void SetTimeOut(std::int32_t value) { counter_->TimeOut = value; }
    // Whether a wait's one-second timer is still set (between waits it may
    // stay set for at most one more tick).
    bool CounterRunning() const { return counter_->Timer->Running(); }
    HWND WindowHandle() const { return window_->Handle(); }
    // The port Open settled on (the server text's, the service's or DefaultPort).
    std::uint16_t RemotePort() const { return port_; }

    // A socket exists (from Open on, before any TCP connection).
    bool Connected() const { return socket_.valid(); }

    void ResetState();
    virtual int GetReplyCode(const std::string& line);
    // Resolves host and port and creates the socket, without connecting.
    virtual void Open();
    void Close();
    void Cancel();

    // Connects; with Security TLS the handshake and the certificate check follow.
    void ConnectSocket();
    // Runs the TLS handshake on the connected socket and checks the server's
    // certificate for the host of Server. Everything sent and read after it
    // is protected; a failure raises, and nothing is ever sent in plain text
    // in its place.
    void StartTls();
    bool Secure() const { return tls_ != nullptr && tls_->Established(); }
    TTlsInfo TlsInfo() const { return tls_ ? tls_->Info() : TTlsInfo{}; }
    void SendLine(const std::string& line);
    // Sends the bytes as they are, so several command lines, each with its
    // CR LF, go out in one send.
    void SendText(const std::string& data);
    // Reads one line (without its CR/LF) into `line`; returns GetReplyCode of
    // it. The whole line must arrive within TimeOut.
    int ReadLine(std::string& line) { return ReadLine(line, MaxLineLength); }
    // The same for a line of up to `maxLength` bytes, terminator included;
    // beyond MaxLineLength the time-out counts from the last bytes received.
    int ReadLine(std::string& line, std::size_t maxLength);
    // Appends exactly `count` bytes to `out`; the time-out counts from the
    // last chunk received.
    void ReadBytes(std::string& out, std::size_t count);
    // Takes, without waiting, every byte that has arrived, until recv would
    // block; more than `limit` bytes buffered without a line end raises
    // "Server reply is too long". False when the server has closed the
    // stream (what came before stays buffered); a reset raises.
    bool TakeAvailable(std::size_t limit);
    // A whole line waits in the read buffer.
    bool LineBuffered() const;
    bool Buffered() const { return buffered() > 0; }
    // Has OnReadable fire from the message loop: for bytes already taken
    // into the read buffer (decrypted with the record before them, say),
    // of which Winsock will announce nothing.
    void PostReadable();
    // Appends received bytes to `stream` until it ends with CR LF "." CR LF;
    // the time-out counts from the last chunk received.
    void ReadData(fw::TMemoryStream& stream, std::int32_t expectedSize);
    // A code of 0 does nothing; anything else fires OnError and raises ESocketError.
    void RaiseSocketError(std::uint16_t code);
    // The same for a text with a %s: `argument` goes there.
    [[noreturn]] void RaiseSocketError(std::uint16_t code, const std::string& argument);

    void Notification(fw::TComponent* component, fw::TOperation operation) override;

    // Longest reply line, terminator included, and most data one ReadData
    // takes before it gives up on a server that never ends its reply.
    static constexpr std::size_t MaxLineLength = 1024;
    static constexpr std::int64_t MaxDataSize = 64 * 1024 * 1024;

private:
    // Every wait of the socket goes through wait(): it starts the time-out
    // counter, tries its step, dispatches messages between tries and blocks
    // while the step has nothing to do. What one try came to:
    enum class TStep {
        Done,      // the wait's work is finished
        Progress,  // bytes moved; try again at once
        Idle,      // nothing can move until a message arrives
        Failed,    // Winsock reported a failure by message (AsyncError)
    };
    // How a wait ended. When more than one end holds at once (a step that
    // finished just as the counter ran out, a failure during Cancel), the
    // order of the step decides which one the caller hears of:
    enum class TWaitOrder {
        // Lookups: Winsock's own failure (no such host) says most, then the
        // time-out, then Cancel.
        FailureFirst,
        // Connecting (and the service lookup), and the start of a read that
        // inherits the state of the last operation: a Cancel (sleep, Close)
        // is reported as such, and silently; then the time-out; a refusal last.
        CancelFirst,
        // Transfers (send, handshake, line and data reads): a time-out
        // closes the connection and is what the user may need to hear of, even
        // when Cancel came meanwhile; failures there raise from the transfer
        // itself.
        TimeOutFirst,
    };
    enum class TWaitResult { Done, Failed, TimedOut, Canceled };
    // A wait run from inside another's step (a TLS reply sent in the middle
    // of a read) shares the outer wait's counter. `restartOnProgress` makes
    // the time-out count from the last bytes moved rather than from the start.
    TWaitResult wait(TWaitOrder order, bool restartOnProgress, const std::function<TStep()>& step);
    TWaitResult endOf(TWaitOrder order, bool failed) const;
    // Raises what a wait's end means; does nothing for Done.
    void raiseUnlessDone(TWaitResult result);

    bool handleMessage(UINT msg, WPARAM wp, LPARAM lp);
    // The result of a send or recv: a Winsock error other than
    // WSAEWOULDBLOCK raises (unless cancelled); SOCKET_ERROR means nothing
    // could move now.
    int transferred(int result);
    // recv through the binding, judged by transferred().
    int receive(char* buffer, int size, int flags);
    // What one recv into the read buffer gave: plain text, protected bytes
    // that make no whole record yet, the end of the stream, or nothing now.
    enum class TFill { Data, Partial, Closed, Nothing };
    TFill fill();
    // A read's step after fill(): bytes moved, the stream ended, or nothing now.
    TStep readStep();
    std::size_t buffered() const { return input_.size() - inputPos_; }
    void consume(std::size_t n);
    // Sends every byte (records, under TLS) within TimeOut.
    void sendBytes(const std::string& data);
    // Runs a call of the TLS layer; its failure is reported as a socket error.
    template <typename F>
    auto secure(F call) -> decltype(call());
    // Forgets the connection: the socket, the TLS session and what was read.
    void resetConnection();
    [[noreturn]] void raiseText(std::string msg, int code = 0);
    void resolveHost(const std::string& host);
    void resolvePort(std::uint16_t portPart);
    void cancelLookup();
    void fireError(std::string& msg);
    [[noreturn]] void raiseTimedOut();
    [[noreturn]] void raiseCanceled();
    [[noreturn]] void raiseLastError();

    std::unique_ptr<TTimeCounter> counter_;
    WSADATA wsaData_{};
    UniqueSocket socket_;
    HANDLE asyncHandle_ = nullptr;
    std::uint32_t remoteAddr_ = 0;
    std::uint16_t port_ = 0;
    int startupCount_ = 0;
    bool canceled_ = false;
    bool hostResolved_ = false;
    bool servResolved_ = false;
    bool connectEvent_ = false;
    // Set by every message of the current lookup or socket: the wait that
    // dispatched it tries its step again instead of blocking.
    bool woken_ = false;
    bool asyncFailed_ = false;
    std::uint16_t asyncError_ = 0;
    int waitDepth_ = 0;

    std::unique_ptr<fw::TUtilWindow> window_;
    TDialUp* ras_ = nullptr;
    // Winsock writes the lookup answers here when they complete, so they live
    // as long as the socket, and a pending lookup is cancelled before they go.
    char hostEntry_[MAXGETHOSTSTRUCT] = {};
    char servEntry_[MAXGETHOSTSTRUCT] = {};
    // The one read buffer: received bytes (decrypted, under TLS) that no
    // line or data read has taken yet, from inputPos_ on.
    std::string input_;
    std::size_t inputPos_ = 0;
    std::vector<char> chunk_;
    std::unique_ptr<TTlsLayer> tls_;
    bool tlsClosed_ = false;
    // The host part of Server at the last Open: the name TLS asks for.
    std::string host_;
};

}  // namespace net
