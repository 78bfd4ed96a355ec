#pragma once
// Forms and their controls, built from an in-code description (pixel
// positions at 96 DPI, scaled to the DPI the form is shown at, or rows laid
// out from measured text), shown, shown modally, and closed with a close action.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "framework/classes.h"
#include "framework/handles.h"

namespace fw {

enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2 };
enum class TCloseAction { caNone, caHide, caFree };
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

enum class TBorderStyle { bsSingle, bsDialog, bsNone };
enum class TPosition { poDesigned, poScreenCenter };

struct TFormDesc {
    std::string Caption;
    int Left = 0, Top = 0;
    int ClientWidth = 300, ClientHeight = 200;
    TBorderStyle BorderStyle = TBorderStyle::bsSingle;
    TPosition Position = TPosition::poDesigned;
    bool StayOnTop = false;
    bool MinimizeBox = true;
};

class TForm;
class TControl;

// Forms are designed in pixels at 96 DPI and drawn at the DPI of their
// monitor (the program declares per-monitor DPI awareness in its manifest).
UINT SystemDpi();
// GetDpiForWindow where the system has it, else the system's DPI.
UINT WindowDpi(HWND window);
int ScaleToDpi(int designPixels, UINT dpi);
// The font of every form and control, "MS Sans Serif" 11 pixels high at 96
// DPI, made for `dpi`.
UniqueFont MakeDialogFont(UINT dpi);
// That font at the system DPI, shared.
HFONT DefaultFont();
// The size of a text drawn in that font.
SIZE TextExtent(const std::string& text);
// The size of a text drawn in the font `window` uses (WM_GETFONT).
SIZE TextExtent(HWND window, const std::string& text);
// The height of a line of text (tmHeight) in the font `window` uses.
int LineHeight(HWND window);

class TForm : public TComponent {
public:
    TForm(TComponent* owner, const TFormDesc& desc);
    ~TForm() override;

    HWND Handle() const { return hwnd_.get(); }

    std::string Caption() const;
    void SetCaption(const std::string& text);
    bool Visible() const { return visible_; }
    void Show();
    void Hide();
    // Runs a nested message loop until ModalResult is set; returns it.
    int ShowModal();
    void Close();
    // Brings the form to the front, restored if it was minimised.
    void BringToFront();
    // Runs once the last modal window of the program has closed
    // (TApplication::EndModal).
    virtual void AfterModal() {}
    // A message the form's window gets and the form does not handle itself
    // (WM_POWERBROADCAST, say): true when handled, with `result` set.
    virtual bool HandleFormMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) { return false; }
    // Frees the form once pending messages are processed, outside the
    // handler that asked for it.
    void Release();

    int ModalResult = mrNone;
    bool Modal() const { return modal_; }
    // The control that gets the focus when the form is shown.
    TControl* ActiveControl = nullptr;

    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetLeft(int v);
    void SetHeight(int v);
    void SetClientHeight(int v);
    int ClientHeight() const;
    int ClientWidth() const;
    // In pixels; the window keeps its top-left corner.
    void SetClientSize(int width, int height);

    // The DPI the form is drawn at, its font for that DPI, and a length of
    // the 96-DPI design in pixels at that DPI.
    UINT Dpi() const { return dpi_; }
    HFONT Font() const { return font_.get(); }
    int Scale(int designPixels) const { return ScaleToDpi(designPixels, dpi_); }
    // Places the controls for the current DPI and font: by default each at
    // its design bounds scaled to the DPI. Runs when the form is created
    // (DoCreate) and whenever its DPI changes.
    virtual void LayoutControls();
    // Moves the form to a monitor of another DPI (WM_DPICHANGED): a new
    // font for every control, the window at `windowRect`, a new layout.
    void ChangeDpi(UINT dpi, const RECT& windowRect);

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TCloseEvent OnClose;

    // Runs OnCreate: a form class calls it as the last step of its constructor.
    void DoCreate();

    // Control plumbing.
    int NextControlId() { return nextId_++; }
    void AddControl(TControl* c) { controls_.push_back(c); }
    const std::vector<TControl*>& Controls() const { return controls_; }
    void RemoveControl(TControl* c);
    TControl* ControlById(int id) const;
    // Puts the controls into tab order (lowest TabOrder first).
    void ApplyTabOrder();

private:
    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT handleMessage(UINT msg, WPARAM wp, LPARAM lp);
    void closeModal();
    UniqueWindow hwnd_;
    UniqueFont font_;
    UINT dpi_ = 96;
    std::vector<TControl*> controls_;
    int nextId_ = 100;
    bool visible_ = false;
    bool modal_ = false;
    bool centred_ = false;
};

// Base of the child controls: a child window of a form or panel.
class TControl : public TComponent {
public:
    TControl(TForm* form, TControl* parent, const char* className, const std::string& text, DWORD style, DWORD exStyle,
             int left, int top, int width, int height);
    ~TControl() override;

    HWND Handle() const { return hwnd_.get(); }
    int Id() const { return id_; }
    TForm* Form() const { return form_; }

    std::string Caption() const;
    void SetCaption(const std::string& text);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }
    bool Visible() const;
    void SetVisible(bool v);
    RECT BoundsRect() const;  // relative to its parent
    // In pixels, relative to its parent.
    void SetBounds(int left, int top, int width, int height);
    // The caption's size in the control's own font.
    SIZE TextSize() const;

    // Where the control was placed at 96 DPI; the default layout scales it.
    RECT DesignBounds;
    // Sized to its caption by the layout (a label made without a size).
    bool AutoSize = false;

    int TabOrder = -1;
    // The label that names this control: kept just before it in the
    // z-order, where screen readers look for an unnamed control's name.
    TControl* Label = nullptr;
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    // Handles WM_COMMAND notifications aimed at this control.
    virtual void Command(WORD code);

protected:
    TForm* form_;
    UniqueWindow hwnd_;
    int id_;
};

class TLabel : public TControl {
public:
    // Width and height of 0 size the label to its text.
    TLabel(TForm* form, TControl* parent, const std::string& caption, int left, int top, int width = 0, int height = 0);
};

class TEdit : public TControl {
public:
    // A password edit shows bullets in place of the text (ES_PASSWORD).
    TEdit(TForm* form, TControl* parent, const std::string& text, int left, int top, int width, int height,
          bool password = false);
};

// A drop-down list to choose one of fixed items. `height` includes the open list.
class TComboBox : public TControl {
public:
    TComboBox(TForm* form, TControl* parent, const std::vector<std::string>& items, int left, int top, int width,
              int height);
    // -1 when nothing is chosen.
    int ItemIndex() const;
    // Fires no OnChange, as CB_SETCURSEL sends no CBN_SELCHANGE.
    void SetItemIndex(int index);
    // The user chose another item.
    TNotifyEvent OnChange;
    void Command(WORD code) override;
};

// A list of lines to choose one from; tabs in a line start its columns
// (LBS_USETABSTOPS). A double click fires OnDblClick.
class TListBox : public TControl {
public:
    TListBox(TForm* form, TControl* parent, int left, int top, int width, int height);
    void Clear();
    void Add(const std::string& line);
    int Count() const;
    // -1 when nothing is chosen.
    int ItemIndex() const;
    void SetItemIndex(int index);
    void Command(WORD code) override;
};

class TButton : public TControl {
public:
    TButton(TForm* form, TControl* parent, const std::string& caption, int left, int top, int width, int height,
            int modalResult = mrNone);
    bool Default = false;
    bool Cancel = false;
    int ModalResult;
    void Click();
    void Command(WORD code) override;
};

class TCheckBox : public TControl {
public:
    TCheckBox(TForm* form, TControl* parent, const std::string& caption, int left, int top, int width, int height);
    bool Checked() const;
    void SetChecked(bool v);
};

// A drop-down list of fixed choices.
class TUpDown : public TControl {
public:
    TUpDown(TForm* form, TControl* parent, TControl* associate, int left, int top, int width, int height, int min,
            int max, int position, bool thousands);
    int Position() const;
    void SetPosition(int v);
};

// An etched frame around a group of controls, which are its children: the
// dialog colour fills it, and Tab moves through its controls
// (WS_EX_CONTROLPARENT).
class TBevel : public TControl {
public:
    TBevel(TForm* form, TControl* parent, int left, int top, int width, int height);
};

// A container with an inner raised and outer lowered bevel.
class TPanel : public TControl {
public:
    TPanel(TForm* form, TControl* parent, int left, int top, int width, int height);
};

// A bitmap from the program's resources, stretched to the control's size
// (SS_REALSIZECONTROL) as that scales with the DPI; clicks and double clicks
// fire events.
class TImage : public TControl {
public:
    TImage(TForm* form, TControl* parent, const char* bitmapResource, int left, int top, int width, int height);
    void Command(WORD code) override;

private:
    UniqueBitmap bitmap_;
};

// A dialog's frame and its OK and Cancel buttons (Enter is OK, Escape is
// Cancel, both first in the tab order); the form's LayoutControls places them.
std::tuple<TBevel*, TButton*, TButton*> AddDialogFrame(TForm* form);

}  // namespace fw
