#include "mail/header_text.h"

#include <cstdint>

#include "framework/sysutils.h"

namespace mail {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Padding may be left out, as some mailers do; a lone sixth of a byte left
// over, a character outside the alphabet or padding in the middle may not.
bool decodeB(std::string_view in, std::string& out) {
    std::size_t pads = 0;
    while (pads < 2 && !in.empty() && in.back() == '=') {
        in.remove_suffix(1);
        ++pads;
    }
    if (in.size() % 4 == 1 || (pads && (in.size() + pads) % 4 != 0)) return false;
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        const int v = base64Value(c);
        if (v < 0) return false;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return true;
}

bool decodeQ(std::string_view in, std::string& out) {
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=') {
            if (i + 2 >= in.size() || fw::HexDigitValue(in[i + 1]) < 0 || fw::HexDigitValue(in[i + 2]) < 0)
                return false;
            out += static_cast<char>(fw::HexDigitValue(in[i + 1]) * 16 + fw::HexDigitValue(in[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool charsetChar(char c) {
    if (c <= ' ' || c >= 0x7F) return false;
    for (char special : std::string_view("()<>@,;:\"/[]?=\\"))
        if (c == special) return false;
    return true;
}

struct EncodedWord {
    std::size_t end = 0;  // one past the closing "?="
    std::string_view charset;
    std::string bytes;
};

// An encoded word starting at `at` (which holds "=?"), with its payload
// decoded; false when the text there is not a well-formed one.
bool parseEncodedWord(std::string_view text, std::size_t at, EncodedWord& word) {
    const std::size_t q1 = text.find('?', at + 2);
    if (q1 == std::string_view::npos || q1 == at + 2 || q1 + 3 > text.size() || text[q1 + 2] != '?') return false;
    std::string_view charset = text.substr(at + 2, q1 - at - 2);
    for (char c : charset)
        if (!charsetChar(c)) return false;
    // RFC 2231 lets a language follow the charset ("utf-8*en").
    charset = charset.substr(0, charset.find('*'));
    if (charset.empty()) return false;
    const char encoding = fw::LowerCaseAscii(text[q1 + 1]);
    const std::size_t start = q1 + 3;
    const std::size_t q2 = text.find('?', start);
    if (q2 == std::string_view::npos || q2 + 1 >= text.size() || text[q2 + 1] != '=') return false;
    const std::string_view payload = text.substr(start, q2 - start);
    for (char c : payload)
        if (c <= ' ' || c >= 0x7F) return false;
    word.bytes.clear();
    if (encoding == 'b' ? !decodeB(payload, word.bytes) : encoding == 'q' ? !decodeQ(payload, word.bytes) : true)
        return false;
    word.charset = charset;
    word.end = q2 + 2;
    return true;
}

// Unlabelled bytes: the converter's own guess, or one byte per character if
// even that fails, so nothing is ever dropped.
void appendAsWritten(std::u16string& out, std::string_view raw, const TCharsetConverter& convert) {
    if (raw.empty()) return;
    std::u16string converted;
    if (convert && convert(std::string_view(), raw, converted)) {
        out += converted;
        return;
    }
    for (char c : raw) out += static_cast<char16_t>(static_cast<unsigned char>(c));
}

std::u16string withoutControls(std::u16string text) {
    for (char16_t& c : text)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) c = u' ';
    return text;
}

std::uint32_t digitsValue(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return 0;
    std::uint32_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return n <= 65535 ? n : 0;
}

}  // namespace

std::uint32_t CodePageOfCharset(std::string_view charset) {
    std::string name;
    for (char c : charset)
        if (c != '-' && c != '_' && c != ' ') name += fw::LowerCaseAscii(c);
    struct Alias {
        std::string_view name;
        std::uint32_t codePage;
    };
    static constexpr Alias aliases[] = {
        {"utf8", 65001},      {"usascii", 20127},   {"ascii", 20127},     {"latin1", 28591},    {"latin2", 28592},
        {"koi8r", 20866},     {"koi8u", 21866},     {"shiftjis", 932},    {"sjis", 932},        {"xsjis", 932},
        {"windows31j", 932},  {"eucjp", 20932},     {"iso2022jp", 50220}, {"gb2312", 936},      {"gbk", 936},
        {"xgbk", 936},        {"euccn", 936},       {"gb18030", 54936},   {"big5", 950},        {"big5hkscs", 950},
        {"euckr", 949},       {"ksc56011987", 949}, {"iso2022kr", 50225}, {"tis620", 874},      {"iso885911", 874},
        {"iso88598i", 38598}, {"utf7", 65000},      {"macintosh", 10000}, {"xmacroman", 10000}, {"xmaccyrillic", 10007},
    };
    for (const Alias& a : aliases)
        if (name == a.name) return a.codePage;
    const std::string_view n = name;
    // ISO 8859 as the system numbers it: 28591 for ISO-8859-1 ... 28605 for
    // ISO-8859-15 (-10, -12, -14 and -16 it does not have).
    if (n.substr(0, 7) == "iso8859") {
        const std::uint32_t number = digitsValue(n.substr(7));
        if ((number >= 1 && number <= 9) || number == 13 || number == 15) return 28590 + number;
        return 0;
    }
    for (std::string_view prefix : {"windows", "xcp", "cp", "ibm"})
        if (n.substr(0, prefix.size()) == prefix) return digitsValue(n.substr(prefix.size()));
    return 0;
}

bool Iso2022JpToEucJp(std::string_view text, std::string& out) {
    out.clear();
    enum { Ascii, Kana, Double } mode = Ascii;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0x1B) {
            const std::string_view escape = text.substr(i + 1, 2);
            if (escape == "(B" || escape == "(J")
                mode = Ascii;
            else if (escape == "(I")
                mode = Kana;
            else if (escape == "$@" || escape == "$B")
                mode = Double;
            else
                return false;
            i += 2;
        } else if (c >= 0x80 || (mode != Ascii && (c < 0x21 || c > 0x7E))) {
            return false;
        } else if (mode == Ascii) {
            out += static_cast<char>(c);
        } else if (mode == Kana) {
            if (c > 0x5F) return false;
            out += '\x8E';
            out += static_cast<char>(c | 0x80);
        } else {
            const auto second = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
            if (second < 0x21 || second > 0x7E) return false;
            out += static_cast<char>(c | 0x80);
            out += static_cast<char>(second | 0x80);
            ++i;
        }
    }
    return true;
}

std::string HeaderValue(const std::vector<std::string>& lines, std::string_view name) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.size() <= name.size() || line[name.size()] != ':' ||
            !fw::SameTextAscii(std::string_view(line).substr(0, name.size()), name))
            continue;
        std::string value = line.substr(name.size() + 1);
        // Unfolding: the line breaks go, the blanks that began the
        // continuation lines stay.
        while (i + 1 < lines.size() && !lines[i + 1].empty() && isBlank(lines[i + 1][0])) value += lines[++i];
        return std::string(trimBlanks(value));
    }
    return std::string();
}

std::u16string DecodeHeaderText(std::string_view value, const TCharsetConverter& convert) {
    std::u16string out;
    // The pending run: adjacent encoded words in one charset, not yet
    // converted, and where they were written.
    std::string_view runCharset;
    std::string runBytes;
    std::size_t runStart = 0, runEnd = 0;
    bool inRun = false;
    // The blanks between the last run and the pending one go only when both
    // convert: next to a word shown as written they are part of what was
    // written.
    std::string_view gap;
    bool lastRunConverted = false;
    auto flushRun = [&] {
        if (!inRun) return;
        std::u16string converted;
        const bool ok = convert && convert(runCharset, runBytes, converted);
        if (!(ok && lastRunConverted)) appendAsWritten(out, gap, convert);
        if (ok)
            out += converted;
        else
            appendAsWritten(out, value.substr(runStart, runEnd - runStart), convert);
        lastRunConverted = ok;
        gap = std::string_view();
        inRun = false;
        runBytes.clear();
    };

    std::size_t plainStart = 0;  // text not yet written out
    std::size_t scan = 0;
    EncodedWord word;
    while ((scan = value.find("=?", scan)) != std::string_view::npos) {
        if (!parseEncodedWord(value, scan, word)) {
            ++scan;
            continue;
        }
        const std::string_view between = value.substr(plainStart, scan - plainStart);
        const bool adjacent = inRun && trimBlanks(between).empty();
        if (adjacent && fw::SameTextAscii(word.charset, runCharset)) {
            runBytes += word.bytes;
        } else {
            flushRun();
            if (adjacent)
                gap = between;
            else
                appendAsWritten(out, between, convert);
            inRun = true;
            runCharset = word.charset;
            runBytes = word.bytes;
            runStart = scan;
        }
        runEnd = word.end;
        plainStart = scan = word.end;
    }
    flushRun();
    appendAsWritten(out, value.substr(plainStart), convert);
    return out;
}

std::string SenderDisplayText(std::string_view from) {
    std::string phrase, comment, address;
    bool angle = false;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const char c = from[i];
        if (c == '"') {
            for (++i; i < from.size() && from[i] != '"'; ++i) {
                if (from[i] == '\\' && i + 1 < from.size()) ++i;
                phrase += from[i];
            }
        } else if (c == '(') {
            std::string text;
            int depth = 1;
            for (++i; i < from.size(); ++i) {
                if (from[i] == '\\' && i + 1 < from.size()) {
                    text += from[++i];
                    continue;
                }
                if (from[i] == '(') ++depth;
                if (from[i] == ')' && --depth == 0) break;
                text += from[i];
            }
            if (comment.empty()) comment = std::string(trimBlanks(text));
        } else if (c == '<') {
            const std::size_t close = from.find('>', i + 1);
            address = std::string(from.substr(i + 1, close == std::string_view::npos ? from.npos : close - i - 1));
            angle = true;
            break;
        } else if (c == ',') {
            break;  // only the first mailbox of a list
        } else {
            phrase += c;
        }
    }
    // Runs of blanks in the phrase become one.
    std::string name;
    for (char c : trimBlanks(phrase)) {
        if (isBlank(c) && !name.empty() && name.back() == ' ') continue;
        name += isBlank(c) ? ' ' : c;
    }
    if (angle) {
        if (!name.empty()) return name;
        if (!comment.empty()) return comment;
        return std::string(trimBlanks(address));
    }
    // "address (Name)": the phrase is the address itself.
    return comment.empty() ? name : comment;
}

std::u16string DecodedSender(const std::vector<std::string>& lines, const TCharsetConverter& convert) {
    const std::string from = HeaderValue(lines, "From");
    std::u16string name = withoutControls(DecodeHeaderText(SenderDisplayText(from), convert));
    if (name.find_first_not_of(u' ') != std::u16string::npos) return name;
    // A name that decodes to nothing ("", =?utf-8?B??=): the address says
    // at least who wrote.
    const std::size_t open = from.find('<');
    const std::string_view address = open == std::string::npos
                                         ? std::string_view(from).substr(0, from.find_first_of("(,"))
                                         : std::string_view(from).substr(open + 1, from.find('>', open) - open - 1);
    return withoutControls(DecodeHeaderText(trimBlanks(address), convert));
}

std::u16string DecodedSubject(const std::vector<std::string>& lines, const TCharsetConverter& convert) {
    return withoutControls(DecodeHeaderText(HeaderValue(lines, "Subject"), convert));
}

std::u16string DecodedField(const std::vector<std::string>& lines, std::string_view name,
                            const TCharsetConverter& convert) {
    return withoutControls(DecodeHeaderText(HeaderValue(lines, name), convert));
}

}  // namespace mail
