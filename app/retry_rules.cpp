#include "app/retry_rules.h"

#include <algorithm>

namespace app {

namespace {
constexpr unsigned kFirstRetryMs = 30 * 1000;
constexpr int kGrowingRetries = 4;
constexpr unsigned kRetryAfterWakeMs = 10 * 1000;
}  // namespace

unsigned RetryDelayMs(int failures, unsigned intervalMs, bool justResumed) {
    unsigned wait = intervalMs;
    if (justResumed)
        wait = kRetryAfterWakeMs;
    else if (failures >= 1 && failures <= kGrowingRetries)
        wait = kFirstRetryMs << (failures - 1);
    return std::min(wait, intervalMs);
}

std::string RetryToolTip(const mail::TFailureFacts& facts) {
    if (facts.Source == mail::TFailureFacts::ServerReply) return "Tidemark: mailbox busy, retrying";
    return "Tidemark: mail server unreachable, retrying";
}

std::string FailingSinceNotice(const std::string& since, const std::string& reason, std::size_t maxLength) {
    const std::string head = "Mail could not be checked since " + since + " (";
    const std::string tail = "). Tidemark keeps trying.";
    std::string text = head + reason + tail;
    if (text.size() <= maxLength) return text;
    // The reason (a server's reply line, say) gives way; the rest is kept.
    const std::size_t room = maxLength > head.size() + tail.size() + 3 ? maxLength - head.size() - tail.size() - 3 : 0;
    return (head + reason.substr(0, room) + "..." + tail).substr(0, maxLength);
}

}  // namespace app
