#pragma once
// The user's default mail program, as registered under Software\Clients\Mail.
#include <functional>
#include <string>

namespace desktop {

// The command line of the default mail program: the client named by the
// default value of Software\Clients\Mail (the user's own choice under
// HKEY_CURRENT_USER first, then the machine's), and that client's
// shell\open\command, environment variables expanded. Empty when none is
// registered.
std::string DefaultMailProgramCommand();

// Starts the default mail program; false when none is registered. A
// registered program that cannot be started raises fw::Exception naming
// the command and the system's reason.
bool StartDefaultMailProgram();

// Opens a mailbox: its webmail address in the user's browser, or the
// default mail program for "". A failure raises fw::Exception with the
// system's reason; no mail program registered is said as such.
void OpenMail(const std::string& webAddress);
// Tests see what would be opened instead.
void SetOpenMailSeam(std::function<void(const std::string& webAddress)> seam);

}  // namespace desktop
