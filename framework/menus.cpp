#include "framework/menus.h"

#include <algorithm>
#include <memory>

#include "framework/window.h"

namespace fw {

namespace {
std::vector<TMenuItem*>& allItems() {
    static std::vector<TMenuItem*> items;
    return items;
}
UINT nextCommand() {
    static UINT next = TMenuItem::FirstCommand;
    return next++;
}
}  // namespace

HWND TPopupMenu::PopupListWindow() {
    static std::unique_ptr<TUtilWindow> window;
    if (!window) {
        window = std::make_unique<TUtilWindow>(
            [](HWND, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
                if (msg != WM_COMMAND || lp != 0) return false;
                result = 0;
                return DispatchCommand(LOWORD(wp));
            },
            WindowKind::TopLevel);
        SetPropA(window->Handle(), kWindowProperty, reinterpret_cast<HANDLE>(1));
    }
    return window->Handle();
}

bool TPopupMenu::DispatchCommand(UINT command) {
    for (TMenuItem* item : allItems()) {
        if (item->Command() == command) {
            item->Click();
            return true;
        }
    }
    return false;
}

TPopupMenu::TPopupMenu(TComponent* owner) : TComponent(owner), menu_(CreatePopupMenu()) {
    // The window that receives the commands exists as long as any menu does.
    PopupListWindow();
}

TPopupMenu::~TPopupMenu() { DestroyComponents(); }

void TPopupMenu::Popup(int x, int y) {
    if (OnPopup) OnPopup(this);
    TrackPopupMenu(Handle(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, PopupListWindow(), nullptr);
}

TMenuItem::TMenuItem(TPopupMenu* menu, const std::string& caption, TNotifyEvent onClick)
    : TComponent(menu), OnClick(std::move(onClick)), menu_(menu), caption_(caption), command_(nextCommand()) {
    if (caption == "-")
        AppendMenuA(menu->Handle(), MF_SEPARATOR, command_, nullptr);
    else
        AppendMenuA(menu->Handle(), MF_STRING, command_, caption.c_str());
    menu->items_.push_back(this);
    allItems().push_back(this);
}

TMenuItem::~TMenuItem() {
    auto& all = allItems();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    auto& items = menu_->items_;
    items.erase(std::remove(items.begin(), items.end(), this), items.end());
    DeleteMenu(menu_->Handle(), command_, MF_BYCOMMAND);
}

void TMenuItem::SetCaption(const std::string& text) {
    caption_ = text;
    ModifyMenuA(menu_->Handle(), command_, MF_BYCOMMAND | MF_STRING, command_, text.c_str());
}

void TMenuItem::SetEnabled(bool value) {
    enabled_ = value;
    EnableMenuItem(menu_->Handle(), command_, MF_BYCOMMAND | (value ? MF_ENABLED : MF_GRAYED));
}

void TMenuItem::Click() {
    if (OnClick) OnClick(this);
}

}  // namespace fw
