#pragma once
// A real Dovecot POP3 server for tests under Wine. scripts/dovecot-fixture.sh
// does the Linux side; Wine runs it through CreateProcessA with its Unix
// path. Such a process has no handle to wait on, so the script reports
// through files in its directory, which Wine shows as Z:\...
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class DovecotServer {
public:
    // `script` is the Unix path of dovecot-fixture.sh.
    explicit DovecotServer(std::string script);
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Set before Start: TLS required, STLS on Port(), TLS from the first
    // byte on TlsPort() (see scripts/dovecot-fixture.sh start-tls).
    bool Tls = false;
    // Starts the server with the given (user, password) pairs. On failure
    // returns false and leaves the reason in `error`.
    bool Start(const std::vector<std::pair<std::string, std::string>>& users, std::string& error);
    // Stops the server and removes its directory; waits until it is gone.
    void Stop();

    std::uint16_t Port() const { return port_; }
    std::uint16_t TlsPort() const { return tlsPort_; }
    // The server's directory, as Linux programs see it.
    const std::string& UnixDirectory() const { return unixDir_; }
    // A file of the server's directory ("tls/ca.pem"), "" when missing.
    std::string File(const std::string& name) const;
    // "127.0.0.1:port", as the socket's Server setting takes it.
    std::string ServerText() const;
    // Delivers a message into the user's Maildir (written to tmp/, then
    // renamed into new/, so the server never sees half a file).
    bool AddMessage(const std::string& user, const std::string& text);
    // The server's log so far.
    std::string Log() const;

private:
    bool runScript(const std::string& args);
    std::string script_;
    std::string unixDir_;
    std::string winDir_;
    std::uint16_t port_ = 0;
    std::uint16_t tlsPort_ = 0;
    bool started_ = false;
    unsigned delivered_ = 0;
};

}  // namespace testsupport
