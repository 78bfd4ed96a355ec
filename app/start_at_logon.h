#pragma once
// Starting Tidemark at logon: the "Tidemark" value of the current user's Run
// key holds the quoted path of the program that Windows starts at logon. The
// installer writes the same value, and its uninstaller removes it.
#include <string>

namespace app {

extern const char* const RunKey;
extern const char* const RunValueName;
// Where the installer records itself; "InstallLocation" names the folder.
extern const char* const UninstallKey;

// Whether a logon entry is stored (a text value; any other type starts nothing).
bool StartsAtLogon();
// The program the entry starts: the installed tidemark.exe when the
// installer's record names one that exists, else the running program.
std::string LogonProgramPath();
// Writes the entry for LogonProgramPath(), or removes it. A key that cannot
// be opened or written raises "Failed to set data for 'Tidemark'".
void SetStartAtLogon(bool on);

}  // namespace app
