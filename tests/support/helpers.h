#pragma once
// One helper for each need of the tests: waiting on a condition with a
// deadline, a step run later from inside a modal loop, exception texts, the
// captured exception boxes and shell calls, registry values, the desktop
// window and source paths. Tests wait on conditions, never on clocks.
#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/handles.h"
#include "framework/timer.h"

namespace testsupport {

// Dispatches messages (blocking while none come) until `done` holds; false
// when `ms` passed first.
bool PumpUntil(const std::function<bool()>& done, DWORD ms = 3000);
inline void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

// Runs `step` once, `ms` from now, inside whatever loop dispatches messages
// then (a modal form's, a menu's, a waiting socket's).
class Later : fw::TTimer {
public:
    Later(unsigned ms, std::function<void()> step);
};

// The text of the exception `f` raises, or "<no exception>".
template <typename F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

// (text, caption) of every exception box; the test main captures them
// instead of showing them.
using BoxList = std::vector<std::pair<std::string, std::string>>;
BoxList& Boxes();

// Every Shell_NotifyIconA call of the tray component while it lives, and
// each balloon (Shell_NotifyIconW) as "title|text" in UTF-8.
struct ShellCall {
    DWORD message;
    NOTIFYICONDATAA data;
    std::string tip() const;
};
struct ShellCalls : std::vector<ShellCall> {
    ShellCalls();
    ~ShellCalls();
    std::vector<std::string> balloons;
};

// Registry values under HKEY_CURRENT_USER\key, the key created as needed;
// a value reads as its text, its bytes or "#" and its number, "" when missing.
void WriteValue(const char* key, const char* name, DWORD type, const void* data, DWORD size);
void WriteText(const char* key, const char* name, const std::string& text);
void WriteNumber(const char* key, const char* name, DWORD value);
std::string ReadValue(const char* key, const char* name);

// A window titled as the shell's desktop window ("Program Manager").
fw::UniqueWindow ProgramManager(bool shown);

// Writes what the screen shows of a window (another program's too) as
// <name>.bmp into the folder named by TIDEMARK_ARTIFACTS.
void SaveShot(HWND window, const std::string& name);

// A path of the source tree as Windows programs reach it (Z:\...).
std::string SourcePath(const std::string& relative);
// Processor time (user and kernel) of this process, in milliseconds.
double CpuMs();

}  // namespace testsupport
