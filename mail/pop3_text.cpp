#include "mail/pop3_text.h"

#include <algorithm>
#include <unordered_set>

#include "framework/sysutils.h"

namespace mail {

int PopReplyCode(const std::string& line) {
    if (line.empty()) return 0;
    if (line[0] == '+') return 1;
    if (line[0] == '-') return -1;
    return 0;
}

std::string PopResponseCode(const std::string& line) {
    const auto blank = line.find(' ');
    if (blank == std::string::npos || blank + 1 >= line.size() || line[blank + 1] != '[') return "";
    const auto close = line.find(']', blank + 2);
    if (close == std::string::npos || close == blank + 2) return "";
    const std::string code = line.substr(blank + 2, close - blank - 2);
    if (code.find_first_of(" \t") != std::string::npos) return "";
    return fw::UpperCaseAscii(code);
}

void ParseStatReply(std::string& reply, std::int32_t& messageCount, std::int32_t& mailboxSize) {
    reply.erase(0, 4);
    auto blank = reply.find(' ');
    if (blank == std::string::npos) return;
    messageCount = fw::StrToInt(reply.substr(0, blank));
    reply.erase(0, blank + 1);
    blank = reply.find(' ');
    if (blank != std::string::npos) {
        mailboxSize = fw::StrToInt(reply.substr(0, blank));
        reply.erase(0, blank + 1);
    } else {
        mailboxSize = fw::StrToInt(reply);
        reply.clear();
    }
}

std::int32_t ParseListSize(const std::string& reply) {
    std::string rest = reply.size() > 4 ? reply.substr(4) : std::string();
    auto blank = rest.find(' ');
    if (blank != std::string::npos) rest.erase(0, blank + 1);
    return fw::StrToIntDef(rest, 0);
}

std::set<std::string> ParseCapabilities(const std::string& lines) {
    std::set<std::string> names;
    std::string_view rest = lines, line;
    while (fw::NextLine(rest, line) && line != ".") {
        const std::size_t word = line.find_first_of(" \t");
        if (word == 0 || line.empty()) continue;
        const std::string name = fw::UpperCaseAscii(std::string(line.substr(0, word)));
        names.insert(name);
        if (name != "SASL") continue;
        std::string_view mechanisms = line.substr(std::min(line.size(), word));
        while (!mechanisms.empty()) {
            const std::size_t start = mechanisms.find_first_not_of(" \t");
            if (start == std::string_view::npos) break;
            mechanisms.remove_prefix(start);
            const std::size_t end = std::min(mechanisms.size(), mechanisms.find_first_of(" \t"));
            names.insert("SASL:" + fw::UpperCaseAscii(std::string(mechanisms.substr(0, end))));
            mechanisms.remove_prefix(end);
        }
    }
    return names;
}

std::string ItemCommands(std::int32_t number, bool withList) {
    const std::string n = fw::IntToStr(number);
    return (withList ? "LIST " + n + "\r\n" : std::string()) + "TOP " + n + " 1\r\n";
}

std::string TCommandWindow::Due(std::int32_t index) {
    for (; answered_ < index && answered_ < sent_; ++answered_)
        bytes_ -= ItemCommands(numbers_[answered_], withList_).size();
    std::string batch;
    if (perItem_ * (sent_ - answered_) > MaxCommands / 2 || bytes_ > MaxBytes / 2) return batch;
    const auto count = static_cast<std::int32_t>(numbers_.size());
    for (; sent_ < count && perItem_ * (sent_ + 1 - answered_) <= MaxCommands; ++sent_) {
        const std::string commands = ItemCommands(numbers_[sent_], withList_);
        if (bytes_ + commands.size() > MaxBytes) break;
        bytes_ += commands.size();
        batch += commands;
    }
    return batch;
}

namespace {
bool parseListingLine(std::string_view line, std::int32_t messageCount, std::vector<std::string>& values) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || blank == 0 || blank > 10) return false;
    std::int64_t number = 0;
    for (char c : line.substr(0, blank)) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    std::string_view value = line.substr(blank + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (number < 1 || number > messageCount || value.empty()) return false;
    std::string& slot = values[static_cast<std::size_t>(number - 1)];
    if (!slot.empty()) return false;
    slot = std::string(value);
    return true;
}
}  // namespace

bool ParseNumberedListing(std::string_view data, std::int32_t messageCount, std::vector<std::string>& values) {
    values.clear();
    // Every listing line takes at least four bytes: a count the data cannot
    // hold is refused before anything is allocated for it.
    if (messageCount < 0 || static_cast<std::uint64_t>(messageCount) > data.size() / 4) return false;
    std::vector<std::string> found(static_cast<std::size_t>(messageCount));
    std::int64_t lines = 0;
    bool ended = false;
    std::string_view line;
    while (fw::NextLine(data, line)) {
        if (line == ".") {
            ended = true;
            break;
        }
        if (++lines > messageCount || !parseListingLine(line, messageCount, found)) return false;
    }
    if (!ended || lines != messageCount) return false;
    values = std::move(found);
    return true;
}

bool ParseUidlListing(std::string_view data, std::int32_t messageCount, std::vector<std::string>& ids) {
    if (!ParseNumberedListing(data, messageCount, ids)) return false;
    std::unordered_set<std::string_view> distinct;
    for (const std::string& id : ids)
        if (!distinct.insert(id).second) {
            ids.clear();
            return false;
        }
    return true;
}

bool ParseListListing(std::string_view data, std::int32_t messageCount, std::vector<std::int32_t>& sizes) {
    sizes.clear();
    std::vector<std::string> values;
    if (!ParseNumberedListing(data, messageCount, values)) return false;
    for (const std::string& value : values) {
        // "n size", perhaps followed by more the protocol leaves open.
        const std::int32_t size = fw::StrToIntDef(value.substr(0, value.find(' ')), -1);
        if (size < 0) {
            sizes.clear();
            return false;
        }
        sizes.push_back(size);
    }
    return true;
}

std::string NormalizeMessageDirectory(const std::string& directory) {
    if (directory.empty() || directory.back() == '\\') return directory;
    return directory + '\\';
}

std::string MessageFileName(const std::string& directory, std::int32_t number) {
    return directory + "msg_" + fw::IntToStr(number) + ".eml";
}

}  // namespace mail
