#pragma once
// The notification-area icon: one icon in the taskbar's notification area,
// its image and tooltip kept current, the shell's mouse and keyboard
// notifications turned into events, and a popup menu at the icon.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/classes.h"
#include "framework/graphics.h"
#include "framework/handles.h"
#include "framework/menus.h"
#include "framework/window.h"

namespace desktop {

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
// Keys and buttons held down with a mouse event; bit per key (none used here).
using TShiftState = unsigned;
using TMouseEvent = std::function<void(fw::TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

// Every Shell_NotifyIconA call goes through here. Tests record the calls
// (the message and a copy of the record) instead of asking the shell.
using ShellNotifySeam = std::function<BOOL(DWORD message, const NOTIFYICONDATAA& data)>;
void SetShellNotifySeam(ShellNotifySeam seam);
// The balloon's Shell_NotifyIconW calls, likewise.
using ShellNotifyWideSeam = std::function<BOOL(DWORD message, const NOTIFYICONDATAW& data)>;
void SetShellNotifyWideSeam(ShellNotifyWideSeam seam);

// The width and height of the picture the notification area shows: the
// small icon size at the system's DPI (16 pixels at 100 %, 24 at 150 %).
// Icons of that size are shown as drawn, not scaled down by the shell.
int TrayIconSize();

class TTrayIcon : public fw::TComponent {
public:
    // The callback message the shell sends for mouse events over the icon,
    // and the message the component posts itself to refresh the tooltip.
    static constexpr UINT WM_TRAYNOTIFY = WM_USER + 1;
    static constexpr UINT WM_TRAYREFRESH = WM_USER + 2;
    static constexpr UINT kNotifyFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    static constexpr std::size_t kMaxToolTip = 127;
    static constexpr std::size_t kMaxBalloonText = sizeof(NOTIFYICONDATAW::szInfo) / sizeof(WCHAR) - 1;
    // The window property that marks the hidden window, so that a test or
    // tool outside the process can find it among the top-level windows.
    static constexpr const char* kWindowProperty = "TidemarkTrayIcon";

    explicit TTrayIcon(fw::TComponent* owner);
    ~TTrayIcon() override;

    bool Active() const { return active_; }
    void SetActive(bool value);
    void SetShowApp(bool value);
    // Shares the source's image (the caller may free its source at once).
    void SetIcon(fw::TIcon* source);
    const std::string& ToolTip() const { return toolTip_; }
    // Keeps at most the first 127 characters.
    void SetToolTip(const std::string& text);
    fw::TPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(fw::TPopupMenu* menu);

    // Shows a notification balloon from the icon: the Unicode record, so any
    // script shows whatever the ANSI code page; the information icon; quiet
    // hours respected. Title and text are cut to the record's 63 and 255
    // characters (never inside a surrogate pair). Nothing is shown while the
    // icon is not active; false then, or when the shell refuses.
    // `icon` is NIIF_INFO, NIIF_WARNING or NIIF_ERROR.
    bool ShowBalloon(const std::u16string& title, const std::u16string& text, DWORD icon = NIIF_INFO);
    // Shown for this long by shells that honour a time-out (Windows Vista
    // and later use the user's accessibility setting instead).
    static constexpr UINT kBalloonTimeout = 10000;
    // Whether the last balloon shown may still wait to be seen: from
    // ShowBalloon until the shell reports it gone (NIN_BALLOONTIMEOUT,
    // NIN_BALLOONHIDE after its NIN_BALLOONSHOW, or NIN_BALLOONUSERCLICK).
    // A shell that has reported no balloon at all (Wine's explorer sends
    // none of these) is taken to be done with one after UnreportedBalloonMs.
    bool BalloonWaiting() const;
    std::uint64_t UnreportedBalloonMs = 30000;

    fw::TNotifyEvent OnClick;
    fw::TNotifyEvent OnDblClick;
    // After the menu has closed; X and Y are where it was shown.
    TMouseEvent OnRightClick;
    fw::TNotifyEvent OnMouseMove;
    // The user clicked the balloon (NIN_BALLOONUSERCLICK).
    fw::TNotifyEvent OnBalloonClick;

    HWND WindowHandle() const { return window_ ? window_->Handle() : nullptr; }
    // The record as last filled (what the shell got, or will get next).
    const NOTIFYICONDATAA& NotifyRecord() const { return record_; }

    void AfterLoad() override;
    void Notification(fw::TComponent* component, fw::TOperation operation) override;

    void FillNotifyRecord();
    bool ShellAdd();
    bool ShellModify();
    bool ShellDelete();
    bool HandleTrayMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void HandleRightClick(POINT at);
    // Whether the shell took NOTIFYICON_VERSION_4 for the icon: it then
    // reports a click or Enter/Space as NIN_SELECT/NIN_KEYSELECT and a right
    // click, the menu key or Shift+F10 as WM_CONTEXTMENU, with the icon's
    // place in wParam.
    bool Version4() const { return version4_; }

private:
    NOTIFYICONDATAA record_{};
    fw::TIcon icon_;
    std::string toolTip_;
    std::unique_ptr<fw::TUtilWindow> window_;
    bool active_ = false;
    bool showApp_ = false;
    fw::TPopupMenu* popupMenu_ = nullptr;
    bool balloonWaiting_ = false;
    // The shell reported the last balloon shown; an end reported before
    // that belongs to one it replaced.
    bool balloonShown_ = false;
    bool shellReportsBalloons_ = false;
    bool version4_ = false;
    // Enter on the icon comes as two NIN_KEYSELECT on some shells.
    std::uint64_t lastKeySelect_ = 0;
    std::uint64_t balloonSince_ = 0;
};

}  // namespace desktop
