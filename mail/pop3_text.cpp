#include "mail/pop3_text.h"

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

std::string NormalizeMessageDirectory(const std::string& directory) {
    if (directory.empty() || directory.back() == '\\') return directory;
    return directory + '\\';
}

std::string MessageFileName(const std::string& directory, std::int32_t number) {
    return directory + "msg_" + fw::IntToStr(number) + ".eml";
}

}  // namespace mail
