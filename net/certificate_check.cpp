// The chain parameters with their time-out for fetching revocation data.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "net/certificate_check.h"

#include "framework/security_handles.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/sysutils.h"
#include "framework/system_error.h"
#include "net/socket_errors.h"
#include "net/socket_text.h"

namespace net {

namespace {
constexpr DWORD kRevocationFetchMs = 5000;

// Tells the SSL chain policy to pass over an unknown root, which is judged
// from the chain's trust status instead.
#ifndef SECURITY_FLAG_IGNORE_UNKNOWN_CA
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA 0x00000100
#endif
// The policy's own name check is left out: it takes "*.org" for any name
// under .org and an IP address only from a DNS entry. Ours is nameCheck.
#ifndef SECURITY_FLAG_IGNORE_CERT_CN_INVALID
#define SECURITY_FLAG_IGNORE_CERT_CN_INVALID 0x00001000
#endif
// Revocation that could not be checked passes the policy (Wine's policy
// stops at it, before its later checks); a revoked certificate still shows
// in the chain's trust status.
#ifndef SECURITY_FLAG_IGNORE_REVOCATION
#define SECURITY_FLAG_IGNORE_REVOCATION 0x00000080
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

enum class TNameCheck { Matches, Wrong, NoNames };

// The host against the certificate's subject alternative names: an IP
// address text against its iPAddress entries only, a name against its DNS
// entries only. The subject's common name does not count (RFC 6125).
TNameCheck nameCheck(const CERT_CONTEXT* cert, const std::string& host) {
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!extension || !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return TNameCheck::NoNames;
    fw::UniqueLocalMemory owned(names);
    unsigned char ip[4];
    const bool isIp = Ipv4Bytes(host, ip);
    for (DWORD i = 0; i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (isIp && entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
            std::memcmp(entry.IPAddress.pbData, ip, 4) == 0)
            return TNameCheck::Matches;
        if (!isIp && entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME && entry.pwszDNSName) {
            // Names in certificates are ASCII (international ones as "xn--").
            std::string name;
            for (const wchar_t* c = entry.pwszDNSName; *c; ++c) name += *c < 0x80 ? static_cast<char>(*c) : '\x01';
            if (CertificateNameMatches(name, host)) return TNameCheck::Matches;
        }
    }
    return names->cAltEntry ? TNameCheck::Wrong : TNameCheck::NoNames;
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
    // Fetching a revocation list or an OCSP answer may take the network's
    // time: all of them together get a few seconds, after which the status
    // is "unknown", which does not fail the check.
    para.dwUrlRetrievalTimeout = kRevocationFetchMs;
    fw::UniqueCertChain chain;
    // Revocation of the server's certificate and its intermediates; a root
    // is revoked by taking it out of the store, not by a list.
    if (!CertGetCertificateChain(
            nullptr, cert, nullptr, additional, &para,
            CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT, nullptr,
            chain.put()))
        return invalid(v, codeText(GetLastError()));

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
    ssl.fdwChecks =
        SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_REVOCATION;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    // A list that cannot be fetched (no network, none published) does not
    // fail the check, as in browsers; only a revocation that is known does.
    policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara, &status))
        return invalid(v, codeText(GetLastError()));
    const auto policy = static_cast<HRESULT>(status.dwError);

    const bool rootUnknown = (trust & kRootUnknown) != 0;
    const TNameCheck names = nameCheck(cert, host);
    const bool nameWrong = names != TNameCheck::Matches;
    const bool expired = (trust & CERT_TRUST_IS_NOT_TIME_VALID) || policy == CERT_E_EXPIRED;
    const bool revoked = (trust & CERT_TRUST_IS_REVOKED) || policy == CRYPT_E_REVOKED;
    const bool policyRoot = policy == CERT_E_UNTRUSTEDROOT || policy == CERT_E_CHAINING;
    const bool otherPolicy = policy != 0 && policy != CERT_E_CN_NO_MATCH && !policyRoot && policy != CERT_E_EXPIRED &&
                             policy != CRYPT_E_REVOKED && policy != CRYPT_E_NO_REVOCATION_CHECK &&
                             policy != CRYPT_E_REVOCATION_OFFLINE && policy != CERT_E_REVOCATION_FAILURE;
    const DWORD other = trust & ~kJudgedApart;

    if (expired)
        v.Message = CatalogueText(sCertExpired);
    else if (revoked)
        v.Message = CatalogueText(sCertRevoked);
    else if (other)
        v.Message =
            fw::FormatStr(CatalogueText(sCertInvalid), "its chain is not valid (trust status " +
                                                           fw::IntToStr(static_cast<std::int64_t>(other)) + ")");
    else if (otherPolicy)
        v.Message = fw::FormatStr(CatalogueText(sCertInvalid), codeText(static_cast<DWORD>(policy)));
    else if (names == TNameCheck::NoNames)
        v.Message = CatalogueText(sCertNoNames);
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
