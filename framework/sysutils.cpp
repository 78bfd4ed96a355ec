#include "framework/sysutils.h"

namespace fw {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool TryStrToInt(const std::string& text, std::int32_t& value) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ') ++i;
    if (i == n) return false;
    std::int64_t acc = 0;
    if (text[i] == '$') {
        // Hexadecimal is a bit pattern: "$FFFFFFFF" is -1, as 32-bit code reads it.
        ++i;
        if (i == n) return false;
        for (; i < n; ++i) {
            int d = HexDigitValue(text[i]);
            if (d < 0) return false;
            acc = acc * 16 + d;
            if (acc > 0xFFFFFFFFLL) return false;
        }
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(acc));
        return true;
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == n) return false;
    for (; i < n; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        acc = acc * 10 + (c - '0');
        if (acc > 2147483648LL) return false;
    }
    if (negative) acc = -acc;
    if (acc > 2147483647LL) return false;
    value = static_cast<std::int32_t>(acc);
    return true;
}

std::int32_t StrToInt(const std::string& text) {
    std::int32_t v = 0;
    if (!TryStrToInt(text, v)) throw EConvertError(FormatStr("'%s' is not a valid integer value", text));
    return v;
}

std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback) {
    std::int32_t v = 0;
    return TryStrToInt(text, v) ? v : fallback;
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

std::string FormatStr(const std::string& pattern, const std::string& arg) {
    auto pos = pattern.find("%s");
    if (pos == std::string::npos) return pattern;
    return pattern.substr(0, pos) + arg + pattern.substr(pos + 2);
}

std::string UpperCaseAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

char LowerCaseAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCaseAscii(std::string text) {
    for (char& c : text) c = LowerCaseAscii(c);
    return text;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerCaseAscii(a[i]) != LowerCaseAscii(b[i])) return false;
    return true;
}

bool NextLine(std::string_view& text, std::string_view& line) {
    if (text.empty()) return false;
    const std::size_t lf = text.find('\n');
    line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
}

}  // namespace fw
