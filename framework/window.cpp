#include "framework/window.h"

#include "framework/application.h"
#include "framework/sysutils.h"

namespace fw {

namespace {
const char* const kUtilClass = "TidemarkUtilWindow";

void registerUtilClass() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kUtilClass;
    RegisterWindowClass(wc);
}
}  // namespace

void RegisterWindowClass(const WNDCLASSA& wc) {
    WNDCLASSA existing{};
    if (GetClassInfoA(wc.hInstance, wc.lpszClassName, &existing)) return;
    RegisterClassA(&wc);
}

void RemoveCaption(HWND window) {
    const auto style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    SetWindowLongA(window, GWL_STYLE, static_cast<LONG>(style & ~static_cast<DWORD>(WS_CAPTION)));
}

void HandleCallbackException() {
    // A worker thread shows no boxes (they would run a second modal loop
    // beside the application's); what it must report it posts to the GUI.
    if (Application && !Application->OnOwnThread()) return;
    try {
        throw;
    } catch (const std::exception& e) {
        if (Application) Application->HandleException(e);
    } catch (...) {
        if (Application) Application->HandleException(Exception("Unknown error"));
    }
}

TUtilWindow::TUtilWindow(MessageHandler handler, WindowKind kind) : handler_(std::move(handler)) {
    registerUtilClass();
    HWND parent = kind == WindowKind::MessageOnly ? HWND_MESSAGE : nullptr;
    HWND h = CreateWindowExA(0, kUtilClass, "", kind == WindowKind::TopLevel ? WS_POPUP : 0, 0, 0, 0, 0, parent,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!h) throw Exception("Error creating window");
    SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TUtilWindow::WndProc));
    hwnd_.reset(h);
}

TUtilWindow::~TUtilWindow() {
    if (hwnd_) SetWindowLongPtrA(hwnd_.get(), GWLP_USERDATA, 0);
}

LRESULT CALLBACK TUtilWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TUtilWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self && self->handler_) {
        try {
            LRESULT result = 0;
            if (self->handler_(hwnd, msg, wp, lp, result)) return result;
        } catch (...) {
            HandleCallbackException();
            return 0;
        }
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace fw
