#include "net/certificate_check.h"

#include "framework/security_handles.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/sysutils.h"
#include "framework/system_error.h"
#include "net/socket_errors.h"

namespace net {

namespace {

// Tells the SSL chain policy to pass over an unknown root, which is judged
// from the chain's trust status instead; a wrong name still shows then.
#ifndef SECURITY_FLAG_IGNORE_UNKNOWN_CA
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA 0x00000100
#endif

constexpr DWORD kRootUnknown = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;
// Faults of the chain judged on their own below, or that a chain built
// without a revocation check may carry.
constexpr DWORD kJudgedApart = kRootUnknown | CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED |
                               CERT_TRUST_IS_REVOKED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                               CERT_TRUST_IS_OFFLINE_REVOCATION;

std::string codeText(DWORD code) { return fw::SystemErrorText(code, fw::TErrorCode::Always); }

std::wstring wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, w.data(), n);
    return w;
}

TCertificateVerdict invalid(TCertificateVerdict v, const std::string& why) {
    v.Message = fw::FormatStr(CatalogueText(sCertInvalid), why);
    return v;
}

}  // namespace

std::string CertificateFingerprint(const CERT_CONTEXT* cert) {
    BYTE hash[32];
    DWORD size = sizeof hash;
    if (!cert || !CryptHashCertificate(0, CALG_SHA_256, 0, cert->pbCertEncoded, cert->cbCertEncoded, hash, &size) ||
        size != sizeof hash)
        return "";
    std::string text;
    for (DWORD i = 0; i < size; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", hash[i]);
        text += pair;
    }
    return text;
}

TCertificateVerdict CheckServerCertificate(const CERT_CONTEXT* cert, const std::string& host,
                                           const std::string& extraRoot) {
    TCertificateVerdict v;
    if (!cert) return invalid(v, "the server sent none");
    v.Fingerprint = CertificateFingerprint(cert);

    // The server's own intermediates, and the extra root when there is one.
    fw::UniqueCertStore collection, rootStore;
    HCERTSTORE additional = cert->hCertStore;
    if (!extraRoot.empty()) {
        collection.reset(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
        rootStore.reset(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
        if (!collection || !rootStore ||
            !CertAddEncodedCertificateToStore(rootStore.get(), X509_ASN_ENCODING,
                                              reinterpret_cast<const BYTE*>(extraRoot.data()),
                                              static_cast<DWORD>(extraRoot.size()), CERT_STORE_ADD_ALWAYS, nullptr) ||
            !CertAddStoreToCollection(collection.get(), rootStore.get(), 0, 0) ||
            (cert->hCertStore && !CertAddStoreToCollection(collection.get(), cert->hCertStore, 0, 0)))
            return invalid(v, codeText(GetLastError()));
        additional = collection.get();
    }

    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    PCCERT_CHAIN_CONTEXT raw = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, additional, &para, 0, nullptr, &raw))
        return invalid(v, codeText(GetLastError()));
    fw::UniqueCertChain chain(raw);

    DWORD trust = chain.get()->TrustStatus.dwErrorStatus;
    if ((trust & kRootUnknown) && !extraRoot.empty() && chain.get()->cChain > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain.get()->rgpChain[0];
        const CERT_CONTEXT* top = simple->cElement ? simple->rgpElement[simple->cElement - 1]->pCertContext : nullptr;
        // The extra root counts only as itself, byte for byte, at the top of the chain.
        if (top && top->cbCertEncoded == extraRoot.size() &&
            std::memcmp(top->pbCertEncoded, extraRoot.data(), extraRoot.size()) == 0 &&
            !(trust & CERT_TRUST_IS_PARTIAL_CHAIN))
            trust &= ~kRootUnknown;
    }

    std::wstring name = wide(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara, &status))
        return invalid(v, codeText(GetLastError()));
    const auto policy = static_cast<HRESULT>(status.dwError);

    const bool rootUnknown = (trust & kRootUnknown) != 0;
    const bool nameWrong = policy == CERT_E_CN_NO_MATCH;
    const bool expired = (trust & CERT_TRUST_IS_NOT_TIME_VALID) || policy == CERT_E_EXPIRED;
    const bool revoked = (trust & CERT_TRUST_IS_REVOKED) || policy == CRYPT_E_REVOKED;
    const bool policyRoot = policy == CERT_E_UNTRUSTEDROOT || policy == CERT_E_CHAINING;
    const bool otherPolicy = policy != 0 && !nameWrong && !policyRoot && policy != CERT_E_EXPIRED &&
                             policy != CRYPT_E_REVOKED;
    const DWORD other = trust & ~kJudgedApart;

    if (expired)
        v.Message = CatalogueText(sCertExpired);
    else if (revoked)
        v.Message = CatalogueText(sCertRevoked);
    else if (other)
        v.Message = fw::FormatStr(CatalogueText(sCertInvalid), "its chain is not valid (trust status " +
                                                                   fw::IntToStr(static_cast<std::int64_t>(other)) + ")");
    else if (otherPolicy)
        v.Message = fw::FormatStr(CatalogueText(sCertInvalid), codeText(static_cast<DWORD>(policy)));
    else if (nameWrong)
        v.Message = fw::FormatStr(CatalogueText(sCertNotIssuedFor), host);
    else if (rootUnknown || (policyRoot && extraRoot.empty()))
        v.Message = CatalogueText(sCertUntrustedRoot);
    v.Trusted = v.Message.empty();
    v.MayTrustOnce = !v.Trusted && !expired && !revoked && !other && !otherPolicy;
    return v;
}

std::string CertificateDer(const std::string& fileBytes) {
    std::string der;
    DWORD size = 0;
    if (CryptStringToBinaryA(fileBytes.c_str(), static_cast<DWORD>(fileBytes.size()), CRYPT_STRING_BASE64HEADER,
                             nullptr, &size, nullptr, nullptr) &&
        size > 0) {
        der.resize(size);
        if (!CryptStringToBinaryA(fileBytes.c_str(), static_cast<DWORD>(fileBytes.size()), CRYPT_STRING_BASE64HEADER,
                                  reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
            der.clear();
        der.resize(size);
    } else {
        der = fileBytes;
    }
    fw::UniqueCertificate parsed(CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
    return parsed ? der : std::string();
}

}  // namespace net
