#include "net/qvtypes.h"

#include "framework/application.h"
#include "framework/handles.h"

namespace net {

bool FindCatalogueText(unsigned id, std::string& text) {
    text.clear();
    char buffer[512];
    // LoadStringA returns 0 for a missing string; none of ours is empty.
    int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    if (n <= 0) return false;
    text.assign(buffer, static_cast<std::size_t>(n));
    return true;
}

std::string CatalogueText(unsigned id) {
    std::string text;
    FindCatalogueText(id, text);
    return text;
}

ECanceledError::ECanceledError() : Exception(CatalogueText(sCanceled)) {}
ETimedOutError::ETimedOutError() : Exception(CatalogueText(sTimedOut)) {}

std::string RASErrorText(std::uint32_t code) {
    const std::string fallback = "RAS error no " + fw::IntToStr(code);
    fw::UniqueModule lib(LoadLibraryA("rasapi32.dll"));
    if (!lib) return fallback;
    using GetErrorString = DWORD(WINAPI*)(UINT, LPSTR, DWORD);
    auto fn = reinterpret_cast<GetErrorString>(GetProcAddress(lib.get(), "RasGetErrorStringA"));
    std::string text = fallback;
    if (fn) {
        char buffer[256] = {};
        if (fn(code, buffer, sizeof buffer) == 0) {
            // A text that fills the buffer need not end in a zero byte.
            buffer[sizeof buffer - 1] = '\0';
            if (buffer[0]) text = buffer;
        }
    }
    return text;
}

ERASError::ERASError(std::uint32_t code) : Exception(RASErrorText(code)) {}

TTimeCounter::TTimeCounter() : Timer(std::make_unique<fw::TTimer>(nullptr)) {
    Timer->SetEnabled(false);
    Timer->SetInterval(1000);
    Timer->SetOnTimer([this](fw::TObject* sender) { Tick(sender); });
}

TTimeCounter::~TTimeCounter() = default;

void TTimeCounter::Start() {
    Remaining = TimeOut;
    if (paused_) {
        paused_ = false;
        resumed_ = true;
        resumedAt_ = GetTickCount64();
        return;
    }
    Timer->SetEnabled(true);
}

void TTimeCounter::Stop() {
    paused_ = false;
    resumed_ = false;
    Timer->SetEnabled(false);
    Timer->SetInterval(1000);
}

void TTimeCounter::Pause() {
    if (Timer->Enabled()) paused_ = true;
}

void TTimeCounter::Tick(fw::TObject*) {
    if (paused_) {
        Stop();
        return;
    }
    if (resumed_) {
        // This period began before the Start: wait out the rest of a whole
        // second from the Start, then tick once a second again.
        const ULONGLONG since = GetTickCount64() - resumedAt_;
        if (since < 990) {
            Timer->SetInterval(static_cast<unsigned>(1000 - since));
            return;
        }
        resumed_ = false;
        Timer->SetInterval(1000);
    }
    --Remaining;
    if (Remaining <= 0) Expired = true;
}

namespace {
ULONGLONG lastDispatch = 0;
}

void DispatchPendingEvery(DWORD intervalMs) {
    if (GetTickCount64() - lastDispatch >= intervalMs) DispatchPending();
}

void DispatchPending() {
    lastDispatch = GetTickCount64();
    if (fw::Application) {
        fw::Application->ProcessMessages();
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

void WaitForInput(DWORD maxMs) {
    MsgWaitForMultipleObjectsEx(0, nullptr, maxMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace net
