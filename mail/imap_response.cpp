#include "mail/imap_response.h"

#include <algorithm>
#include <cctype>

namespace mail {

namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::optional<std::uint32_t> number(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

class TReader {
public:
    explicit TReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    bool Take(char c) {
        if (Peek() != c || AtEnd()) return false;
        ++pos_;
        return true;
    }
    void Expect(char c, const char* what) {
        if (!Take(c)) fail(std::string("expected ") + what);
    }
    // Up to the next blank (or the end).
    std::string_view Word() {
        const std::size_t start = pos_;
        while (!AtEnd() && text_[pos_] != ' ') ++pos_;
        return text_.substr(start, pos_ - start);
    }
    std::string_view Rest() {
        const std::string_view rest = AtEnd() ? std::string_view() : text_.substr(pos_);
        pos_ = text_.size();
        return rest;
    }
    // resp-text: an optional "[" code [SP arguments] "]", then the text.
    void ResponseText(TImapResponse& r) {
        if (Take('[')) {
            const std::size_t close = text_.find(']', pos_);
            if (close == std::string_view::npos) fail("a response code never closed");
            const std::string_view inside = text_.substr(pos_, close - pos_);
            const std::size_t blank = inside.find(' ');
            r.Code = upper(inside.substr(0, blank));
            if (blank != std::string_view::npos) r.CodeArguments = std::string(inside.substr(blank + 1));
            pos_ = close + 1;
            Take(' ');
        }
        r.Text = std::string(Rest());
    }
    // Values separated by blanks up to the end, or to the ")" of a list.
    void Values(std::vector<TImapValue>& out, int depth) {
        if (depth > 32) fail("lists nested too deep");
        for (bool first = true;; first = false) {
            if (AtEnd()) {
                if (depth > 0) fail("a list never closed");
                return;
            }
            if (depth > 0 && Take(')')) return;
            if (!first && !Take(' ')) fail("expected a blank between values");
            if (depth > 0 && Take(')')) return;  // a trailing blank, as some servers send
            if (AtEnd()) return;
            out.push_back(Value(depth));
        }
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw EImapSyntax(what + " at byte " + std::to_string(pos_));
    }

    TImapValue Value(int depth) {
        TImapValue v;
        if (Take('(')) {
            v.Kind = TImapValue::List;
            Values(v.Items, depth + 1);
            return v;
        }
        if (Take('"')) {
            v.Kind = TImapValue::String;
            for (;;) {
                if (AtEnd()) fail("a quoted string never closed");
                const char c = text_[pos_++];
                if (c == '"') break;
                if (c == '\\') {
                    const char escaped = Peek();
                    if (escaped != '\\' && escaped != '"') fail("a quoted string with a stray backslash");
                    ++pos_;
                    v.Text += escaped;
                } else if (c == '\r' || c == '\n') {
                    fail("a quoted string across lines");
                } else {
                    v.Text += c;
                }
            }
            return v;
        }
        if (Peek() == '{' || (Peek() == '~' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '{')) {
            Take('~');
            ++pos_;
            const std::size_t close = text_.find('}', pos_);
            if (close == std::string_view::npos) fail("a literal's count never closed");
            std::string_view count = text_.substr(pos_, close - pos_);
            if (!count.empty() && count.back() == '+') count.remove_suffix(1);
            const std::optional<std::uint32_t> n = number(count);
            if (!n) fail("a literal without a byte count");
            pos_ = close + 1;
            if (text_.substr(pos_, 2) != "\r\n") fail("a literal's count not at the line's end");
            pos_ += 2;
            if (text_.size() - pos_ < *n) fail("a literal shorter than its count");
            v.Kind = TImapValue::String;
            v.Text = std::string(text_.substr(pos_, *n));
            pos_ += *n;
            return v;
        }
        // An atom; a section ("BODY[HEADER.FIELDS (FROM)]<0>") is one with
        // its brackets, blanks and parentheses.
        const std::size_t start = pos_;
        while (!AtEnd()) {
            const char c = text_[pos_];
            if (c == '[') {
                const std::size_t close = text_.find(']', pos_);
                if (close == std::string_view::npos) fail("a section never closed");
                pos_ = close + 1;
                continue;
            }
            if (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{' || static_cast<unsigned char>(c) < 0x20 ||
                c == 0x7F)
                break;
            ++pos_;
        }
        if (pos_ == start) fail("expected a value");
        v.Text = std::string(text_.substr(start, pos_ - start));
        if (upper(v.Text) == "NIL") v.Kind = TImapValue::Nil;
        return v;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool isStatusWord(std::string_view word) {
    return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH";
}

}  // namespace

std::optional<std::uint32_t> TImapValue::Number() const { return Kind == Atom ? number(Text) : std::nullopt; }

bool TImapValue::Is(std::string_view upperAtom) const { return Kind == Atom && upper(Text) == upperAtom; }

bool TImapResponse::IsStatus() const { return Kind != Untagged || isStatusWord(Keyword); }

TImapResponse ParseImapResponse(std::string_view text) {
    TReader in(text);
    TImapResponse r;
    if (in.Take('+')) {
        r.Kind = TImapResponse::Continuation;
        in.Take(' ');
        in.ResponseText(r);
        return r;
    }
    const std::string_view tag = in.Word();
    if (tag.empty()) throw EImapSyntax("a response without a tag");
    in.Expect(' ', "a blank after the tag");
    r.Kind = tag == "*" ? TImapResponse::Untagged : TImapResponse::Tagged;
    if (r.Kind == TImapResponse::Tagged) r.Tag = std::string(tag);
    std::string_view word = in.Word();
    if (r.Kind == TImapResponse::Untagged && (r.Number = number(word))) {
        in.Expect(' ', "a keyword after the number");
        word = in.Word();
    }
    r.Keyword = upper(word);
    if (r.Keyword.empty()) throw EImapSyntax("a response without a keyword");
    if (r.Kind == TImapResponse::Tagged && r.Keyword != "OK" && r.Keyword != "NO" && r.Keyword != "BAD")
        throw EImapSyntax("a tagged response that is neither OK, NO nor BAD");
    if (isStatusWord(r.Keyword)) {
        if (r.Number) throw EImapSyntax("a status response after a number");
        in.Take(' ');
        in.ResponseText(r);
    } else if (in.Take(' ')) {
        in.Values(r.Values, 0);
    }
    return r;
}

std::optional<std::uint64_t> AnnouncedLiteral(std::string_view line) {
    if (line.empty() || line.back() != '}') return std::nullopt;
    const std::size_t open = line.rfind('{');
    if (open == std::string_view::npos) return std::nullopt;
    std::string_view count = line.substr(open + 1, line.size() - open - 2);
    if (!count.empty() && count.back() == '+') count.remove_suffix(1);
    if (count.empty() || count.size() > 18 ||
        !std::all_of(count.begin(), count.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoull(std::string(count));
}

std::string ImapResponseCode(const std::string& line) {
    TReader in(line);
    std::string_view word = in.Word();
    if (!isStatusWord(upper(word))) {
        in.Take(' ');
        word = in.Word();
    }
    if (!isStatusWord(upper(word)) || !in.Take(' ') || in.Peek() != '[') return "";
    TImapResponse r;
    try {
        in.ResponseText(r);
    } catch (const EImapSyntax&) {
        return "";
    }
    return r.Code;
}

std::optional<std::string> ImapQuoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        // 8-bit text goes as a literal: an IMAP4rev1 server takes only
        // 7-bit text in a quoted string.
        if (c == '\r' || c == '\n' || c == '\0' || static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string ImapSequenceSet(const std::vector<std::uint32_t>& uids) {
    std::string out;
    for (std::size_t i = 0; i < uids.size();) {
        std::size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
        out += (out.empty() ? "" : ",") + std::to_string(uids[i]) + (j > i ? ":" + std::to_string(uids[j]) : "");
        i = j + 1;
    }
    return out;
}

void ImapExpandSet(std::string_view set, std::size_t most, std::vector<std::uint32_t>& uids) {
    while (!set.empty()) {
        const std::size_t comma = set.find(',');
        const std::string_view part = set.substr(0, comma);
        set = comma == std::string_view::npos ? std::string_view() : set.substr(comma + 1);
        const std::size_t colon = part.find(':');
        const auto first = number(part.substr(0, colon));
        const auto last = colon == std::string_view::npos ? first : number(part.substr(colon + 1));
        if (!first || !last) throw EImapSyntax("a sequence set that is no list of numbers");
        const std::uint32_t low = std::min(*first, *last), high = std::max(*first, *last);
        if (static_cast<std::uint64_t>(high) - low >= most - std::min(most, uids.size()))
            throw EImapSyntax("a sequence set of more messages than the mailbox holds");
        for (std::uint64_t uid = low; uid <= high; ++uid) uids.push_back(static_cast<std::uint32_t>(uid));
    }
}

std::string Base64(std::string_view bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        out += digits[group >> 18];
        out += digits[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[group & 63] : '=';
    }
    return out;
}

}  // namespace mail
