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

std::string NormalizeMessageDirectory(const std::string& directory) {
    if (directory.empty() || directory.back() == '\\') return directory;
    return directory + '\\';
}

std::string MessageFileName(const std::string& directory, std::int32_t number) {
    return directory + "msg_" + fw::IntToStr(number) + ".eml";
}

std::string CapabilityName(const std::string& line) {
    std::string name = line.substr(0, line.find(' '));
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

}  // namespace mail
