#pragma once
// Owners for the handles of the platform's security libraries: crypt32's
// certificates, chains and stores, SSPI's credentials and contexts (two-word
// records rather than pointers), and the memory SSPI and DPAPI hand out.
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <windows.h>
#include <wincrypt.h>
#include <security.h>

#include <utility>

#include "framework/handles.h"

namespace fw {

namespace detail {
inline void freeCertificate(PCCERT_CONTEXT c) { CertFreeCertificateContext(c); }
inline void freeChain(PCCERT_CHAIN_CONTEXT c) { CertFreeCertificateChain(c); }
inline void closeStore(HCERTSTORE s) { CertCloseStore(s, 0); }
inline void freeChainEngine(HCERTCHAINENGINE e) { CertFreeCertificateChainEngine(e); }
inline void freeContextBuffer(void* p) { FreeContextBuffer(p); }
inline void freeLocal(void* p) { LocalFree(p); }
}  // namespace detail

using UniqueCertificate = UniqueHandle<PCCERT_CONTEXT, &detail::freeCertificate>;
using UniqueCertChain = UniqueHandle<PCCERT_CHAIN_CONTEXT, &detail::freeChain>;
using UniqueCertStore = UniqueHandle<HCERTSTORE, &detail::closeStore>;
using UniqueChainEngine = UniqueHandle<HCERTCHAINENGINE, &detail::freeChainEngine>;
// Output buffers SSPI allocated (ISC_REQ_ALLOCATE_MEMORY).
using UniqueContextBuffer = UniqueHandle<void*, &detail::freeContextBuffer>;
// Output of CryptProtectData and CryptUnprotectData.
using UniqueLocalMemory = UniqueHandle<void*, &detail::freeLocal>;

// A CredHandle or CtxtHandle: valid once the call that fills it succeeded.
template <typename H, auto Release>
class UniqueSspiHandle {
public:
    UniqueSspiHandle() = default;
    ~UniqueSspiHandle() { reset(); }
    UniqueSspiHandle(const UniqueSspiHandle&) = delete;
    UniqueSspiHandle& operator=(const UniqueSspiHandle&) = delete;

    H* get() { return valid_ ? &h_ : nullptr; }
    // For the call that fills it; the caller then marks it with set_valid().
    H* out() {
        reset();
        return &h_;
    }
    void set_valid() { valid_ = true; }
    bool valid() const { return valid_; }
    void reset() {
        if (std::exchange(valid_, false)) Release(&h_);
    }

private:
    H h_{};
    bool valid_ = false;
};

using UniqueCredentials = UniqueSspiHandle<CredHandle, &::FreeCredentialsHandle>;
using UniqueSecurityContext = UniqueSspiHandle<CtxtHandle, &::DeleteSecurityContext>;

}  // namespace fw
