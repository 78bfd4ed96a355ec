#pragma once
// Hidden windows whose messages go to a handler object. Every message is
// handled inside a try block: no C++ exception ever unwinds through user32.
#include <windows.h>

#include <functional>

#include "framework/handles.h"

namespace fw {

// Handler returns true when it handled the message and set `result`;
// otherwise the message goes to DefWindowProcA.
using MessageHandler = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT& result)>;

enum class WindowKind {
    TopLevel,     // a real top-level window: receives broadcasts such as "TaskbarCreated"
    MessageOnly,  // HWND_MESSAGE child: timers, Winsock and DDE notifications
};

class TUtilWindow {
public:
    TUtilWindow(MessageHandler handler, WindowKind kind = WindowKind::MessageOnly);
    ~TUtilWindow();
    TUtilWindow(const TUtilWindow&) = delete;
    TUtilWindow& operator=(const TUtilWindow&) = delete;
    HWND Handle() const { return hwnd_.get(); }

private:
    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
    MessageHandler handler_;
    UniqueWindow hwnd_;
};

// Registers a window class; a class of that name registered before is kept.
void RegisterWindowClass(const WNDCLASSA& wc);
// Drops the caption bar and its frame (WS_CAPTION = WS_BORDER | WS_DLGFRAME)
// from a window's style.
void RemoveCaption(HWND window);
// The window property of a form whose Tab, Enter and Esc keys move through
// its controls (IsDialogMessageA).
constexpr const char* kDialogKeysProperty = "TidemarkDialogKeys";

// Hands an exception that reached a callback boundary to the application's handler.
void HandleCallbackException();

}  // namespace fw
