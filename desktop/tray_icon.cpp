#include "desktop/tray_icon.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <windowsx.h>

#include "framework/application.h"

namespace desktop {

int TrayIconSize() { return GetSystemMetrics(SM_CXSMICON); }

namespace {
ShellNotifySeam& shellSeam() {
    static ShellNotifySeam seam;
    return seam;
}

BOOL shellNotify(DWORD message, NOTIFYICONDATAA& data) {
    if (const auto& seam = shellSeam()) return seam(message, data);
    return Shell_NotifyIconA(message, &data);
}

ShellNotifyWideSeam& wideSeam() {
    static ShellNotifyWideSeam seam;
    return seam;
}

BOOL shellNotifyWide(DWORD message, NOTIFYICONDATAW& data) {
    if (const auto& seam = wideSeam()) return seam(message, data);
    return Shell_NotifyIconW(message, &data);
}

// Copies as much of `text` as fits before the terminating zero, without
// leaving half a surrogate pair at the end.
template <std::size_t N>
void copyCut(WCHAR (&target)[N], const std::u16string& text) {
    std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    if (n < text.size() && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    for (std::size_t i = 0; i < n; ++i) target[i] = static_cast<WCHAR>(text[i]);
    target[n] = 0;
}

// Explorer (and Wine's explorer) broadcasts this to every top-level window
// after it has (re)started; icons added before are gone by then.
UINT taskbarCreatedMessage() {
    static const UINT msg = RegisterWindowMessageA("TaskbarCreated");
    return msg;
}
}  // namespace

void SetShellNotifySeam(ShellNotifySeam seam) { shellSeam() = std::move(seam); }

void SetShellNotifyWideSeam(ShellNotifyWideSeam seam) { wideSeam() = std::move(seam); }

TTrayIcon::TTrayIcon(fw::TComponent* owner) : fw::TComponent(owner) {
    // A top-level window rather than a message-only one: HWND_MESSAGE
    // windows never see broadcasts such as "TaskbarCreated".
    window_ =
        std::make_unique<fw::TUtilWindow>([this](HWND, UINT msg, WPARAM wp, LPARAM lp,
                                                 LRESULT& result) { return HandleTrayMessage(msg, wp, lp, result); },
                                          fw::WindowKind::TopLevel);
    SetPropA(window_->Handle(), kWindowProperty, reinterpret_cast<HANDLE>(1));
    SetShowApp(false);
}

TTrayIcon::~TTrayIcon() {
    if (active_) ShellDelete();
    SetPopupMenu(nullptr);
    // Properties must be removed before the window goes (RemovePropA).
    RemovePropA(window_->Handle(), kWindowProperty);
    window_.reset();
}

void TTrayIcon::SetActive(bool value) {
    if (value == active_) return;
    active_ = value;
    // A balloon goes with its icon.
    balloonWaiting_ = false;
    if (value)
        ShellAdd();
    else
        ShellDelete();
}

void TTrayIcon::SetShowApp(bool value) {
    showApp_ = value;
    if (!fw::Application) return;
    // Issued on every write: the application window may have been shown by
    // someone else since the last one.
    ShowWindow(fw::Application->Handle(), value ? SW_SHOW : SW_HIDE);
}

void TTrayIcon::SetIcon(fw::TIcon* source) {
    if (source == &icon_) return;
    if (source)
        icon_.Assign(*source);
    else
        icon_.Assign(fw::TIcon{});
    ShellModify();
}

void TTrayIcon::SetToolTip(const std::string& text) {
    toolTip_ = text.size() > kMaxToolTip ? text.substr(0, kMaxToolTip) : text;
    ShellModify();
}

void TTrayIcon::SetPopupMenu(fw::TPopupMenu* menu) {
    if (menu == popupMenu_) return;
    if (popupMenu_) RemoveFreeNotification(popupMenu_);
    popupMenu_ = menu;
    if (menu) FreeNotification(menu);
}

void TTrayIcon::Notification(fw::TComponent* component, fw::TOperation operation) {
    // A menu freed before this component leaves no dangling reference.
    if (operation == fw::TOperation::opRemove && component == popupMenu_) popupMenu_ = nullptr;
}

void TTrayIcon::FillNotifyRecord() {
    // The whole record (Windows Vista on): NOTIFYICON_VERSION_4 needs it.
    // Its tooltip holds 128 bytes, room for a line per mailbox; the fields
    // after it stay zero.
    record_ = NOTIFYICONDATAA{};
    record_.cbSize = sizeof record_;
    record_.hWnd = WindowHandle();
    record_.uID = 0;
    record_.uFlags = kNotifyFlags;
    record_.uCallbackMessage = WM_TRAYNOTIFY;
    record_.hIcon = icon_.Handle();
    std::memcpy(record_.szTip, toolTip_.data(), toolTip_.size());
    record_.szTip[toolTip_.size()] = '\0';
}

bool TTrayIcon::ShellAdd() {
    FillNotifyRecord();
    bool ok = shellNotify(NIM_ADD, record_) != FALSE;
    // Without version 4 the shell sends mouse messages only: the icon could
    // not be used from the keyboard.
    record_.uVersion = NOTIFYICON_VERSION_4;
    version4_ = ok && shellNotify(NIM_SETVERSION, record_) != FALSE;
    record_.uVersion = 0;
    // Some shells show no tooltip for an icon added with an empty one until
    // it is modified; the posted refresh sends whatever is current by then.
    if (toolTip_.empty()) PostMessageA(WindowHandle(), WM_TRAYREFRESH, 0, 0);
    return ok;
}

bool TTrayIcon::ShellModify() {
    FillNotifyRecord();
    if (!active_) return true;
    return shellNotify(NIM_MODIFY, record_) != FALSE;
}

bool TTrayIcon::ShowBalloon(const std::u16string& title, const std::u16string& text, DWORD icon) {
    if (!active_) return false;
    // Only NIF_INFO: the icon, tooltip and callback stay as the ANSI record
    // set them; the shell finds the icon by window and id.
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof record;
    record.hWnd = WindowHandle();
    record.uID = 0;
    record.uFlags = NIF_INFO;
    copyCut(record.szInfoTitle, title);
    copyCut(record.szInfo, text);
    record.uTimeout = kBalloonTimeout;
    record.dwInfoFlags = icon | NIIF_RESPECT_QUIET_TIME;
    if (shellNotifyWide(NIM_MODIFY, record) == FALSE) return false;
    balloonWaiting_ = true;
    balloonShown_ = false;
    balloonSince_ = GetTickCount64();
    return true;
}

bool TTrayIcon::BalloonWaiting() const {
    return balloonWaiting_ && (shellReportsBalloons_ || GetTickCount64() - balloonSince_ < UnreportedBalloonMs);
}

bool TTrayIcon::ShellDelete() { return shellNotify(NIM_DELETE, record_) != FALSE; }

bool TTrayIcon::HandleTrayMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    if (msg == WM_TRAYREFRESH) {
        SetToolTip(toolTip_);
        return true;
    }
    if (msg == WM_TRAYNOTIFY) {
        // Version 4 puts the event in the low word and the icon's place in
        // wParam; before it, lParam is the event alone.
        const POINT at{GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)};
        switch (LOWORD(lParam)) {
            case WM_MOUSEMOVE:
                if (OnMouseMove) OnMouseMove(this);
                break;
            // With version 4 a left click comes as WM_LBUTTONUP and then
            // NIN_SELECT, a right click as WM_RBUTTONUP and then WM_CONTEXTMENU:
            // each is acted on once.
            case WM_LBUTTONUP:
                if (!version4_ && OnClick) OnClick(this);
                break;
            case NIN_KEYSELECT:
                if (GetTickCount64() - lastKeySelect_ < 300) break;
                lastKeySelect_ = GetTickCount64();
                [[fallthrough]];
            case NIN_SELECT:
                if (OnClick) OnClick(this);
                break;
            case WM_LBUTTONDBLCLK:
                if (OnDblClick) OnDblClick(this);
                break;
            case WM_RBUTTONUP:
                if (!version4_) {
                    POINT cursor{};
                    GetCursorPos(&cursor);
                    HandleRightClick(cursor);
                }
                break;
            case WM_CONTEXTMENU:
                HandleRightClick(at);
                // The keyboard's place goes back to the icon (NIM_SETFOCUS).
                shellNotify(NIM_SETFOCUS, record_);
                break;
            case NIN_BALLOONSHOW: shellReportsBalloons_ = balloonShown_ = true; break;
            case NIN_BALLOONTIMEOUT:
            case NIN_BALLOONHIDE:
                if (balloonShown_) balloonWaiting_ = false;
                break;
            case NIN_BALLOONUSERCLICK:
                balloonWaiting_ = false;
                if (OnBalloonClick) OnBalloonClick(this);
                break;
            default: break;
        }
        return true;
    }
    if (msg == taskbarCreatedMessage() && active_) {
        // The shell restarted and forgot the icon: add it again, with the
        // image and tooltip it has now.
        ShellAdd();
        return true;
    }
    return false;  // DefWindowProcA
}

void TTrayIcon::HandleRightClick(POINT pt) {
    if (popupMenu_) {
        // Without the foreground, the menu would not close when the user
        // clicks elsewhere (TrackPopupMenu quirk for notification icons).
        if (fw::Application) {
            SetForegroundWindow(fw::Application->Handle());
            fw::Application->ProcessMessages();
        }
        // The menu may have gone while messages were dispatched.
        if (popupMenu_) popupMenu_->Popup(pt.x, pt.y);
    }
    if (OnRightClick) OnRightClick(this, TMouseButton::mbRight, TShiftState{}, pt.x, pt.y);
}

void TTrayIcon::AfterLoad() {
    fw::TComponent::AfterLoad();
    SetShowApp(showApp_);
}

}  // namespace desktop
