#pragma once
// What the setup program and the logon check box change for the user:
// values under HKEY_CURRENT_USER, and windows as the screen shows them.
#include <windows.h>

#include <string>

namespace testsupport {

// Tests that install Tidemark or change its logon entry would change the
// user's own Tidemark wherever they run: they run only under Wine with an
// explicit WINEPREFIX (./test makes a fresh one for every run).
bool InThrowawayPrefix();
// A REG_SZ value of the current user; "(missing)", or "(type N)" for a value
// of another type.
std::string StoredText(const char* key, const char* name);
void StoreText(const char* key, const char* name, const std::string& text);
// What the screen shows of a window (another program's too), written as a
// BMP into the artifacts folder.
bool SaveWindowShot(HWND window, const std::string& file);

}  // namespace testsupport

#define TIDEMARK_REQUIRE_THROWAWAY_PREFIX() \
    if (!testsupport::InThrowawayPrefix()) GTEST_FAIL() << "runs only under Wine with WINEPREFIX set"
