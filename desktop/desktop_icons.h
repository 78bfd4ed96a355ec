#pragma once
// The desktop icon switch: the shell draws every desktop icon in one
// top-level window titled "Program Manager"; hiding that window hides them all.
#include <windows.h>

namespace desktop {

// The bottom-most top-level window whose title, upper-cased, is
// "PROGRAM MANAGER"; null when there is none.
HWND FindProgramManager();

// Hides (hide = true) or shows that window; false when it was not found.
bool HideDesktopIcons(bool hide);

}  // namespace desktop
