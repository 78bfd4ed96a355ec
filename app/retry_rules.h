#pragma once
// When Tidemark tries again after a failure that passes by itself, and what
// it tells the user meanwhile. No <windows.h>: these rules also build natively.
#include <string>

#include "mail/failure_kind.h"

namespace app {

// The wait before try number `failures` + 1: 30 s after the first failure,
// then 1, 2 and 4 minutes, then the poll interval; never longer than the
// interval. Right after the machine wakes up, when the network is often
// not back yet, every retry comes after 10 s (or the interval, if shorter).
unsigned RetryDelayMs(int failures, unsigned intervalMs, bool justResumed);

// The tooltip while retrying (within the tray icon's 62 characters).
std::string RetryToolTip(const mail::TFailureFacts& facts);

// The one balloon after an hour of retries: since when (the local time of
// day "HH:MM"), and why; at most `maxLength` characters.
std::string FailingSinceNotice(const std::string& since, const std::string& reason, std::size_t maxLength);

}  // namespace app
