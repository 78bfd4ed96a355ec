#pragma once
// One move-only owner for every kind of handle: the handle type, the function
// that releases it, and the value that means "no handle".
#include <windows.h>

#include <cstdint>
#include <utility>

namespace fw {

template <typename T, auto Release, std::intptr_t InvalidValue = 0>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }

    static T invalid() { return (T)InvalidValue; }
    T get() const { return h_; }
    bool valid() const { return h_ != invalid(); }
    explicit operator bool() const { return valid(); }
    T release() { return std::exchange(h_, invalid()); }
    void reset(T h = invalid()) {
        T old = std::exchange(h_, h);
        if (old != invalid()) Release(old);
    }

private:
    T h_ = invalid();
};

namespace detail {
inline void closeKey(HKEY k) { RegCloseKey(k); }
inline void freeModule(HMODULE m) { FreeLibrary(m); }
inline void deleteFont(HFONT f) { DeleteObject(f); }
// Waits until a callback that is running has returned: nothing it touches
// may go before.
inline void unregisterWait(HANDLE w) { UnregisterWaitEx(w, INVALID_HANDLE_VALUE); }
}  // namespace detail

using UniqueWindow = UniqueHandle<HWND, &::DestroyWindow>;
using UniqueMenu = UniqueHandle<HMENU, &::DestroyMenu>;
using UniqueKernelHandle = UniqueHandle<HANDLE, &::CloseHandle>;
using UniqueFile = UniqueHandle<HANDLE, &::CloseHandle, -1>;
using UniqueKey = UniqueHandle<HKEY, &detail::closeKey>;
using UniqueModule = UniqueHandle<HMODULE, &detail::freeModule>;
using UniqueFont = UniqueHandle<HFONT, &detail::deleteFont>;
using UniqueIcon = UniqueHandle<HICON, &::DestroyIcon>;
// A RegisterWaitForSingleObject registration.
using UniqueWait = UniqueHandle<HANDLE, &detail::unregisterWait>;

}  // namespace fw
