#pragma once
// TLS through the platform's own SChannel (SSPI in secur32): the layer turns
// received bytes into plain text and plain text into records. It does no
// I/O itself; the socket feeds it what one recv gave and sends what it hands
// back, so every wait stays the socket's message-dispatching one.
#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "framework/security_handles.h"
#include "framework/sysutils.h"

namespace net {

// A failure of the secure layer; the socket reports its message as a socket error.
class ETlsError : public fw::Exception {
    using Exception::Exception;
};

struct TTlsInfo {
    std::string Protocol;  // "TLS 1.2"
    std::string Cipher;    // "AES-256, ECDHE key exchange"
};

class TTlsLayer {
public:
    // `host` is sent as the server name (SNI).
    explicit TTlsLayer(const std::string& host);
    ~TTlsLayer();
    TTlsLayer(const TTlsLayer&) = delete;
    TTlsLayer& operator=(const TTlsLayer&) = delete;

    // Acquires the credentials and returns the first handshake message.
    std::string Begin();
    // Takes bytes received during the handshake and appends to `toSend` what
    // must go out. True once the handshake is complete; bytes that came with
    // its last flight (the greeting, often) wait for Decrypt.
    bool Handshake(const char* data, std::size_t size, std::string& toSend);
    bool Established() const;
    // Decrypts every complete record among the bytes kept so far and `data`,
    // appending the plain text to `plain`; a renegotiation or post-handshake
    // message may put a reply into `toSend`. False once the server's closing
    // alert has come.
    bool Decrypt(const char* data, std::size_t size, std::string& plain, std::string& toSend);
    // The records that carry `size` bytes of plain text.
    std::string Encrypt(const char* data, std::size_t size);
    // The closing alert (close_notify), or "" when none can be made.
    std::string Shutdown() noexcept;

    // The server's certificate, none before the handshake.
    fw::UniqueCertificate ServerCertificate() const;
    TTlsInfo Info() const;

    // Raw bytes a handshake may take before the server counts as hostile.
    static constexpr std::size_t MaxHandshakeSize = 1024 * 1024;

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace net
