#pragma once
// Forms and their controls, built from an in-code description (pixel
// positions), shown, shown modally, and closed with a close action.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/handles.h"

namespace fw {

enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2 };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
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

// The font of every form and control: "MS Sans Serif", height -11.
HFONT DefaultFont();
// The size of a text drawn in that font.
SIZE TextExtent(const std::string& text);

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

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TCloseEvent OnClose;

    // Runs OnCreate: a form class calls it as the last step of its constructor.
    void DoCreate();

    // Control plumbing.
    int NextControlId() { return nextId_++; }
    void AddControl(TControl* c) { controls_.push_back(c); }
    void RemoveControl(TControl* c);
    TControl* ControlById(int id) const;
    // Puts the controls into tab order (lowest TabOrder first).
    void ApplyTabOrder();

private:
    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT handleMessage(UINT msg, WPARAM wp, LPARAM lp);
    void closeModal();
    UniqueWindow hwnd_;
    std::vector<TControl*> controls_;
    int nextId_ = 100;
    bool visible_ = false;
    bool modal_ = false;
};

// Base of the child controls: a child window of a form or panel.
class TControl : public TComponent {
public:
    TControl(TForm* form, TControl* parent, const char* className, const std::string& text, DWORD style,
             DWORD exStyle, int left, int top, int width, int height);
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

    int TabOrder = -1;
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
    TEdit(TForm* form, TControl* parent, const std::string& text, int left, int top, int width, int height);
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

class TUpDown : public TControl {
public:
    TUpDown(TForm* form, TControl* parent, TControl* associate, int left, int top, int width, int height, int min,
            int max, int position, bool thousands);
    int Position() const;
    void SetPosition(int v);
};

// A lowered frame drawn around a group of controls.
class TBevel : public TControl {
public:
    TBevel(TForm* form, TControl* parent, int left, int top, int width, int height);
};

// A container with an inner raised and outer lowered bevel.
class TPanel : public TControl {
public:
    TPanel(TForm* form, TControl* parent, int left, int top, int width, int height);
};

// A bitmap from the program's resources; clicks and double clicks fire events.
class TImage : public TControl {
public:
    TImage(TForm* form, TControl* parent, const char* bitmapResource, int left, int top, int width, int height);
    ~TImage() override;
    void Command(WORD code) override;
    HBITMAP Bitmap() const { return bitmap_; }

private:
    HBITMAP bitmap_ = nullptr;
};

}  // namespace fw
