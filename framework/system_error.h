#pragma once
// The system's own words for an error code.
#include <windows.h>

#include <string>

namespace fw {

// FormatMessageA's text for `code` (a Win32, Winsock or SSPI code), without
// the line end it comes with; "" when the system has no text for it.
std::string SystemErrorText(DWORD code);

}  // namespace fw
