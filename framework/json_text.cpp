#include "framework/json_text.h"

#include <cctype>
#include <cstdint>

#include "framework/sysutils.h"

namespace fw {

namespace {

constexpr int kMaxDepth = 32;

class TJsonReader {
public:
    explicit TJsonReader(std::string_view text) : text_(text) {}

    bool Object(std::map<std::string, std::string>* members, int depth) {
        if (depth > kMaxDepth || !take('{')) return false;
        if (take('}')) return true;
        do {
            std::string name, value;
            if (!String(name) || !take(':')) return false;
            bool scalar = false;
            if (!Value(value, scalar, depth)) return false;
            if (members && scalar) (*members)[name] = value;
        } while (take(','));
        return take('}');
    }

    bool AtEnd() {
        blanks();
        return pos_ == text_.size();
    }

private:
    void blanks() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n'))
            ++pos_;
    }
    bool take(char c) {
        blanks();
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    bool word(std::string_view w) {
        if (text_.substr(pos_, w.size()) != w) return false;
        pos_ += w.size();
        return true;
    }
    bool hex4(std::uint32_t& unit) {
        if (pos_ + 4 > text_.size()) return false;
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int v = HexDigitValue(text_[pos_++]);
            if (v < 0) return false;
            unit = unit << 4 | static_cast<std::uint32_t>(v);
        }
        return true;
    }
    static void utf8(std::uint32_t cp, std::string& out) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

public:
    bool String(std::string& out) {
        if (!take('"')) return false;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) return false;
            const char e = text_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/': out += e; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::uint32_t unit = 0;
                    if (!hex4(unit)) return false;
                    // A lone half of a surrogate pair becomes U+FFFD, as a
                    // browser shows it, rather than bytes no UTF-8 reader takes.
                    if (unit >= 0xD800 && unit < 0xDC00 && word("\\u")) {
                        std::uint32_t low = 0;
                        if (!hex4(low)) return false;
                        unit =
                            low >= 0xDC00 && low < 0xE000 ? 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00) : 0xFFFD;
                    } else if (unit >= 0xD800 && unit < 0xE000) {
                        unit = 0xFFFD;
                    }
                    utf8(unit, out);
                    break;
                }
                default: return false;
            }
        }
        return false;
    }

    bool Value(std::string& out, bool& scalar, int depth) {
        blanks();
        if (pos_ >= text_.size()) return false;
        const char c = text_[pos_];
        scalar = c != '{' && c != '[' && c != 'n';
        if (c == '{') return Object(nullptr, depth + 1);
        if (c == '[') {
            if (depth + 1 > kMaxDepth) return false;
            ++pos_;
            if (take(']')) return true;
            do {
                std::string ignored;
                bool s = false;
                if (!Value(ignored, s, depth + 1)) return false;
            } while (take(','));
            return take(']');
        }
        if (c == '"') return String(out);
        if (word("true")) return out = "true", true;
        if (word("false")) return out = "false", true;
        if (word("null")) return true;
        const std::size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        std::size_t digits = 0;
        while (pos_ < text_.size() &&
               (std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.' || text_[pos_] == 'e' ||
                text_[pos_] == 'E' || text_[pos_] == '+' || text_[pos_] == '-'))
            ++pos_, ++digits;
        if (digits == 0) return false;
        out = std::string(text_.substr(start, pos_ - start));
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

bool ReadJsonObject(std::string_view text, std::map<std::string, std::string>& members) {
    members.clear();
    TJsonReader reader(text);
    if (reader.Object(&members, 0) && reader.AtEnd()) return true;
    members.clear();
    return false;
}

}  // namespace fw
