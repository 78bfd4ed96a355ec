#pragma once
// Tells when the machine's IP addresses change (a cable plugged in, Wi-Fi
// joined, a VPN up), where the system reports it: NotifyAddrChange of
// iphlpapi.dll, looked up at run time. Its overlapped form signals an event;
// a wait registered with the thread pool turns that into a message posted
// to a hidden window, so the change reaches the program on its own thread
// through the message loop, and no thread of ours sits polling.
#include <windows.h>

#include <memory>

#include "framework/classes.h"
#include "framework/handles.h"
#include "framework/window.h"

namespace net {

class TAddressWatch : public fw::TComponent {
public:
    static constexpr UINT WM_ADDRESS_CHANGED = WM_USER + 151;

    explicit TAddressWatch(fw::TComponent* owner);
    ~TAddressWatch() override;

    // The system took the request. Wine takes it and never answers, so
    // there nothing is reported.
    bool Active() const { return active_; }
    HWND WindowHandle() const { return window_->Handle(); }

    // An address was added or removed.
    fw::TNotifyEvent OnChange;

private:
    using NotifyAddrChangeFn = DWORD(WINAPI*)(PHANDLE, LPOVERLAPPED);
    using CancelIPChangeNotifyFn = BOOL(WINAPI*)(LPOVERLAPPED);
    bool request();
    static void CALLBACK signalled(PVOID window, BOOLEAN timedOut);

    std::unique_ptr<fw::TUtilWindow> window_;
    fw::UniqueModule library_;
    NotifyAddrChangeFn notifyAddrChange_ = nullptr;
    CancelIPChangeNotifyFn cancelIPChangeNotify_ = nullptr;
    // Auto-reset: one callback per completed request.
    fw::UniqueKernelHandle event_;
    // The system writes the result here: it stays at one address while a
    // request is pending.
    std::unique_ptr<OVERLAPPED> overlapped_;
    fw::UniqueWait wait_;
    bool active_ = false;
};

}  // namespace net
