#include "mail/new_mail.h"

namespace mail {

namespace {
constexpr std::string_view kFormatLine = "Tidemark seen messages 1";
constexpr std::string_view kMailboxPrefix = "mailbox ";

bool validId(std::string_view id) {
    if (id.empty() || id.size() > 70) return false;
    for (char c : id)
        if (c < 0x21 || c > 0x7E) return false;
    return true;
}

std::string escaped(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= ' ' || c == '%' || c == 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

// The next line of `text` without its line end; false at the end.
bool nextLine(std::string_view& text, std::string_view& line) {
    if (text.empty()) return false;
    const std::size_t lf = text.find('\n');
    line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
}
}  // namespace

TNewMessages TSeenIds::Update(const std::vector<std::string>& current) {
    TNewMessages result;
    if (Known)
        for (std::size_t i = 0; i < current.size(); ++i)
            if (Ids.count(current[i]) == 0) result.Indexes.push_back(i);
    std::set<std::string> now(current.begin(), current.end());
    result.Changed = !Known || now != Ids;
    Ids = std::move(now);
    Known = true;
    return result;
}

std::string TSeenIds::ToText(const std::string& mailbox) const {
    std::string text;
    text.append(kFormatLine).append("\r\n").append(kMailboxPrefix).append(mailbox).append("\r\n");
    for (const std::string& id : Ids) text.append(id).append("\r\n");
    return text;
}

bool TSeenIds::FromText(std::string_view text, const std::string& mailbox) {
    Known = false;
    Ids.clear();
    std::string_view line;
    if (!nextLine(text, line) || line != kFormatLine) return false;
    if (!nextLine(text, line) || line.substr(0, kMailboxPrefix.size()) != kMailboxPrefix ||
        line.substr(kMailboxPrefix.size()) != mailbox)
        return false;
    std::set<std::string> ids;
    while (nextLine(text, line)) {
        if (!validId(line)) return false;
        ids.emplace(line);
    }
    Ids = std::move(ids);
    Known = true;
    return true;
}

std::string MailboxName(const std::string& server, const std::string& userName) {
    return escaped(server) + " " + escaped(userName);
}

}  // namespace mail
