#include "net/tls_layer.h"

#include "framework/security_handles.h"

#include <schannel.h>

#include <cstdio>
#include <cstring>

#include "framework/sysutils.h"
#include "framework/system_error.h"
#include "net/socket_errors.h"

namespace net {

namespace {

constexpr DWORD kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
// TLS record content types: a reply starting with anything else is no TLS.
constexpr unsigned char kAlert = 21, kHandshake = 22, kServerHello = 2;
constexpr unsigned char kFirstContentType = 20, kLastContentType = 24, kRecordMajorVersion = 3;
// Alert descriptions that mean "nothing in common" (RFC 8446, 6.2).
constexpr unsigned char kHandshakeFailure = 40, kProtocolVersion = 70, kInsufficientSecurity = 71;

std::string hex32(unsigned long v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", v);
    return text;
}

std::string statusText(SECURITY_STATUS status) {
    return fw::SystemErrorText(static_cast<DWORD>(status), fw::TErrorCode::Always);
}

}  // namespace

struct TTlsLayer::State {
    std::string host;
    fw::UniqueCredentials credentials;
    fw::UniqueSecurityContext context;
    // Received bytes that no SSPI call has consumed yet.
    std::string pending;
    // The first bytes the server sent, to tell why a handshake failed.
    std::string firstReply;
    std::size_t handshakeBytes = 0;
    bool established = false;
    bool renegotiating = false;
    SecPkgContext_StreamSizes sizes{};
    // The server's certificate (DER) as at the first handshake.
    std::string certificate;

    fw::UniqueCertificate serverCertificate() {
        fw::UniqueCertificate cert;
        if (!context.valid() ||
            QueryContextAttributesA(context.get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, cert.put()) != SEC_E_OK)
            cert.reset();
        return cert;
    }

    std::string certificateBytes() {
        const fw::UniqueCertificate cert = serverCertificate();
        return cert ? std::string(reinterpret_cast<const char*>(cert.get()->pbCertEncoded), cert.get()->cbCertEncoded)
                    : std::string();
    }

    [[noreturn]] void fail(SECURITY_STATUS status) const {
        const auto* b = reinterpret_cast<const unsigned char*>(firstReply.data());
        // A refusal before any key is agreed comes as a plain alert record.
        if (firstReply.size() >= 7 && b[0] == kAlert &&
            (b[6] == kProtocolVersion || b[6] == kHandshakeFailure || b[6] == kInsufficientSecurity))
            throw ETlsError(CatalogueText(sTlsNothingInCommon));
        // A server that settles on a version older than TLS 1.2 says so in
        // its hello (record header, then type, length, version 3.1 or 3.2).
        if (firstReply.size() >= 11 && b[0] == kHandshake && b[5] == kServerHello && b[9] == kRecordMajorVersion &&
            b[10] < 3)
            throw ETlsError(CatalogueText(sTlsOldVersion));
        throw ETlsError(fw::FormatStr(CatalogueText(sTlsFailed), statusText(status)));
    }

    // One InitializeSecurityContext call on `pending` (none on the first).
    // Returns the status; consumed input leaves `pending`, output goes to `toSend`.
    SECURITY_STATUS step(std::string& toSend) {
        SecBuffer in[2] = {{static_cast<unsigned long>(pending.size()), SECBUFFER_TOKEN, pending.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
        ULONG attributes = 0;
        const bool first = !context.valid();
        CtxtHandle* current = context.get();
        CtxtHandle* fresh = first ? context.out() : nullptr;
        // No input at all on the first call, and when a renegotiation has
        // to be answered before the server sends anything more.
        const bool noInput = first || pending.empty();
        const SECURITY_STATUS status =
            InitializeSecurityContextA(credentials.get(), current, const_cast<char*>(host.c_str()), kRequest, 0, 0,
                                       noInput ? nullptr : &inDesc, 0, fresh, &outDesc, &attributes, nullptr);
        fw::UniqueContextBuffer token(out[0].pvBuffer);
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) context.set_valid();
        if (status == SEC_E_INCOMPLETE_MESSAGE) return status;
        if (token && out[0].cbBuffer > 0) toSend.append(static_cast<const char*>(token.get()), out[0].cbBuffer);
        if (!noInput) {
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= pending.size())
                pending.erase(0, pending.size() - in[1].cbBuffer);
            else
                pending.clear();
        }
        return status;
    }

    // Runs the handshake on what `pending` holds. True once it is complete.
    // `answerNow` makes the first call even without input: the server's
    // request to renegotiate wants a new hello at once.
    bool handshake(std::string& toSend, bool answerNow = false) {
        // A request for a client certificate is answered without one: the
        // call is simply made again (a few times at most).
        for (int calls = 0; calls < 64; ++calls) {
            if (pending.empty() && !(answerNow && calls == 0)) return false;
            const SECURITY_STATUS status = step(toSend);
            if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
            if (status == SEC_E_OK) {
                if (QueryContextAttributesA(context.get(), SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK ||
                    sizes.cbMaximumMessage == 0)
                    fail(SEC_E_INTERNAL_ERROR);
                // Nothing older than TLS 1.2, whatever the system would allow.
                SecPkgContext_ConnectionInfo c{};
                if (QueryContextAttributesA(context.get(), SECPKG_ATTR_CONNECTION_INFO, &c) == SEC_E_OK &&
                    !(c.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)))
                    throw ETlsError(CatalogueText(sTlsOldVersion));
                // A renegotiation may bring another certificate, which nobody
                // checked: the connection goes on only with the first one.
                const std::string now = certificateBytes();
                if (certificate.empty())
                    certificate = now;
                else if (now != certificate)
                    throw ETlsError(CatalogueText(sTlsCertificateChanged));
                return true;
            }
            // SEC_I_CONTINUE_NEEDED may come with no output and more input
            // left over: that input is the next call's.
            if (status != SEC_I_CONTINUE_NEEDED && status != SEC_I_INCOMPLETE_CREDENTIALS) fail(status);
        }
        fail(SEC_E_INTERNAL_ERROR);
    }
};

TTlsLayer::TTlsLayer(const std::string& host) : s_(std::make_unique<State>()) { s_->host = host; }

TTlsLayer::~TTlsLayer() = default;

std::string TTlsLayer::Begin() {
    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    // The certificate is checked by the caller (certificate_check.h): some
    // SChannel implementations check nothing, so none is relied on.
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    SECURITY_STATUS status = SEC_E_INTERNAL_ERROR;
    // TLS 1.3 where the system has it; a system that refuses the flag gets 1.2 alone.
    for (DWORD protocols : {DWORD(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT), DWORD(SP_PROT_TLS1_2_CLIENT)}) {
        cred.grbitEnabledProtocols = protocols;
        status = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                           &cred, nullptr, nullptr, s_->credentials.out(), nullptr);
        if (status == SEC_E_OK) break;
    }
    if (status != SEC_E_OK) s_->fail(status);
    s_->credentials.set_valid();
    std::string hello;
    status = s_->step(hello);
    if (status != SEC_I_CONTINUE_NEEDED) s_->fail(status);
    return hello;
}

bool TTlsLayer::Handshake(const char* data, std::size_t size, std::string& toSend) {
    if (s_->firstReply.size() < 16) s_->firstReply.append(data, std::min<std::size_t>(size, 16));
    // A plain-text greeting would otherwise sit in the layer as the start of
    // a record that never completes, until the server gives up on us.
    const auto* b = reinterpret_cast<const unsigned char*>(s_->firstReply.data());
    if (!s_->firstReply.empty() && (b[0] < kFirstContentType || b[0] > kLastContentType ||
                                    (s_->firstReply.size() > 1 && b[1] != kRecordMajorVersion)))
        throw ETlsError(CatalogueText(sTlsNotTls));
    s_->handshakeBytes += size;
    if (s_->handshakeBytes > MaxHandshakeSize) throw ETlsError(CatalogueText(sReplyTooLong));
    s_->pending.append(data, size);
    s_->established = s_->handshake(toSend);
    return s_->established;
}

bool TTlsLayer::Established() const { return s_->established; }

bool TTlsLayer::Decrypt(const char* data, std::size_t size, std::string& plain, std::string& toSend) {
    State& s = *s_;
    if (size) s.pending.append(data, size);
    while (!s.pending.empty()) {
        if (s.renegotiating) {
            if (!s.handshake(toSend)) return true;
            s.renegotiating = false;
            continue;
        }
        SecBuffer b[4] = {{static_cast<unsigned long>(s.pending.size()), SECBUFFER_DATA, s.pending.data()},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
        const SECURITY_STATUS status = DecryptMessage(s.context.get(), &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return true;
        if (status == SEC_I_CONTEXT_EXPIRED) {
            s.pending.clear();
            return false;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
            throw ETlsError(fw::FormatStr(CatalogueText(sTlsDecrypt), statusText(status)));
        // The plain text and the bytes after the record point into `pending`
        // (decrypted in place): copy out before `pending` changes.
        std::size_t got = 0;
        std::string extra;
        for (const SecBuffer& buffer : b) {
            if (buffer.BufferType == SECBUFFER_DATA && buffer.pvBuffer) {
                plain.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
                got += buffer.cbBuffer;
            } else if (buffer.BufferType == SECBUFFER_EXTRA && buffer.pvBuffer) {
                extra.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
            }
        }
        s.pending = std::move(extra);
        if (status == SEC_I_RENEGOTIATE) {
            // A renegotiation or a post-handshake message (a TLS 1.3 ticket):
            // the bytes after it belong to the handshake until it completes.
            const std::size_t answered = toSend.size();
            const bool input = !s.pending.empty();
            s.renegotiating = !s.handshake(toSend, true);
            // Wine's SChannel cannot begin the answer without input: the
            // request is then passed over, as TLS 1.2 lets a client do, and
            // the server's data goes on as before.
            if (s.renegotiating && !input && toSend.size() == answered) s.renegotiating = false;
            continue;
        }
        // Wine's SChannel reports the server's close_notify as a record of
        // no data rather than SEC_I_CONTEXT_EXPIRED.
        if (got == 0) {
            s.pending.clear();
            return false;
        }
    }
    return true;
}

std::string TTlsLayer::Encrypt(const char* data, std::size_t size) {
    State& s = *s_;
    std::string records;
    const std::size_t most = s.sizes.cbMaximumMessage;
    while (size > 0) {
        const std::size_t n = std::min(size, most);
        std::string record(s.sizes.cbHeader + n + s.sizes.cbTrailer, '\0');
        std::memcpy(record.data() + s.sizes.cbHeader, data, n);
        SecBuffer b[4] = {{s.sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                          {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + s.sizes.cbHeader},
                          {s.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + s.sizes.cbHeader + n},
                          {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
        const SECURITY_STATUS status = EncryptMessage(s.context.get(), 0, &desc, 0);
        if (status != SEC_E_OK) throw ETlsError(fw::FormatStr(CatalogueText(sTlsFailed), statusText(status)));
        records.append(record.data(), b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
        data += n;
        size -= n;
    }
    return records;
}

std::string TTlsLayer::Shutdown() noexcept {
    State& s = *s_;
    if (!s.established || !s.context.valid()) return "";
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer in[1] = {{sizeof type, SECBUFFER_TOKEN, &type}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 1, in};
    if (ApplyControlToken(s.context.get(), &inDesc) != SEC_E_OK) return "";
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
    ULONG attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextA(s.credentials.get(), s.context.get(), const_cast<char*>(s.host.c_str()), kRequest, 0,
                                   0, nullptr, 0, nullptr, &outDesc, &attributes, nullptr);
    fw::UniqueContextBuffer token(out[0].pvBuffer);
    s.established = false;
    if (FAILED(status) || !token || out[0].cbBuffer == 0) return "";
    try {
        return std::string(static_cast<const char*>(token.get()), out[0].cbBuffer);
    } catch (...) {
        return "";
    }
}

fw::UniqueCertificate TTlsLayer::ServerCertificate() const { return s_->serverCertificate(); }

TTlsInfo TTlsLayer::Info() const {
    TTlsInfo info;
    SecPkgContext_ConnectionInfo c{};
    // SECPKG_ATTR_CIPHER_INFO is wrong under Wine; the connection info is right everywhere.
    if (!s_->context.valid() || QueryContextAttributesA(s_->context.get(), SECPKG_ATTR_CONNECTION_INFO, &c) != SEC_E_OK)
        return info;
    if (c.dwProtocol & SP_PROT_TLS1_3_CLIENT)
        info.Protocol = "TLS 1.3";
    else if (c.dwProtocol & SP_PROT_TLS1_2_CLIENT)
        info.Protocol = "TLS 1.2";
    else if (c.dwProtocol & SP_PROT_TLS1_1_CLIENT)
        info.Protocol = "TLS 1.1";
    else if (c.dwProtocol & SP_PROT_TLS1_0_CLIENT)
        info.Protocol = "TLS 1.0";
    else
        info.Protocol = "protocol " + hex32(c.dwProtocol);
    switch (c.aiCipher) {
        case CALG_AES_128:
        case CALG_AES_192:
        case CALG_AES_256:
        case CALG_AES: info.Cipher = "AES-" + fw::IntToStr(c.dwCipherStrength); break;
        case CALG_3DES: info.Cipher = "3DES"; break;
        default: info.Cipher = "cipher " + hex32(c.aiCipher) + " (" + fw::IntToStr(c.dwCipherStrength) + " bits)";
    }
    switch (c.aiExch) {
        case CALG_ECDH_EPHEM: info.Cipher += ", ECDHE key exchange"; break;
        case CALG_ECDH: info.Cipher += ", ECDH key exchange"; break;
        case CALG_DH_EPHEM: info.Cipher += ", DHE key exchange"; break;
        case CALG_RSA_KEYX: info.Cipher += ", RSA key exchange"; break;
        default: break;
    }
    return info;
}

}  // namespace net
