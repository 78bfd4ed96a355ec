#include "framework/sysutils.h"

#include <algorithm>

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

std::string Base64Encode(std::string_view bytes, bool urlSafe) {
    const char* digits = urlSafe ? "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
                                 : "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k) {
            if (k <= n)
                out += digits[group >> (18 - 6 * k) & 63];
            else if (!urlSafe)
                out += '=';
        }
    }
    return out;
}

bool Base64Decode(std::string_view text, std::string& bytes) {
    bytes.clear();
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    if (text.size() % 4 == 1) return false;
    std::uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+' || c == '-')
            v = 62;
        else if (c == '/' || c == '_')
            v = 63;
        if (v < 0) return false;
        group = (group << 6 | static_cast<std::uint32_t>(v)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>(group >> bits & 0xFF);
        }
    }
    return true;
}

}  // namespace fw
