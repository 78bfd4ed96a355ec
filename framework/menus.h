#pragma once
// Popup menus. A chosen item's command reaches the class library's
// popup-list window, which runs the item's OnClick; an exception there goes
// to the application's handler.
#include <windows.h>

#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/handles.h"

namespace fw {

class TPopupMenu;

class TMenuItem : public TComponent {
public:
    TMenuItem(TPopupMenu* menu, const std::string& caption, TNotifyEvent onClick = nullptr);
    ~TMenuItem() override;
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& text);
    UINT Command() const { return command_; }
    // A disabled item is shown greyed and cannot be chosen.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    void Click();
    TNotifyEvent OnClick;
    // Items get command ids in the order they are made, from this one on.
    static constexpr UINT FirstCommand = 100;

private:
    TPopupMenu* menu_;
    std::string caption_;
    UINT command_;
    bool enabled_ = true;
};

class TPopupMenu : public TComponent {
public:
    explicit TPopupMenu(TComponent* owner);
    ~TPopupMenu() override;
    HMENU Handle() const { return menu_.get(); }
    const std::vector<TMenuItem*>& Items() const { return items_; }
    // Shows the menu with its top-left corner at (x, y), tracked with either
    // mouse button; returns once it has closed.
    void Popup(int x, int y);
    // Runs before the menu is shown, so its items can say what is possible now.
    TNotifyEvent OnPopup;

    // The window that receives the menu commands, marked with this property
    // so that a program outside the process (an end-to-end test) finds it.
    static HWND PopupListWindow();
    static constexpr const char* kWindowProperty = "TidemarkPopupList";
    // Runs the item with that command id, if it still exists.
    static bool DispatchCommand(UINT command);

private:
    friend class TMenuItem;
    UniqueMenu menu_;
    std::vector<TMenuItem*> items_;
};

}  // namespace fw
