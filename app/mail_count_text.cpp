#include "app/mail_count_text.h"

namespace app {

std::string MessageCountToolTip(const std::string& status, std::int32_t infoCount, std::int32_t messageCount) {
    const std::string count = infoCount < 1       ? std::string("no messages")
                              : messageCount == 1 ? std::string("1 message")
                                                  : std::to_string(messageCount) + " messages";
    if (status.empty()) return "Tidemark: " + count;
    return status + " (" + (infoCount < 1 ? "No messages" : count) + ")";
}

}  // namespace app
