#include "framework/application.h"

#include <algorithm>

#include "framework/forms.h"
#include "framework/sysutils.h"
#include "framework/window.h"

namespace fw {

TApplication* Application = nullptr;

namespace {
const char* const kAppClass = "TidemarkApplication";
constexpr UINT CM_AFTERMODAL = WM_APP + 101;

LRESULT CALLBACK appWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == CM_AFTERMODAL && Application && Application->Handle() == hwnd) {
        try {
            Application->RunAfterModal();
        } catch (...) {
            HandleCallbackException();
        }
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}
}  // namespace

TApplication::TApplication() : TComponent(nullptr) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = appWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hIcon = LoadIconA(GetModuleHandleA(nullptr), "MAINICON");
    wc.lpszClassName = kAppClass;
    RegisterWindowClass(wc);
    // A zero-sized popup with a caption: it stands for the program in the
    // taskbar while it is shown, and owns every form so they get no buttons.
    HWND h = CreateWindowExA(0, kAppClass, "", WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                             GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    handle_.reset(h);
    if (!Application) Application = this;
}

TApplication::~TApplication() {
    // Forms go first (newest first, by the component base), while the
    // application window that owns them still exists.
    DestroyComponents();
    if (Application == this) Application = nullptr;
}

void TApplication::Notification(TComponent* component, TOperation operation) {
    if (operation == TOperation::opRemove && component == mainForm_) mainForm_ = nullptr;
}

bool TApplication::processMessage(MSG& msg) {
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        terminated_ = true;
        return true;
    }
    // Tab, Enter and Esc inside a form with controls. IsDialogMessageA acts
    // only on keyboard messages (it dispatches the rest itself), so only those
    // pay for GetAncestor and GetPropA: each is a wineserver round trip under
    // Wine, and a mail check dispatches thousands of socket notifications.
    if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST && msg.hwnd) {
        HWND root = GetAncestor(msg.hwnd, GA_ROOT);
        if (root && GetPropA(root, kDialogKeysProperty) && IsDialogMessageA(root, &msg)) return true;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (processMessage(msg)) {
    }
}

void TApplication::HandleMessage() {
    MSG msg;
    if (!processMessage(msg)) WaitMessage();
}

void TApplication::Run() {
    if (mainForm_) {
        try {
            mainForm_->Show();
        } catch (...) {
            HandleCallbackException();
        }
    }
    while (!terminated_) HandleMessage();
}

void TApplication::Terminate() {
    terminated_ = true;
    PostQuitMessage(0);
}

std::string TApplication::ExceptionText(const std::string& message) {
    // A message that already ends with a full stop gets no second one.
    if (!message.empty() && message.back() == '.') return message;
    return message + ".";
}

void TApplication::EndModal() {
    if (modalCount_ > 0 && --modalCount_ == 0) PostMessageA(Handle(), CM_AFTERMODAL, 0, 0);
}

void TApplication::RunAfterModal() {
    // Another modal window may have opened before this message came.
    if (modalCount_ > 0) return;
    const std::vector<TForm*> forms = forms_;
    for (TForm* form : forms)
        if (FormExists(form)) form->AfterModal();
}

TModalScope::TModalScope() {
    if (Application) Application->BeginModal();
}

TModalScope::~TModalScope() {
    if (Application) Application->EndModal();
}

void TApplication::HandleException(const std::exception& e) {
    ++exceptionCount_;
    // The box runs its own message loop while it is open.
    TModalScope modal;
    std::string text = ExceptionText(e.what());
    if (OnShowException) {
        OnShowException(text, Title);
        return;
    }
    MessageBoxA(Handle(), text.c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
}

bool TApplication::FormExists(const TForm* form) const {
    return std::find(forms_.begin(), forms_.end(), form) != forms_.end();
}

void TApplication::RegisterForm(TForm* form) { forms_.push_back(form); }

void TApplication::UnregisterForm(TForm* form) {
    forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
    if (form == mainForm_) mainForm_ = nullptr;
}

namespace {
// Per thread: each worker's waits keep their own pace.
thread_local ULONGLONG lastDispatch = 0;
}  // namespace

void DispatchPendingEvery(DWORD intervalMs) {
    if (GetTickCount64() - lastDispatch >= intervalMs) DispatchPending();
}

void DispatchPending() {
    lastDispatch = GetTickCount64();
    if (Application && Application->OnOwnThread()) {
        Application->ProcessMessages();
        return;
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave the quit for the outer loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void WaitForInput(DWORD maxMs) { MsgWaitForMultipleObjectsEx(0, nullptr, maxMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE); }

}  // namespace fw
