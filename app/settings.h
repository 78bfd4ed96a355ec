#pragma once
// The five stored settings under HKEY_CURRENT_USER and the two loads at
// start-up. The loads write straight into the components that hold the
// settings in memory, value by value, so a failure leaves the values read
// before it applied.
#include <string>

#include "framework/timer.h"

namespace app {

extern const char* const SettingsKey;

struct SettingsTargets {
    std::string& Server;
    std::string& UserName;
    std::string& Password;
    fw::TTimer& PollTimer;
    bool& HideOnStart;
};

// When the main form is shown: missing values leave their targets alone; an
// interval text that does not convert (the empty text included) fails.
void LoadSettingsOnShow(const SettingsTargets& t);
// At the first animation tick: missing texts empty their targets; an empty
// interval text is skipped.
void LoadSettingsOnFirstTick(const SettingsTargets& t);
// Stores the dialog's texts as typed (the interval too) and the check box.
// A key that cannot be opened or created fails at the first write.
void SaveSettings(const std::string& server, const std::string& userName, const std::string& password,
                  const std::string& intervalText, bool hideOnStart);
// The poll interval in milliseconds for a number of seconds, formed in
// 32-bit arithmetic as the timer takes it.
unsigned IntervalMsFromSeconds(std::int32_t seconds);

}  // namespace app
