#include "tests/support/user_state.h"

#include <cstdlib>

#include "tests/support/screenshot.h"

namespace testsupport {

bool InThrowawayPrefix() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const char* prefix = std::getenv("WINEPREFIX");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") && prefix && *prefix;
}

std::string StoredText(const char* key, const char* name) {
    char data[1024] = {};
    DWORD type = 0, size = sizeof data - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
        return "(missing)";
    return type == REG_SZ ? std::string(data) : "(type " + std::to_string(type) + ")";
}

void StoreText(const char* key, const char* name, const std::string& text) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool SaveWindowShot(HWND window, const std::string& file) {
    RECT r;
    GetWindowRect(window, &r);
    return SaveBitmap(ArtifactPath(file), r.right - r.left, r.bottom - r.top, [&](HDC mem) {
        HDC screen = GetDC(nullptr);
        const BOOL ok = BitBlt(mem, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
        return ok != FALSE;
    });
}

}  // namespace testsupport
