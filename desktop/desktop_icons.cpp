#include "desktop/desktop_icons.h"

#include <cstring>
#include <string>

#include "framework/sysutils.h"

namespace desktop {

namespace {
// Only the first 24 characters of a title are read: a longer title can never
// equal the 15-character target, so there is no need to read more.
constexpr int kTitleBuffer = 26;
constexpr int kTitleCount = 25;

std::string titleOf(HWND window) {
    char buffer[kTitleBuffer] = {};
    // GetWindowTextA leaves the buffer untouched for some failures; it was
    // zeroed above so a failed read is an empty title.
    GetWindowTextA(window, buffer, kTitleCount);
    return std::string(buffer, strnlen(buffer, kTitleBuffer));
}
}  // namespace

HWND FindProgramManager() {
    // GW_CHILD of the desktop is the top-most top-level window; its GW_HWNDLAST
    // sibling is the bottom-most one. Walking up from there makes the lowest
    // match win, where the shell keeps its desktop window.
    HWND candidate = GetWindow(GetWindow(GetDesktopWindow(), GW_CHILD), GW_HWNDLAST);
    while (candidate) {
        if (fw::UpperCaseAscii(titleOf(candidate)) == "PROGRAM MANAGER") return candidate;
        candidate = GetWindow(candidate, GW_HWNDPREV);
    }
    return nullptr;
}

bool HideDesktopIcons(bool hide) {
    HWND window = FindProgramManager();
    if (!window) return false;
    ShowWindow(window, hide ? SW_HIDE : SW_SHOW);
    return true;
}

}  // namespace desktop
