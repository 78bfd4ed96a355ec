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
    // For a call that writes the new handle through a pointer: frees what was
    // held, then lends the slot, so nothing is ever opened into a raw variable.
    T* put() {
        reset();
        return &h_;
    }
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
inline void deleteObject(HGDIOBJ o) { DeleteObject(o); }
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
using UniqueFont = UniqueHandle<HFONT, &detail::deleteObject>;
using UniqueBitmap = UniqueHandle<HBITMAP, &detail::deleteObject>;
using UniqueIcon = UniqueHandle<HICON, &::DestroyIcon>;
// A RegisterWaitForSingleObject registration.
using UniqueWait = UniqueHandle<HANDLE, &detail::unregisterWait>;

// A window's device context, released to the window it came from.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a DC for one scope; the DC's earlier one comes back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (old_) SelectObject(dc_, old_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Runs `undo` when the scope ends, however it ends: for a value saved and
// restored around a step that may raise.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F undo) : undo_(std::move(undo)) {}
    ~ScopeExit() { undo_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F undo_;
};

}  // namespace fw
