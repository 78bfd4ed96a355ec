#include "framework/system_error.h"

#include <cstdio>

namespace fw {

std::string SystemErrorText(DWORD code, TErrorCode shown) {
    char buffer[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ')) --n;
    std::string words(buffer, n);
    char number[32];
    std::snprintf(number, sizeof number, code & 0x80000000u ? "0x%08lX" : "%lu", static_cast<unsigned long>(code));
    if (shown == TErrorCode::WhenNoWords) return words.empty() ? std::string("Error ") + number : words;
    if (words.empty()) return std::string("error ") + number;
    if (words.back() == '.') words.pop_back();
    return words + " (error " + number + ")";
}

}  // namespace fw
