#pragma once
// Dial-up component: makes sure a Remote Access connection exists before a
// socket opens, and hangs up a line it dialed itself when the socket closes.
// rasapi32.dll is loaded by name; without it (or without an entry point)
// the component quietly does nothing. The tray program does not use it (no
// socket of its own gets a dial-up component); it stays for other callers
// of the socket.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/classes.h"
#include "framework/handles.h"
#include "framework/window.h"
#include "net/socket_errors.h"
#include "net/time_counter.h"
#include "net/ras_api.h"

namespace net {

using TRASNotifyEvent = std::function<void(fw::TObject* Sender, const std::string& status)>;

class TDialUp : public fw::TComponent {
public:
    explicit TDialUp(fw::TComponent* owner);
    ~TDialUp() override;

    std::unique_ptr<fw::TStringList> Entries;
    ras::HRASCONN Handle = INVALID_HANDLE_VALUE;
    UINT DialEventMsg = 0;
    TRASNotifyEvent OnStatusChange;
    fw::TNotifyEvent OnDisconnected;
    bool MinimizeAtConnect = false;
    bool DialedByUs = false;
    std::string Password;
    bool RemovePassword = true;
    // rasapi32.dll, loaded at creation; nullptr when the system has none.
    bool ForceService = true;
    std::uint32_t LastError = 0;
    std::unique_ptr<TTimeCounter> Counter;
    bool HangUpRequested = false;
    bool Connected = false;

    const std::string& Service() const { return service_; }
    // Shows an error dialog (and raises nothing) for a name it cannot take.
    void SetService(const std::string& value);
    std::int32_t TimeOut() const { return Counter->TimeOut; }
    void SetTimeOut(std::int32_t value) { Counter->TimeOut = value; }
    HWND WindowHandle() const { return window_->Handle(); }

    fw::TStringList& RefreshEntries();
    bool HasEntries() const { return Entries->Count() > 0; }
    bool FindConnection();
    void Connect();
    void HangUp();
    void Disconnect();
    std::string DialStateText(std::uint32_t state) const;

private:
    bool handleMessage(UINT msg, WPARAM wp, LPARAM lp);
    template <typename Fn>
    Fn proc(const char* name) const {
        return lib_ ? reinterpret_cast<Fn>(GetProcAddress(lib_.get(), name)) : nullptr;
    }
    void minimizeDialDialog();

    std::string service_;
    fw::UniqueModule lib_;
    std::unique_ptr<fw::TUtilWindow> window_;
};

}  // namespace net
