#include "net/address_watch.h"

namespace net {

TAddressWatch::TAddressWatch(fw::TComponent* owner) : fw::TComponent(owner) {
    window_ = std::make_unique<fw::TUtilWindow>([this](HWND, UINT msg, WPARAM, LPARAM, LRESULT& result) {
        if (msg != WM_ADDRESS_CHANGED) return false;
        result = 0;
        // One request reports one change: ask again before telling anyone.
        if (active_ && HasOverlappedIoCompleted(overlapped_.get())) active_ = request();
        if (OnChange) OnChange(this);
        return true;
    });
    library_.reset(LoadLibraryA("iphlpapi.dll"));
    if (!library_) return;
    notifyAddrChange_ = reinterpret_cast<NotifyAddrChangeFn>(GetProcAddress(library_.get(), "NotifyAddrChange"));
    // Without a way to cancel (before Windows Vista), a request could
    // outlive this object: then none is made.
    cancelIPChangeNotify_ =
        reinterpret_cast<CancelIPChangeNotifyFn>(GetProcAddress(library_.get(), "CancelIPChangeNotify"));
    if (!notifyAddrChange_ || !cancelIPChangeNotify_) return;
    event_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!event_) return;
    overlapped_ = std::make_unique<OVERLAPPED>();
    if (!RegisterWaitForSingleObject(wait_.put(), event_.get(), &TAddressWatch::signalled, window_->Handle(), INFINITE,
                                     WT_EXECUTEINWAITTHREAD))
        return;
    active_ = request();
}

TAddressWatch::~TAddressWatch() {
    // No callback runs once the wait is gone.
    wait_.reset();
    if (!active_ || HasOverlappedIoCompleted(overlapped_.get())) return;
    if (cancelIPChangeNotify_(overlapped_.get()) && WaitForSingleObject(event_.get(), 1000) == WAIT_OBJECT_0 &&
        HasOverlappedIoCompleted(overlapped_.get()))
        return;
    // A request the system would not cancel (Wine's never ends) may still
    // complete into the record and signal the event: both are left to the
    // process rather than freed under it.
    (void)overlapped_.release();
    (void)event_.release();
}

bool TAddressWatch::request() {
    *overlapped_ = OVERLAPPED{};
    overlapped_->hEvent = event_.get();
    // The handle it returns belongs to the system ("do not close it").
    HANDLE handle = nullptr;
    return notifyAddrChange_(&handle, overlapped_.get()) == ERROR_IO_PENDING;
}

void CALLBACK TAddressWatch::signalled(PVOID window, BOOLEAN) {
    PostMessageA(static_cast<HWND>(window), WM_ADDRESS_CHANGED, 0, 0);
}

}  // namespace net
