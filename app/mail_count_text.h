#pragma once
// The tooltip after a mail check. No <windows.h>: this rule also builds
// natively.
#include <cstdint>
#include <string>

namespace app {

// The status text followed by " (No messages)" when no entry was built, else
// by " (1 message)" or " (N messages)" with the count of the server's STAT
// reply. Without a status text the program is named instead:
// "Tidemark: no messages", "Tidemark: 3 messages".
std::string MessageCountToolTip(const std::string& status, std::int32_t infoCount, std::int32_t messageCount);

}  // namespace app
