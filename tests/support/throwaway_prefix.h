#pragma once
// Tests that install and uninstall Tidemark or change its logon entry change
// the user's own Tidemark wherever they run. They run only under Wine with
// an explicit WINEPREFIX (./test makes a fresh one for every run), and fail
// rather than pass quietly anywhere else.
#include <windows.h>

#include <cstdlib>

namespace testsupport {

inline bool InThrowawayPrefix() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const char* prefix = std::getenv("WINEPREFIX");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") && prefix && *prefix;
}

}  // namespace testsupport

#define TIDEMARK_REQUIRE_THROWAWAY_PREFIX() \
    if (!testsupport::InThrowawayPrefix()) GTEST_FAIL() << "runs only under Wine with WINEPREFIX set"
