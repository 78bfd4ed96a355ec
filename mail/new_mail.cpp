#include "mail/new_mail.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "framework/sysutils.h"

namespace mail {

namespace {
constexpr std::string_view kFormatLine = "Tidemark seen messages 2";
// The ids themselves, one per line, without sizes.
constexpr std::string_view kOldFormatLine = "Tidemark seen messages 1";
constexpr std::string_view kMailboxPrefix = "mailbox ";
constexpr std::string_view kUidFormatLine = "Tidemark seen uids 1";

std::uint64_t idHash(std::string_view id) {
    // FNV-1a, then a final mix so that ids differing in their last byte
    // differ in every bit.
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : id) h = (h ^ c) * 1099511628211ull;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    return h ^ (h >> 33);
}

bool validOldId(std::string_view id) {
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

// Reads a key line "<16 hex digits> <size>".
bool parseKey(std::string_view line, TMessageKey& key) {
    if (line.size() < 18 || line.size() > 36 || line[16] != ' ') return false;
    key = {};
    for (char c : line.substr(0, 16)) {
        const int digit = fw::HexDigitValue(c);
        if (digit < 0) return false;
        key.Id = key.Id << 4 | static_cast<unsigned>(digit);
    }
    std::string_view size = line.substr(17);
    const bool any = size == "-1";
    for (char c : any ? std::string_view() : size) {
        if (c < '0' || c > '9' || key.Size > (LLONG_MAX - 9) / 10) return false;
        key.Size = key.Size * 10 + (c - '0');
    }
    if (any) key.Size = -1;
    return true;
}
}  // namespace

TMessageKey MessageKey(std::string_view uniqueId, std::int64_t size) { return {idHash(uniqueId), size}; }

TNewMessages TSeenIds::Update(const std::vector<TMessageKey>& current) {
    TNewMessages result;
    if (Known)
        for (std::size_t i = 0; i < current.size(); ++i) {
            // An entry of any size sorts first among those of its id.
            auto at = std::lower_bound(Ids.begin(), Ids.end(), TMessageKey{current[i].Id, -1});
            const bool seen = at != Ids.end() && at->Id == current[i].Id &&
                              (at->Size == -1 || std::binary_search(at, Ids.end(), current[i]));
            if (!seen) result.Indexes.push_back(i);
        }
    std::vector<TMessageKey> now(current);
    std::sort(now.begin(), now.end());
    now.erase(std::unique(now.begin(), now.end()), now.end());
    result.Changed = !Known || now != Ids;
    Ids = std::move(now);
    Known = true;
    return result;
}

std::string TSeenIds::ToText(const std::string& mailbox) const {
    std::string text;
    text.append(kFormatLine).append("\r\n").append(kMailboxPrefix).append(mailbox).append("\r\n");
    char line[40];
    for (const TMessageKey& key : Ids) {
        std::snprintf(line, sizeof line, "%016llx %lld\r\n", static_cast<unsigned long long>(key.Id),
                      static_cast<long long>(key.Size));
        text.append(line);
    }
    return text;
}

bool TSeenIds::FromText(std::string_view text, const std::string& mailbox) {
    Known = false;
    Ids.clear();
    std::string_view line;
    if (!fw::NextLine(text, line) || (line != kFormatLine && line != kOldFormatLine)) return false;
    const bool old = line == kOldFormatLine;
    if (!fw::NextLine(text, line) || line.substr(0, kMailboxPrefix.size()) != kMailboxPrefix ||
        line.substr(kMailboxPrefix.size()) != mailbox)
        return false;
    std::vector<TMessageKey> ids;
    while (fw::NextLine(text, line)) {
        TMessageKey key;
        if (old ? !validOldId(line) : !parseKey(line, key)) return false;
        ids.push_back(old ? TMessageKey{idHash(line), -1} : key);
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    Ids = std::move(ids);
    Known = true;
    return true;
}

std::string TUidMark::ToText(const std::string& mailbox) const {
    std::string text;
    text.append(kUidFormatLine).append("\r\n").append(kMailboxPrefix).append(mailbox).append("\r\n");
    return text.append(std::to_string(UidValidity)).append(" ").append(std::to_string(HighestUid)).append("\r\n");
}

bool TUidMark::FromText(std::string_view text, const std::string& mailbox) {
    *this = {};
    std::string_view line;
    if (!fw::NextLine(text, line) || line != kUidFormatLine || !fw::NextLine(text, line) ||
        line.substr(0, kMailboxPrefix.size()) != kMailboxPrefix || line.substr(kMailboxPrefix.size()) != mailbox ||
        !fw::NextLine(text, line))
        return false;
    std::uint64_t numbers[2] = {0, 0};
    int field = 0;
    bool digit = false;
    for (char c : line) {
        if (c == ' ' && digit && field == 0) {
            field = 1;
            digit = false;
        } else if (c >= '0' && c <= '9' && numbers[field] <= 0xFFFFFFFFull / 10) {
            numbers[field] = numbers[field] * 10 + static_cast<unsigned>(c - '0');
            digit = true;
        } else {
            return false;
        }
    }
    std::string_view rest;
    if (field != 1 || !digit || numbers[0] > 0xFFFFFFFFull || numbers[1] > 0xFFFFFFFFull || fw::NextLine(text, rest))
        return false;
    UidValidity = static_cast<std::uint32_t>(numbers[0]);
    HighestUid = static_cast<std::uint32_t>(numbers[1]);
    Known = true;
    return true;
}

std::string MailboxName(const std::string& server, const std::string& userName) {
    return escaped(server) + " " + escaped(userName);
}

}  // namespace mail
