#include "mail/pop3_text.h"

#include "framework/sysutils.h"

namespace mail {

int PopReplyCode(const std::string& line) {
    if (line.empty()) return 0;
    if (line[0] == '+') return 1;
    if (line[0] == '-') return -1;
    return 0;
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
    std::size_t pos = 0;
    while (pos < lines.size()) {
        std::size_t end = lines.find('\n', pos);
        if (end == std::string::npos) end = lines.size();
        std::string line = lines.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == ".") break;
        const std::size_t word = line.find_first_of(" \t");
        if (word != 0 && !line.empty()) names.insert(fw::UpperCaseAscii(line.substr(0, word)));
    }
    return names;
}

std::string ItemCommands(std::int32_t number) {
    const std::string n = fw::IntToStr(number);
    return "LIST " + n + "\r\nTOP " + n + " 1\r\n";
}

std::string TCommandWindow::Due(std::int32_t index) {
    for (; answered_ < index && answered_ < sent_; ++answered_) bytes_ -= ItemCommands(answered_ + 1).size();
    std::string batch;
    if (2 * (sent_ - answered_) > MaxCommands / 2 || bytes_ > MaxBytes / 2) return batch;
    for (; sent_ < count_ && 2 * (sent_ + 1 - answered_) <= MaxCommands; ++sent_) {
        const std::string commands = ItemCommands(sent_ + 1);
        if (bytes_ + commands.size() > MaxBytes) break;
        bytes_ += commands.size();
        batch += commands;
    }
    return batch;
}

std::string NormalizeMessageDirectory(const std::string& directory) {
    if (directory.empty() || directory.back() == '\\') return directory;
    return directory + '\\';
}

std::string MessageFileName(const std::string& directory, std::int32_t number) {
    return directory + "msg_" + fw::IntToStr(number) + ".eml";
}

}  // namespace mail
