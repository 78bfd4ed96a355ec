#include "app/mail_count_text.h"

namespace app {

std::string MessageCountSuffix(std::int32_t infoCount, std::int32_t messageCount) {
    if (infoCount < 1) return " (No messages)";
    return " (" + std::to_string(messageCount) + " messages)";
}

}  // namespace app
