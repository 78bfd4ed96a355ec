#pragma once
// New mail's sound: Tidemark's own "New Mail" event under
// HKEY_CURRENT_USER\AppEvents, so the user picks its sound in the system's
// Sound settings, played by its alias.
#include <functional>
#include <string>

namespace desktop {

// The event's name under AppEvents, and the alias PlaySound is given.
constexpr const char* kNewMailEvent = "TidemarkNewMail";

// The application's key under AppEvents\Schemes\Apps: the program file's
// name without ".exe", where PlaySound's SND_APPLICATION looks.
std::string SoundApplicationName();

// Registers the event (label "New Mail") once. A new registration takes the
// system's new-mail sound (the .Default scheme's MailBeep) as its own; a
// sound the user chose is never overwritten. Failures are ignored: the
// event then plays nothing.
void RegisterNewMailSound();

// Whether the user would rather not be disturbed now: quiet hours, a
// full-screen program or presentation, a locked screen
// (SHQueryUserNotificationState).
bool NoticesUnwelcome();

// Plays the event's sound, without waiting, unless notices are unwelcome now.
void PlayNewMailSound();

// Tests see the alias played and set the notification state instead of
// asking the system (a QUERY_USER_NOTIFICATION_STATE value).
void SetSoundSeam(std::function<void(const std::string& alias)> seam);
void SetNotificationStateSeam(std::function<int()> seam);

}  // namespace desktop
