#include "framework/forms.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "framework/application.h"
#include "framework/sysutils.h"
#include "framework/window.h"

namespace fw {

namespace {
const char* const kFormClass = "TidemarkForm";
const char* const kPanelClass = "TidemarkPanel";
constexpr UINT CM_RELEASE = WM_APP + 100;

const char* const kBevelClass = "TidemarkBevel";

// Panels and bevels hold controls. Their notifications and colour requests
// go to the form, as if the controls were the form's own; the dialog colour
// fills them, then their edge is drawn.
template <bool Etched>
LRESULT CALLBACK containerWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX: return SendMessageA(GetAncestor(hwnd, GA_ROOT), msg, wp, lp);
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT r;
            GetClientRect(hwnd, &r);
            FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
            if (Etched) {
                DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
            } else {
                DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
                InflateRect(&r, -1, -1);
                DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

void registerClasses() {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSA wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    RegisterWindowClass(wc);
    wc.lpfnWndProc = containerWndProc<false>;
    wc.lpszClassName = kPanelClass;
    RegisterWindowClass(wc);
    wc.lpfnWndProc = containerWndProc<true>;
    wc.lpszClassName = kBevelClass;
    RegisterWindowClass(wc);
}

// Entry points of user32 that older systems lack, looked up by name.
template <typename Fn>
Fn user32Entry(const char* name) {
    return reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleA("user32.dll"), name));
}

RECT scaled(const RECT& design, UINT dpi) {
    return {ScaleToDpi(design.left, dpi), ScaleToDpi(design.top, dpi), ScaleToDpi(design.right, dpi),
            ScaleToDpi(design.bottom, dpi)};
}

// The window rectangle for a client rectangle, with the frame at `dpi`.
void adjustWindowRect(RECT& r, DWORD style, DWORD ex, UINT dpi) {
    using Fn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto forDpi = user32Entry<Fn>("AdjustWindowRectExForDpi");
    if (!forDpi || !forDpi(&r, style, FALSE, ex, dpi)) AdjustWindowRectEx(&r, style, FALSE, ex);
}

std::string windowText(HWND h) {
    int n = GetWindowTextLengthA(h);
    std::string s(static_cast<std::size_t>(n) + 1, '\0');
    n = GetWindowTextA(h, s.data(), n + 1);
    s.resize(static_cast<std::size_t>(std::max(n, 0)));
    return s;
}
}  // namespace

UINT SystemDpi() {
    // GetDpiForSystem came with Windows 10; before it the screen's device
    // caps tell the same.
    using Fn = UINT(WINAPI*)();
    static const auto forSystem = user32Entry<Fn>("GetDpiForSystem");
    if (forSystem) return forSystem();
    const int dpi = GetDeviceCaps(WindowDC(nullptr).get(), LOGPIXELSY);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT WindowDpi(HWND window) {
    using Fn = UINT(WINAPI*)(HWND);
    static const auto forWindow = user32Entry<Fn>("GetDpiForWindow");
    const UINT dpi = forWindow && window ? forWindow(window) : 0;
    return dpi ? dpi : SystemDpi();
}

int ScaleToDpi(int designPixels, UINT dpi) { return MulDiv(designPixels, static_cast<int>(dpi), 96); }

UniqueFont MakeDialogFont(UINT dpi) {
    return UniqueFont(CreateFontA(-ScaleToDpi(11, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                  "MS Sans Serif"));
}

HFONT DefaultFont() {
    static const UniqueFont font = MakeDialogFont(SystemDpi());
    return font.get();
}

namespace {
template <typename Measure>
void withFont(HWND window, HFONT font, Measure measure) {
    WindowDC dc(window);
    SelectedObject selected(dc.get(), font);
    measure(dc.get());
}

SIZE extentIn(HWND window, HFONT font, const std::string& text) {
    SIZE sz{0, 0};
    withFont(window, font,
             [&](HDC dc) { GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &sz); });
    return sz;
}

HFONT fontOf(HWND window) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    return font ? font : DefaultFont();
}
}  // namespace

SIZE TextExtent(const std::string& text) { return extentIn(nullptr, DefaultFont(), text); }

SIZE TextExtent(HWND window, const std::string& text) { return extentIn(window, fontOf(window), text); }

int LineHeight(HWND window) {
    TEXTMETRICA tm{};
    withFont(window, fontOf(window), [&](HDC dc) { GetTextMetricsA(dc, &tm); });
    return tm.tmHeight;
}

// ---- TForm ----

TForm::TForm(TComponent* owner, const TFormDesc& d) : TComponent(owner) {
    registerClasses();
    DWORD style = WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    DWORD ex = 0;
    switch (d.BorderStyle) {
        case TBorderStyle::bsSingle:
            style |= WS_CAPTION | WS_SYSMENU | WS_BORDER | (d.MinimizeBox ? WS_MINIMIZEBOX : 0);
            break;
        case TBorderStyle::bsDialog:
            style |= WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
            ex |= WS_EX_DLGMODALFRAME;
            break;
        case TBorderStyle::bsNone: style |= WS_POPUP; break;
    }
    if (d.StayOnTop) ex |= WS_EX_TOPMOST;
    dpi_ = SystemDpi();
    font_ = MakeDialogFont(dpi_);
    RECT r{0, 0, Scale(d.ClientWidth), Scale(d.ClientHeight)};
    adjustWindowRect(r, style, ex, dpi_);
    int w = r.right - r.left, h = r.bottom - r.top;
    int x = d.Left, y = d.Top;
    centred_ = d.Position == TPosition::poScreenCenter;
    if (centred_) {
        x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
        y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    }
    HWND owner_wnd = Application ? Application->Handle() : nullptr;
    HWND hwnd = CreateWindowExA(ex, kFormClass, d.Caption.c_str(), style, x, y, w, h, owner_wnd, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    if (!hwnd) throw Exception("Error creating window");
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TForm::WndProc));
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
    SetPropA(hwnd, kDialogKeysProperty, reinterpret_cast<HANDLE>(1));
    hwnd_.reset(hwnd);
    if (Application) Application->RegisterForm(this);
    // Made on a monitor whose DPI is not the system's: sized for that one.
    if (const UINT actual = WindowDpi(hwnd); actual != dpi_) {
        GetWindowRect(hwnd, &r);
        r.right = r.left + MulDiv(w, static_cast<int>(actual), static_cast<int>(dpi_));
        r.bottom = r.top + MulDiv(h, static_cast<int>(actual), static_cast<int>(dpi_));
        ChangeDpi(actual, r);
    }
}

TForm::~TForm() {
    if (Application) Application->UnregisterForm(this);
    DestroyComponents();
    if (hwnd_) {
        SetWindowLongPtrA(hwnd_.get(), GWLP_USERDATA, 0);
        RemovePropA(hwnd_.get(), kDialogKeysProperty);
    }
}

void TForm::DoCreate() {
    LayoutControls();
    if (centred_)
        SetWindowPos(Handle(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - Width()) / 2,
                     (GetSystemMetrics(SM_CYSCREEN) - Height()) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyTabOrder();
    if (OnCreate) OnCreate(this);
}

void TForm::LayoutControls() {
    for (TControl* c : controls_) {
        const RECT r = scaled(c->DesignBounds, dpi_);
        SIZE size{r.right - r.left, r.bottom - r.top};
        if (c->AutoSize) {
            const SIZE text = c->TextSize();
            size = {text.cx + Scale(2), std::max<int>(Scale(13), LineHeight(c->Handle()))};
        }
        c->SetBounds(r.left, r.top, size.cx, size.cy);
    }
}

void TForm::ChangeDpi(UINT dpi, const RECT& windowRect) {
    dpi_ = dpi;
    // The old font is deleted on return, once no control draws with it.
    UniqueFont old = std::exchange(font_, MakeDialogFont(dpi));
    SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
    for (TControl* c : controls_) SendMessageA(c->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
    SetWindowPos(Handle(), nullptr, windowRect.left, windowRect.top, windowRect.right - windowRect.left,
                 windowRect.bottom - windowRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutControls();
    RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

std::string TForm::Caption() const { return windowText(Handle()); }
void TForm::SetCaption(const std::string& text) { SetWindowTextA(Handle(), text.c_str()); }

void TForm::Show() {
    visible_ = true;
    ShowWindow(Handle(), SW_SHOW);
    if (ActiveControl && ActiveControl->Visible()) SetFocus(ActiveControl->Handle());
    try {
        if (OnShow) OnShow(this);
    } catch (...) {
        // The form's show handling reports the failure; the form stays shown.
        HandleCallbackException();
    }
}

void TForm::Hide() {
    visible_ = false;
    ShowWindow(Handle(), SW_HIDE);
}

int TForm::ShowModal() {
    if (visible_ || modal_) throw EInvalidOperation("Cannot make a visible window modal");
    TModalScope counted;
    modal_ = true;
    ModalResult = mrNone;
    Show();
    bool quit = false;
    do {
        Application->HandleMessage();
        if (Application->Terminated()) {
            ModalResult = mrCancel;
            quit = true;
        } else if (ModalResult != mrNone) {
            closeModal();
        }
    } while (ModalResult == mrNone);
    int result = ModalResult;
    Hide();
    modal_ = false;
    // A WM_QUIT seen in this nested loop goes on to the outer loop.
    if (quit) PostQuitMessage(0);
    return result;
}

void TForm::closeModal() {
    TCloseAction action = TCloseAction::caHide;
    if (OnClose) OnClose(this, action);
    if (action == TCloseAction::caNone)
        ModalResult = mrNone;
    else if (action == TCloseAction::caFree)
        Release();
}

void TForm::Close() {
    if (modal_) {
        ModalResult = mrCancel;
        return;
    }
    TCloseAction action = TCloseAction::caHide;
    if (OnClose) OnClose(this, action);
    if (action == TCloseAction::caNone) return;
    if (Application && Application->MainForm() == this)
        Application->Terminate();
    else if (action == TCloseAction::caHide)
        Hide();
    else
        Release();
}

void TForm::BringToFront() {
    if (IsIconic(Handle())) ShowWindow(Handle(), SW_RESTORE);
    SetForegroundWindow(Handle());
    BringWindowToTop(Handle());
}

void TForm::Release() { PostMessageA(Handle(), CM_RELEASE, 0, 0); }

int TForm::Left() const {
    RECT r;
    GetWindowRect(Handle(), &r);
    return r.left;
}
int TForm::Top() const {
    RECT r;
    GetWindowRect(Handle(), &r);
    return r.top;
}
int TForm::Width() const {
    RECT r;
    GetWindowRect(Handle(), &r);
    return r.right - r.left;
}
int TForm::Height() const {
    RECT r;
    GetWindowRect(Handle(), &r);
    return r.bottom - r.top;
}
int TForm::ClientHeight() const {
    RECT r;
    GetClientRect(Handle(), &r);
    return r.bottom;
}
int TForm::ClientWidth() const {
    RECT r;
    GetClientRect(Handle(), &r);
    return r.right;
}
void TForm::SetClientSize(int width, int height) {
    SetWindowPos(Handle(), nullptr, 0, 0, Width() - ClientWidth() + width, Height() - ClientHeight() + height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
void TForm::SetLeft(int v) {
    SetWindowPos(Handle(), nullptr, v, Top(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
void TForm::SetHeight(int v) {
    SetWindowPos(Handle(), nullptr, 0, 0, Width(), v, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
void TForm::SetClientHeight(int v) { SetHeight(Height() - ClientHeight() + v); }

void TForm::RemoveControl(TControl* c) {
    controls_.erase(std::remove(controls_.begin(), controls_.end(), c), controls_.end());
}

TControl* TForm::ControlById(int id) const {
    for (TControl* c : controls_)
        if (c->Id() == id) return c;
    return nullptr;
}

void TForm::ApplyTabOrder() {
    std::vector<TControl*> ordered;
    for (TControl* c : controls_)
        if (c->TabOrder >= 0) ordered.push_back(c);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](TControl* a, TControl* b) { return a->TabOrder < b->TabOrder; });
    // The dialog keys follow the z-order of each parent's children, and go
    // into a WS_EX_CONTROLPARENT child where it lies: order siblings only.
    std::vector<std::pair<HWND, HWND>> lastOfParent;
    for (TControl* c : ordered) {
        const HWND parent = GetParent(c->Handle());
        auto last = std::find_if(lastOfParent.begin(), lastOfParent.end(), [&](auto& p) { return p.first == parent; });
        if (last == lastOfParent.end()) last = lastOfParent.insert(lastOfParent.end(), {parent, HWND_TOP});
        SetWindowLongPtrA(c->Handle(), GWL_STYLE, GetWindowLongPtrA(c->Handle(), GWL_STYLE) | WS_TABSTOP);
        // A label takes no tab stop: the dialog keys pass over it to its control.
        for (TControl* w : {c->Label, c}) {
            if (!w || GetParent(w->Handle()) != parent) continue;
            SetWindowPos(w->Handle(), last->second, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            last->second = w->Handle();
        }
    }
}

LRESULT CALLBACK TForm::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wp, lp);
    try {
        return self->handleMessage(msg, wp, lp);
    } catch (...) {
        HandleCallbackException();
        return 0;
    }
}

LRESULT TForm::handleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    HWND hwnd = Handle();
    switch (msg) {
        case CM_RELEASE: delete this; return 0;
        case WM_CLOSE: Close(); return 0;
        case WM_DPICHANGED:
            // Sent to per-monitor aware windows moved to a monitor of another
            // DPI, with the window rectangle the system suggests there.
            ChangeDpi(LOWORD(wp), *reinterpret_cast<const RECT*>(lp));
            return 0;
        case DM_GETDEFID:
            for (TControl* c : controls_)
                if (auto* b = dynamic_cast<TButton*>(c); b && b->Default && b->Visible())
                    return MAKELRESULT(b->Id(), DC_HASDEFID);
            return 0;
        case WM_COMMAND: {
            WORD id = LOWORD(wp), code = HIWORD(wp);
            if (TControl* c = ControlById(id)) {
                c->Command(code);
                return 0;
            }
            // Enter and Esc from the dialog keys: the default and cancel buttons.
            if (id == IDOK || id == IDCANCEL) {
                for (TControl* c : controls_) {
                    auto* b = dynamic_cast<TButton*>(c);
                    if (b && b->Visible() && ((id == IDOK && b->Default) || (id == IDCANCEL && b->Cancel))) {
                        b->Click();
                        break;
                    }
                }
                return 0;
            }
            break;
        }
    }
    if (LRESULT result = 0; HandleFormMessage(msg, wp, lp, result)) return result;
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// ---- controls ----

TControl::TControl(TForm* form, TControl* parent, const char* className, const std::string& text, DWORD style,
                   DWORD exStyle, int left, int top, int width, int height)
    : TComponent(form), DesignBounds{left, top, left + width, top + height}, form_(form), id_(form->NextControlId()) {
    registerClasses();
    HWND parentWnd = parent ? parent->Handle() : form->Handle();
    const RECT r = scaled(DesignBounds, form->Dpi());
    HWND h = CreateWindowExA(exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                             r.right - r.left, r.bottom - r.top, parentWnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)), GetModuleHandleA(nullptr), nullptr);
    if (!h) throw Exception(std::string("Error creating control of class ") + className);
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(form->Font()), FALSE);
    hwnd_.reset(h);
    form->AddControl(this);
}

TControl::~TControl() {
    if (form_) form_->RemoveControl(this);
}

std::string TControl::Caption() const { return windowText(Handle()); }
void TControl::SetCaption(const std::string& text) { SetWindowTextA(Handle(), text.c_str()); }
bool TControl::Visible() const { return (GetWindowLongPtrA(Handle(), GWL_STYLE) & WS_VISIBLE) != 0; }
void TControl::SetVisible(bool v) { ShowWindow(Handle(), v ? SW_SHOW : SW_HIDE); }

RECT TControl::BoundsRect() const {
    RECT r;
    GetWindowRect(Handle(), &r);
    MapWindowPoints(nullptr, GetParent(Handle()), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void TControl::SetBounds(int left, int top, int width, int height) {
    SetWindowPos(Handle(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE TControl::TextSize() const { return TextExtent(Handle(), Caption()); }

void TControl::Command(WORD code) {
    if (code == BN_CLICKED && OnClick) OnClick(this);
}

TLabel::TLabel(TForm* form, TControl* parent, const std::string& caption, int left, int top, int width, int height)
    : TControl(form, parent, "STATIC", caption, SS_LEFT | SS_NOPREFIX, 0, left, top, width, height) {
    AutoSize = width == 0;
    if (AutoSize) {
        const RECT r = BoundsRect();
        SetBounds(r.left, r.top, TextSize().cx + form->Scale(2), std::max<int>(form->Scale(13), LineHeight(Handle())));
    }
}

TEdit::TEdit(TForm* form, TControl* parent, const std::string& text, int left, int top, int width, int height,
             bool password)
    : TControl(form, parent, "EDIT", text, ES_AUTOHSCROLL | (password ? ES_PASSWORD : 0), WS_EX_CLIENTEDGE, left, top,
               width, height) {
    // Bullets rather than the older controls' asterisks: 0x95 is the bullet
    // of the Windows ANSI code pages, which the control shows as U+2022.
    if (password) SendMessageA(Handle(), EM_SETPASSWORDCHAR, 0x95, 0);
}

TButton::TButton(TForm* form, TControl* parent, const std::string& caption, int left, int top, int width, int height,
                 int modalResult)
    : TControl(form, parent, "BUTTON", caption, BS_PUSHBUTTON, 0, left, top, width, height), ModalResult(modalResult) {}

void TButton::Click() {
    if (ModalResult != mrNone) form_->ModalResult = ModalResult;
    if (OnClick) OnClick(this);
}

void TButton::Command(WORD code) {
    if (code == BN_CLICKED) Click();
}

TCheckBox::TCheckBox(TForm* form, TControl* parent, const std::string& caption, int left, int top, int width,
                     int height)
    : TControl(form, parent, "BUTTON", caption, BS_AUTOCHECKBOX, 0, left, top, width, height) {}
bool TCheckBox::Checked() const { return SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }
void TCheckBox::SetChecked(bool v) { SendMessageA(Handle(), BM_SETCHECK, v ? BST_CHECKED : BST_UNCHECKED, 0); }

TUpDown::TUpDown(TForm* form, TControl* parent, TControl* associate, int left, int top, int width, int height, int min,
                 int max, int position, bool thousands)
    : TControl(form, parent, UPDOWN_CLASSA, "", UDS_SETBUDDYINT | UDS_ARROWKEYS | (thousands ? 0 : UDS_NOTHOUSANDS), 0,
               left, top, width, height) {
    SendMessageA(Handle(), UDM_SETBUDDY, reinterpret_cast<WPARAM>(associate->Handle()), 0);
    SendMessageA(Handle(), UDM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
    SendMessageA(Handle(), UDM_SETPOS32, 0, static_cast<LPARAM>(position));
}
int TUpDown::Position() const { return static_cast<int>(SendMessageA(Handle(), UDM_GETPOS32, 0, 0)); }
void TUpDown::SetPosition(int v) { SendMessageA(Handle(), UDM_SETPOS32, 0, static_cast<LPARAM>(v)); }

TComboBox::TComboBox(TForm* form, TControl* parent, const std::vector<std::string>& items, int left, int top, int width,
                     int height)
    : TControl(form, parent, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL, 0, left, top, width, height) {
    for (const std::string& item : items)
        SendMessageA(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}
int TComboBox::ItemIndex() const { return static_cast<int>(SendMessageA(Handle(), CB_GETCURSEL, 0, 0)); }
void TComboBox::SetItemIndex(int index) { SendMessageA(Handle(), CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
void TComboBox::Command(WORD code) {
    if (code == CBN_SELCHANGE && OnChange) OnChange(this);
}

TListBox::TListBox(TForm* form, TControl* parent, int left, int top, int width, int height)
    : TControl(form, parent, "LISTBOX", "", LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT | WS_VSCROLL,
               WS_EX_CLIENTEDGE, left, top, width, height) {}
void TListBox::Clear() { SendMessageA(Handle(), LB_RESETCONTENT, 0, 0); }
void TListBox::Add(const std::string& line) {
    SendMessageA(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}
int TListBox::Count() const { return static_cast<int>(SendMessageA(Handle(), LB_GETCOUNT, 0, 0)); }
int TListBox::ItemIndex() const { return static_cast<int>(SendMessageA(Handle(), LB_GETCURSEL, 0, 0)); }
void TListBox::SetItemIndex(int index) { SendMessageA(Handle(), LB_SETCURSEL, static_cast<WPARAM>(index), 0); }
void TListBox::Command(WORD code) {
    if (code == LBN_DBLCLK && OnDblClick) OnDblClick(this);
}

TBevel::TBevel(TForm* form, TControl* parent, int left, int top, int width, int height)
    : TControl(form, parent, kBevelClass, "", WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT, left, top, width, height) {}

TPanel::TPanel(TForm* form, TControl* parent, int left, int top, int width, int height)
    : TControl(form, parent, kPanelClass, "", WS_CLIPSIBLINGS, 0, left, top, width, height) {}

TImage::TImage(TForm* form, TControl* parent, const char* bitmapResource, int left, int top, int width, int height)
    : TControl(form, parent, "STATIC", "", SS_BITMAP | SS_NOTIFY | SS_REALSIZECONTROL, 0, left, top, width, height) {
    bitmap_.reset(static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), bitmapResource, IMAGE_BITMAP, 0, 0, 0)));
    if (bitmap_) SendMessageA(Handle(), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap_.get()));
}

void TImage::Command(WORD code) {
    if (code == STN_CLICKED && OnClick) OnClick(this);
    if (code == STN_DBLCLK && OnDblClick) OnDblClick(this);
}

std::tuple<TBevel*, TButton*, TButton*> AddDialogFrame(TForm* form) {
    auto* frame = new TBevel(form, nullptr, 0, 0, 0, 0);
    auto* ok = new TButton(form, nullptr, "OK", 0, 0, 0, 0, mrOk);
    ok->Default = true;
    ok->TabOrder = 0;
    auto* cancel = new TButton(form, nullptr, "Cancel", 0, 0, 0, 0, mrCancel);
    cancel->Cancel = true;
    cancel->TabOrder = 1;
    return {frame, ok, cancel};
}

}  // namespace fw
