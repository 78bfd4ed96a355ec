#pragma once
// Tidemark's own check of the server's certificate, made after every TLS
// handshake: SChannel implementations differ in what they check (Wine's
// checks nothing), so none is relied on. The chain (with revocation) comes
// from crypt32's chain engine and the SSL chain policy; the host name is
// checked here against the subject alternative names.
#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace net {

struct TCertificateVerdict {
    bool Trusted = false;
    // The only faults are an unknown root and a name that does not match:
    // the user may choose to trust this very certificate.
    bool MayTrustOnce = false;
    // Why it is not trusted, as the user reads it; "" when it is.
    std::string Message;
    // SHA-256 of the certificate, upper-case hex pairs joined by ':'.
    std::string Fingerprint;
};

// `extraRoot` is a CA certificate (DER) trusted for this check only, besides
// the user's and the machine's roots.
TCertificateVerdict CheckServerCertificate(const CERT_CONTEXT* cert, const std::string& host,
                                           const std::string& extraRoot = "");

std::string CertificateFingerprint(const CERT_CONTEXT* cert);

// The DER bytes of a certificate file in PEM or DER form; "" when the bytes
// hold no certificate.
std::string CertificateDer(const std::string& fileBytes);

}  // namespace net
