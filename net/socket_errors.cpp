#include "net/socket_errors.h"

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

}  // namespace net
