#pragma once
// The system's own words for an error code: the one place that asks
// FormatMessage, with the fallback for a code it has no words for.
#include <windows.h>

#include <string>

namespace fw {

// How the code itself is shown beside the words.
enum class TErrorCode {
    // Words only ("Access is denied."); "Error 5" when the system has none.
    WhenNoWords,
    // "Access is denied (error 0x80090304)" with the final full stop dropped
    // (a message goes on after it); "error 0x80090304" alone when the system
    // has no words.
    Always,
};

// FormatMessageA's text for `code` (a Win32, Winsock, SSPI or crypt32 code)
// without the line end it comes with. Codes with the top bit set (HRESULT
// and SECURITY_STATUS values) are shown in hexadecimal, others in decimal.
std::string SystemErrorText(DWORD code, TErrorCode shown = TErrorCode::WhenNoWords);

}  // namespace fw
