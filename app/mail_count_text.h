#pragma once
// The tooltip's message count after a mail check. No <windows.h>: this rule
// also builds natively.
#include <cstdint>
#include <string>

namespace app {

// " (No messages)" when no entry was built, else " (" + count + " messages)"
// with the count of the server's STAT reply (no singular form).
std::string MessageCountSuffix(std::int32_t infoCount, std::int32_t messageCount);

}  // namespace app
