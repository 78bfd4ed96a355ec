#include "app/pollstatus.h"

std::string MessageCountSuffix(std::int32_t infoCount, std::int32_t messageCount) {
    if (infoCount < 1) return " (No messages)";
    return " (" + std::to_string(messageCount) + " messages)";
}
