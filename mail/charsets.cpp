#include "mail/charsets.h"

#include <windows.h>

#include <climits>

#include "mail/header_text.h"

namespace mail {

namespace {
bool toUtf16(UINT codePage, std::string_view bytes, std::u16string& out) {
    out.clear();
    if (bytes.empty()) return true;
    if (bytes.size() > static_cast<std::size_t>(INT_MAX / 2)) return false;
    const int size = static_cast<int>(bytes.size());
    // Invalid bytes fail the call rather than turning into U+FFFD. Some code
    // pages (the ISO 2022 ones, UTF-7) refuse that flag with
    // ERROR_INVALID_FLAGS: those are converted without it.
    DWORD flags = MB_ERR_INVALID_CHARS;
    int n = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        n = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    }
    if (n <= 0) return false;
    out.resize(static_cast<std::size_t>(n));
    return MultiByteToWideChar(codePage, flags, bytes.data(), size, reinterpret_cast<LPWSTR>(out.data()), n) == n;
}
}  // namespace

bool ConvertCharset(std::string_view charset, std::string_view bytes, std::u16string& out) {
    if (charset.empty()) return toUtf16(CP_UTF8, bytes, out) || toUtf16(CP_ACP, bytes, out);
    const UINT codePage = CodePageOfCharset(charset);
    if (codePage != 0 && IsValidCodePage(codePage)) return toUtf16(codePage, bytes, out);
    // Some systems (Wine 8) have none of the ISO-2022-JP code pages
    // 50220-50222, but EUC-JP's (20932) holds the same characters.
    std::string euc;
    return codePage == 50220 && IsValidCodePage(20932) && Iso2022JpToEucJp(bytes, euc) && toUtf16(20932, euc, out);
}

}  // namespace mail
